#include "text/csv.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "text/cp1251.h"

namespace mkp {

std::string CsvField(const std::string& utf8) {
  if (utf8.find_first_of(",\"\r\n") == std::string::npos) return utf8;
  std::string out = "\"";
  for (const char c : utf8) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string CsvLine(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += ',';
    line += CsvField(Cp1251ToUtf8(fields[i]));
  }
  return line + "\r\n";
}

std::string LocalIsoTime(double millisecondsSinceEpoch) {
  const double whole = std::floor(millisecondsSinceEpoch / 1000.0);
  const std::time_t seconds = static_cast<std::time_t>(whole);
  int millis = static_cast<int>(std::lround(millisecondsSinceEpoch - whole * 1000.0));
  std::time_t shown = seconds;
  if (millis >= 1000) {
    millis -= 1000;
    ++shown;
  }
  std::tm local{};
  localtime_r(&shown, &local);
  char buffer[64];  // room for any int the compiler cannot rule out
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, millis);
  return buffer;
}

std::string LocalIsoTime(std::chrono::system_clock::time_point time) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  return LocalIsoTime(static_cast<double>(ms));
}

}  // namespace mkp
