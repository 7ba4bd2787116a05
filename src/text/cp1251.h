// The one codec between engine text (8-bit Windows-1251) and UTF-8, used at
// the edges only: Qt widgets and mkptool's output.
#pragma once

#include <string>
#include <string_view>

namespace mkp {

// Each Windows-1251 byte to its UTF-8 form (the unassigned byte 0x98 becomes "?").
std::string Cp1251ToUtf8(std::string_view text);
// UTF-8 to Windows-1251; a character the code page cannot hold, or a byte
// that is not valid UTF-8, becomes "?".
std::string Utf8ToCp1251(std::string_view text);
// One Unicode code point (a UTF-16 unit included) to its Windows-1251 byte, or
// '?' when the code page cannot hold it.
char UnicodeToCp1251(char32_t codePoint);

}  // namespace mkp
