#include "text/cp1251.h"

#include <array>
#include <cstdint>

namespace mkp {

namespace {

// Code points of the bytes 0x80..0xFF; 0 marks the unassigned byte 0x98.
constexpr std::array<char16_t, 128> kHighHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // F8
};

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    // Every code point of the table lies below 0x10000.
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the run of 7-bit bytes from position i; they stand the same in
// both encodings and are copied as one piece.
std::size_t AsciiRun(std::string_view text, std::size_t i) {
  std::size_t end = i;
  while (end < text.size() && static_cast<unsigned char>(text[end]) < 0x80) ++end;
  return end - i;
}

}  // namespace

char UnicodeToCp1251(char32_t codePoint) {
  if (codePoint < 0x80) return static_cast<char>(codePoint);
  if (codePoint >= 0x0410 && codePoint <= 0x044F)
    return static_cast<char>(0xC0 + (codePoint - 0x0410));
  for (std::size_t i = 0; i < 0x40; ++i) {
    if (kHighHalf[i] != 0 && kHighHalf[i] == codePoint) return static_cast<char>(0x80 + i);
  }
  return '?';
}

std::string Cp1251ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t ascii = AsciiRun(text, i);
    out.append(text.substr(i, ascii));
    i += ascii;
    if (i >= text.size()) break;
    const char16_t cp = kHighHalf[static_cast<unsigned char>(text[i++]) - 0x80];
    if (cp == 0)
      out.push_back('?');
    else
      AppendUtf8(out, cp);
  }
  return out;
}

std::string Utf8ToCp1251(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const std::size_t ascii = AsciiRun(text, i);
    out.append(text.substr(i, ascii));
    i += ascii;
    if (i >= n) break;
    const auto c = static_cast<unsigned char>(text[i]);
    // Length of the sequence and the smallest code point it may carry
    // (anything below is an overlong form and so invalid).
    std::size_t len = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
      minimum = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
      minimum = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
      minimum = 0x10000;
    }
    bool valid = len != 0 && i + len <= n;
    if (valid) {
      for (std::size_t k = 1; k < len; ++k) {
        const auto cc = static_cast<unsigned char>(text[i + k]);
        if (!IsContinuation(cc)) {
          valid = false;
          break;
        }
        cp = (cp << 6) | (cc & 0x3F);
      }
    }
    if (valid && (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) valid = false;
    if (!valid) {
      // One "?" per byte that cannot start a sequence; scanning resumes at
      // the next byte so a broken sequence does not swallow good text.
      out.push_back('?');
      ++i;
      continue;
    }
    out.push_back(UnicodeToCp1251(cp));
    i += len;
  }
  return out;
}

}  // namespace mkp
