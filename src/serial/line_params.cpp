#include "serial/line_params.h"

#include <charconv>
#include <utility>

#include "text/textcut.h"

namespace mkp {

namespace {

// The fixed B-constants of the C library; other speeds go through termios2.
bool StandardSpeed(unsigned speed, speed_t& code) {
  static constexpr std::pair<unsigned, speed_t> table[] = {
      {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
      {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
      {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
      {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
      {576000, B576000}, {921600, B921600}, {1000000, B1000000}};
  for (const auto& [value, c] : table)
    if (value == speed) {
      code = c;
      return true;
    }
  return false;
}

}  // namespace

std::optional<TLineParameters> MakeLineParameters(std::string_view speedText, std::string_view stopBitsText,
                                                  std::string_view parityText, std::string& error) {
  TLineParameters p;
  const std::string speed = Trim(speedText);
  const char* end = speed.data() + speed.size();
  const auto [stop, ec] = std::from_chars(speed.data(), end, p.Speed);
  if (speed.empty() || ec != std::errc() || stop != end || p.Speed == 0) {
    error = "Invalid speed \"" + std::string(speedText) + "\"";
    return std::nullopt;
  }
  p.Parity = ParityFromText(parityText);
  p.StopBits = StopBitsFromText(stopBitsText);
  if (p.StopBits == TStopBits::OneAndHalf) {
    error = "1.5 stop bits are not supported by the Linux serial driver";
    return std::nullopt;
  }
  return p;
}

termios RawLineSettings(const termios& current, const TLineParameters& parameters, bool& standardSpeed) {
  termios t = current;
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~CSIZE;
  t.c_cflag |= CS8 | CREAD | CLOCAL;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;

  constexpr tcflag_t parityBits = PARENB | PARODD | CMSPAR;
  if (parameters.Parity) {
    t.c_cflag &= ~parityBits;
    switch (*parameters.Parity) {
      case TParity::None: break;
      case TParity::Odd: t.c_cflag |= PARENB | PARODD; break;
      case TParity::Even: t.c_cflag |= PARENB; break;
      case TParity::Mark: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
      case TParity::Space: t.c_cflag |= PARENB | CMSPAR; break;
    }
  }
  if (parameters.StopBits == TStopBits::One) t.c_cflag &= ~CSTOPB;
  if (parameters.StopBits == TStopBits::Two) t.c_cflag |= CSTOPB;

  speed_t code{};
  standardSpeed = StandardSpeed(parameters.Speed, code);
  if (standardSpeed) {
    cfsetispeed(&t, code);
    cfsetospeed(&t, code);
  }
  return t;
}

std::string ReadBackMismatch(const termios& wanted, const termios& back, bool pseudoTerminal,
                             unsigned wantedSpeed, std::optional<unsigned> actualSpeed) {
  const tcflag_t mask = pseudoTerminal ? CSTOPB : (CSTOPB | CSIZE | PARENB | PARODD | CMSPAR);
  if ((back.c_cflag & mask) != (wanted.c_cflag & mask)) return "refused the parity, stop bits or data bits";
  if (actualSpeed && wantedSpeed > 0) {
    const double ratio = static_cast<double>(*actualSpeed) / wantedSpeed;
    if (ratio < 0.97 || ratio > 1.03) return "refused the speed " + std::to_string(wantedSpeed);
  }
  return {};
}

std::chrono::microseconds CharacterTime(unsigned speed, tcflag_t cflag) {
  const long long bits = 1 + 8 + ((cflag & PARENB) ? 1 : 0) + ((cflag & CSTOPB) ? 2 : 1);
  return std::chrono::microseconds(bits * 1'000'000 / (speed == 0 ? 1 : speed));
}

std::chrono::microseconds FrameGapFloor(unsigned speed, tcflag_t cflag) {
  return std::chrono::milliseconds(20) + 16 * CharacterTime(speed, cflag);
}

}  // namespace mkp
