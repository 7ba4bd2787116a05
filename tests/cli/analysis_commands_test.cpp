// mkptool describe, redecode and table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "analysis/parser.h"
#include "cli/tool_runner.h"
#include "text/cp1251.h"

#if __has_include(<nlohmann/json.hpp>)
#include <nlohmann/json.hpp>
#define MKP_TEST_JSON 1
#endif

using mkptest::RunTool;

namespace {

std::string TempFile(const std::string& content) {
  char path[] = "/tmp/mkptool-analysisXXXXXX";
  int fd = mkstemp(path);
  if (fd >= 0) {
    (void)!write(fd, content.data(), content.size());
    close(fd);
  }
  return path;
}

TEST(DescribeCommand, PrintsTheLineExactly) {
  auto r = RunTool({"describe", "010203.0A0B0C.07.05.0003 - 05 34 12 "});
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out, "0A0B0C>>010203 ANSW type 05 : reg 05 = 4660 \n");
  // Unquoted groups are one packet text; Russian goes out as UTF-8.
  EXPECT_EQ(RunTool({"describe", "010203.0A0B0C.03.00.0001", "-", "05"}).Out,
            "0A0B0C>>010203 ОШИБКА 05 : Устройство занято и не может ответить сейчас\n");
  EXPECT_EQ(RunTool({"describe", "--hex", "5", "--align", "010203.0A0B0C.07.05.0003 - 05 34 12 78"}).Out,
            "0A0B0C>>010203 ANSW type 05 : reg 05 = 1234 78   \n");
  EXPECT_EQ(RunTool({"describe", "--hex=all", "010203.0A0B0C.07.21.0003 - 05 01 02 03"}).Out,
            "0A0B0C>>010203 ANSW type 21 : reg 05 = 030201 \n");
  // Batch mode: one line per input line.
  auto batch = RunTool({"describe"}, "010203.0A0B0C.04.00.0000 - \r\n\n010203.0A0B0C.01.00.0000\n");
  EXPECT_EQ(batch.Out, "0A0B0C>>010203 PING\n000000>>000000 \n0A0B0C>>010203 подтверждение\n");
}

TEST(DescribeCommand, BadOptionsAndHelp) {
  EXPECT_EQ(RunTool({"describe", "--hex", "3", "01"}).Status, 2);
  EXPECT_EQ(RunTool({"describe", "--hex"}).Status, 2);
  EXPECT_EQ(RunTool({"describe", "--bogus", "01"}).Status, 2);
  for (const char* command : {"describe", "redecode", "table"}) {
    auto help = RunTool({command, "--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find(std::string("mkptool ") + command), std::string::npos);
  }
}

#ifdef MKP_TEST_JSON
// Random packets of every type code, in one batch with random switches: the
// JSON holds exactly the engine's line and Results.
TEST(DescribeCommand, JsonMatchesTheEngineForEveryTypeCode) {
  std::mt19937 random(7);
  for (int round = 0; round < 3; ++round) {
    mkp::TMKPParser parser;
    std::vector<std::string> args = {"describe", "--json"};
    for (int code : mkp::TMKPParser::HexTypeCodes) {
      if (random() % 2) {
        args.push_back("--hex");
        args.push_back(std::to_string(code));
        parser.HexFlagForType(code) = true;
      }
    }
    if (round == 1) {
      args.push_back("--align");
      parser.ArrayAlign = true;
    }
    std::string input;
    std::vector<std::string> texts;
    for (int type = 0; type < 256; ++type) {
      std::ostringstream text;
      text << "010203.0A0B0C.07." << "0123456789ABCDEF"[type / 16] << "0123456789ABCDEF"[type % 16]
           << ".0000 - " << (type % 2 ? "01 " : "41 00 ");
      int length = static_cast<int>(random() % 24);
      for (int i = 0; i < length; ++i) {
        unsigned b = random() % 256;
        text << "0123456789ABCDEF"[b / 16] << "0123456789ABCDEF"[b % 16] << ' ';
      }
      texts.push_back(text.str());
      input += text.str() + "\n";
    }
    auto r = RunTool(args, input);
    ASSERT_EQ(r.Status, 0);
    std::istringstream out(r.Out);
    std::string jsonLine;
    for (const auto& text : texts) {
      ASSERT_TRUE(std::getline(out, jsonLine));
      auto object = nlohmann::json::parse(jsonLine);
      std::string line = parser.DescribePacket(text);
      EXPECT_EQ(object["line"].get<std::string>(), mkp::Cp1251ToUtf8(line)) << text;
      std::vector<std::string> results;
      for (const auto& item : parser.Results.Items()) results.push_back(mkp::Cp1251ToUtf8(item.Text));
      EXPECT_EQ(object["results"].get<std::vector<std::string>>(), results) << text;
    }
  }
}
#endif

TEST(RedecodeCommand, RebuildsTheDecodePane) {
  // A Windows-1251 log with CR LF line ends, as the autosave file holds it.
  std::string log =
      "-> 010203.0A0B0C.06.05.0001 - 07 \r\n"
      "<- 0A0B0C.010203.07.05.0003 - 07 34 12 \r\n"
      "<- Missing format : 01 02 03 \r\n"
      "-> Transmit error!\r\n"
      "some other line\r\n"
      "<- 0A0B0C.010203.03.00.0001 - FF \r\n"
      "-> 01 02 03 0A 0B 0C 07 05 03 00  AA BB CC DD - 05 34 12  11 22 33 44\n"
      "-> 01 02 03 0A 0B 0C 04 00 00 00  AA BB CC DD\n";
  std::string path = TempFile(log);
  auto utf8 = RunTool({"redecode", path});
  EXPECT_EQ(utf8.Status, 0);
  EXPECT_EQ(utf8.Out,
            "-> 0A0B0C>>010203 RD type 05 : reg 07\n"
            "<- 010203>>0A0B0C ANSW type 05 : reg 07 = 4660 \n"
            "<- Missing format\n"
            "-> Transmit error!\n"
            "some other line\n"
            "<- 010203>>0A0B0C ОШИБКА FF : Нераспознанная ошибка\n"
            "-> 0A0B0C>>010203 ANSW type 05 : reg 05 = 4660 \n"
            "-> 0A0B0C>>010203 PING\n");
  auto dcd = RunTool({"redecode", "--cp1251", "--hex", "5", path});
  EXPECT_EQ(dcd.Out, mkp::Utf8ToCp1251("-> 0A0B0C>>010203 RD type 05 : reg 07\r\n"
                                       "<- 010203>>0A0B0C ANSW type 05 : reg 07 = 1234 \r\n"
                                       "<- Missing format\r\n"
                                       "-> Transmit error!\r\n"
                                       "some other line\r\n"
                                       "<- 010203>>0A0B0C ОШИБКА FF : Нераспознанная ошибка\r\n"
                                       "-> 0A0B0C>>010203 ANSW type 05 : reg 05 = 1234 \r\n"
                                       "-> 0A0B0C>>010203 PING\r\n"));
  std::filesystem::remove(path);
  EXPECT_EQ(RunTool({"redecode", "/nonexistent/MKPTest.trm"}).Status, 1);
}

TEST(TableCommand, ListsEntriesInOrderAndReportsFailure) {
  std::string good = TempFile("COMMAND=7;REG=2;SUBIDX=3;RANK=-2;MASK=x y\nCOMMAND=1;REG=0\n");
  auto r = RunTool({"table", good});
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out, "1 0 1 1 ASIS\n7 0 1 1 ASIS\n7 1 1 1 ASIS\n7 2 3 -2 XY\n");
  std::string bad = TempFile("COMMAND=2;REG=0\nCOMMAND=3;RANK=x\n");
  auto f = RunTool({"table", bad});
  EXPECT_EQ(f.Status, 1);
  EXPECT_EQ(f.Out, "2 0 1 1 ASIS\n");
  EXPECT_EQ(RunTool({"table", "/nonexistent.rtb"}).Status, 1);
  std::filesystem::remove(good);
  std::filesystem::remove(bad);
}

TEST(AnalysisCommandsTest, RedecodeKeepsTheTimeOfATimestampedLogAndReadsMonitorLines) {
  const std::string path = "/tmp/mkpt_redecode_times_" + std::to_string(getpid()) + ".trm";
  std::ofstream(path, std::ios::binary)
      << "14:03:07.215 +0.000 -> 010203.0A0B0C.06.05.0100 - 01 \r\n"
         "14:03:07.231 +16.042 <- 0A0B0C.010203.07.05.0300 - 01 E8 03 \r\n"
         "14:03:07.240 +9.000 <-2 Missing format : 01 02 \r\n"
         "<-1 0A0B0C.010203.07.05.0300 - 01 E8 03 \r\n"
         "14:03:07.250 +10.000 -> Transmit error!\r\n";
  const auto result = RunTool({"redecode", path});
  EXPECT_EQ(result.Status, 0);
  EXPECT_EQ(result.Out,
            "14:03:07.215 +0.000 -> 0A0B0C>>010203 RD type 05 : reg 01\n"
            "14:03:07.231 +16.042 <- 010203>>0A0B0C ANSW type 05 : reg 01 = 1000 \n"
            "14:03:07.240 +9.000 <-2 Missing format\n"
            "<-1 010203>>0A0B0C ANSW type 05 : reg 01 = 1000 \n"
            "14:03:07.250 +10.000 -> Transmit error!\n");
  unlink(path.c_str());
}

}  // namespace

namespace {

TEST(DescribeCommand, AControlCharacterInADecodedTextKeepsTheRecordOnOneLine) {
  // A register name carrying a line break (found by fuzzing).
  const std::string text = "0A0B0C.010203.07.0A.0300 - 01 0A 41";
  const auto described = RunTool({"describe", text});
  EXPECT_EQ(std::count(described.Out.begin(), described.Out.end(), '\n'), 1) << described.Out;
  EXPECT_NE(described.Out.find("\\x0A"), std::string::npos) << described.Out;
  const auto redecoded = RunTool({"redecode", TempFile("<- " + text + "\r\n<- " + text + "\r\n")});
  EXPECT_EQ(std::count(redecoded.Out.begin(), redecoded.Out.end(), '\n'), 2) << redecoded.Out;
}

}  // namespace
