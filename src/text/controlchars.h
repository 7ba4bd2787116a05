// Control characters inside a line that is shown or written: a decoded string
// or a register name may hold any byte, line breaks included, and one record
// must stay one line. Bytes below 20 hex and 7F are written as "\xHH" (two
// upper-case hex digits); a backslash that would otherwise read as the start
// of such an escape is written as "\x5C", so that the form reads back exactly.
#pragma once

#include <string>
#include <string_view>

namespace mkp {

// The text with its control characters written visibly; the text itself when
// it has none.
std::string ShowControlChars(std::string_view text);
// The bytes of a text written by ShowControlChars.
std::string HideControlChars(std::string_view text);

}  // namespace mkp
