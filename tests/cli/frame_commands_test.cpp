#include <gtest/gtest.h>

#include "cli/tool_runner.h"

using mkptest::RunTool;

TEST(FrameCommands, ChecksumAndComposeTexts) {
  EXPECT_EQ(RunTool({"checksum", "61 62 63"}).Out, "43 6E 00 00\n");
  EXPECT_EQ(RunTool({"compose", "ab"}).Out, "AB  AB 00 00 00\n");
  EXPECT_EQ(RunTool({"compose", "01 02", "0a"}).Out, "01 02  02 01 00 00 - 0A  0A 00 00 00\n");
  EXPECT_EQ(RunTool({"compose", ""}).Out, " 00 00 00 00\n");
  // An argument is taken as given: its TAB is no header/data separator.
  EXPECT_EQ(RunTool({"compose", "\t7"}).Out, "07  07 00 00 00\n");
  // Batch mode: one answer per line, the compose fields split by a tab.
  auto batch = RunTool({"checksum"}, "ab\n01 02\r\n\n");
  EXPECT_EQ(batch.Status, 0);
  EXPECT_EQ(batch.Out, "AB 00 00 00\n02 01 00 00\n00 00 00 00\n");
  EXPECT_EQ(RunTool({"compose"}, "01\t02\n").Out, "01  01 00 00 00 - 02  02 00 00 00\n");
}

TEST(FrameCommands, FrameAndParseRoundTrip) {
  auto frame = RunTool({"frame", "0A0B0C.010203.06.01.0100 - 05"});
  EXPECT_EQ(frame.Out, "0A 0B 0C 01 02 03 06 01 01 00 20 4D B8 A6 05 05 00 00 00\n");
  std::string bytes = frame.Out.substr(0, frame.Out.size() - 1);
  EXPECT_EQ(RunTool({"parse", bytes}).Out, "0A0B0C.010203.06.01.0100 - 05 \n");
  EXPECT_EQ(RunTool({"parse", "00000000000000000000 00000000"}).Out, "000000.000000.00.00.0000 - \n");
}

TEST(FrameCommands, FailuresAreReportedPerLineAndInTheStatus) {
  auto r = RunTool({"parse"},
                   "0A 0B 0C 01 02 03 06 01 01 00 20 4D B8 A6 05 05 00 00 00 00\n"  // trailing byte
                   "0A 0B 0C 01 02 03 06 01 01 00 20 4D B8 A7 05 05 00 00 00\n"     // bad checksum
                   "0A 0B 0C 01 02 03 06 01 01 00 20 4D B8 A6 05 05 00 00 00\n");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Out, "ERROR: Missing format\nERROR: Missing format\n0A0B0C.010203.06.01.0100 - 05 \n");
  auto f = RunTool({"frame"}, "010203.0A0B0C.06.01.0100\n010203.0A0B0C.04.00.0000\n");
  EXPECT_EQ(f.Status, 1);
  EXPECT_EQ(f.Out.rfind("ERROR: ", 0), 0u);
  EXPECT_NE(f.Out.find("\n01 02 03 0A 0B 0C 04 00 00 00 "), std::string::npos);
  EXPECT_EQ(RunTool({"frobnicate"}).Status, 2);
  EXPECT_EQ(RunTool({"checksum", "--help"}).Status, 0);
}
