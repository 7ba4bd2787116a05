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
#include "text/numtext.h"
#include "text/textcut.h"
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
      int high = HexDigitValue(pair[0]);
      int low = HexDigitValue(pair[1]);
      if (high >= 0 && low >= 0) return static_cast<std::uint8_t>(high * 16 + low);
    }
    return HexToByte(pair);
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

void AppendNumber(std::string& out, auto value) {
  char digits[24];
  const auto r = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, r.ptr);
}

std::uint16_t WordAt(const TValueBytes& v, std::size_t i) {
  return static_cast<std::uint16_t>(v.Bytes[i] | (v.Bytes[i + 1] << 8));
}

// The decimal forms, each appending its text.
void DecimalByte(const TValueBytes& v, std::string& out) { AppendNumber(out, unsigned{v.Bytes[0]}); }
void DecimalWord(const TValueBytes& v, std::string& out) { AppendNumber(out, unsigned{WordAt(v, 0)}); }
void DecimalShortInt(const TValueBytes& v, std::string& out) {
  AppendNumber(out, int{static_cast<std::int8_t>(v.Bytes[0])});
}
void DecimalInteger(const TValueBytes& v, std::string& out) {
  AppendNumber(out, int{static_cast<std::int16_t>(WordAt(v, 0))});
}
void DecimalDword(const TValueBytes& v, std::string& out) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | v.Bytes[static_cast<std::size_t>(i)];
  AppendNumber(out, value);
}
void DecimalQword(const TValueBytes& v, std::string& out) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | v.Bytes[static_cast<std::size_t>(i)];
  AppendNumber(out, static_cast<std::int64_t>(value));
}
std::array<std::uint8_t, 4> FourBytes(const TValueBytes& v) {
  return {v.Bytes[0], v.Bytes[1], v.Bytes[2], v.Bytes[3]};
}
void DecimalLSingle(const TValueBytes& v, std::string& out) { out += DeviceReal(DecodeLSingle(WordAt(v, 0))); }
void DecimalSSingle(const TValueBytes& v, std::string& out) { out += DeviceReal(DecodeSSingle(WordAt(v, 0))); }
void DecimalIeeeSingle(const TValueBytes& v, std::string& out) {
  bool notANumber = false;
  out += DeviceReal(DecodeIeeeSingle(FourBytes(v), notANumber));
}
void DecimalMSingle(const TValueBytes& v, std::string& out) { out += DeviceReal(DecodeMSingle(FourBytes(v))); }

// Numbers joined by the separators between them: {n0, s0, n1, s1, ..., nk}.
void AppendJoined(std::string& out, std::initializer_list<long> numbers, std::string_view separators) {
  std::size_t i = 0;
  for (long n : numbers) {
    if (i > 0) out += separators[i - 1];
    AppendNumber(out, n);
    ++i;
  }
}
void DecimalLongDateTime(const TValueBytes& v, std::string& out) {
  const auto& b = v.Bytes;
  AppendJoined(out, {b[5], b[6], b[7], b[4], b[3], b[2], WordAt(v, 0)}, ".. ::.");
}
void DecimalVorelAddr(const TValueBytes& v, std::string& out) {
  AppendJoined(out, {v.Bytes[2], v.Bytes[1], v.Bytes[0]}, "..");
}
void DecimalBcdLongDateTime(const TValueBytes& v, std::string& out) {
  std::array<long, 8> d{};
  for (std::size_t i = 0; i < 8; ++i) d[i] = DecPairToByte(v.Pairs[i]);
  AppendJoined(out, {2000 + d[0], d[1], d[2], d[3], d[4], d[5], d[6] * 100 + d[7]}, ".. ::.");
}
void DecimalBcdByte(const TValueBytes& v, std::string& out) { AppendNumber(out, unsigned{DecPairToByte(v.Pairs[0])}); }

enum class TValueKind { Unsupported, Fixed, String, WideString, Array, Struct };

// What the decoder needs to know of a type code; both members of a pair share
// one entry.
struct TTypeTraits {
  TValueKind Kind = TValueKind::Unsupported;
  int Bytes = 0;                              // bytes per value of a fixed-size type
  int HexWidth = 0;                           // widths with "Array data align" on
  int DecimalWidth = 0;
  std::array<std::int8_t, 8> HexOrder{};      // bytes of the hex form, first to last
  void (*Decimal)(const TValueBytes&, std::string&) = nullptr;
  bool Joined = false;                        // the run's texts make one Results item
  bool KeepsUnfinishedText = false;           // strings: text left at the end is shown
  int FieldSize = 0;                          // in a struct: bytes, or one of the two below
};
constexpr int kToZeroByte = -1;
constexpr int kToZeroUnit = -2;

const std::array<TTypeTraits, 256>& TypeTable() {
  static const std::array<TTypeTraits, 256> table = [] {
    std::array<TTypeTraits, 256> t{};
    using Order = std::array<std::int8_t, 8>;
    auto fixed = [&](int code, int bytes, int hexWidth, int decimalWidth, Order order,
                     void (*decimal)(const TValueBytes&, std::string&)) {
      TTypeTraits traits{TValueKind::Fixed, bytes, hexWidth, decimalWidth, order, decimal};
      traits.FieldSize = bytes;
      t[static_cast<std::size_t>(code)] = traits;
    };
    const Order first{0}, wordOrder{1, 0}, threeOrder{2, 1, 0}, fourOrder{3, 2, 1, 0},
        eightBack{7, 6, 5, 4, 3, 2, 1, 0}, eightForward{0, 1, 2, 3, 4, 5, 6, 7};
    fixed(1, 1, 2, 3, first, DecimalByte);
    fixed(5, 2, 4, 5, wordOrder, DecimalWord);
    fixed(7, 1, 2, 4, first, DecimalShortInt);
    fixed(9, 2, 4, 6, wordOrder, DecimalInteger);
    fixed(11, 4, 8, 10, fourOrder, DecimalDword);
    fixed(13, 2, 4, 9, wordOrder, DecimalLSingle);
    fixed(15, 2, 4, 9, wordOrder, DecimalSSingle);
    fixed(25, 4, 8, 14, fourOrder, DecimalIeeeSingle);
    fixed(27, 4, 8, 14, fourOrder, DecimalMSingle);
    fixed(31, 8, 16, 23, eightBack, DecimalLongDateTime);
    fixed(33, 3, 6, 11, threeOrder, DecimalVorelAddr);
    fixed(35, 8, 16, 23, eightForward, DecimalBcdLongDateTime);
    fixed(37, 1, 2, 3, first, DecimalBcdByte);
    fixed(39, 8, 8, 10, eightBack, DecimalQword);
    t[1].Joined = t[37].Joined = true;
    for (int code : {3, 21, 23}) {
      t[static_cast<std::size_t>(code)].Kind = TValueKind::String;
      t[static_cast<std::size_t>(code)].FieldSize = kToZeroByte;
    }
    t[3].KeepsUnfinishedText = true;
    t[29].Kind = TValueKind::WideString;
    t[29].FieldSize = kToZeroUnit;
    t[17].Kind = t[19].Kind = t[20].Kind = TValueKind::Array;
    t[125].Kind = TValueKind::Struct;
    for (int code = 2; code <= 126; code += 2)  // the even member of each pair
      if (code != 20 && (code <= 40 || code == 126)) t[static_cast<std::size_t>(code)] = t[static_cast<std::size_t>(code - 1)];
    return t;
  }();
  return table;
}

const TTypeTraits& Traits(int code) { return TypeTable()[static_cast<std::size_t>(code & 0xFF)]; }

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

void TMKPParser::EmitValue(std::string& value, int width, std::string& line) {
  if (ArrayAlign && static_cast<int>(value.size()) < width)
    value.append(static_cast<std::size_t>(width) - value.size(), ' ');
  line += value;
  line += ' ';
}

void TMKPParser::DecodeFixed(int typeCode, TCursor& data, std::string& line) {
  const TTypeTraits& traits = Traits(typeCode);
  const bool hex = std::as_const(*this).HexFlagForType(typeCode);
  const int width = hex ? traits.HexWidth : traits.DecimalWidth;
  const auto size = static_cast<std::size_t>(traits.Bytes);
  std::string run;
  std::string shown;
  TValueBytes v;  // each value fills the first `size` entries
  while (!data.AtEnd()) {
    for (std::size_t i = 0; i < size; ++i) {
      v.Pairs[i] = data.TakePair();
      v.Bytes[i] = TCursor::PairValue(v.Pairs[i]);
    }
    shown.clear();
    if (hex) {
      for (std::size_t i = 0; i < size; ++i) shown += v.Pairs[static_cast<std::size_t>(traits.HexOrder[i])];
    } else {
      traits.Decimal(v, shown);
    }
    EmitValue(shown, width, line);
    if (traits.Joined) {
      run += shown;
      run += ' ';
    } else {
      Results.Add(typeCode, shown, 0);
    }
  }
  if (traits.Joined) Results.Add(typeCode, run, 0);
}

void TMKPParser::DecodeStrings(int typeCode, TCursor& data, std::string& line) {
  std::string collected;
  auto emit = [&] {
    line += collected;
    line += ' ';
    Results.Add(typeCode, collected, 0);
    collected.clear();
  };
  while (!data.AtEnd()) {
    const std::uint8_t byte = data.ReadByte();
    if (byte == 0)
      emit();
    else
      collected += static_cast<char>(byte);
  }
  if (Traits(typeCode).KeepsUnfinishedText && !collected.empty()) emit();
}

void TMKPParser::DecodeWideStrings(TCursor& data, std::string& line) {
  std::string collected;
  while (!data.AtEnd()) {
    const std::uint8_t low = data.ReadByte();
    const std::uint8_t high = data.ReadByte();
    const auto unit = static_cast<char16_t>(low | (high << 8));
    if (unit == 0) {
      line += collected;
      line += ' ';
      Results.Add(TypeCode::WideString, collected, 0);
      collected.clear();
    } else {
      collected += UnicodeToCp1251(unit);
    }
  }
}

int TMKPParser::DecodeArrayHeading(int typeCode, TCursor& data, std::string& line) {
  const std::string_view typePair = data.TakePair();
  const int element = HexToByte(typePair);
  if (typeCode == 17 || typeCode == 18) {
    line += "arr of ";
    line += typePair;
    line += " = ";
    return element;
  }
  long start = 0;
  long count = 0;
  if (typeCode == 19) {
    start = data.ReadByte();
    start |= static_cast<long>(data.ReadByte()) << 8;
    count = data.ReadByte();
    count |= static_cast<long>(data.ReadByte()) << 8;
  } else {
    // Each bound is the decimal text before the next "00" of the remaining
    // hex text, which is dropped through that "00". A bad bound ends the
    // description before the heading is shown.
    auto bound = [&]() -> long {
      const std::size_t at = data.Text.find("00", data.Pos);
      const std::string_view text = data.Text.substr(
          data.Pos, at == std::string_view::npos ? std::string_view::npos : at - data.Pos);
      data.Pos = at == std::string_view::npos ? data.Text.size() : at + 2;
      data.SkipBlanks();
      const auto value = DecimalToInt(Trim(text));
      if (!value) throw TBadBounds{};
      return *value;
    };
    start = bound();
    count = bound();
  }
  line += "arr of ";
  line += typePair;
  line += " [";
  AppendNumber(line, start);
  line += "..";
  AppendNumber(line, static_cast<long long>(start) + count - 1);
  line += "] = ";
  return element;
}

void TMKPParser::DecodeStruct(TCursor& data, std::string& line) {
  std::vector<int> fields;
  while (!data.AtEnd()) {
    const int n = data.ReadByte();
    fields.clear();
    line += "struct(";
    for (int i = 0; i < n; ++i) {
      const std::string_view pair = data.TakePair();
      fields.push_back(HexToByte(pair));
      if (i > 0) line += ' ';
      line += pair;
    }
    line += ")=(";
    for (const int field : fields) {
      const int size = Traits(field).FieldSize;
      if (size == 0) continue;  // arrays, structs, unsupported codes
      const std::size_t begin = data.Pos;
      if (size > 0) {
        for (int i = 0; i < size && !data.AtEnd(); ++i) data.TakePair();
      } else if (size == kToZeroByte) {
        while (!data.AtEnd() && data.ReadByte() != 0) {
        }
      } else {
        while (!data.AtEnd()) {
          const std::uint8_t low = data.ReadByte();
          const std::uint8_t high = data.ReadByte();
          if (low == 0 && high == 0) break;
        }
      }
      TCursor alone{data.Text.substr(begin, data.Pos - begin), 0};
      Decode(field, alone, line);
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    line += ") ";
  }
}

void TMKPParser::Decode(int typeCode, TCursor& data, std::string& line) {
  // Arrays whose element type is again an array consume the rest of the data
  // themselves, so a chain of array headings is walked in this loop rather
  // than by nesting calls.
  for (;;) {
    switch (Traits(typeCode).Kind) {
      case TValueKind::Fixed: return DecodeFixed(typeCode, data, line);
      case TValueKind::String: return DecodeStrings(typeCode, data, line);
      case TValueKind::WideString: return DecodeWideStrings(data, line);
      case TValueKind::Struct: return DecodeStruct(data, line);
      case TValueKind::Unsupported: line += "<unsupported>"; return;
      case TValueKind::Array: {
        if (data.AtEnd()) return;
        const int element = DecodeArrayHeading(typeCode, data, line);
        if (Traits(element).Kind != TValueKind::Array) {
          // Every element type either consumes the rest of the data or (an
          // unsupported one) none of it; in the latter case the next byte is
          // the next element type.
          Decode(element, data, line);
        } else {
          typeCode = element;
        }
        continue;
      }
    }
  }
}

std::string TMKPParser::DescribePacket(std::string_view text) {
  Results.Clear();
  std::string work;
  work.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {  // the runs between separators, each in one piece
    std::size_t end = i;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    work.append(text.substr(i, end - i));
    i = end + 1;
  }

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

TLoadResult TMKPParser::LoadTable(const std::string& path) {
  try {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) throw EMKPParseError();
  } catch (const EMKPParseError&) {
    return false;
  }

  // The statements fill a table of their own, which replaces the parse table
  // unless the file yields no entry at all.
  std::array<TParamList, CommandCount> table;
  auto replace = [&] {
    for (std::size_t c = 0; c < table.size(); ++c) ParseTables[c].Swap(table[c]);
  };
  // A failure keeps what was read before it, as a fresh table.
  auto fail = [&] {
    replace();
    return TLoadResult(false);
  };
  bool usable = false;

  const std::optional<std::string> text = ReadTextFile(path);
  if (!text) return fail();
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
    bool known = false;  // the statement names one of the keys

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
      known = known || key == "COMMAND" || key == "REG" || key == "SUBIDX" || key == "RANK" || key == "MASK";
      if (key == "COMMAND") {
        auto v = number();
        if (!v) return fail();
        command = std::clamp<long>(*v, 0, 127);
      } else if (key == "REG") {
        auto v = number();
        if (!v) return fail();
        reg = std::clamp<long>(*v, 0, MaxRegister);
      } else if (key == "SUBIDX") {
        auto v = number();
        if (!v) return fail();
        subIndex = *v;
      } else if (key == "RANK") {
        auto v = number();
        if (!v) return fail();
        rank = *v;
      } else if (key == "MASK") {
        mask = value;
      }
    }

    if (command >= CommandCount) continue;  // command 127 has no list
    usable = usable || known;
    TParamList& list = table[static_cast<std::size_t>(command)];
    while (list.Count() <= reg) list.Add(1, "ASIS", 1.0L);
    if (TParamItem* entry = list.Find(static_cast<std::int32_t>(reg))) {
      entry->Code = static_cast<std::int32_t>(subIndex);
      entry->Value = static_cast<long double>(rank);
      entry->Text = mask;
    }
  }

  if (!usable) return TLoadResult::Nothing(path, NoParseEntries);
  replace();
  TableFileName = std::filesystem::path(path).filename().string();
  return true;
}

void TMKPParser::CopySettingsFrom(const TMKPParser& other) {
  if (&other == this) return;
  for (std::size_t c = 0; c < ParseTables.size(); ++c) {
    // A parse table list is keyed 0..Count-1, as CopyTo copies it.
    std::unique_ptr<TParamList> copy;
    other.ParseTables[c].CopyTo(copy);
    ParseTables[c].Swap(*copy);
  }
  TableFileName = other.TableFileName;
  ArrayAlign = other.ArrayAlign;
  ShowAsHex = other.ShowAsHex;
  AnalyzeMaster = other.AnalyzeMaster;
  AnalyzeSlave = other.AnalyzeSlave;
}

}  // namespace mkp
