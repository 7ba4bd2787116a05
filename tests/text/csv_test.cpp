// CSV lines as spreadsheets read them.
#include "text/csv.h"

#include <gtest/gtest.h>

#include <ctime>
#include <regex>

using namespace mkp;

TEST(CsvTest, FieldsAreQuotedOnlyWhenTheyMustBe) {
  EXPECT_EQ(CsvLine({"time", "1000", "MKP-1", "5 6"}), "time,1000,MKP-1,5 6\r\n");
  EXPECT_EQ(CsvLine({"a,b", "say \"hi\"", "two\nlines", "cr\r"}),
            "\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\",\"cr\r\"\r\n");
  EXPECT_EQ(CsvLine({"", ""}), ",\r\n");
  // Engine text is Windows-1251; the file is UTF-8.
  EXPECT_EQ(CsvLine({"\xD1\xF7\xB8\xF2"}), "\xD0\xA1\xD1\x87\xD1\x91\xD1\x82\r\n");
}

TEST(CsvTest, TimeIsLocalIsoWithMilliseconds) {
  std::tm local{};
  local.tm_year = 2026 - 1900;
  local.tm_mon = 11;
  local.tm_mday = 10;
  local.tm_hour = 14;
  local.tm_min = 3;
  local.tm_sec = 7;
  local.tm_isdst = -1;
  const double ms = static_cast<double>(std::mktime(&local)) * 1000.0 + 215;
  EXPECT_EQ(LocalIsoTime(ms), "2026-12-10T14:03:07.215");
  EXPECT_EQ(LocalIsoTime(ms + 784.6), "2026-12-10T14:03:08.000");  // rounding carries into the second
  EXPECT_TRUE(std::regex_match(LocalIsoTime(std::chrono::system_clock::now()),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3})")));
}
