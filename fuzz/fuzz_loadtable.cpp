// Fuzz target: parse table loading from random file contents.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "analysis/parser.h"

namespace {

// One temporary file for the whole run, rewritten for every input.
const std::string& TablePath() {
  static const std::string path = [] {
    char pattern[] = "/tmp/fuzz_loadtable_XXXXXX";
    int fd = mkstemp(pattern);
    if (fd < 0) std::abort();
    close(fd);
    return std::string(pattern);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = TablePath();
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }
  mkp::TMKPParser parser;
  const bool loaded = parser.LoadTable(path);
  for (const auto& list : parser.ParseTables) {
    // Registers are clamped to 0..255, and each list holds entries 0..n-1.
    if (list.Count() > mkp::TMKPParser::MaxRegister + 1) std::abort();
    int expected = 0;
    for (const auto& item : list.Items())
      if (item.Index != expected++) std::abort();
  }
  if (loaded != (parser.TableFileName == path.substr(path.rfind('/') + 1))) std::abort();
  return 0;
}
