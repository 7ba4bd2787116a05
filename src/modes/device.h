// The device model of Registers mode: what a device description file (.rst)
// says about one kind of device, and the reader of such files.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "text/loadresult.h"
#include "text/paramlist.h"

namespace mkp {

struct TMKPPacket;
class TRegistersTable;

// A step of Registers mode failed: no answer, an answer that does not belong
// to its request, or a write template too short to hold a header. Raised and
// handled inside the registers routines.
class ERegistersModeError : public std::runtime_error {
public:
  ERegistersModeError() : std::runtime_error("") {}
};

// A delay that the description did not set (or set to a non-number): the
// automaton keeps its own default.
constexpr std::int32_t DelayUnset = -1;

struct TDeviceModel {
  // Item n - 1 holds the name (resp. write template) of register n in Text
  // and n in Code; numbers without a line below the highest one have an
  // empty item with Code 0.
  TParamList RegisterNames;
  TParamList WriteTemplates;
  // One item per request line, in file order; items with equal Index belong
  // together.
  TParamList Requests;
  TParamList RequestRows;
  TParamList RequestSaves;

  // Settings keep the value of the last file that set them.
  std::int32_t OneStepDelay = 0;
  std::int32_t OneCycleDelay = 0;
  std::int32_t RegSendTimeout1 = 1000;
  std::int32_t RegSendTimeout2 = 300;
  std::int32_t RegSendTimeout3 = 1000;

  // The Text of item index of a list, or "" when there is none.
  static std::string ItemText(const TParamList& list, int index);
};

// Replaces the five lists of the model by the file's contents and updates the
// settings the file names. Fails when the file does not exist (the model is
// then unchanged) or cannot be read (what was read so far is kept). A file
// without a single request in packet text (LooksLikePacketText), register
// name or write template
// yields nothing usable: the model, its settings included, stays as it was.
TLoadResult LoadDeviceDescription(const std::string& fileName, TDeviceModel& model);

// Applies one prepared line (comment cut, trimmed, not empty) of a device
// description to the model. True when the line gave a request whose text is
// packet text, or a register name or write template with a register number.
bool ApplyDescriptionLine(const std::string& line, TDeviceModel& model);

// Reads a 32-bit signed integer written the way device descriptions and
// register values write them: an optional sign, then decimal digits, or
// hexadecimal digits after "$" or "0x". Leading blanks are allowed, nothing
// may follow the digits. Hexadecimal takes up to 32 bits (so $FFFFFFFF is -1);
// a decimal number outside the 32-bit range is not an integer.
std::optional<std::int32_t> ParseInteger(std::string_view text);

// The registers that receive the values of a request's answer, in the order
// of the values: the row list up to its first ";", entries separated by ",",
// each a number in 1..65535 (other entries take no value).
std::vector<int> RequestRowNumbers(std::string rows);

}  // namespace mkp
