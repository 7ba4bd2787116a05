#include "serial/portsettings.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <sstream>

#include "serial/comport.h"

namespace mkp {

namespace {

std::string TrimText(const std::string& text) {
  std::size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return text.substr(b, e - b);
}

std::string UpperText(std::string text) {
  for (auto& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

bool IsPath(const std::string& text) { return text.find('/') != std::string::npos; }

// A decimal integer with an optional sign, nothing else.
bool ParseDecimal(const std::string& text, int& value) {
  const char* b = text.data();
  const char* e = b + text.size();
  if (b != e && *b == '+') {
    ++b;
    if (b == e || *b < '0' || *b > '9') return false;
  }
  auto [p, ec] = std::from_chars(b, e, value);
  return ec == std::errc() && p == e;
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
  stopBits_ = {"1", "1.5", "2"};
  parities_ = {"none", "Even", "Odd", "Mark", "Space"};
  port_ = 0;
  speed_ = IndexOfText(speeds_, "9600");
  stopBit_ = 0;
  parity_ = 0;
  readText_ = "1";
  writeText_ = "0";
  Notify(TControl::Frame);
}

std::string TPortSettings::GetPortName() const {
  std::string item = TrimText(ItemAt(ports_, port_));
  return IsPath(item) ? item : UpperText(item);
}
std::string TPortSettings::GetSpeed() const { return UpperText(TrimText(ItemAt(speeds_, speed_))); }
std::string TPortSettings::GetParity() const { return UpperText(TrimText(ItemAt(parities_, parity_))); }
std::string TPortSettings::GetStopBits() const { return UpperText(TrimText(ItemAt(stopBits_, stopBit_))); }

int TPortSettings::GetReadInterval() const {
  int v = 0;
  return ParseDecimal(TrimText(readText_), v) ? v : 0;
}
int TPortSettings::GetWriteInterval() const {
  int v = 0;
  return ParseDecimal(TrimText(writeText_), v) ? v : 0;
}

int TPortSettings::IndexOfText(const std::vector<std::string>& list, const std::string& text) {
  auto it = std::find(list.begin(), list.end(), text);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

int TPortSettings::IndexOfTextNoCase(const std::vector<std::string>& list, const std::string& text) {
  const std::string wanted = UpperText(text);
  for (std::size_t i = 0; i < list.size(); ++i)
    if (UpperText(list[i]) == wanted) return static_cast<int>(i);
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
  int i = IndexOfText(ports_, UpperText(text));
  if (i >= 0) SetIndex(port_, ports_, i, TControl::Port);
}

void TPortSettings::SelectSpeed(const std::string& text) {
  int i = IndexOfText(speeds_, UpperText(text));
  if (i >= 0) SetIndex(speed_, speeds_, i, TControl::Speed);
}

void TPortSettings::SelectStopBits(const std::string& text) {
  int i = IndexOfText(stopBits_, UpperText(text));
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

bool TPortSettings::LoadSettings(const std::string& fileName) {
  TChangeHandler kept = std::move(OnSettingsChange);
  OnSettingsChange = nullptr;  // the changes made while loading reopen nothing
  bool ok = false;
  try {
    std::ifstream in(fileName, std::ios::binary);
    if (in) {
      std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (!in.bad()) {
        ok = true;
        std::istringstream lines(content);
        std::string line;
        while (ok && std::getline(lines, line)) {
          if (!line.empty() && line.back() == '\r') line.pop_back();
          const auto eq = line.find('=');
          if (eq == std::string::npos) continue;
          const std::string key = UpperText(line.substr(0, eq));  // blanks kept: "Parity =" is no key
          const std::string value = TrimText(line.substr(eq + 1));
          int number = 0;
          if (key == "PORTNUMBER") {
            SelectPort(IsPath(value) ? value : UpperText(value));
          } else if (key == "TRANSFERRATE") {
            SelectSpeed(value);
          } else if (key == "STOPBITS") {
            SelectStopBits(value);
          } else if (key == "PARITY") {
            SelectParity(value);
          } else if (key == "READINTERVALTIMEOUT") {
            if (ParseDecimal(value, number))
              SetReadInterval(number);
            else
              ok = false;
          } else if (key == "WRITEINTERVALTIMEOUT") {
            if (ParseDecimal(value, number))
              SetWriteInterval(number);
            else
              ok = false;
          }
          // DTRControl, RTSControl, ReadTotalTimeoutConstant,
          // ReadTotalTimeoutMultiplier, WriteTimeOutMultiplier and all other
          // keys are read over.
        }
      }
    }
  } catch (const std::exception&) {
    ok = false;
  }
  if (!ok) ResetToDefaults();
  OnSettingsChange = std::move(kept);
  Notify(TControl::Frame);
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
  out.close();
  return !out.fail();
}

}  // namespace mkp
