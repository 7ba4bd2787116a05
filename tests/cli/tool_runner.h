// Runs mkptool with arguments and standard input, capturing its output.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace mkptest {

struct ToolResult {
  int Status = -1;
  std::string Out;
};

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

// Runs `mkptool ARGS < input`; standard error is discarded unless wanted.
inline ToolResult RunTool(const std::vector<std::string>& args, const std::string& input = "",
                          bool withStderr = false) {
  char inPath[] = "/tmp/mkptool-inXXXXXX";
  int fd = mkstemp(inPath);
  if (fd >= 0) {
    (void)!write(fd, input.data(), input.size());
    close(fd);
  }
  std::string cmd = ShellQuote(MKPTOOL_PATH);
  for (const auto& a : args) cmd += " " + ShellQuote(a);
  cmd += std::string(" < ") + inPath + (withStderr ? " 2>&1" : " 2>/dev/null");
  ToolResult r;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.Out.append(buf, n);
    const int st = pclose(p);
    r.Status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  unlink(inPath);
  return r;
}

}  // namespace mkptest
