// TMKPParser: the packet analyser. It keeps the parse tables loaded from
// ".rtb" files, decodes the typed values of a packet's data block and turns a
// packet's text form into the one-line description shown in the decode pane.
#pragma once

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

#include "text/loadresult.h"
#include "text/paramlist.h"

namespace mkp {

// Raised inside LoadTable when the table file is missing; never leaves it.
class EMKPParseError : public std::runtime_error {
public:
  EMKPParseError() : std::runtime_error("") {}
};

// Data type codes of a packet. Odd codes address a register by number, the
// even code after each one by name; both members of a pair decode alike.
namespace TypeCode {
inline constexpr int Byte = 1;
inline constexpr int String = 3;
inline constexpr int Word = 5;
inline constexpr int ShortInt = 7;
inline constexpr int Integer = 9;
inline constexpr int DWord = 11;
inline constexpr int LSingle = 13;
inline constexpr int SSingle = 15;
inline constexpr int Array = 17;
inline constexpr int RangedArray = 19;
inline constexpr int RangedArrayText = 20;
inline constexpr int String21 = 21;
inline constexpr int String23 = 23;
inline constexpr int IeeeSingle = 25;
inline constexpr int MSingle = 27;
inline constexpr int WideString = 29;
inline constexpr int LongDateTime = 31;
inline constexpr int VorelAddr = 33;
inline constexpr int BcdLongDateTime = 35;
inline constexpr int BcdByte = 37;
inline constexpr int QWord = 39;
inline constexpr int Struct = 125;
}  // namespace TypeCode

class TMKPParser {
public:
  static constexpr int CommandCount = 127;  // command lists 0..126
  static constexpr int MaxRegister = 255;
  // The fourteen named types that have a "show as hex" switch, in the order
  // of ShowAsHex.
  static constexpr std::array<int, 14> HexTypeCodes = {1,  5,  7,  9,  11, 13, 15,
                                                       25, 27, 31, 33, 35, 37, 39};

  TMKPParser() = default;
  ~TMKPParser() = default;
  TMKPParser(const TMKPParser&) = delete;
  TMKPParser& operator=(const TMKPParser&) = delete;

  // List c holds the entries of command c; the item with Index r is register r
  // (Code = sub-index, Value = rank, Text = mask).
  std::array<TParamList, CommandCount> ParseTables;
  bool ArrayAlign = false;                 // "Array data align"
  std::array<bool, 14> ShowAsHex{};        // one per HexTypeCodes entry
  bool AnalyzeMaster = true;               // "Analize master packets"
  bool AnalyzeSlave = true;                // "Analize slave packets"
  std::string TableFileName;               // last table loaded, no folder
  // Value texts of the last description, in order; each item's Code is the
  // type code its value was decoded with (an array's element type, a
  // struct's field type), so a reader can tell a number from a text.
  TParamList Results;

  // Position of a type code (either member of its pair) in HexTypeCodes, or
  // -1 when the type has no hex switch.
  static int HexFlagIndex(int typeCode);
  // The show-as-hex switch of a type (either member of its pair). Throws
  // std::out_of_range for a type without one.
  bool& HexFlagForType(int typeCode);
  bool HexFlagForType(int typeCode) const;

  // Replaces the parse table by the contents of the file. Fails when the file
  // is missing (the table is then untouched) or a line fails (lines before it
  // stay loaded). A file without a single statement that names a key and
  // writes an entry yields nothing usable: the table stays as it was.
  // TableFileName changes only on success.
  TLoadResult LoadTable(const std::string& path);

  // Takes over another analyser's settings: its parse table (and its name),
  // "Array data align", the show-as-hex and the analyse switches; Results stay
  // as they are. Reads the other analyser only, so it may be describing
  // meanwhile in another thread (as long as no table is being loaded into it).
  void CopySettingsFrom(const TMKPParser& other);

  // Decodes the data text (hex byte pairs, blanks allowed) with the given type
  // code: appends the value texts to line and adds them to Results. A text
  // bound of a ranged array (code 20) that is not a decimal integer appends
  // "<bad bounds>" and ends the decoding there.
  void DecodeValues(int typeCode, std::string_view dataText, std::string& line);

  // The one-line description of a packet given in its text form (or the
  // Master page's raw form). Clears Results first and refills it. Never throws
  // on bad packet text.
  std::string DescribePacket(std::string_view text);
  // DescribePacket when AnalyzeMaster (resp. AnalyzeSlave) is on; otherwise
  // the empty text, with Results left untouched.
  std::string DescribeMaster(const std::string& text);
  std::string DescribeSlave(const std::string& text);

private:
  struct TCursor;
  void Decode(int typeCode, TCursor& data, std::string& line);
  // The value kinds of Decode.
  void DecodeFixed(int typeCode, TCursor& data, std::string& line);
  void DecodeStrings(int typeCode, TCursor& data, std::string& line);
  void DecodeWideStrings(TCursor& data, std::string& line);
  // Appends an array heading and returns the element type.
  int DecodeArrayHeading(int typeCode, TCursor& data, std::string& line);
  void DecodeStruct(TCursor& data, std::string& line);
  // Pads the value when "Array data align" is on and appends it to the line.
  void EmitValue(std::string& value, int width, std::string& line);
};

}  // namespace mkp
