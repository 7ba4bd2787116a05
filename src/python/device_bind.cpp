// mkp.Device and its statistics, mkp.RequestStats.
#include <pybind11/stl.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "analysis/parser.h"
#include "modes/registers_table.h"
#include "modes/regstats.h"
#include "modes/write_packet.h"
#include "python/common.h"
#include "python/port_bind.h"
#include "text/cp1251.h"

namespace mkpy {

std::unique_ptr<mkp::TDeviceModel> LoadDescription(const std::string& path) {
  auto model = std::make_unique<mkp::TDeviceModel>();
  const mkp::TLoadResult loaded = mkp::LoadDeviceDescription(path, *model);
  if (!loaded) RaiseLoadError(path, "device description", loaded.Message());
  return model;
}

int RegisterNumber(const mkp::TDeviceModel& model, const py::handle& key) {
  if (py::isinstance<py::str>(key)) {
    const std::string name = EngineText(key);
    for (const mkp::TParamItem& item : model.RegisterNames.Items())
      if (!name.empty() && item.Text == name) return item.Index + 1;
    std::string known;
    for (const mkp::TParamItem& item : model.RegisterNames.Items())
      if (!item.Text.empty()) known += (known.empty() ? "'" : ", '") + mkp::Cp1251ToUtf8(item.Text) + "'";
    throw py::key_error("no register named '" + key.cast<std::string>() + "'; the description names " +
                        (known.empty() ? std::string("none") : known));
  }
  if (py::isinstance<py::int_>(key) && !py::isinstance<py::bool_>(key)) {
    const long long reg = key.cast<long long>();
    if (reg < 1 || reg > 65535) throw py::key_error("register numbers are 1..65535, not " + std::to_string(reg));
    return static_cast<int>(reg);
  }
  throw py::type_error("a register is given by its name (str) or number (int)");
}

py::object RegisterKey(const mkp::TDeviceModel& model, int reg) {
  const std::string name = mkp::TDeviceModel::ItemText(model.RegisterNames, reg - 1);
  if (name.empty()) return py::int_(reg);
  return Text(name);
}

std::string ValueText(const py::handle& value) {
  if (py::isinstance<py::bool_>(value)) return value.cast<bool>() ? "1" : "0";
  if (py::isinstance<py::int_>(value) || py::isinstance<py::float_>(value)) return py::str(value).cast<std::string>();
  if (py::isinstance<py::str>(value)) return EngineText(value);
  if (py::isinstance<py::list>(value) || py::isinstance<py::tuple>(value)) {
    std::string text;
    for (const auto item : value) text += (text.empty() ? "" : " ") + ValueText(item);
    return text;
  }
  throw py::type_error("a register value is an int, float, str, or a list of BYTE values; not " +
                       py::repr(value).cast<std::string>());
}

namespace {

struct TPyDevice {
  py::object PortObject;
  TPyPort* Port = nullptr;
  std::string Description;
  std::unique_ptr<mkp::TDeviceModel> Model;
  std::unique_ptr<mkp::TRegistersTable> Table = std::make_unique<mkp::TRegistersTable>();
  std::unique_ptr<mkp::TRegistersStats> Stats = std::make_unique<mkp::TRegistersStats>();
  std::unique_ptr<mkp::TMKPParser> Parser = std::make_unique<mkp::TMKPParser>();  // reads values
  std::vector<std::vector<int>> Rows;  // per request
  std::optional<mkp::TVorelAddr> Address;
  int TimeoutMs = 0;
};

// A value received for a register.
struct TRegisterValue {
  int Register = 0;
  mkp::TParamItem Item;
};

mkp::TVorelAddr DeviceAddressArg(const py::handle& value) {
  mkp::TVorelAddr address;
  if (py::isinstance<py::str>(value)) {
    const std::string text = value.cast<std::string>();
    if (text.find('.') != std::string::npos) {
      // Three decimal numbers joined by ".", as the bus address dialog shows them.
      bool ok = std::count(text.begin(), text.end(), '.') == 2;
      std::size_t start = 0;
      for (int i = 0; ok && i < 3; ++i) {
        const std::string part = text.substr(start, text.find('.', start) - start);
        ok = !part.empty() && part.size() <= 3 && part.find_first_not_of("0123456789") == std::string::npos &&
             std::stoi(part) <= 255;
        if (ok) address.Bytes[i] = static_cast<std::uint8_t>(std::stoi(part));
        start += part.size() + 1;
      }
      if (ok) return address;
      throw py::value_error("a device address is three numbers 0..255 joined by \".\" (\"1.2.3\"), six hex digits "
                            "(\"010203\") or 3 bytes; not '" + text + "'");
    }
  }
  return AddressArg(value, "address");
}

[[noreturn]] void RaiseDeviceError(const std::string& message, const std::optional<TPacketValue>& request,
                                   std::optional<TFrameResult>&& answer) {
  py::object error = Exceptions().DeviceError(message);
  error.attr("request") = request ? PacketObject(*request) : py::none();
  error.attr("answer") = answer ? FrameObject(std::move(*answer)) : py::none();
  PyErr_SetObject(Exceptions().DeviceError.ptr(), error.ptr());
  throw py::error_already_set();
}

// The packet's text form without its trailing blank, for a message.
std::string PacketText(const mkp::TMKPPacket& packet) {
  std::string text = mkp::PacketToText(packet);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string Quoted(const TPyDevice& device, int reg) {
  return py::repr(RegisterKey(*device.Model, reg)).cast<std::string>();
}

// Sends a packet of the device and waits for its answer.
struct TExchangeResult {
  std::optional<TFrameResult> Answer;
  std::uint64_t OtherTraffic = 0;
};
TExchangeResult Exchange(TPyDevice& device, const mkp::TMKPPacket& request, bool& sent) {
  device.Port->RequireOpen();
  TExchangeResult result;
  bool failed = false;
  TSignalWatch watch;
  {
    py::gil_scoped_release release;
    result.Answer = device.Port->Core->Exchange(request, device.TimeoutMs, watch.Callback(), sent, failed,
                                                &result.OtherTraffic);
  }
  watch.ThrowIfRaised();
  if (!result.Answer && failed) device.Port->RaiseFailure(sent ? "lost" : "cannot send on");
  return result;
}

// Polls request `index` once; the values of its answer by register.
std::vector<TRegisterValue> Poll(TPyDevice& device, int index) {
  using mkp::TStepOutcome;
  const std::string text = mkp::TDeviceModel::ItemText(device.Model->Requests, index);
  mkp::TPacketHolder request;
  if (!mkp::TextToPacket(text, *request))
    throw py::value_error("request " + std::to_string(index + 1) + " of the description is not packet text: " +
                          mkp::Cp1251ToUtf8(text));
  if (device.Address) request->DstAddr = *device.Address;
  const TPacketValue requestValue = TPacketValue::FromRecord(*request);
  const std::string what = "the request " + PacketText(*request);

  bool sent = false;
  TExchangeResult exchange = Exchange(device, *request, sent);
  if (exchange.OtherTraffic > 0) device.Stats->RecordOtherTraffic(index, exchange.OtherTraffic);
  if (!sent) {
    device.Stats->Record(index, TStepOutcome::WriteFailed);
    device.Port->RaiseFailure("cannot send on");
  }
  std::optional<TFrameResult>& answer = exchange.Answer;
  if (!answer) {
    device.Stats->Record(index, TStepOutcome::NoAnswer);
    RaiseDeviceError("no answer to " + what + " within " + std::to_string(device.TimeoutMs) + " ms", requestValue,
                     std::nullopt);
  }
  if (!answer->Good) {
    device.Stats->Record(index, TStepOutcome::BadFrame);
    RaiseDeviceError("the answer to " + what + " forms no frame (" + FrameProblem(answer->Raw.data(), answer->Raw.size()) + ")",
                     requestValue, std::move(answer));
  }
  const TPacketValue& reply = *answer->Packet;
  // What the Registers automaton accepts: an answer of the request's type
  // repeating its first data byte (its register).
  const bool belongs = reply.Command == mkp::CmdAnswer && reply.DataType == request->DataType &&
                       (request->DataLen == 0 || (!reply.Data.empty() && static_cast<std::uint8_t>(reply.Data[0]) == request->Data[0]));
  if (!belongs) {
    device.Stats->Record(index, TStepOutcome::WrongAnswer);
    char expected[96];
    std::snprintf(expected, sizeof expected, "command 07, data type %02X and first data byte %02X were expected",
                  request->DataType, request->DataLen > 0 ? request->Data[0] : 0);
    RaiseDeviceError("the answer to " + what + " does not belong to it (" + expected + "): " +
                         mkp::Cp1251ToUtf8(answer->Decode),
                     requestValue, std::move(answer));
  }
  device.Stats->Record(index, TStepOutcome::Answered, answer->LatencyMs);

  mkp::TPacketHolder record;
  reply.ToRecord(*record);
  device.Parser->DescribePacket(mkp::PacketToText(*record));
  std::vector<TRegisterValue> values;
  const auto& rows = device.Rows[static_cast<std::size_t>(index)];
  std::size_t next = 0;
  for (const mkp::TParamItem& item : device.Parser->Results.Items()) {
    if (next >= rows.size()) break;
    const int reg = rows[next++];
    device.Table->SetCurrentValue(reg, item.Text);
    values.push_back({reg, item});
  }
  return values;
}

py::object Read(TPyDevice& device, const py::handle& key) {
  const int reg = RegisterNumber(*device.Model, key);
  for (std::size_t i = 0; i < device.Rows.size(); ++i) {
    if (std::find(device.Rows[i].begin(), device.Rows[i].end(), reg) == device.Rows[i].end()) continue;
    for (const TRegisterValue& value : Poll(device, static_cast<int>(i)))
      if (value.Register == reg) return ValueOf(value.Item);
    RaiseDeviceError("the answer holds no value for register " + Quoted(device, reg), std::nullopt, std::nullopt);
  }
  throw py::value_error("no request of the description reads register " + Quoted(device, reg));
}

py::dict ReadAll(TPyDevice& device) {
  py::dict values;
  for (std::size_t i = 0; i < device.Rows.size(); ++i)
    for (const TRegisterValue& value : Poll(device, static_cast<int>(i)))
      values[RegisterKey(*device.Model, value.Register)] = ValueOf(value.Item);
  return values;
}

void Write(TPyDevice& device, const py::dict& values) {
  struct TWrite {
    int Register;
    std::string Template;
    std::string Value;
  };
  std::vector<TWrite> writes;
  for (const auto& [key, value] : values) {
    const int reg = RegisterNumber(*device.Model, key);
    const std::string writeTemplate = mkp::TDeviceModel::ItemText(device.Model->WriteTemplates, reg - 1);
    if (writeTemplate.empty())
      throw py::value_error("the description has no write template for register " + Quoted(device, reg));
    writes.push_back({reg, writeTemplate, ValueText(value)});
  }
  // The templates read the new values from the table, as Transmit does; the
  // New value cells are emptied again afterwards.
  for (const TWrite& w : writes) {
    if (w.Register > device.Table->RowCount()) device.Table->SetRowCount(w.Register);
    device.Table->SetNewValue(w.Register, w.Value);
  }
  struct TClear {
    TPyDevice& Device;
    const std::vector<TWrite>& Writes;
    ~TClear() {
      for (const TWrite& w : Writes) Device.Table->SetNewValue(w.Register, "");
    }
  } clear{device, writes};

  for (const TWrite& w : writes) {
    mkp::TPacketHolder packet;
    if (!mkp::FillWritePacket(w.Template, *packet, *device.Table))
      throw py::value_error("the write template of register " + Quoted(device, w.Register) + " is not packet text");
    if (device.Address) packet->DstAddr = *device.Address;
    const TPacketValue request = TPacketValue::FromRecord(*packet);
    const std::string what = "the write of register " + Quoted(device, w.Register) + " (" + PacketText(*packet) + ")";
    bool sent = false;
    TExchangeResult exchange = Exchange(device, *packet, sent);
    if (!sent) device.Port->RaiseFailure("cannot send on");
    std::optional<TFrameResult>& answer = exchange.Answer;
    if (!answer)
      RaiseDeviceError("no acknowledgement of " + what + " within " + std::to_string(device.TimeoutMs) + " ms",
                       request, std::nullopt);
    if (!answer->Good)
      RaiseDeviceError("the answer to " + what + " forms no frame (" + FrameProblem(answer->Raw.data(), answer->Raw.size()) + ")",
                       request, std::move(answer));
    if (answer->Packet->Command != mkp::CmdAck) {
      const std::string kind = answer->Packet->Command == mkp::CmdError ? "the device refused " : "no acknowledgement of ";
      RaiseDeviceError(kind + what + ": " + mkp::Cp1251ToUtf8(answer->Decode), request, std::move(answer));
    }
    device.Table->SetCurrentValue(w.Register, w.Value);
  }
}

std::string StatsRepr(const mkp::TRequestStats& stats) {
  return "<mkp.RequestStats " + py::repr(Text(stats.Text)).cast<std::string>() + " " + mkp::StatsLine(stats) + ">";
}

}  // namespace

void BindDevice(py::module_& m) {
  py::class_<mkp::TRequestStats>(m, "RequestStats",
                                 "How one request of a device description fared: how often it was sent and how "
                                 "each exchange ended, and the response times of the accepted answers (from the "
                                 "end of the request's write to the first byte of the answer).")
      .def_property_readonly("text", [](const mkp::TRequestStats& s) { return Text(s.Text); },
                             "The request's packet text, as the description gives it.")
      .def_readonly("sent", &mkp::TRequestStats::Sent)
      .def_readonly("answered", &mkp::TRequestStats::Answered)
      .def_readonly("no_answer", &mkp::TRequestStats::NoAnswer)
      .def_readonly("bad_frame", &mkp::TRequestStats::BadFrame)
      .def_readonly("wrong_answer", &mkp::TRequestStats::WrongAnswer)
      .def_readonly("write_failed", &mkp::TRequestStats::WriteFailed)
      .def_readonly("other_traffic", &mkp::TRequestStats::OtherTraffic,
                    "Frames of other stations seen while the answer was awaited.")
      .def_readonly("last_ms", &mkp::TRequestStats::LastMs)
      .def_readonly("max_ms", &mkp::TRequestStats::MaxMs)
      .def_property_readonly("mean_ms", &mkp::TRequestStats::MeanMs)
      .def("__repr__", &StatsRepr);

  py::class_<TPyDevice>(m, "Device",
                        "A device of a device description (.rst) on an open port.\n\n"
                        "read() polls the request that holds a register and returns its value; write() sends the "
                        "description's write packets and checks the acknowledgements. Registers are given by name "
                        "(str, as the description names them) or number. address overrides the destination of "
                        "the requests and writes: \"1.2.3\" (decimal, as the bus address dialog), \"010203\" or 3 "
                        "bytes. timeout_ms: the wait for each answer (default 2068).")
      .def(py::init([](const py::handle& description, const py::handle& port, const py::handle& address,
                       const py::handle& timeout) {
             if (!py::isinstance<TPyPort>(port)) throw py::type_error("port must be a Port (from mkp.open_port)");
             auto device = std::make_unique<TPyDevice>();
             device->Description = PathArg(description);
             device->Model = LoadDescription(device->Description);
             device->PortObject = py::reinterpret_borrow<py::object>(port);
             device->Port = &port.cast<TPyPort&>();
             if (!address.is_none()) device->Address = DeviceAddressArg(address);
             device->TimeoutMs = TimeoutArg(timeout);
             std::vector<std::string> texts;
             int lastRow = device->Model->RegisterNames.Count();
             for (int i = 0; i < device->Model->Requests.Count(); ++i) {
               texts.push_back(mkp::TDeviceModel::ItemText(device->Model->Requests, i));
               device->Rows.push_back(mkp::RequestRowNumbers(mkp::TDeviceModel::ItemText(device->Model->RequestRows, i)));
               for (const int row : device->Rows.back()) lastRow = std::max(lastRow, row);
             }
             device->Table->LoadNames(device->Model->RegisterNames);
             device->Table->SetRowCount(lastRow);
             device->Stats->Reset(texts);
             return device;
           }),
           py::arg("description"), py::arg("port"), py::arg("address") = py::none(),
           py::arg("timeout_ms") = py::none())
      .def("read", &Read, py::arg("register"),
           "Polls the request that holds the register and returns its value: int, float or str (a run of BYTE "
           "values: a list of int). DeviceError when the device does not answer as described.")
      .def("read_all", &ReadAll,
           "Polls every request once; {register: value}, registers by name (by number when unnamed).")
      .def("write", &Write, py::arg("values"),
           "Writes {register: value}: one write packet per register, built from its write template, each "
           "acknowledgement checked. DeviceError when one is not acknowledged.")
      .def_property_readonly(
          "stats", [](const TPyDevice& d) { return d.Stats->Snapshot(); },
          "The statistics of each request, in the order of the description.")
      .def_property_readonly(
          "registers",
          [](const TPyDevice& d) {
            py::dict names;
            for (const mkp::TParamItem& item : d.Model->RegisterNames.Items())
              if (!item.Text.empty()) names[py::int_(item.Index + 1)] = Text(item.Text);
            return names;
          },
          "{number: name} of the registers the description names.")
      .def_property_readonly("port", [](const TPyDevice& d) { return d.PortObject; })
      .def_property_readonly("description", [](const TPyDevice& d) { return d.Description; })
      .def_property_readonly(
          "address",
          [](const TPyDevice& d) -> py::object {
            if (!d.Address) return py::none();
            return py::str(AddressHex(*d.Address));
          },
          "The address that overrides the description's, six hex digits, or None.")
      .def_readwrite("timeout_ms", &TPyDevice::TimeoutMs)
      .def("__repr__", [](const TPyDevice& d) {
        return "<mkp.Device " + py::repr(py::str(d.Description)).cast<std::string>() + " on " +
               py::repr(d.PortObject).cast<std::string>() + ">";
      });
}

}  // namespace mkpy
