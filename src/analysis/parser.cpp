#include "analysis/parser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "text/cp1251.h"
#include "text/devnum.h"
#include "text/hextext.h"
#include "text/lines.h"

namespace mkp {

namespace {

// A text bound of a ranged array that is not a decimal integer. It ends the
// whole description, which then shows "<bad bounds>".
struct TBadBounds {};

const std::string& AckText() {
  static const std::string text = Utf8ToCp1251("подтверждение");
  return text;
}

const std::string& ErrorWord() {
  static const std::string text = Utf8ToCp1251("ОШИБКА");
  return text;
}

const std::string& ErrorMessage(std::uint8_t code) {
  static const std::vector<std::string> messages = [] {
    std::vector<std::string> m(256);
    m[1] = Utf8ToCp1251("Неподдерживаемая команда");
    m[2] = Utf8ToCp1251("Неподдерживаемый формат данных");
    m[3] = Utf8ToCp1251("Некорректная структура пакета");
    m[4] = Utf8ToCp1251("Нет указанной переменной");
    m[5] = Utf8ToCp1251("Устройство занято и не может ответить сейчас");
    m[6] = Utf8ToCp1251("Устройство занято, ответ будет выслан по готовности…");
    m[7] = Utf8ToCp1251("CRC заголовка корректно, CRC данных некорректно");
    m[10] = Utf8ToCp1251("Некорректный пакет «Redirect»");
    m[255] = Utf8ToCp1251("Нераспознанная ошибка");
    return m;
  }();
  return messages[code];
}

bool IsSeparator(char c) { return c == '.' || c == '-' || c == ':' || c == ',' || c == ' '; }

// The odd member of a type pair (codes 1..40 and 125..126 come in pairs).
int PairBase(int code) {
  if ((code >= 1 && code <= 18) || (code >= 21 && code <= 40) || code == 125 || code == 126)
    return (code % 2 == 0) ? code - 1 : code;
  return code;
}

bool IsFixedSize(int base) {
  switch (base) {
    case 1: case 5: case 7: case 9: case 11: case 13: case 15: case 25: case 27:
    case 31: case 33: case 35: case 37: case 39:
      return true;
    default:
      return false;
  }
}

int BytesPerValue(int base) {
  switch (base) {
    case 1: case 7: case 37: return 1;
    case 5: case 9: case 13: case 15: return 2;
    case 33: return 3;
    case 11: case 25: case 27: return 4;
    case 31: case 35: case 39: return 8;
    default: return 0;
  }
}

// Widths of a value text with "Array data align" on: hex form / decimal form.
int AlignWidth(int base, bool hex) {
  switch (base) {
    case 1: case 37: return hex ? 2 : 3;
    case 5: return hex ? 4 : 5;
    case 7: return hex ? 2 : 4;
    case 9: return hex ? 4 : 6;
    case 11: case 39: return hex ? 8 : 10;
    case 13: case 15: return hex ? 4 : 9;
    case 25: case 27: return hex ? 8 : 14;
    case 31: case 35: return hex ? 16 : 23;
    case 33: return hex ? 6 : 11;
    default: return 0;
  }
}

}  // namespace

// The remaining data text of a running description, read from a moving
// position so that a packet costs time in proportion to its data.
struct TMKPParser::TCursor {
  std::string_view Text;
  std::size_t Pos = 0;

  bool AtEnd() const { return Pos >= Text.size(); }
  void SkipBlanks() {
    while (Pos < Text.size() && Text[Pos] == ' ') ++Pos;
  }
  // The characters of the next byte as they stand (two, or fewer at the end),
  // consumed together with the blanks after them.
  std::string_view TakePair() {
    std::size_t n = std::min<std::size_t>(2, Text.size() - std::min(Pos, Text.size()));
    std::string_view pair = Text.substr(std::min(Pos, Text.size()), n);
    Pos += n;
    SkipBlanks();
    return pair;
  }
  std::uint8_t ReadByte() { return PairValue(TakePair()); }

  // HexToByte of a pair, with a quick path for the usual two hex digits.
  static std::uint8_t PairValue(std::string_view pair) {
    if (pair.size() == 2) {
      int high = DigitValue(pair[0]);
      int low = DigitValue(pair[1]);
      if (high >= 0 && low >= 0) return static_cast<std::uint8_t>(high * 16 + low);
    }
    return HexToByte(pair);
  }
  static int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  }
};

namespace {

// The device real text (seven significant digits, "1.250000E+1") made
// without heap work. std::to_chars gives the value correctly rounded to ten
// digits; unless those end in exactly "500" (a possible half, which the
// device text rounds away from zero and to_chars to even), rounding them on
// to seven digits is exact. Halves and non-finite values go the general way.
std::string DeviceReal(double value) {
  if (value == 0.0) return "0.000000E+0";
  if (!std::isfinite(value)) return FormatDeviceReal(value);
  char probe[48];
  auto r = std::to_chars(probe, probe + sizeof probe, std::fabs(value),
                         std::chars_format::scientific, 9);
  // probe: d.ddddddddde[+-]X...
  if (r.ec != std::errc() || std::string_view(probe + 8, 3) == "500") return FormatDeviceReal(value);
  char digits[7];
  digits[0] = probe[0];
  for (int i = 1; i < 7; ++i) digits[i] = probe[i + 1];
  int exponent = 0;
  std::from_chars(probe[12] == '+' ? probe + 13 : probe + 12, r.ptr, exponent);
  if (probe[8] >= '5') {
    int i = 6;
    while (i >= 0 && digits[i] == '9') digits[i--] = '0';
    if (i >= 0) {
      ++digits[i];
    } else {
      digits[0] = '1';
      ++exponent;
    }
  }
  std::string out;
  if (value < 0) out += '-';
  out += digits[0];
  out += '.';
  out.append(digits + 1, 6);
  out += 'E';
  out += exponent < 0 ? '-' : '+';
  out += std::to_string(exponent < 0 ? -exponent : exponent);
  return out;
}

struct TValueBytes {
  std::array<std::string_view, 8> Pairs{};
  std::array<std::uint8_t, 8> Bytes{};
};

// The hex digits of the pairs as they stand in the packet text, in the given
// order (typed lower-case digits stay lower case).
std::string PairsText(const TValueBytes& v, std::initializer_list<int> order) {
  std::string text;
  for (int i : order) text += v.Pairs[static_cast<std::size_t>(i)];
  return text;
}

std::string HexForm(int base, const TValueBytes& v) {
  switch (base) {
    case 1: case 7: case 37: return PairsText(v, {0});
    case 5: case 9: case 13: case 15: return PairsText(v, {1, 0});
    case 33: return PairsText(v, {2, 1, 0});
    case 11: case 25: case 27: return PairsText(v, {3, 2, 1, 0});
    case 31: case 39: return PairsText(v, {7, 6, 5, 4, 3, 2, 1, 0});
    case 35: return PairsText(v, {0, 1, 2, 3, 4, 5, 6, 7});
    default: return {};
  }
}

std::string DecimalForm(int base, const TValueBytes& v) {
  const auto& b = v.Bytes;
  auto word = [&](int i) {
    return static_cast<std::uint16_t>(b[static_cast<std::size_t>(i)] |
                                      (b[static_cast<std::size_t>(i) + 1] << 8));
  };
  auto four = [&] { return std::array<std::uint8_t, 4>{b[0], b[1], b[2], b[3]}; };
  switch (base) {
    case 1: return std::to_string(b[0]);
    case 5: return std::to_string(word(0));
    case 7: return std::to_string(static_cast<std::int8_t>(b[0]));
    case 9: return std::to_string(static_cast<std::int16_t>(word(0)));
    case 11: {
      std::uint32_t value = 0;
      for (int i = 3; i >= 0; --i) value = (value << 8) | b[static_cast<std::size_t>(i)];
      return std::to_string(value);
    }
    case 13: return DeviceReal(DecodeLSingle(word(0)));
    case 15: return DeviceReal(DecodeSSingle(word(0)));
    case 25: {
      bool notANumber = false;
      return DeviceReal(DecodeIeeeSingle(four(), notANumber));
    }
    case 27: return DeviceReal(DecodeMSingle(four()));
    case 31:
      return std::to_string(b[5]) + "." + std::to_string(b[6]) + "." + std::to_string(b[7]) +
             " " + std::to_string(b[4]) + ":" + std::to_string(b[3]) + ":" +
             std::to_string(b[2]) + "." + std::to_string(word(0));
    case 33:
      return std::to_string(b[2]) + "." + std::to_string(b[1]) + "." + std::to_string(b[0]);
    case 35: {
      std::array<int, 8> d{};
      for (std::size_t i = 0; i < 8; ++i) d[i] = DecPairToByte(v.Pairs[i]);
      return std::to_string(2000 + d[0]) + "." + std::to_string(d[1]) + "." +
             std::to_string(d[2]) + " " + std::to_string(d[3]) + ":" + std::to_string(d[4]) +
             ":" + std::to_string(d[5]) + "." + std::to_string(d[6] * 100 + d[7]);
    }
    case 37: return std::to_string(DecPairToByte(v.Pairs[0]));
    case 39: {
      std::uint64_t value = 0;
      for (int i = 7; i >= 0; --i) value = (value << 8) | b[static_cast<std::size_t>(i)];
      return std::to_string(static_cast<std::int64_t>(value));
    }
    default: return {};
  }
}

// Size in bytes of a struct field of the given type, measured on the data
// ahead of the cursor (strings up to and including their terminator); 0 for
// arrays, structs and unsupported codes.
int FieldSizeOf(int code) {
  switch (code) {
    case 1: case 2: case 7: case 8: case 37: case 38: return 1;
    case 5: case 6: case 9: case 10: case 13: case 14: case 15: case 16: return 2;
    case 33: case 34: return 3;
    case 11: case 12: case 25: case 26: case 27: case 28: return 4;
    case 31: case 32: case 35: case 36: case 39: case 40: return 8;
    case 3: case 4: case 21: case 22: case 23: case 24: return -1;  // to a zero byte
    case 29: case 30: return -2;                                    // to a zero unit
    default: return 0;
  }
}

}  // namespace

int TMKPParser::HexFlagIndex(int typeCode) {
  int base = PairBase(typeCode);
  for (std::size_t i = 0; i < HexTypeCodes.size(); ++i)
    if (HexTypeCodes[i] == base) return static_cast<int>(i);
  return -1;
}

bool& TMKPParser::HexFlagForType(int typeCode) {
  int i = HexFlagIndex(typeCode);
  if (i < 0) throw std::out_of_range("no show-as-hex switch for type " + std::to_string(typeCode));
  return ShowAsHex[static_cast<std::size_t>(i)];
}

bool TMKPParser::HexFlagForType(int typeCode) const {
  int i = HexFlagIndex(typeCode);
  return i >= 0 && ShowAsHex[static_cast<std::size_t>(i)];
}

void TMKPParser::DecodeValues(int typeCode, std::string_view dataText, std::string& line) {
  TCursor cursor{dataText, 0};
  cursor.SkipBlanks();
  try {
    Decode(typeCode, cursor, line);
  } catch (const TBadBounds&) {
    line += "<bad bounds>";
  }
}

void TMKPParser::Decode(int typeCode, TCursor& data, std::string& line) {
  // Pads the value when "Array data align" is on and appends it to the line.
  auto emit = [&](std::string& value, int width) {
    if (ArrayAlign && static_cast<int>(value.size()) < width)
      value.append(static_cast<std::size_t>(width) - value.size(), ' ');
    line += value;
    line += ' ';
  };

  // Arrays whose element type is again an array consume the rest of the data
  // themselves, so a chain of array headings is walked in this loop rather
  // than by nesting calls.
  for (;;) {
    int base = PairBase(typeCode);

    if (IsFixedSize(base)) {
      const bool hex = std::as_const(*this).HexFlagForType(base);
      const int width = AlignWidth(base, hex);
      const int size = BytesPerValue(base);
      const bool joined = base == 1 || base == 37;
      std::string run;
      TValueBytes v;  // each value fills the first `size` entries
      while (!data.AtEnd()) {
        for (int i = 0; i < size; ++i) {
          v.Pairs[static_cast<std::size_t>(i)] = data.TakePair();
          v.Bytes[static_cast<std::size_t>(i)] = TCursor::PairValue(v.Pairs[static_cast<std::size_t>(i)]);
        }
        std::string shown = hex ? HexForm(base, v) : DecimalForm(base, v);
        emit(shown, width);
        if (joined) {
          run += shown;
          run += ' ';
        } else {
          Results.AddText(shown);
        }
      }
      if (joined) Results.AddText(run);
      return;
    }

    switch (typeCode) {
      case 3: case 4: case 21: case 22: case 23: case 24: {
        std::string collected;
        while (!data.AtEnd()) {
          std::uint8_t byte = data.ReadByte();
          if (byte == 0) {
            line += collected;
            line += ' ';
            Results.AddText(collected);
            collected.clear();
          } else {
            collected += static_cast<char>(byte);
          }
        }
        if ((typeCode == 3 || typeCode == 4) && !collected.empty()) {
          line += collected;
          line += ' ';
          Results.AddText(collected);
        }
        return;
      }

      case 29: case 30: {
        std::string collected;
        while (!data.AtEnd()) {
          std::uint8_t low = data.ReadByte();
          std::uint8_t high = data.ReadByte();
          char16_t unit = static_cast<char16_t>(low | (high << 8));
          if (unit == 0) {
            line += collected;
            line += ' ';
            Results.AddText(collected);
            collected.clear();
          } else {
            collected += UnicodeToCp1251(unit);
          }
        }
        return;
      }

      case 17: case 18: case 19: case 20: {
        if (data.AtEnd()) return;
        std::string_view typePair = data.TakePair();
        int element = HexToByte(typePair);
        std::string heading = "arr of ";
        heading += typePair;
        if (typeCode == 17 || typeCode == 18) {
          heading += " = ";
        } else {
          long start = 0;
          long count = 0;
          if (typeCode == 19) {
            start = data.ReadByte();
            start |= static_cast<long>(data.ReadByte()) << 8;
            count = data.ReadByte();
            count |= static_cast<long>(data.ReadByte()) << 8;
          } else {
            // Each bound is the decimal text before the next "00" of the
            // remaining hex text, which is dropped through that "00".
            auto bound = [&]() -> long {
              std::size_t at = data.Text.find("00", data.Pos);
              std::string_view text = data.Text.substr(
                  data.Pos, at == std::string_view::npos ? std::string_view::npos : at - data.Pos);
              data.Pos = at == std::string_view::npos ? data.Text.size() : at + 2;
              data.SkipBlanks();
              auto value = DecimalToInt(Trim(text));
              if (!value) throw TBadBounds{};
              return *value;
            };
            start = bound();
            count = bound();
          }
          heading += " [";
          heading += std::to_string(start);
          heading += "..";
          heading += std::to_string(static_cast<long long>(start) + count - 1);
          heading += "] = ";
        }
        line += heading;
        if (element == 17 || element == 18 || element == 19 || element == 20) {
          typeCode = element;
          continue;
        }
        Decode(element, data, line);
        // Every element type either consumes the rest of the data or (an
        // unsupported one) none of it; in the latter case the next byte is
        // the next element type.
        continue;
      }

      case 125: case 126: {
        while (!data.AtEnd()) {
          int n = data.ReadByte();
          std::vector<int> fields;
          fields.reserve(static_cast<std::size_t>(n));
          std::string fieldList;
          for (int i = 0; i < n; ++i) {
            std::string_view pair = data.TakePair();
            fields.push_back(HexToByte(pair));
            if (i > 0) fieldList += ' ';
            fieldList += pair;
          }
          line += "struct(";
          line += fieldList;
          line += ")=(";
          for (int field : fields) {
            int size = FieldSizeOf(field);
            if (size == 0) continue;
            std::size_t begin = data.Pos;
            if (size > 0) {
              for (int i = 0; i < size && !data.AtEnd(); ++i) data.TakePair();
            } else if (size == -1) {
              while (!data.AtEnd() && data.ReadByte() != 0) {
              }
            } else {
              while (!data.AtEnd()) {
                std::uint8_t low = data.ReadByte();
                std::uint8_t high = data.ReadByte();
                if (low == 0 && high == 0) break;
              }
            }
            TCursor alone{data.Text.substr(begin, data.Pos - begin), 0};
            Decode(field, alone, line);
          }
          while (!line.empty() && line.back() == ' ') line.pop_back();
          line += ") ";
        }
        return;
      }

      default:
        line += "<unsupported>";
        return;
    }
  }
}

std::string TMKPParser::DescribePacket(std::string_view text) {
  Results.Clear();
  std::string work;
  work.reserve(text.size());
  for (char c : text)
    if (!IsSeparator(c)) work += c;

  TCursor data{work, 0};
  std::array<std::uint8_t, 10> t{};
  for (auto& b : t) b = data.ReadByte();

  std::string line;
  line.reserve(64 + work.size() * 4);
  for (int i : {3, 4, 5}) line += ByteToHex(t[static_cast<std::size_t>(i)]);
  line += ">>";
  for (int i : {0, 1, 2}) line += ByteToHex(t[static_cast<std::size_t>(i)]);
  line += ' ';

  const int command = t[6];
  const int type = t[7];
  switch (command) {
    case 1:
      line += AckText();
      break;
    case 3: {
      std::string code = Trim(data.Text.substr(data.Pos, 2));
      line += ErrorWord();
      line += ' ';
      line += code;
      line += " : ";
      line += ErrorMessage(HexToByte(code));
      break;
    }
    case 4:
      line += "PING";
      break;
    case 6: case 7: case 8: {
      line += command == 6 ? "RD" : command == 7 ? "ANSW" : "WR";
      line += " type ";
      line += ByteToHex(static_cast<std::uint8_t>(type));
      line += " : reg ";
      if (type % 2 == 1) {
        line += data.TakePair();
      } else {
        line += '"';
        while (!data.AtEnd()) {
          std::uint8_t byte = data.ReadByte();
          if (byte == 0) break;
          line += static_cast<char>(byte);
        }
        line += '"';
      }
      if (command == 6) break;
      line += command == 7 ? " = " : " := ";
      try {
        Decode(type, data, line);
      } catch (const TBadBounds&) {
        // A malformed packet must not end the thread that describes it.
        line += "<bad bounds>";
      }
      break;
    }
    default:
      break;
  }
  return line;
}

std::string TMKPParser::DescribeMaster(const std::string& text) {
  return AnalyzeMaster ? DescribePacket(text) : std::string();
}

std::string TMKPParser::DescribeSlave(const std::string& text) {
  return AnalyzeSlave ? DescribePacket(text) : std::string();
}

// ---- Parse tables -----------------------------------------------------------

bool TMKPParser::LoadTable(const std::string& path) {
  try {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) throw EMKPParseError();
  } catch (const EMKPParseError&) {
    return false;
  }

  for (auto& list : ParseTables) list.Clear();

  const std::optional<std::string> text = ReadTextFile(path);
  if (!text) return false;
  std::vector<std::string_view> lines;
  ForEachLine(*text, [&](std::string_view line) { lines.push_back(line); });

  for (const std::string_view line : lines) {
    std::string raw(line);
    for (char& c : raw)
      if (c == '\t') c = ' ';

    RemoveSpans(raw, "{", "}");
    RemoveSpans(raw, "(*", "*)");
    CutLineComment(raw);
    SqueezeBlanks(raw);
    std::string statement = Trim(UpperCase(raw));
    if (statement.empty()) continue;

    long command = 0;
    long reg = 0;
    long subIndex = 1;
    long rank = 1;
    std::string mask = "ASIS";

    std::string_view rest = statement;
    while (!rest.empty()) {
      std::size_t semicolon = rest.find(';');
      std::string item(rest.substr(0, semicolon));
      rest = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);

      RemoveAll(item, " ");
      std::size_t eq = item.find('=');
      if (eq == std::string::npos) continue;
      std::string key = item.substr(0, eq);
      std::string value = item.substr(eq + 1);

      auto number = [&]() -> std::optional<long> { return DecimalToInt(value); };
      if (key == "COMMAND") {
        auto v = number();
        if (!v) return false;
        command = std::clamp<long>(*v, 0, 127);
      } else if (key == "REG") {
        auto v = number();
        if (!v) return false;
        reg = std::clamp<long>(*v, 0, MaxRegister);
      } else if (key == "SUBIDX") {
        auto v = number();
        if (!v) return false;
        subIndex = *v;
      } else if (key == "RANK") {
        auto v = number();
        if (!v) return false;
        rank = *v;
      } else if (key == "MASK") {
        mask = value;
      }
    }

    if (command >= CommandCount) continue;  // command 127 has no list
    TParamList& list = ParseTables[static_cast<std::size_t>(command)];
    while (list.Count() <= reg) list.Add(1, "ASIS", 1.0L);
    if (TParamItem* entry = list.Find(static_cast<std::int32_t>(reg))) {
      entry->Code = static_cast<std::int32_t>(subIndex);
      entry->Value = static_cast<long double>(rank);
      entry->Text = mask;
    }
  }

  TableFileName = std::filesystem::path(path).filename().string();
  return true;
}

}  // namespace mkp
