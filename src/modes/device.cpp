#include "modes/device.h"

#include <cstdio>
#include <fstream>
#include <limits>
#include <sys/stat.h>

#include "protocol/packet.h"
#include "text/hextext.h"
#include "text/textcut.h"
#include "text/lines.h"

namespace mkp {

namespace {

bool FileExists(const std::string& fileName) {
  struct stat info {};
  return !fileName.empty() && ::stat(fileName.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

// Sets item n - 1 of a register-numbered list, padding it with empty items.
// False when the number is no register number.
bool SetNumberedItem(TParamList& list, const std::string& numberText, const std::string& text) {
  const auto number = ParseInteger(Trim(numberText));
  if (!number || *number < 1 || *number > 65535) return false;
  while (list.Count() < *number) list.Add(0, "", 0.0L);
  TParamItem* item = list.Find(*number - 1);
  if (item == nullptr) return false;
  item->Text = text;
  item->Code = *number;
  return true;
}

// A delay from a file: -1 (or a non-number) leaves the automaton's default;
// any other negative value would be an endless wait and counts as no pause.
std::int32_t DelaySetting(const std::string& value) {
  const auto number = ParseInteger(value);
  if (!number) return DelayUnset;
  if (*number < DelayUnset) return 0;
  return *number;
}

void TimeoutSetting(const std::string& value, std::int32_t& setting) {
  const auto number = ParseInteger(value);
  if (!number) return;
  setting = *number < 0 ? 0 : *number;
}

void ApplySetting(const std::string& line, TDeviceModel& model) {
  std::string key = TextBefore(line, "=");
  key.erase(0, 2);  // the leading "@@"
  RemoveAll(key, " ");
  key = UpperCase(key);
  std::string value;
  const auto equals = line.find('=');
  if (equals != std::string::npos) value = Trim(UpperCase(line.substr(equals + 1)));

  if (key == "ONESTEPDELAY") {
    model.OneStepDelay = DelaySetting(value);
  } else if (key == "ONECYCLEDELAY") {
    model.OneCycleDelay = DelaySetting(value);
  } else if (key == "REGSENDTIMEOUT1") {
    TimeoutSetting(value, model.RegSendTimeout1);
  } else if (key == "REGSENDTIMEOUT2") {
    TimeoutSetting(value, model.RegSendTimeout2);
  } else if (key == "REGSENDTIMEOUT3") {
    TimeoutSetting(value, model.RegSendTimeout3);
  }
}

}  // namespace

std::optional<std::int32_t> ParseInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return std::nullopt;
  std::uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const int digit = HexDigitValue(text[i]);
    if (digit < 0 || digit >= base) return std::nullopt;
    magnitude = magnitude * base + digit;
    if (magnitude > 0xFFFFFFFFull) return std::nullopt;
  }
  if (base == 16) {
    auto value = static_cast<std::uint32_t>(magnitude);
    if (negative) value = 0u - value;
    return static_cast<std::int32_t>(value);
  }
  const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
  if (static_cast<std::int64_t>(magnitude) > limit) return std::nullopt;
  const std::int64_t value = negative ? -static_cast<std::int64_t>(magnitude)
                                      : static_cast<std::int64_t>(magnitude);
  return static_cast<std::int32_t>(value);
}

std::string TDeviceModel::ItemText(const TParamList& list, int index) {
  const TParamItem* item = list.Peek(index);
  return item != nullptr ? item->Text : std::string();
}

bool ApplyDescriptionLine(const std::string& line, TDeviceModel& model) {
  const bool hasAngles = HasTextBetween(line, "<", ">");
  const bool hasNumber = HasTextBetween(line, "#", "#");
  if (hasAngles && hasNumber)
    return SetNumberedItem(model.WriteTemplates, TextBetween(line, "#", "#"), TextBetween(line, "<", ">"));
  if (hasAngles) {
    const std::string request = TextBetween(line, "<", ">");
    model.Requests.AddText(request);
    model.RequestRows.AddText(HasTextBetween(line, "[", "]") ? TextBetween(line, "[", "]")
                                                             : std::string());
    model.RequestSaves.AddText(HasTextBetween(line, "(", ")") ? TextBetween(line, "(", ")")
                                                              : std::string());
    return LooksLikePacketText(request);
  }
  if (hasNumber && HasTextBetween(line, "{", "}"))
    return SetNumberedItem(model.RegisterNames, TextBetween(line, "#", "#"), TextBetween(line, "{", "}"));
  if (line.rfind("@@", 0) == 0) ApplySetting(line, model);
  return false;
}

namespace {

// Whether any request's answer lands somewhere: a row list naming a row of
// the registers table, or a save command.
bool AnswersGoSomewhere(const TDeviceModel& model) {
  for (int i = 0; i < model.RequestSaves.Count(); ++i)
    if (TDeviceModel::ItemText(model.RequestSaves, i).find("SAVEDATA") != std::string::npos) return true;
  for (int i = 0; i < model.RequestRows.Count(); ++i) {
    std::string rows = TextBefore(TDeviceModel::ItemText(model.RequestRows, i), ";");
    while (!rows.empty()) {
      const std::string entry = TextBefore(rows, ",");
      DropThrough(rows, ",");
      rows = Trim(rows);
      if (const auto row = ParseInteger(entry); row && *row >= 1 && *row <= 65535) return true;
    }
  }
  return false;
}

}  // namespace

TLoadResult LoadDeviceDescription(const std::string& fileName, TDeviceModel& model) {
  if (!FileExists(fileName)) return false;
  // The file is read into a model of its own, which starts from the settings
  // in force and replaces the model unless the file yields nothing.
  TDeviceModel read;
  read.OneStepDelay = model.OneStepDelay;
  read.OneCycleDelay = model.OneCycleDelay;
  read.RegSendTimeout1 = model.RegSendTimeout1;
  read.RegSendTimeout2 = model.RegSendTimeout2;
  read.RegSendTimeout3 = model.RegSendTimeout3;
  bool usable = false;
  bool ok = false;
  try {
    if (const std::optional<std::string> text = ReadTextFile(fileName)) {
      ForEachLine(*text, [&](std::string_view raw) {
        std::string line(raw);
        CutLineComment(line);
        line = Trim(line);
        if (!line.empty() && ApplyDescriptionLine(line, read)) usable = true;
      });
      ok = true;
    }
  } catch (const std::exception&) {
    ok = false;
  }
  // Requests whose answers nothing receives (no register, no row of the
  // table, no save file) are no device: a slave table opened by mistake
  // reads that way.
  if (ok && usable && read.RegisterNames.Count() == 0 && read.WriteTemplates.Count() == 0 &&
      !AnswersGoSomewhere(read))
    usable = false;
  if (ok && !usable) return TLoadResult::Nothing(fileName, NoDeviceLines);
  model.RegisterNames.Swap(read.RegisterNames);
  model.WriteTemplates.Swap(read.WriteTemplates);
  model.Requests.Swap(read.Requests);
  model.RequestRows.Swap(read.RequestRows);
  model.RequestSaves.Swap(read.RequestSaves);
  model.OneStepDelay = read.OneStepDelay;
  model.OneCycleDelay = read.OneCycleDelay;
  model.RegSendTimeout1 = read.RegSendTimeout1;
  model.RegSendTimeout2 = read.RegSendTimeout2;
  model.RegSendTimeout3 = read.RegSendTimeout3;
  return ok;
}

}  // namespace mkp
