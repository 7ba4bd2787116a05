// The names of the parity and stop-bit settings, as the port settings frame
// lists them and as "mkpt.ini" stores them; the channel, the settings model
// and mkptool all read them from here.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace mkp {

enum class TParity { None, Even, Odd, Mark, Space };
enum class TStopBits { One, OneAndHalf, Two };

template <class T>
struct TNamed {
  T Value;
  std::string_view Name;
};

// In the order of the settings frame's lists.
inline constexpr std::array<TNamed<TParity>, 5> ParityNames = {{{TParity::None, "none"},
                                                                {TParity::Even, "Even"},
                                                                {TParity::Odd, "Odd"},
                                                                {TParity::Mark, "Mark"},
                                                                {TParity::Space, "Space"}}};
inline constexpr std::array<TNamed<TStopBits>, 3> StopBitNames = {
    {{TStopBits::One, "1"}, {TStopBits::OneAndHalf, "1.5"}, {TStopBits::Two, "2"}}};

// The setting a text names, blanks at both ends and letter case ignored; none
// for any other text.
std::optional<TParity> ParityFromText(std::string_view text);
std::optional<TStopBits> StopBitsFromText(std::string_view text);

}  // namespace mkp
