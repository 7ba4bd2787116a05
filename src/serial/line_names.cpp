#include "serial/line_names.h"

#include "text/textcut.h"

namespace mkp {

namespace {

template <class T, std::size_t N>
std::optional<T> Lookup(const std::array<TNamed<T>, N>& names, std::string_view text) {
  const std::string wanted = UpperCase(Trim(text));
  for (const auto& entry : names)
    if (UpperCase(entry.Name) == wanted) return entry.Value;
  return std::nullopt;
}

}  // namespace

std::optional<TParity> ParityFromText(std::string_view text) { return Lookup(ParityNames, text); }

std::optional<TStopBits> StopBitsFromText(std::string_view text) { return Lookup(StopBitNames, text); }

}  // namespace mkp
