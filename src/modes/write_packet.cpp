#include "modes/write_packet.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "modes/device.h"
#include "modes/registers_table.h"
#include "modes/simdevice.h"
#include "protocol/packet.h"
#include "text/devnum.h"
#include "text/hextext.h"
#include "text/numtext.h"
#include "text/textcut.h"

namespace mkp {

namespace {

// Writes bytes at the write position; bytes past the data block are dropped.
class TDataWriter {
public:
  explicit TDataWriter(std::uint8_t* data) : data_(data) {}
  void Put(std::size_t offset, std::uint8_t byte) {
    if (offset < static_cast<std::size_t>(MaxDataLen)) data_[offset] = byte;
  }
  void PutLittleEndian(std::size_t offset, std::uint64_t value, int count) {
    for (int i = 0; i < count; ++i) Put(offset + i, static_cast<std::uint8_t>(value >> (8 * i)));
  }

private:
  std::uint8_t* data_;
};

std::int32_t IntegerValue(const std::string& valueText) {
  return ParseInteger(UpperCase(valueText)).value_or(0);
}

double RealValue(const std::string& valueText) {
  try {
    return StrToFloatDot(valueText);
  } catch (const EConvertError&) {
    return 0.0;
  }
}

// Two characters read as the two hex digits of a BCD byte; a single digit is
// the units ("7" is 07).
std::uint8_t BcdByte(const std::string& field) {
  return HexToByte(PadShortLeft(field, "0", 2));
}

void WriteBcdDateTime(std::string value, std::size_t p, TDataWriter& out) {
  for (const char separator : {'.', ',', ':', ';', '-'}) {
    for (char& c : value) {
      if (c == separator) c = ' ';
    }
  }
  SqueezeBlanks(value);
  for (int field = 0; field <= 6; ++field) {
    const std::string word = FirstWord(value);
    if (Trim(value).empty()) break;
    DropFirstWord(value);
    std::string padded = PadShortLeft(word, "0", 2);
    if (field == 0) {
      const auto year = ParseInteger(padded);
      if (!year) return;
      if (*year >= 100) {
        const int twoDigits = *year % 100;
        padded = std::string(1, static_cast<char>('0' + twoDigits / 10)) +
                 static_cast<char>('0' + twoDigits % 10);
      }
      out.Put(p, HexToByte(FirstTwoChars(padded)));
    } else if (field <= 5) {
      out.Put(p + field, HexToByte(FirstTwoChars(padded)));
    } else {
      padded = PadToWidth(padded, "0", 4);
      out.Put(p + 6, HexToByte(padded.substr(0, 2)));
      out.Put(p + 7, HexToByte(padded.substr(2, 2)));
    }
  }
}

// Writes the encoding of the value text for the type at p; returns the
// advance of the write position.
std::size_t WriteValue(int type, const std::string& value, std::size_t p, TDataWriter& out) {
  switch (type) {
    case 1:
    case 2: {  // BYTE: one byte per blank-separated number
      std::string words = UpperCase(value);
      std::size_t count = 0;
      while (!Trim(words).empty()) {
        out.Put(p + count, static_cast<std::uint8_t>(IntegerValue(FirstWord(words))));
        ++count;
        DropFirstWord(words);
      }
      return count;
    }
    case 3:
    case 4:  // string, as typed, no terminating zero
      for (std::size_t i = 0; i < value.size(); ++i) {
        out.Put(p + i, static_cast<std::uint8_t>(value[i]));
      }
      return value.size();
    case 5:
    case 6:    // WORD
    case 9:
    case 10:   // INTEGER
      out.PutLittleEndian(p, static_cast<std::uint32_t>(IntegerValue(value)), 2);
      return 2;
    case 7:
    case 8: {  // SHORTINT
      const std::int32_t number = IntegerValue(value);
      std::uint8_t byte = static_cast<std::uint8_t>(number);
      if (number < 0) byte |= 0x80;
      out.Put(p, byte);
      return 1;
    }
    case 11:
    case 12:  // DWORD
      out.PutLittleEndian(p, static_cast<std::uint32_t>(IntegerValue(value)), 4);
      return 4;
    case 13:
    case 14:  // L_SINGLE
      out.PutLittleEndian(p, EncodeLSingle(RealValue(value)), 2);
      return 2;
    case 25:
    case 26: {  // SINGLE IEEE-754, least significant byte first
      const auto bytes = SingleBEToBytes(RealValue(value), false);
      for (int i = 0; i < 4; ++i) out.Put(p + i, bytes[3 - i]);
      return 4;
    }
    case 35:
    case 36:  // BCD_LONG_DATETIME
      WriteBcdDateTime(value, p, out);
      return 8;
    case 37:
    case 38:  // BCD_BYTE: the decimal digits become the two nibbles
      out.Put(p, BcdByte(FirstWord(UpperCase(value))));
      return 1;
    case 39:
    case 40:  // QWORD: sign-extended 32-bit integer
      out.PutLittleEndian(p, static_cast<std::uint64_t>(static_cast<std::int64_t>(IntegerValue(value))),
                          8);
      return 8;
    default:
      return 0;
  }
}

}  // namespace

bool FillWritePacket(const std::string& writeTemplate, TMKPPacket& packet,
                     const TRegistersTable& table) {
  try {
    std::string text = Trim(writeTemplate);
    for (const char* separator : {" ", ".", ",", "-", "(", ")"}) RemoveAll(text, separator);
    if (text.size() < 20 || !packet.Data) throw ERegistersModeError();

    auto next = [&text]() {
      const std::uint8_t byte = HexToByte(FirstTwoChars(text));
      text.erase(0, text.size() < 2 ? text.size() : 2);
      return byte;
    };
    for (std::uint8_t& byte : packet.DstAddr.Bytes) byte = next();
    for (std::uint8_t& byte : packet.SrcAddr.Bytes) byte = next();
    packet.Command = next();
    packet.DataType = next();
    const std::uint8_t low = next();
    const std::uint8_t high = next();
    packet.DataLen = low + high * 256;

    std::memset(packet.Data.get(), 0, MaxDataLen);
    TDataWriter out(packet.Data.get());
    std::size_t p = 0;
    while (!text.empty()) {
      if (text[0] != '%') {
        out.Put(p, next());
        ++p;
        continue;
      }
      const auto closing = text.find('%', 1);
      if (closing == std::string::npos) {
        text.erase(0, 1);
        continue;
      }
      const std::string placeholder = text.substr(1, closing - 1);
      text.erase(0, closing + 1);
      std::string rowText = placeholder;
      std::string typeText = "01";
      const auto colon = placeholder.find(':');
      if (colon != std::string::npos) {
        rowText = placeholder.substr(0, colon);
        typeText = placeholder.substr(colon + 1);
      }
      int row = 0;
      int type = 1;
      if (const auto number = ParseInteger(rowText)) {
        row = *number;
        type = HexToByte(typeText);
      }
      p += WriteValue(type, table.ValueText(row), p, out);
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace mkp

namespace mkp {

std::vector<std::uint8_t> EncodeRegisterValue(int type, const std::string& value) {
  std::array<std::uint8_t, MaxDataLen> block{};
  TDataWriter out(block.data());
  const std::size_t count = std::min<std::size_t>(WriteValue(type, value, 0, out), block.size());
  return std::vector<std::uint8_t>(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(count));
}

}  // namespace mkp
