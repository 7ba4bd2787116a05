// Every command that loads a slave table, a device description, a parse
// table or a settings file refuses one that yields nothing, naming it, with
// exit status 2, before it touches a port.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/tool_runner.h"

using mkptest::RunTool;

namespace {

class BadFileCommandsTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("mkptool_badfiles_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    std::string noise;
    for (int i = 0; i < 4000; ++i) noise += static_cast<char>((i * 2246822519u + 3u) >> 24);
    noise_ = Write("noise.bin", noise);
    text_ = Write("notes.txt", "Shopping list\nmilk = 2\n<b>bread</b>\n");
    description_ = Write("good.rst", "{count} #1#\r\n<010203.0A0B0C.06.05.0100 - 01> [1]\r\n");
    table_ = Write("good.smt", "<010203.0A0B0C.04.00.0000> [0A0B0C.010203.01.00.0000]\r\n");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& content) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  // Runs the command and expects the refusal of `file` as a `what` file.
  void ExpectRefused(const std::vector<std::string>& args, const std::string& file, const std::string& what) {
    const auto result = RunTool(args, "", true);
    EXPECT_EQ(result.Status, 2) << args[0] << " " << file;
    EXPECT_EQ(result.Out, "mkptool " + args[0] + ": " + file + ": " + what + "\n") << args[0];
  }

  std::filesystem::path dir_;
  std::string noise_, text_, description_, table_;
};

TEST_F(BadFileCommandsTest, EachCommandNamesTheFileThatYieldsNothing) {
  const std::string port = "/nonexistent/tty";
  for (const std::string& bad : {noise_, text_, Write("empty", "")}) {
    ExpectRefused({"table", bad}, bad, "no parse table entries found");
    ExpectRefused({"slave", "--port", port, bad}, bad, "no slave table rows found");
    ExpectRefused({"device", "--port", port, bad}, bad, "no requests or registers found");
    ExpectRefused({"device", "--port", port, "--table", bad, description_}, bad, "no slave table rows found");
    ExpectRefused({"poll", "--port", port, bad}, bad, "no requests or registers found");
    ExpectRefused({"write", "--port", port, bad, "1=5"}, bad, "no requests or registers found");
    ExpectRefused({"listen", "--settings", bad}, bad, "no port settings found");
    ExpectRefused({"poll", "--settings", bad, description_}, bad, "no port settings found");
  }
  // `table` prints no entry for such a file (it used to invent one).
  EXPECT_EQ(RunTool({"table", text_}).Out, "");
}

TEST_F(BadFileCommandsTest, FilesWithSomeGoodLinesGetAsFarAsThePort) {
  // Good files are taken: the commands then fail on the missing port only.
  const std::string port = "/nonexistent/tty";
  const std::string mixed = Write("mixed.rst", "garbage\r\n" + std::string("{count} #1#\r\n"));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"slave", "--port", port, table_},
        {"device", "--port", port, "--table", table_, description_},
        {"poll", "--port", port, mixed},
        {"write", "--port", port, description_, "1=5"}}) {
    const auto result = RunTool(args, "", true);
    EXPECT_EQ(result.Status, 2) << args[0];
    EXPECT_NE(result.Out.find("Invalid port settings!"), std::string::npos) << result.Out;
    for (const char* refusal : {"no slave table rows found", "no requests or registers found"})
      EXPECT_EQ(result.Out.find(refusal), std::string::npos) << result.Out;
  }
  const auto table = RunTool({"table", Write("mixed.rtb", "junk\nCOMMAND=2;REG=1\n")});
  EXPECT_EQ(table.Status, 0);
  EXPECT_EQ(table.Out, "0 0 1 1 ASIS\n2 0 1 1 ASIS\n2 1 1 1 ASIS\n");  // "junk" writes 0/0
}

}  // namespace
