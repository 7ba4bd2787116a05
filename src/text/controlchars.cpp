#include "text/controlchars.h"

#include "text/hextext.h"

namespace mkp {

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// "\x" and two hex digits at this position.
bool EscapeAt(std::string_view text, std::size_t at) {
  return at + 3 < text.size() && text[at] == '\\' && text[at + 1] == 'x' && HexDigitValue(text[at + 2]) >= 0 &&
         HexDigitValue(text[at + 3]) >= 0;
}

}  // namespace

std::string ShowControlChars(std::string_view text) {
  std::size_t first = 0;
  while (first < text.size() && !IsControl(static_cast<unsigned char>(text[first])) && !EscapeAt(text, first))
    ++first;
  if (first == text.size()) return std::string(text);
  std::string out(text.substr(0, first));
  out.reserve(text.size() + 8);
  for (std::size_t i = first; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (IsControl(c) || EscapeAt(text, i)) {
      out += "\\x";
      out += ByteToHex(c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string HideControlChars(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (EscapeAt(text, i)) {
      out += static_cast<char>(HexDigitValue(text[i + 2]) * 16 + HexDigitValue(text[i + 3]));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace mkp
