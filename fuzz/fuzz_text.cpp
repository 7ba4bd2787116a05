// Text helpers, the code page codec and the device number forms on arbitrary
// input: nothing may crash or hang, and the stated invariants must hold.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "text/cp1251.h"
#include "text/devnum.h"
#include "text/numtext.h"
#include "text/textcut.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  // Code page: every byte but the unassigned 0x98 comes back.
  std::string expected = input;
  for (char& c : expected)
    if (c == '\x98') c = '?';
  if (mkp::Utf8ToCp1251(mkp::Cp1251ToUtf8(input)) != expected) std::abort();
  (void)mkp::Utf8ToCp1251(input);

  // Numbers read from text.
  try {
    const double v = mkp::StrToFloatDot(input);
    (void)mkp::FloatToStrDot(v);
  } catch (const mkp::EConvertError&) {
  }

  // Cutting helpers on a text split into text and markers.
  const std::size_t third = size / 3;
  std::string text = input.substr(0, third);
  const std::string a = input.substr(third, std::min<std::size_t>(3, size - third));
  const std::string b = input.substr(std::min(size, third + 3), 2);
  std::string t1 = text;
  mkp::RemoveSpans(t1, a, b);
  if (t1.size() > text.size()) std::abort();
  std::string t2 = text;
  mkp::ReplaceAll(t2, a, b);
  std::string t3 = text;
  mkp::RemoveAll(t3, a);
  if (!a.empty() && t3.find(a) != std::string::npos) std::abort();
  (void)mkp::TextBetween(text, a, b);
  (void)mkp::HasTextBetween(text, a, b);

  // Device reals: an encoded value never exceeds the original and keeps a
  // mantissa of three digits.
  if (size >= 8) {
    double x = 0;
    std::memcpy(&x, data, sizeof x);
    const std::uint16_t word = mkp::EncodeLSingle(x);
    const unsigned mantissa = word & 0x3FFu;
    if (word != 0 && (mantissa < 100 || mantissa > 999)) std::abort();
    if (std::isfinite(x) && x > 0 && mkp::DecodeLSingle(word) > x) std::abort();
    (void)mkp::FormatDeviceReal(x);
    (void)mkp::FloatToStrFDot(x, mkp::TFloatFormat::Fixed, 15, 18);
    (void)mkp::FloatToStrFDot(x, mkp::TFloatFormat::Number, 18, 4);
  }
  return 0;
}
