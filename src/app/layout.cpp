#include "app/layout.h"

#include <algorithm>
#include <cmath>

namespace mkpt {

namespace {

TRect At(int left, int top, int width, int height) { return {left, top, std::max(width, 0), std::max(height, 0)}; }

// Both grids split what is left of their client width after the grid lines.
int GridShare(const TRect& grid, const TLayoutInput& in) {
  return std::max(grid.Width - in.GridFrame - 3 * in.GridLineWidth, 0);
}

}  // namespace

TLayout ArrangeControls(const TLayoutInput& in) {
  TLayout out;
  const int pageWidth = in.ClientWidth - in.PageFrameWidth;

  // Master page: the edits, top row first.
  out.OutboxPanel = At(0, 0, pageWidth, 0);
  const int outboxWidth = out.OutboxPanel.Width - 2 * in.PanelBorder;
  const int rowTop = in.LabelHeight + 10;
  out.HeaderEdit = At(6, rowTop, in.HeaderEditWidth, in.EditHeight);
  out.HeaderChecksum = At(out.HeaderEdit.Right() + 6, rowTop, in.HeaderChecksumWidth, in.EditHeight);
  out.DataEdit = At(out.HeaderChecksum.Right() + 6, rowTop,
                    outboxWidth - in.DataChecksumWidth - in.HeaderChecksumWidth - in.HeaderEditWidth - 30,
                    in.EditHeight);
  out.DataChecksum = At(out.DataEdit.Right() + 6, rowTop, in.DataChecksumWidth, in.EditHeight);
  out.FullPacketEdit = At(6, in.LabelHeight + out.HeaderEdit.Bottom() + 10, outboxWidth - 12, in.EditHeight);
  const int outboxClientHeight = out.FullPacketEdit.Bottom() + 10;
  out.OutboxPanel.Height = outboxClientHeight + 2 * in.PanelBorder;

  // The buttons follow the window's outer width.
  const int buttonWidth = in.OuterWidth / 4;
  const int buttonTop = out.OutboxPanel.Bottom() + in.ButtonHeight / 2;
  out.SendButton = At(in.OuterWidth / 5, buttonTop, buttonWidth, in.ButtonHeight);
  const int receiveRight = static_cast<int>(std::trunc(4.0 * in.OuterWidth / 5.0));
  out.ReceiveButton = At(receiveRight - buttonWidth, buttonTop, buttonWidth, in.ButtonHeight);
  out.AutoCheck = At(out.FullPacketEdit.Left, buttonTop, in.CheckBoxWidth, in.CheckBoxHeight);
  out.AutoInterval = At(out.FullPacketEdit.Right() - in.AutoIntervalWidth, out.AutoCheck.Top + 2,
                        in.AutoIntervalWidth, in.EditHeight);
  // The interval's caption stands 2 left of it; where a large font makes it
  // reach "Receive", the button moves left, and narrows once it meets "Send".
  const int captionLeft = out.AutoInterval.Left - 2 - in.AutoIntervalLabelWidth;
  if (in.AutoIntervalLabelWidth > 0 && out.ReceiveButton.Right() > captionLeft - 6) {
    const int right = captionLeft - 6;
    const int left = std::max(right - buttonWidth, out.SendButton.Right() + 6);
    out.ReceiveButton = At(left, buttonTop, right - left, in.ButtonHeight);
  }

  // The page area: as high as the Master page needs, or in Registers mode all
  // that the port settings and the panes leave.
  int pageHeight = 0;
  if (in.Mode == TLayoutMode::Registers) {
    int controlHeight = in.ClientHeight - static_cast<int>(std::lround(2.4 * in.PortFrameHeight));
    const int belowPanes = in.PortFrameHeight + 2 * in.PortPanelBevel + in.StatusBarHeight +
                           static_cast<int>(std::trunc(0.2 * in.StatusBarHeight)) +
                           static_cast<int>(std::trunc(0.3 * in.StatusBarHeight));
    controlHeight = std::min(controlHeight, in.ClientHeight - belowPanes - in.MinimumPaneHeight);
    pageHeight = controlHeight - in.PageFrameHeight;
  } else {
    pageHeight = outboxClientHeight + 2 * in.ButtonHeight;
    // The Slave page's five buttons, 2 apart at the least, never overlap.
    if (in.Mode == TLayoutMode::Slave) pageHeight = std::max(pageHeight, 5 * in.ButtonHeight + 20);
  }
  out.PageControl = At(0, 0, in.ClientWidth, pageHeight + in.PageFrameHeight);

  // Slave page.
  out.SlaveAdd = At(4, 4, in.ButtonWidth, in.ButtonHeight);
  out.SlaveDelete = At(4, out.SlaveAdd.Bottom() + 4, in.ButtonWidth, in.ButtonHeight);
  out.SlaveSave = At(4, pageHeight - 4 - in.ButtonHeight, in.ButtonWidth, in.ButtonHeight);
  out.SlaveLoad = At(4, out.SlaveSave.Top - 4 - in.ButtonHeight, in.ButtonWidth, in.ButtonHeight);
  out.SlaveLearn = At(4, (out.SlaveDelete.Bottom() + out.SlaveLoad.Top - in.ButtonHeight) / 2, in.ButtonWidth,
                      in.ButtonHeight);
  const int slaveLeft = out.SlaveAdd.Right() + 12;
  out.SlaveTable = At(slaveLeft, 4, pageWidth - 4 - slaveLeft, pageHeight - 8);
  out.SlaveColumnWidth = GridShare(out.SlaveTable, in) / 2;

  // Registers page.
  out.SelectDevice = At(4, 4, in.ButtonWidth, in.ButtonHeight);
  out.ChangeAddress = At(4, out.SelectDevice.Top + 2 * in.ButtonHeight, in.ButtonWidth, in.ButtonHeight);
  out.Transmit = At(4, out.SelectDevice.Top + 4 * in.ButtonHeight, in.ButtonWidth, 2 * in.ButtonHeight);
  out.ResetStatistics = At(4, out.SelectDevice.Top + 7 * in.ButtonHeight, in.ButtonWidth, in.ButtonHeight);
  out.PlotButton = At(4, out.SelectDevice.Top + 9 * in.ButtonHeight, in.ButtonWidth, in.ButtonHeight);
  out.ScanBus = At(4, out.SelectDevice.Top + 11 * in.ButtonHeight, in.ButtonWidth, in.ButtonHeight);
  const int registersLeft = out.SelectDevice.Right() + 8;
  // The grid keeps the upper part, at least its header and four rows; the
  // statistics table takes the rest, 4 below it.
  const int gridArea = pageHeight - 8;
  const int gridHeight = std::min(gridArea, std::max(gridArea * 11 / 20, 5 * in.EditHeight + in.GridFrame));
  out.RegistersTable = At(registersLeft, 4, pageWidth - 4 - registersLeft, gridHeight);
  out.StatisticsTable = At(registersLeft, out.RegistersTable.Bottom() + 4, out.RegistersTable.Width,
                           gridArea - gridHeight - 4);
  out.RegisterColumnWidth = GridShare(out.RegistersTable, in) / 2;
  out.ValueColumnWidth = GridShare(out.RegistersTable, in) / 4;

  // Terminal page.
  out.SymbolTerminal = At(4, 4, pageWidth - 8, pageHeight - 8);

  // The port settings above the status bar, the frame centred in them.
  const int portHeight = in.PortFrameHeight + 2 * in.PortPanelBevel;
  out.PortPanel = At(0, in.ClientHeight - in.StatusBarHeight - portHeight, in.ClientWidth, portHeight);
  out.PortFrame = At(static_cast<int>(std::trunc((in.OuterWidth - in.PortFrameWidth) / 2.0)), in.PortPanelBevel,
                     in.PortFrameWidth, in.PortFrameHeight);

  // The panes between the pages and the port settings.
  const int panesTop = out.PageControl.Bottom() + static_cast<int>(std::trunc(0.3 * in.StatusBarHeight));
  const int panesBottom = out.PortPanel.Top - static_cast<int>(std::trunc(0.2 * in.StatusBarHeight));
  out.TerminalPanel = At(0, panesTop, in.ClientWidth, panesBottom - panesTop);
  const int panesHeight = out.TerminalPanel.Height;
  const int minimum = 5;
  int terminalWidth = static_cast<int>(std::lround(in.ClientWidth * in.SplitRatio));
  terminalWidth = std::clamp(terminalWidth, minimum, std::max(minimum, in.ClientWidth - in.SplitterWidth - minimum));
  out.TerminalPane = At(0, 0, terminalWidth, panesHeight);
  out.Splitter = At(terminalWidth, 0, in.SplitterWidth, panesHeight);
  out.DecodePane = At(out.Splitter.Right(), 0, in.ClientWidth - out.Splitter.Right(), panesHeight);
  return out;
}

double SplitRatioOf(int terminalPaneWidth, int decodePaneWidth) {
  const int total = terminalPaneWidth + decodePaneWidth;
  return total > 0 ? static_cast<double>(terminalPaneWidth) / total : 0.5;
}

}  // namespace mkpt
