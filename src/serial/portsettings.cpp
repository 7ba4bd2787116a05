#include "serial/portsettings.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <optional>
#include <string_view>

#include "serial/comport.h"
#include "serial/line_names.h"
#include "text/numtext.h"
#include "text/textcut.h"
#include "text/lines.h"

namespace mkp {

namespace {

// The keys of the file, upper-cased: the six settings, the five that are
// read over, and the two line options.
constexpr std::array<std::string_view, 13> KnownKeys = {
    "PORTNUMBER",  "TRANSFERRATE",  "STOPBITS", "PARITY", "DTRCONTROL", "RTSCONTROL", "READTOTALTIMEOUTCONSTANT",
    "READTOTALTIMEOUTMULTIPLIER", "READINTERVALTIMEOUT", "WRITETIMEOUTMULTIPLIER", "WRITEINTERVALTIMEOUT",
    "ECHO", "RS485"};

bool IsPath(const std::string& text) { return text.find('/') != std::string::npos; }

// A speed in bits per second: a decimal number from 1 to MaxSpeed.
bool IsSpeedNumber(const std::string& text) {
  const std::string trimmed = Trim(text);
  if (trimmed.empty() || trimmed.find_first_not_of("0123456789") != std::string::npos || trimmed.size() > 8)
    return false;
  const auto value = DecimalToInt(trimmed);
  return value && *value >= 1 && *value <= TPortSettings::MaxSpeed;
}

// A switch's value in the file: on, off, or neither (none).
std::optional<bool> SwitchValue(const std::string& value) {
  const std::string v = UpperCase(value);
  if (v == "1" || v == "YES" || v == "TRUE" || v == "ON") return true;
  if (v.empty() || v == "0" || v == "NO" || v == "FALSE" || v == "OFF") return false;
  return std::nullopt;
}

std::string DigitsOnly(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c >= '0' && c <= '9' && out.size() < 2) out += c;
  return out;
}

}  // namespace

TPortSettings::TPortSettings() : devicePaths_(SerialDevicesPresent()) { ResetToDefaults(); }

void TPortSettings::Notify(TControl sender) {
  if (OnSettingsChange) OnSettingsChange(sender);
}

std::string TPortSettings::ItemAt(const std::vector<std::string>& list, int index) {
  if (index < 0 || index >= static_cast<int>(list.size())) return {};
  return list[static_cast<std::size_t>(index)];
}

void TPortSettings::ResetToDefaults() {
  ports_.clear();
  for (int i = 1; i <= 256; ++i) ports_.push_back("COM" + std::to_string(i));
  ports_.insert(ports_.end(), devicePaths_.begin(), devicePaths_.end());
  speeds_ = {"75",   "110",  "134",  "150",   "300",   "600",   "1200",  "1800",  "2400",
             "4800", "7200", "9600", "14400", "19200", "38400", "57600", "115200"};
  // The standard higher speeds after the first version's list.
  for (const char* speed : {"230400", "460800", "500000", "576000", "921600", "1000000", "1500000", "2000000",
                            "3000000", "4000000"})
    speeds_.emplace_back(speed);
  stopBits_.clear();
  for (const auto& entry : StopBitNames) stopBits_.emplace_back(entry.Name);
  parities_.clear();
  for (const auto& entry : ParityNames) parities_.emplace_back(entry.Name);
  port_ = 0;
  speed_ = IndexOfText(speeds_, "9600");
  stopBit_ = 0;
  parity_ = 0;
  readText_ = "1";
  writeText_ = "0";
  echo_ = false;
  rs485_ = false;
  Notify(TControl::Frame);
}

std::string TPortSettings::GetPortName() const {
  std::string item = Trim(ItemAt(ports_, port_));
  return IsPath(item) ? item : UpperCase(item);
}
std::string TPortSettings::GetSpeed() const { return UpperCase(Trim(ItemAt(speeds_, speed_))); }
std::string TPortSettings::GetParity() const { return UpperCase(Trim(ItemAt(parities_, parity_))); }
std::string TPortSettings::GetStopBits() const { return UpperCase(Trim(ItemAt(stopBits_, stopBit_))); }

int TPortSettings::GetReadInterval() const {
  return DecimalToInt(Trim(readText_)).value_or(0);
}
int TPortSettings::GetWriteInterval() const {
  return DecimalToInt(Trim(writeText_)).value_or(0);
}

int TPortSettings::IndexOfText(const std::vector<std::string>& list, const std::string& text) {
  auto it = std::find(list.begin(), list.end(), text);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

int TPortSettings::IndexOfTextNoCase(const std::vector<std::string>& list, const std::string& text) {
  const std::string wanted = UpperCase(text);
  for (std::size_t i = 0; i < list.size(); ++i)
    if (UpperCase(list[i]) == wanted) return static_cast<int>(i);
  return -1;
}

void TPortSettings::SetIndex(int& field, const std::vector<std::string>& list, int index, TControl sender) {
  if (index < -1 || index >= static_cast<int>(list.size()) || index == field) return;
  field = index;
  Notify(sender);
}

void TPortSettings::SetText(std::string& field, const std::string& text, TControl sender) {
  if (field == text) return;
  field = text;
  Notify(sender);
}

void TPortSettings::SelectPort(const std::string& text) {
  if (IsPath(text)) {
    int i = IndexOfText(ports_, text);
    if (i < 0) {
      ports_.push_back(text);
      i = static_cast<int>(ports_.size()) - 1;
    }
    SetIndex(port_, ports_, i, TControl::Port);
    return;
  }
  int i = IndexOfText(ports_, UpperCase(text));
  if (i >= 0) SetIndex(port_, ports_, i, TControl::Port);
}

void TPortSettings::SelectSpeed(const std::string& text) {
  int i = IndexOfText(speeds_, UpperCase(text));
  if (i < 0 && IsSpeedNumber(text)) {
    // A speed off the list (a file's, or typed) is kept: the port decides
    // whether it takes it when it is opened.
    speeds_.push_back(std::to_string(*DecimalToInt(Trim(text))));
    i = static_cast<int>(speeds_.size()) - 1;
  }
  if (i >= 0) SetIndex(speed_, speeds_, i, TControl::Speed);
}

void TPortSettings::SelectStopBits(const std::string& text) {
  int i = IndexOfText(stopBits_, UpperCase(text));
  if (i >= 0) SetIndex(stopBit_, stopBits_, i, TControl::StopBits);
}

void TPortSettings::SelectParity(const std::string& text) {
  int i = IndexOfTextNoCase(parities_, text);
  if (i >= 0) SetIndex(parity_, parities_, i, TControl::Parity);
}

void TPortSettings::SetReadInterval(int value) {
  SetText(readText_, std::to_string(std::clamp(value, 0, 99)), TControl::ReadInterval);
}
void TPortSettings::SetWriteInterval(int value) {
  SetText(writeText_, std::to_string(std::clamp(value, 0, 99)), TControl::WriteInterval);
}

void TPortSettings::SetEcho(bool on) {
  if (echo_ == on) return;
  echo_ = on;
  Notify(TControl::Echo);
}
void TPortSettings::SetRs485(bool on) {
  if (rs485_ == on) return;
  rs485_ = on;
  Notify(TControl::Rs485);
}

void TPortSettings::SetPortIndex(int index) { SetIndex(port_, ports_, index, TControl::Port); }
void TPortSettings::SetSpeedIndex(int index) { SetIndex(speed_, speeds_, index, TControl::Speed); }
void TPortSettings::SetStopBitIndex(int index) { SetIndex(stopBit_, stopBits_, index, TControl::StopBits); }
void TPortSettings::SetParityIndex(int index) { SetIndex(parity_, parities_, index, TControl::Parity); }
void TPortSettings::SetReadIntervalText(const std::string& text) {
  SetText(readText_, DigitsOnly(text), TControl::ReadInterval);
}
void TPortSettings::SetWriteIntervalText(const std::string& text) {
  SetText(writeText_, DigitsOnly(text), TControl::WriteInterval);
}

TLoadResult TPortSettings::LoadSettings(const std::string& fileName) {
  TChangeHandler kept = std::move(OnSettingsChange);
  OnSettingsChange = nullptr;  // the changes made while loading reopen nothing
  bool ok = false;
  bool known = false;  // a line names one of the keys
  try {
    if (const std::optional<std::string> content = ReadTextFile(fileName)) {
      ok = true;
      ForEachLine(*content, [&](std::string_view line) {
        if (!ok) return;  // the first bad value ends the reading
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) return;
        const std::string key = UpperCase(line.substr(0, eq));  // blanks kept: "Parity =" is no key
        const std::string value = Trim(line.substr(eq + 1));
        if (std::find(KnownKeys.begin(), KnownKeys.end(), key) != KnownKeys.end()) known = true;
        if (key == "PORTNUMBER") {
          SelectPort(IsPath(value) ? value : UpperCase(value));
        } else if (key == "TRANSFERRATE") {
          SelectSpeed(value);
        } else if (key == "STOPBITS") {
          SelectStopBits(value);
        } else if (key == "PARITY") {
          SelectParity(value);
        } else if (key == "READINTERVALTIMEOUT") {
          if (const auto number = DecimalToInt(value))
            SetReadInterval(*number);
          else
            ok = false;
        } else if (key == "WRITEINTERVALTIMEOUT") {
          if (const auto number = DecimalToInt(value))
            SetWriteInterval(*number);
          else
            ok = false;
        } else if (key == "ECHO") {
          if (const auto on = SwitchValue(value)) SetEcho(*on);
        } else if (key == "RS485") {
          if (const auto on = SwitchValue(value)) SetRs485(*on);
        }
        // DTRControl, RTSControl, ReadTotalTimeoutConstant,
        // ReadTotalTimeoutMultiplier, WriteTimeOutMultiplier and all other
        // keys are read over.
      });
    }
  } catch (const std::exception&) {
    ok = false;
  }
  if (!ok) ResetToDefaults();
  OnSettingsChange = std::move(kept);
  Notify(TControl::Frame);
  if (ok && !known) return TLoadResult::Nothing(fileName, NoPortSettings);
  return ok;
}

bool TPortSettings::SaveSettings(const std::string& fileName) const {
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out << "PortNumber=" << GetPortName() << "\r\n"
      << "TransferRate=" << GetSpeed() << "\r\n"
      << "StopBits=" << GetStopBits() << "\r\n"
      << "Parity=" << GetParity() << "\r\n"
      << "ReadIntervalTimeout=" << GetReadInterval() << "\r\n"
      << "WriteIntervalTimeout=" << GetWriteInterval() << "\r\n";
  if (echo_) out << "Echo=1\r\n";
  if (rs485_) out << "RS485=1\r\n";
  out.close();
  return !out.fail();
}

}  // namespace mkp
