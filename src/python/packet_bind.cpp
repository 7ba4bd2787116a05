// mkp.Packet, mkp.checksum, mkp.describe, mkp.values.
#include <pybind11/stl.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "analysis/parser.h"
#include "protocol/linetime.h"
#include "protocol/packet.h"
#include "python/common.h"
#include "python/portcore.h"
#include "text/cp1251.h"

namespace mkpy {

namespace {

// The record the packet operations work in; every user holds the
// interpreter's lock, so one is enough.
mkp::TMKPPacket& Scratch() {
  static mkp::TPacketHolder* record = new mkp::TPacketHolder();
  return **record;
}

mkp::TMKPPacket& RecordOf(const TPacketValue& packet) {
  mkp::TMKPPacket& record = Scratch();
  packet.ToRecord(record);
  return record;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::uint8_t ByteArg(int value, const char* name) {
  if (value < 0 || value > 255) throw py::value_error(std::string(name) + " must be 0..255, not " + std::to_string(value));
  return static_cast<std::uint8_t>(value);
}

std::string DataArg(const py::handle& value) {
  std::string data = BytesArg(value);
  if (data.size() > static_cast<std::size_t>(mkp::MaxDataLen))
    throw py::value_error("a packet carries at most " + std::to_string(mkp::MaxDataLen) + " data bytes, not " +
                          std::to_string(data.size()));
  return data;
}

std::string Repr(const TPacketValue& p) {
  py::bytes data(p.Data);
  return "Packet(dst='" + AddressHex(p.Dst) + "', src='" + AddressHex(p.Src) +
         "', command=" + std::to_string(p.Command) + ", data_type=" + std::to_string(p.DataType) +
         ", data=" + py::repr(data).cast<std::string>() + ")";
}

// Why packet text is not well-formed (TextToPacket said no).
std::string TextProblem(std::string_view text) {
  std::string digits;
  for (const char c : text)
    if (c != ' ' && c != '.' && c != ',' && c != '-' && c != '(' && c != ')' && c != '\t') digits += c;
  if (digits.empty()) return "no packet text";
  if (digits.size() % 2 != 0) return "an odd number of digits (" + std::to_string(digits.size()) + ")";
  if (digits.size() < 20) return "fewer than the 20 digits of a header";
  // A pair that is not two hex digits reads as 0, as the reading does.
  auto pair = [&](std::size_t at) {
    const int high = HexDigit(digits[at]), low = HexDigit(digits[at + 1]);
    return high < 0 || low < 0 ? 0 : high * 16 + low;
  };
  const int length = pair(16) + 256 * pair(18);
  if (length > mkp::MaxDataLen) return "the data length " + std::to_string(length) + " exceeds " + std::to_string(mkp::MaxDataLen);
  return "the header announces " + std::to_string(length) + " data bytes, the text holds " +
         std::to_string((digits.size() - 20) / 2);
}

TPacketValue FromText(const py::handle& textObject) {
  const std::string whole = EngineText(textObject);
  std::string_view text = whole;
  // A line as a pane shows it: its time, then the direction.
  text.remove_prefix(mkp::TimePrefixLength(text));
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  if (text.starts_with("->") || text.starts_with("<-")) {
    text.remove_prefix(2);
  } else if (text.starts_with("<") || text.starts_with("[")) {
    // A line of a slave table or device description: its packet in angle
    // brackets (the received packet of a .smt row), or a bracketed cell.
    const char close = text.front() == '<' ? '>' : ']';
    text = text.substr(1, text.find(close) == std::string_view::npos ? std::string_view::npos : text.find(close) - 1);
  }
  mkp::TMKPPacket& record = Scratch();
  if (!mkp::TextToPacket(text, record))
    throw py::value_error("not packet text (" + TextProblem(text) + "): " + mkp::Cp1251ToUtf8(whole));
  return TPacketValue::FromRecord(record);
}

TPacketValue FromFrame(const py::handle& bytesObject) {
  const std::string bytes = BytesArg(bytesObject);
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const std::string problem = FrameProblem(data, bytes.size());
  if (!problem.empty()) Raise(Exceptions().FrameError, problem);
  std::uint8_t frame[mkp::FrameBufferSize] = {};
  std::copy_n(data, bytes.size(), frame);
  mkp::TMKPPacket& record = Scratch();
  if (!mkp::ParseFrame(frame, record)) Raise(Exceptions().FrameError, "not a frame");
  return TPacketValue::FromRecord(record);
}

py::bytes FrameBytes(const TPacketValue& packet) {
  std::uint8_t frame[mkp::FrameBufferSize];
  int length = 0;
  if (!mkp::BuildFrame(RecordOf(packet), frame, length)) throw py::value_error("the packet makes no frame");
  return py::bytes(reinterpret_cast<const char*>(frame), static_cast<std::size_t>(length));
}

// The packet text of a Packet, or of packet text given as str.
std::string PacketText(const py::handle& packet) {
  if (py::isinstance<TPacketValue>(packet)) return mkp::PacketToText(RecordOf(packet.cast<const TPacketValue&>()));
  if (py::isinstance<py::str>(packet)) return EngineText(packet);
  throw py::type_error("a Packet or packet text (str) was expected");
}

mkp::TMKPParser& DescribeParser() {
  static mkp::TMKPParser* parser = new mkp::TMKPParser();
  return *parser;
}

std::string HexTypesText() {
  std::string text;
  for (const int code : mkp::TMKPParser::HexTypeCodes) text += (text.empty() ? "" : ", ") + std::to_string(code);
  return text;
}

py::str Describe(const py::handle& packet, const py::iterable& hexTypes, bool align) {
  mkp::TMKPParser& parser = DescribeParser();
  parser.ShowAsHex.fill(false);
  for (const auto code : hexTypes) {
    const int type = code.cast<int>();
    if (mkp::TMKPParser::HexFlagIndex(type) < 0)
      throw py::value_error("type " + std::to_string(type) + " has no hex form; the types with one: " + HexTypesText() +
                            " (and the even code after each)");
    parser.HexFlagForType(type) = true;
  }
  parser.ArrayAlign = align;
  return Text(parser.DescribePacket(PacketText(packet)));
}

py::list Values(const py::handle& packet) {
  static mkp::TMKPParser* parser = new mkp::TMKPParser();
  parser->DescribePacket(PacketText(packet));
  return ValuesOf(parser->Results);
}

}  // namespace

mkp::TVorelAddr AddressArg(const py::handle& value, const char* name) {
  mkp::TVorelAddr address;
  if (py::isinstance<py::str>(value)) {
    const std::string text = value.cast<std::string>();
    bool ok = text.size() == 6;
    for (std::size_t i = 0; ok && i < 3; ++i) {
      const int high = HexDigit(text[2 * i]);
      const int low = HexDigit(text[2 * i + 1]);
      ok = high >= 0 && low >= 0;
      address.Bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    if (ok) return address;
  } else if (PyBytes_Check(value.ptr()) || PyByteArray_Check(value.ptr())) {
    const std::string bytes = BytesArg(value);
    if (bytes.size() == 3) {
      std::copy(bytes.begin(), bytes.end(), address.Bytes);
      return address;
    }
  }
  throw py::value_error(std::string(name) + " is six hex digits (\"010203\") or 3 bytes, not " +
                        py::repr(value).cast<std::string>());
}

py::object PacketObject(const TPacketValue& packet) { return py::cast(packet); }

void BindPacket(py::module_& m) {
  m.def(
      "checksum",
      [](const py::handle& data) {
        const std::string bytes = BytesArg(data);
        const long size = static_cast<long>(bytes.size());
        return mkp::ComputeChecksum(reinterpret_cast<const std::uint8_t*>(bytes.data()), size, 0, size);
      },
      py::arg("data"),
      "The MKP checksum of the bytes: 32 bits, rotate left by 5 and exclusive-or over big-endian byte pairs "
      "(a last odd byte counts as the high byte of a pair). The frame carries it little-endian.");

  py::class_<TPacketValue>(m, "Packet",
                           "An MKP packet: destination and source bus addresses, command, data type and up to "
                           "2048 data bytes.\n\n"
                           "Addresses are given as six hex digits (\"010203\") or 3 bytes and read back as six "
                           "upper-case hex digits. str(packet) is the text form the terminal pane shows "
                           "(\"010203.0A0B0C.06.05.0100 - 01 \"); Packet.from_text reads it back. Two packets are "
                           "equal when all their fields are.")
      .def(py::init([](const py::handle& dst, const py::handle& src, int command, int dataType, const py::handle& data) {
             TPacketValue p;
             p.Dst = AddressArg(dst, "dst");
             p.Src = AddressArg(src, "src");
             p.Command = ByteArg(command, "command");
             p.DataType = ByteArg(dataType, "data_type");
             p.Data = DataArg(data);
             return p;
           }),
           py::arg("dst"), py::arg("src"), py::arg("command"), py::arg("data_type"), py::arg("data") = py::bytes())
      .def_property(
          "dst", [](const TPacketValue& p) { return AddressHex(p.Dst); },
          [](TPacketValue& p, const py::handle& v) { p.Dst = AddressArg(v, "dst"); },
          "The receiver's bus address, six upper-case hex digits.")
      .def_property(
          "src", [](const TPacketValue& p) { return AddressHex(p.Src); },
          [](TPacketValue& p, const py::handle& v) { p.Src = AddressArg(v, "src"); },
          "The sender's bus address, six upper-case hex digits.")
      .def_property(
          "command", [](const TPacketValue& p) { return int{p.Command}; },
          [](TPacketValue& p, int v) { p.Command = ByteArg(v, "command"); },
          "The command: 1 acknowledgement, 3 error, 4 ping, 6 read, 7 answer, 8 write.")
      .def_property(
          "data_type", [](const TPacketValue& p) { return int{p.DataType}; },
          [](TPacketValue& p, int v) { p.DataType = ByteArg(v, "data_type"); },
          "The data type code (odd: register by number, even: by name).")
      .def_property(
          "data", [](const TPacketValue& p) { return py::bytes(p.Data); },
          [](TPacketValue& p, const py::handle& v) { p.Data = DataArg(v); }, "The data bytes (at most 2048).")
      .def("__str__", [](const TPacketValue& p) { return Text(mkp::PacketToText(RecordOf(p))); })
      .def("__repr__", &Repr)
      .def("__eq__",
           [](const TPacketValue& a, const py::object& b) -> py::object {
             if (!py::isinstance<TPacketValue>(b)) return py::reinterpret_borrow<py::object>(Py_NotImplemented);
             return py::bool_(a == b.cast<const TPacketValue&>());
           })
      .def("frame", &FrameBytes, "The frame on the wire: header, header checksum, then data and data checksum.")
      .def("__bytes__", &FrameBytes)
      .def("__copy__", [](const TPacketValue& p) { return p; })
      .def("__deepcopy__", [](const TPacketValue& p, const py::handle&) { return p; }, py::arg("memo"))
      .def(py::pickle(
          [](const TPacketValue& p) {
            return py::make_tuple(AddressHex(p.Dst), AddressHex(p.Src), p.Command, p.DataType, py::bytes(p.Data));
          },
          [](const py::tuple& t) {
            if (t.size() != 5) throw py::value_error("bad Packet state");
            TPacketValue p;
            p.Dst = AddressArg(t[0], "dst");
            p.Src = AddressArg(t[1], "src");
            p.Command = ByteArg(t[2].cast<int>(), "command");
            p.DataType = ByteArg(t[3].cast<int>(), "data_type");
            p.Data = DataArg(t[4]);
            return p;
          }))
      .def_static("from_text", &FromText, py::arg("text"),
                  "Reads packet text: hex digit pairs in frame order (destination, source, command, data type, "
                  "data length low and high byte, data), with blanks and . , - ( ) as separators, as the panes show "
                  "packets and as .smt and .rst files hold them. A pane line with its time and \"-> \" or \"<- \" "
                  "is read too, and a line of a .smt or .rst file as the packet in its angle brackets (a .smt row's "
                  "received packet; its answer as \"[...]\"). ValueError when the text is not well-formed (too short, odd, or its data length "
                  "disagrees with its data).")
      .def_static("from_frame", &FromFrame, py::arg("frame"),
                  "Reads one whole frame; FrameError, saying why, for bytes that are not one (too short, a "
                  "checksum mismatch, a data length above 2048, bytes missing or left over).");
  m.attr("Packet").attr("__hash__") = py::none();

  m.def("describe", &Describe, py::arg("packet"), py::arg("hex_types") = py::tuple(), py::arg("align") = false,
        "The decode pane's line of a packet (a Packet or packet text): sender>>receiver, command, type, register "
        "and values. hex_types: type codes whose values show in hex (1, 5, 7, 9, 11, 13, 15, 25, 27, 31, 33, 35, "
        "37, 39 or the even code after each); align: values padded to their type's width.");
  m.def("values", &Values, py::arg("packet"),
        "The values a packet (a Packet or packet text) carries, decoded as the decode pane decodes them: int for "
        "the integer types (a run of BYTE values gives one int each), float for the reals, str for strings, "
        "date-times and addresses.");
}

}  // namespace mkpy
