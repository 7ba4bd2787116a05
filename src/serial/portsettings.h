// TPortSettings: the model behind the port settings frame of the window
// (TPortSetupFrame binds its six controls to it) and the keeper of the port
// keys of "mkpt.ini". Free of any toolkit, so mkptool reads the same file.
//
// The six settings are four lists with a selected item (port, speed, stop
// bits, parity) and two two-digit edit texts (receive and send byte-to-byte
// time-outs, ms). Every change of a value calls OnSettingsChange with the
// control that changed; the owner then reads all six values again.
//
// Beside them, two line options, off at start: Echo (drop the echo of each
// write) and RS-485 (ask the driver for direction control). The file holds
// their keys "Echo" and "RS485" only while they are on, after the six keys,
// so a file saved with both off reads as the first version wrote it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "text/loadresult.h"

namespace mkp {

class TPortSettings {
public:
  // The sender of a change notification: one of the six controls, or the
  // frame as a whole (after ResetToDefaults and after LoadSettings).
  enum class TControl { Frame, Port, Speed, StopBits, Parity, ReadInterval, WriteInterval, Echo, Rs485 };
  using TChangeHandler = std::function<void(TControl sender)>;

  // Filled with the defaults (ResetToDefaults), no handler.
  TPortSettings();

  // The highest speed kept from a settings file or typed, bits per second.
  static constexpr int MaxSpeed = 4000000;

  // Fills the four lists anew and selects COM1, 9600, 1, none; receive "1",
  // send "0"; both line options off. Calls the handler once (sender Frame)
  // when one is installed.
  void ResetToDefaults();

  // The selected item, trimmed and upper-cased (a device path only trimmed);
  // empty when nothing is selected.
  std::string GetPortName() const;
  std::string GetSpeed() const;
  std::string GetParity() const;
  std::string GetStopBits() const;
  // The edit's trimmed text as a decimal integer; 0 when it is not one.
  int GetReadInterval() const;
  int GetWriteInterval() const;

  // Select the first item equal to the upper-cased text; no match keeps the
  // selection. SelectPort takes a device path (a text with "/") as written and
  // adds it to the list when it is not there yet, so a saved path survives;
  // SelectSpeed does the same with a speed off the list (a decimal number of
  // bits per second up to MaxSpeed), whether the port takes it is decided
  // when the port is opened.
  void SelectPort(const std::string& text);
  void SelectSpeed(const std::string& text);
  void SelectStopBits(const std::string& text);
  // Case ignored.
  void SelectParity(const std::string& text);
  // Shows the number in the edit, kept within the edit's two digits (0..99).
  void SetReadInterval(int value);
  void SetWriteInterval(int value);

  // The line options; a change notifies (sender Echo or Rs485).
  bool GetEcho() const { return echo_; }
  bool GetRs485() const { return rs485_; }
  void SetEcho(bool on);
  void SetRs485(bool on);

  // Reads the port keys of a settings file (CR LF or LF line ends). Changes
  // made while loading notify nobody; afterwards the handler is called
  // exactly once (sender Frame). A missing or unreadable file or an interval
  // that is not a decimal integer resets every setting to its default and
  // fails. A file in which no line names a key of the settings file yields
  // nothing usable: every setting stays as it was (the handler is still
  // called once). "Echo" and "RS485" read 1, yes, true or on (case ignored)
  // as on and 0, no, false, off or nothing as off; another value leaves the
  // option as it was.
  TLoadResult LoadSettings(const std::string& fileName);
  // Writes the six keys in order, then "Echo=1" and "RS485=1" for the line
  // options that are on; CR LF line ends, replacing the file.
  bool SaveSettings(const std::string& fileName) const;

  static int IndexOfText(const std::vector<std::string>& list, const std::string& text);
  static int IndexOfTextNoCase(const std::vector<std::string>& list, const std::string& text);

  // ---- For the widgets bound to the model -----------------------------------
  const std::vector<std::string>& PortItems() const { return ports_; }
  const std::vector<std::string>& SpeedItems() const { return speeds_; }
  const std::vector<std::string>& StopBitItems() const { return stopBits_; }
  const std::vector<std::string>& ParityItems() const { return parities_; }
  int PortIndex() const { return port_; }
  int SpeedIndex() const { return speed_; }
  int StopBitIndex() const { return stopBit_; }
  int ParityIndex() const { return parity_; }
  const std::string& ReadIntervalText() const { return readText_; }
  const std::string& WriteIntervalText() const { return writeText_; }
  // A user's choice in a list (-1 for none; out of range is ignored).
  void SetPortIndex(int index);
  void SetSpeedIndex(int index);
  void SetStopBitIndex(int index);
  void SetParityIndex(int index);
  // A user's edit: only digits are kept, at most two.
  void SetReadIntervalText(const std::string& text);
  void SetWriteIntervalText(const std::string& text);

  // The device paths offered after COM1..COM256; by default the serial
  // devices present when the model is made. Takes effect at ResetToDefaults.
  void SetDevicePaths(std::vector<std::string> paths) { devicePaths_ = std::move(paths); }

  TChangeHandler OnSettingsChange;

private:
  void Notify(TControl sender);
  void SetIndex(int& field, const std::vector<std::string>& list, int index, TControl sender);
  void SetText(std::string& field, const std::string& text, TControl sender);
  static std::string ItemAt(const std::vector<std::string>& list, int index);

  std::vector<std::string> devicePaths_;
  std::vector<std::string> ports_, speeds_, stopBits_, parities_;
  int port_ = -1, speed_ = -1, stopBit_ = -1, parity_ = -1;
  std::string readText_, writeText_;
  bool echo_ = false, rs485_ = false;
};

}  // namespace mkp
