// Comma-separated value files as other programs read them: a header row,
// fields quoted where they hold a comma, a quote or a line break (quotes
// doubled inside), lines ending in CR LF, UTF-8 text.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace mkp {

// One field, quoted when it has to be. The text is UTF-8.
std::string CsvField(const std::string& utf8);
// One line with its CR LF, from engine texts (Windows-1251), written as UTF-8.
std::string CsvLine(const std::vector<std::string>& fields);
// Local time with milliseconds: "2026-12-10T14:03:07.215".
std::string LocalIsoTime(std::chrono::system_clock::time_point time);
std::string LocalIsoTime(double millisecondsSinceEpoch);

}  // namespace mkp
