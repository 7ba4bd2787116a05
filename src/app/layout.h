// The window's geometry as a pure function: the sizes that the toolkit and
// the controls themselves decide go in, the rectangles of every control that
// the layout places come out. The window applies the result on every resize
// and page change; tests check it with plain numbers.
#pragma once

namespace mkpt {

struct TRect {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  int Right() const { return Left + Width; }
  int Bottom() const { return Top + Height; }
  bool operator==(const TRect&) const = default;
};

enum class TLayoutMode { Master, Slave, Registers };

struct TLayoutInput {
  int OuterWidth = 0;    // the window with its frame
  int ClientWidth = 0;   // the area inside the frame, menu bar excluded
  int ClientHeight = 0;  // status bar included
  TLayoutMode Mode = TLayoutMode::Master;
  double SplitRatio = 0.5;  // share of the pane width for the terminal pane

  // Sizes the layout does not set.
  int PageFrameWidth = 0;   // page control width minus its page's width
  int PageFrameHeight = 0;  // page control height minus its page's height (tabs included)
  int PanelBorder = 0;      // a panel's width minus its client width, on each side
  int LabelHeight = 0;      // label above a labelled edit
  int EditHeight = 0;
  int HeaderEditWidth = 0;
  int HeaderChecksumWidth = 0;
  int DataChecksumWidth = 0;
  int ButtonWidth = 0;      // the buttons of the Slave and Registers pages
  int ButtonHeight = 0;
  int AutoIntervalWidth = 0;
  int AutoIntervalLabelWidth = 0;  // "Timeout, ms " left of the interval
  int CheckBoxWidth = 0;
  int CheckBoxHeight = 0;
  int PortFrameWidth = 0;
  int PortFrameHeight = 0;
  int PortPanelBevel = 0;
  int StatusBarHeight = 0;
  int GridLineWidth = 1;
  int GridFrame = 0;        // a grid's width minus its client width
  int SplitterWidth = 4;
  // In Registers mode the panes keep at least this height (the port settings
  // frame of this toolkit is lower than the one the proportion was made for).
  int MinimumPaneHeight = 0;
};

struct TLayout {
  TRect PageControl;  // in the window's client area
  // Master page, in the page's coordinates; the edits in OutboxPanel's.
  TRect OutboxPanel;
  TRect HeaderEdit, HeaderChecksum, DataEdit, DataChecksum, FullPacketEdit;
  TRect SendButton, ReceiveButton, AutoCheck, AutoInterval;  // in the page's coordinates
  // Slave page.
  TRect SlaveAdd, SlaveDelete, SlaveLoad, SlaveSave, SlaveTable;
  TRect SlaveLearn;  // "Learn slave table...", between "Delete" and "Load"
  int SlaveColumnWidth = 0;
  // Registers page.
  TRect SelectDevice, ChangeAddress, Transmit, RegistersTable;
  int RegisterColumnWidth = 0, ValueColumnWidth = 0;
  // Beside the grid: the statistics table under it (same left and width), the
  // "Reset statistics" and "Plot" buttons under "Transmit", and "Scan bus..."
  // under them.
  TRect ResetStatistics, PlotButton, StatisticsTable, ScanBus;
  // Terminal page.
  TRect SymbolTerminal;
  // Below the pages, in the window's client area; the panes in TerminalPanel's.
  TRect PortPanel, PortFrame, TerminalPanel, TerminalPane, Splitter, DecodePane;
};

TLayout ArrangeControls(const TLayoutInput& in);

// The split ratio after the user has moved the splitter.
double SplitRatioOf(int terminalPaneWidth, int decodePaneWidth);

}  // namespace mkpt
