// The window's geometry with the numbers of its description.
#include "app/layout.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace mkpt;

namespace {

TLayoutInput Window(int outerWidth, int clientWidth, int clientHeight, TLayoutMode mode) {
  TLayoutInput in;
  in.OuterWidth = outerWidth;
  in.ClientWidth = clientWidth;
  in.ClientHeight = clientHeight;
  in.Mode = mode;
  in.PageFrameWidth = 8;
  in.PageFrameHeight = 20;
  in.PanelBorder = 1;
  in.LabelHeight = 13;
  in.EditHeight = 21;
  in.HeaderEditWidth = 250;
  in.HeaderChecksumWidth = 90;
  in.DataChecksumWidth = 90;
  in.ButtonWidth = 100;
  in.ButtonHeight = 25;
  in.AutoIntervalWidth = 60;
  in.CheckBoxWidth = 80;
  in.CheckBoxHeight = 17;
  in.PortFrameWidth = 700;
  in.PortFrameHeight = 50;
  in.PortPanelBevel = 1;
  in.StatusBarHeight = 20;
  in.GridLineWidth = 1;
  in.GridFrame = 4;
  return in;
}

}  // namespace

TEST(LayoutTest, MasterPageFollowsTheWindowWidth) {
  const TLayout l = ArrangeControls(Window(1000, 992, 600, TLayoutMode::Master));
  EXPECT_EQ(l.SendButton.Left, 200);
  EXPECT_EQ(l.SendButton.Width, 250);
  EXPECT_EQ(l.ReceiveButton.Right(), 800);
  EXPECT_EQ(l.ReceiveButton.Top, l.SendButton.Top);
  // The edits: one row of header, its checksum, data, its checksum, 6 apart.
  const int outbox = 984 - 2;  // page width less the panel's borders
  EXPECT_EQ(l.HeaderEdit, (TRect{6, 23, 250, 21}));
  EXPECT_EQ(l.HeaderChecksum.Left, 262);
  EXPECT_EQ(l.DataEdit.Left, 358);
  EXPECT_EQ(l.DataEdit.Width, outbox - 90 - 90 - 250 - 30);
  EXPECT_EQ(l.DataChecksum.Left, l.DataEdit.Right() + 6);
  EXPECT_EQ(l.FullPacketEdit, (TRect{6, 13 + 44 + 10, outbox - 12, 21}));
  EXPECT_EQ(l.OutboxPanel.Height, 88 + 10 + 2);
  EXPECT_EQ(l.SendButton.Top, 100 + 12);
  EXPECT_EQ(l.AutoCheck.Left, 6);
  EXPECT_EQ(l.AutoInterval.Top, l.AutoCheck.Top + 2);
  EXPECT_EQ(l.AutoInterval.Right(), l.FullPacketEdit.Right());
  // The page holds the edits and two button heights; the tabs come on top.
  EXPECT_EQ(l.PageControl.Height, 98 + 50 + 20);
}

TEST(LayoutTest, ReceiveGivesWayToALargeIntervalCaption) {
  TLayoutInput in = Window(1000, 992, 600, TLayoutMode::Master);
  in.AutoIntervalLabelWidth = 70;  // clear of "Receive": the description's places
  EXPECT_EQ(ArrangeControls(in).ReceiveButton.Right(), 800);
  in.AutoIntervalLabelWidth = 150;  // a larger font
  TLayout l = ArrangeControls(in);
  EXPECT_EQ(l.ReceiveButton.Right(), l.AutoInterval.Left - 2 - 150 - 6);
  EXPECT_EQ(l.ReceiveButton.Width, 250);
  in.AutoIntervalLabelWidth = 400;  // so large that it meets "Send" too
  l = ArrangeControls(in);
  EXPECT_EQ(l.ReceiveButton.Left, l.SendButton.Right() + 6);
  EXPECT_EQ(l.ReceiveButton.Right(), l.AutoInterval.Left - 2 - 400 - 6);
}

TEST(LayoutTest, PanesSplitByTheRatioAndRegistersModeHasTheTallerPage) {
  TLayoutInput in = Window(1008, 1000, 700, TLayoutMode::Master);
  TLayout l = ArrangeControls(in);
  EXPECT_EQ(l.TerminalPane.Width, 500);
  EXPECT_EQ(l.DecodePane.Left, 504);
  EXPECT_EQ(l.DecodePane.Right(), 1000);
  in.SplitRatio = SplitRatioOf(300, 696);  // the splitter moved: 300 of 996 pane pixels
  in.ClientWidth = 1200;
  in.OuterWidth = 1208;
  l = ArrangeControls(in);
  EXPECT_EQ(l.TerminalPane.Width, 361);

  // Port settings on the status bar, the frame centred on the outer width;
  // the panes between the pages and the port settings.
  EXPECT_EQ(l.PortPanel, (TRect{0, 700 - 20 - 52, 1200, 52}));
  EXPECT_EQ(l.PortFrame.Left, (1208 - 700) / 2);
  EXPECT_EQ(l.TerminalPanel.Top, l.PageControl.Bottom() + 6);
  EXPECT_EQ(l.TerminalPanel.Bottom(), l.PortPanel.Top - 4);

  const int masterBottom = l.PageControl.Bottom();
  in.Mode = TLayoutMode::Registers;
  l = ArrangeControls(in);
  EXPECT_EQ(l.PageControl.Height, 700 - 120);  // round(2.4 x 50) less
  EXPECT_GT(l.PageControl.Bottom(), masterBottom);
  EXPECT_EQ(l.TerminalPanel.Top, l.PageControl.Bottom() + 6);
  in.MinimumPaneHeight = 150;  // a low port frame still leaves the panes their lines
  l = ArrangeControls(in);
  EXPECT_EQ(l.TerminalPanel.Height, 150);
}

TEST(LayoutTest, SlaveAndRegistersPages) {
  const TLayout l = ArrangeControls(Window(1000, 992, 600, TLayoutMode::Slave));
  const int pageHeight = l.PageControl.Height - 20;
  EXPECT_EQ(l.SlaveAdd, (TRect{4, 4, 100, 25}));
  EXPECT_EQ(l.SlaveDelete.Top, 33);
  EXPECT_EQ(l.SlaveSave.Bottom(), pageHeight - 4);
  EXPECT_EQ(l.SlaveLoad.Bottom(), l.SlaveSave.Top - 4);
  // "Learn slave table..." midway between "Delete" and "Load".
  EXPECT_EQ(l.SlaveLearn, (TRect{4, 61, 100, 25}));
  EXPECT_EQ(l.SlaveTable, (TRect{116, 4, 984 - 4 - 116, pageHeight - 8}));
  EXPECT_EQ(l.SlaveColumnWidth, (864 - 4 - 3) / 2);
  EXPECT_EQ(l.ChangeAddress.Top, 54);
  EXPECT_EQ(l.Transmit, (TRect{4, 104, 100, 50}));
  EXPECT_EQ(l.RegistersTable.Left, 112);
  EXPECT_EQ(l.RegisterColumnWidth, (868 - 4 - 3) / 2);
  EXPECT_EQ(l.ValueColumnWidth, (868 - 4 - 3) / 4);
  EXPECT_EQ(l.SymbolTerminal, (TRect{4, 4, 976, pageHeight - 8}));

  // Buttons too high for the page (a large font): in Slave mode the page
  // grows so that the five stay apart.
  TLayoutInput tall = Window(1000, 992, 600, TLayoutMode::Slave);
  tall.ButtonHeight = 40;
  const TLayout t = ArrangeControls(tall);
  EXPECT_GE(t.SlaveLearn.Top, t.SlaveDelete.Bottom() + 2);
  EXPECT_GE(t.SlaveLoad.Top, t.SlaveLearn.Bottom() + 2);
  EXPECT_EQ(t.SlaveSave.Bottom(), t.PageControl.Height - 20 - 4);
  tall.Mode = TLayoutMode::Master;
  EXPECT_EQ(ArrangeControls(tall).PageControl.Height, 98 + 80 + 20);
}

TEST(LayoutTest, RegistersPageKeepsTheGridColumnsWithTheStatisticsUnderIt) {
  const TLayout l = ArrangeControls(Window(1000, 992, 700, TLayoutMode::Registers));
  const int pageHeight = l.PageControl.Height - 20;
  // The grid's columns are those of the whole width, as without statistics.
  EXPECT_EQ(l.RegistersTable.Left, 112);
  EXPECT_EQ(l.RegistersTable.Width, 868);
  EXPECT_EQ(l.RegisterColumnWidth, (868 - 4 - 3) / 2);
  EXPECT_EQ(l.ValueColumnWidth, (868 - 4 - 3) / 4);
  // The statistics under it, as wide, down to 4 above the page's bottom.
  EXPECT_EQ(l.RegistersTable.Height, (pageHeight - 8) * 11 / 20);
  EXPECT_EQ(l.StatisticsTable, (TRect{112, l.RegistersTable.Bottom() + 4, 868, pageHeight - 8 - l.RegistersTable.Height - 4}));
  EXPECT_EQ(l.StatisticsTable.Bottom(), pageHeight - 4);
  // The new buttons under "Transmit", one button height apart.
  EXPECT_EQ(l.ResetStatistics, (TRect{4, 4 + 7 * 25, 100, 25}));
  EXPECT_EQ(l.PlotButton, (TRect{4, 4 + 9 * 25, 100, 25}));
  EXPECT_EQ(l.ScanBus, (TRect{4, 4 + 11 * 25, 100, 25}));
  EXPECT_GT(l.ResetStatistics.Top, l.Transmit.Bottom());

  // A low page: the grid keeps its header and four rows, the statistics what is left.
  const TLayout low = ArrangeControls(Window(1000, 992, 420, TLayoutMode::Registers));
  EXPECT_GE(low.RegistersTable.Height, std::min(5 * 21 + 4, low.PageControl.Height - 28));
  EXPECT_GE(low.StatisticsTable.Height, 0);
  EXPECT_LE(low.StatisticsTable.Bottom(), low.PageControl.Height - 20 - 4 + 1);
}
