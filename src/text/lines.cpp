#include "text/lines.h"

#include <fstream>
#include <iterator>

namespace mkp {

void ForEachLine(std::string_view text, const std::function<void(std::string_view)>& onLine) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      onLine(text.substr(start));
      return;
    }
    onLine(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
}

std::optional<std::string> ReadTextFile(const std::string& fileName) {
  try {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return std::nullopt;
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return content;
  } catch (const std::exception&) {  // a folder opens, but reading it fails
    return std::nullopt;
  }
}

}  // namespace mkp
