#pragma once
// Line-by-line reading of the 8-bit text files (.rst, .rtb, mkpt.ini): a line
// ends at CR LF, at LF or at CR alone.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace mkp {

// Calls onLine for every line of text, without its line end. A last line
// without a line end counts when it is not empty.
void ForEachLine(std::string_view text, const std::function<void(std::string_view)>& onLine);

// The whole file as bytes; nothing when it cannot be opened or read.
std::optional<std::string> ReadTextFile(const std::string& fileName);

}  // namespace mkp
