// Parse tables loaded from ".rtb" files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "analysis/parser.h"

namespace mkp {
namespace {

class LoadTableTest : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/mkp_rtb_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::string Write(const std::string& name, const std::string& content) {
    std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  int Count(int command) { return parser.ParseTables[static_cast<std::size_t>(command)].Count(); }
  const TParamItem* Entry(int command, int reg) {
    return parser.ParseTables[static_cast<std::size_t>(command)].Peek(reg);
  }
  void ExpectEntry(int command, int reg, int subIndex, long double rank, const std::string& mask) {
    const TParamItem* e = Entry(command, reg);
    ASSERT_NE(e, nullptr) << command << "/" << reg;
    EXPECT_EQ(e->Code, subIndex);
    EXPECT_EQ(e->Value, rank);
    EXPECT_EQ(e->Text, mask);
  }

  std::string dir;
  TMKPParser parser;
};

TEST_F(LoadTableTest, StatementsCommentsAndDefaults) {
  std::string path = Write("main.rtb",
                           "// a heading\r\n"
                           "{ only a comment }\r\n"
                           "(* another *)\r\n"
                           "\r\n"
                           "COMMAND=7; REG=12; SUBIDX=2; RANK=3; MASK=word { why }\r\n"
                           "co mmand = 5 ; reg=1; mask = as is;;\r\n"
                           "command=5;reg=1;rank=4;rank=-6\r\n"
                           "command=6;reg=0;mask=\r\n"
                           "command=6;reg=1;unknown=x;noequals\r\n"
                           "command\t=\t8;\treg=2\n");
  ASSERT_TRUE(parser.LoadTable(path));
  EXPECT_EQ(parser.TableFileName, "main.rtb");
  EXPECT_EQ(Count(7), 13);
  ExpectEntry(7, 12, 2, 3.0L, "WORD");
  for (int r = 0; r < 12; ++r) ExpectEntry(7, r, 1, 1.0L, "ASIS");
  // The second statement for 5/1 replaces the first entirely.
  ExpectEntry(5, 1, 1, -6.0L, "ASIS");
  ExpectEntry(6, 0, 1, 1.0L, "");
  ExpectEntry(6, 1, 1, 1.0L, "ASIS");
  ExpectEntry(8, 2, 1, 1.0L, "ASIS");
  EXPECT_EQ(Count(0), 0);
}

TEST_F(LoadTableTest, ClampingAndEmptyFile) {
  ASSERT_TRUE(parser.LoadTable(Write("clamp.rtb", "COMMAND=300; REG=-4\nCOMMAND=126; REG=999\n")));
  EXPECT_EQ(Count(0), 0);
  EXPECT_EQ(Count(126), 256);
  ExpectEntry(126, 255, 1, 1.0L, "ASIS");

  // An empty file has no entry: the table and its name stay.
  EXPECT_TRUE(parser.LoadTable(Write("empty.rtb", "")).NothingUsable());
  EXPECT_EQ(parser.TableFileName, "clamp.rtb");
  EXPECT_EQ(Count(126), 256);
}

TEST_F(LoadTableTest, AFileWithoutAnEntryKeepsTableAndName) {
  ASSERT_TRUE(parser.LoadTable(Write("good.rtb", "COMMAND=7;REG=2;MASK=word\n")));
  std::string noise;
  for (int i = 0; i < 5000; ++i) noise += static_cast<char>((i * 2654435761u) >> 24);
  for (const std::string& content :
       {noise, std::string("// comment\n{ braces }\n(* stars *)\n"), std::string("COMMAND=127;REG=3\n"),
        std::string("PortNumber=COM1\r\nParity=NONE\r\n"), std::string("<html>\n<p>words</p>\n")}) {
    const std::string path = Write("bad.rtb", content);
    const TLoadResult result = parser.LoadTable(path);
    EXPECT_EQ(result.Status(), TLoadStatus::NothingUsable) << content;
    EXPECT_EQ(result.Message(), path + ": no parse table entries found");
    EXPECT_EQ(parser.TableFileName, "good.rtb");
    EXPECT_EQ(Count(7), 3);
    ExpectEntry(7, 2, 1, 1.0L, "WORD");
    EXPECT_EQ(Count(0), 0);
  }
  // One statement with a key loads the file, its other lines read as ever:
  // a line without a known key writes the default entry of command 0.
  ASSERT_TRUE(parser.LoadTable(Write("mixed.rtb", "garbage here\nreg=1;command=3\n")));
  EXPECT_EQ(parser.TableFileName, "mixed.rtb");
  EXPECT_EQ(Count(7), 0);
  EXPECT_EQ(Count(0), 1);
  EXPECT_EQ(Count(3), 2);
}

TEST_F(LoadTableTest, FailuresKeepEarlierLinesAndName) {
  ASSERT_TRUE(parser.LoadTable(Write("good.rtb", "COMMAND=1;REG=0\n")));

  EXPECT_FALSE(parser.LoadTable(dir + "/missing.rtb"));
  EXPECT_EQ(Count(1), 1);  // a missing file leaves the table alone
  EXPECT_EQ(parser.TableFileName, "good.rtb");

  EXPECT_FALSE(parser.LoadTable(
      Write("bad.rtb", "COMMAND=2;REG=0\nCOMMAND=3;REG=0;RANK=1.5\nCOMMAND=4;REG=0\n")));
  EXPECT_EQ(Count(1), 0);
  EXPECT_EQ(Count(2), 1);
  EXPECT_EQ(Count(3), 0);
  EXPECT_EQ(Count(4), 0);
  EXPECT_EQ(parser.TableFileName, "good.rtb");

  EXPECT_FALSE(parser.LoadTable(Write("empty_value.rtb", "COMMAND=2;REG=\n")));
  EXPECT_EQ(Count(2), 0);
  EXPECT_FALSE(parser.LoadTable(Write("huge.rtb", "COMMAND=99999999999\n")));
  EXPECT_FALSE(parser.LoadTable(dir));  // a folder cannot be read as a table
}

TEST_F(LoadTableTest, ClosingDelimiterBeforeOpeningEnds) {
  // Only spans whose closing delimiter follows the opening one are removed;
  // a stray closing delimiter stays in the line.
  ASSERT_TRUE(parser.LoadTable(Write("odd.rtb",
                                     "command=4; reg=1; mask=a}b{c}d\n"
                                     "command=4; reg=2; mask=x*)y(*z\n"
                                     "command=4; reg=3; } mask=q {\n")));
  ExpectEntry(4, 1, 1, 1.0L, "A}BD");
  ExpectEntry(4, 2, 1, 1.0L, "X*)Y(*Z");
  ExpectEntry(4, 3, 1, 1.0L, "ASIS");
}

// A second analyser (a log window's) describes as the first one does, and
// keeps doing so whatever becomes of the first.
TEST_F(LoadTableTest, CopiedSettingsDescribeAlikeAndStayApart) {
  ASSERT_TRUE(parser.LoadTable(Write("main.rtb", "COMMAND=7;REG=1;SUBIDX=2;RANK=10\nCOMMAND=7;REG=3;MASK=word\n")));
  parser.HexFlagForType(TypeCode::Word) = true;
  parser.ArrayAlign = true;
  parser.AnalyzeMaster = false;
  TMKPParser copy;
  ASSERT_TRUE(copy.LoadTable(Write("other.rtb", "COMMAND=9;REG=4\n")));
  copy.CopySettingsFrom(parser);
  EXPECT_EQ(copy.TableFileName, "main.rtb");
  EXPECT_EQ(copy.ParseTables[9].Count(), 0);  // replaced, not merged
  for (const char* text : {"0A0B0C.010203.07.05.0300 - 01 E8 03", "0A0B0C.010203.07.05.0300 - 03 E8 03",
                           "0A0B0C.010203.07.11.0700 - 01 01 04 01 02 03 04"}) {
    EXPECT_EQ(copy.DescribeSlave(text), parser.DescribeSlave(text)) << text;
    EXPECT_NE(copy.DescribeSlave(text), TMKPParser().DescribeSlave(text)) << text;
  }
  EXPECT_EQ(copy.DescribeMaster("010203.0A0B0C.06.05.0100 - 01"), "");
  EXPECT_TRUE(copy.ArrayAlign);

  const std::string before = copy.DescribeSlave("0A0B0C.010203.07.05.0300 - 01 E8 03");
  ASSERT_TRUE(parser.LoadTable(Write("third.rtb", "COMMAND=7;REG=1;RANK=1000\n")));
  parser.HexFlagForType(TypeCode::Word) = false;
  EXPECT_EQ(copy.DescribeSlave("0A0B0C.010203.07.05.0300 - 01 E8 03"), before);
}

}  // namespace
}  // namespace mkp
