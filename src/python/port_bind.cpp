// mkp.open_port, mkp.Port, mkp.Frame, and the traffic recording of the pytest
// plugin.
#include <pybind11/chrono.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "analysis/parser.h"
#include "protocol/linetime.h"
#include "python/common.h"
#include "python/port_bind.h"
#include "python/portcore.h"
#include "serial/portsettings.h"
#include "text/cp1251.h"
#include "text/hextext.h"

namespace mkpy {

namespace {

const char* PaneName(TPane pane) { return pane == TPane::Terminal ? "terminal" : "decode"; }

// "none", "odd", ... (case ignored) as the channel takes them.
std::string ParityArg(const std::string& parity) {
  std::string lower = parity;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  for (const char* name : {"none", "odd", "even", "mark", "space"})
    if (lower == name) return lower == "none" ? "none" : std::string(1, static_cast<char>(std::toupper(name[0]))) + (name + 1);
  throw py::value_error("parity is one of none, odd, even, mark, space; not '" + parity + "'");
}

std::string StopArg(const py::handle& stop) {
  const double value = py::isinstance<py::str>(stop) ? std::stod(stop.cast<std::string>()) : stop.cast<double>();
  if (value == 1) return "1";
  if (value == 1.5) return "1.5";
  if (value == 2) return "2";
  throw py::value_error("stop bits are 1, 1.5 or 2, not " + py::repr(stop).cast<std::string>());
}

int NonNegative(const py::handle& value, const char* name) {
  const int number = value.cast<int>();
  if (number < 0) throw py::value_error(std::string(name) + " must be 0 or more");
  return number;
}

}  // namespace

int TimeoutArg(const py::handle& timeout) {
  if (timeout.is_none()) return static_cast<int>(mkp::AnswerWindow.count());
  const double ms = timeout.cast<double>();
  if (!(ms >= 0) || ms > 24.0 * 3600 * 1000) throw py::value_error("timeout_ms must be 0 or more (at most a day)");
  return static_cast<int>(std::ceil(ms));
}

TPyPort::~TPyPort() = default;

void TPyPort::RequireOpen() const {
  if (!Core->IsOpen()) Raise(Exceptions().PortError, "the port " + Name + " is closed");
}

[[noreturn]] void TPyPort::RaiseFailure(const std::string& what) const {
  std::string why = Core->LastError();
  if (why.empty()) why = Core->IsOpen() ? "the line failed" : "the port is closed";
  Raise(Exceptions().PortError, what + " " + Name + ": " + why);
}

py::object TPyPort::Exchange(const TPacketValue& request, int timeoutMs) {
  RequireOpen();
  std::optional<TFrameResult> answer;
  bool sent = false, failed = false;
  TSignalWatch watch;
  {
    mkp::TPacketHolder record;
    request.ToRecord(*record);
    py::gil_scoped_release release;
    answer = Core->Exchange(*record, timeoutMs, watch.Callback(), sent, failed);
  }
  watch.ThrowIfRaised();
  if (!sent) RaiseFailure("cannot send on");
  if (!answer && failed) RaiseFailure("lost");
  if (!answer) return py::none();
  return FrameObject(std::move(*answer));
}

namespace {

py::object OpenPort(const py::handle& name, const py::handle& baud, const py::handle& parity, const py::handle& stop,
                    const py::handle& readInterval, const py::handle& writeInterval, const py::handle& settings) {
  std::string portName, speed = "9600", parityText = "none", stopText = "1";
  int readMs = 1, writeMs = 0;
  if (!settings.is_none()) {
    const std::string file = PathArg(settings);
    mkp::TPortSettings model;
    const mkp::TLoadResult loaded = model.LoadSettings(file);
    if (!loaded) RaiseLoadError(file, "port settings file", loaded.Message());
    portName = model.GetPortName();
    speed = model.GetSpeed();
    parityText = model.GetParity();
    stopText = model.GetStopBits();
    readMs = model.GetReadInterval();
    writeMs = model.GetWriteInterval();
  }
  if (!name.is_none()) portName = PathArg(name);
  if (portName.empty()) throw py::value_error("open_port needs a port name (or settings=\"mkpt.ini\")");
  if (!baud.is_none()) {
    const long long bits = baud.cast<long long>();
    if (bits <= 0) throw py::value_error("baud must be a positive number");
    speed = std::to_string(bits);
  }
  if (!parity.is_none()) parityText = ParityArg(parity.cast<std::string>());
  if (!stop.is_none()) stopText = StopArg(stop);
  if (!readInterval.is_none()) readMs = NonNegative(readInterval, "read_interval");
  if (!writeInterval.is_none()) writeMs = NonNegative(writeInterval, "write_interval");

  auto port = std::make_unique<TPyPort>();
  port->Core = std::make_unique<TPortCore>();
  port->Name = portName;
  port->Speed = speed;
  port->Parity = parityText;
  port->Stop = stopText;
  port->ReadInterval = readMs;
  port->WriteInterval = writeMs;
  bool opened = false;
  TSignalWatch watch;
  {
    py::gil_scoped_release release;
    opened = port->Core->Open(portName, speed, stopText, parityText, readMs, writeMs, watch.Callback());
  }
  watch.ThrowIfRaised();  // the port closes with its object
  if (!opened) Raise(Exceptions().PortError, "cannot open " + portName + ": " + port->Core->LastError());
  return py::cast(std::move(port));
}

void ClosePort(TPyPort& port) {
  py::gil_scoped_release release;
  port.Core->Close();
}

std::string FrameRepr(const TFrameResult& frame) {
  std::string text = mkp::Cp1251ToUtf8(frame.Text);
  return std::string("<mkp.Frame ") + (frame.Good ? "" : "bad ") + py::repr(py::str(text)).cast<std::string>() + ">";
}

}  // namespace

py::object FrameObject(TFrameResult&& frame) { return py::cast(std::move(frame)); }

void BindPort(py::module_& m) {
  py::class_<TFrameResult>(m, "Frame",
                           "A frame received, or bytes that formed none (good is False, packet None), with the "
                           "time its first byte arrived and its two pane lines.")
      .def_property_readonly(
          "packet", [](const TFrameResult& f) -> py::object { return f.Packet ? PacketObject(*f.Packet) : py::none(); },
          "The Packet the frame holds, or None for bytes that form no frame.")
      .def_property_readonly(
          "raw", [](const TFrameResult& f) { return py::bytes(reinterpret_cast<const char*>(f.Raw.data()), f.Raw.size()); },
          "The bytes as they came off the line.")
      .def_readonly("good", &TFrameResult::Good, "True for a whole frame with both checksums right.")
      .def_property_readonly(
          "time", [](const TFrameResult& f) { return WallTime(f.FirstByte); },
          "When the first byte arrived, local time (datetime).")
      .def_readonly("latency_ms", &TFrameResult::LatencyMs,
                    "For the answer of an exchange: milliseconds from the end of the write to the answer's first "
                    "byte; None otherwise.")
      .def_property_readonly(
          "text", [](const TFrameResult& f) { return Text(f.Text); },
          "The terminal pane's line (\"<- 0A0B0C.010203.07.05.0300 - 01 E8 03 \", or \"<- Missing format : ...\").")
      .def_property_readonly(
          "decode", [](const TFrameResult& f) { return Text(f.Decode); }, "The decode pane's line.")
      .def_property_readonly(
          "error",
          [](const TFrameResult& f) -> py::object {
            if (f.Good) return py::none();
            const std::string problem = FrameProblem(f.Raw.data(), f.Raw.size());
            return py::str(problem.empty() ? std::string("not a frame") : problem);
          },
          "Why the bytes form no frame, or None for a good frame.")
      .def("__repr__", &FrameRepr);

  py::class_<TPyPort>(m, "Port",
                      "An open serial port (made by open_port). Every packet it moves is logged as the window's "
                      "two panes log it. Usable as a context manager, which closes it.")
      .def_property_readonly("name", [](const TPyPort& p) { return p.Name; }, "The port name as opened.")
      .def_property_readonly(
          "baud", [](const TPyPort& p) { return std::stoll(p.Speed); }, "Bits per second.")
      .def_property_readonly(
          "parity", [](const TPyPort& p) {
            std::string lower = p.Parity;
            std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
            return lower;
          }, "none, odd, even, mark or space.")
      .def_property_readonly(
          "stop", [](const TPyPort& p) -> py::object {
            if (p.Stop == "1.5") return py::float_(1.5);
            return py::int_(std::stoi(p.Stop));
          }, "Stop bits: 1, 1.5 or 2.")
      .def_readonly("read_interval", &TPyPort::ReadInterval, "Longest silence between two bytes of a read, ms.")
      .def_readonly("write_interval", &TPyPort::WriteInterval, "Pause after each byte written, ms (0: none).")
      .def_property_readonly("is_open", [](const TPyPort& p) { return p.Core->IsOpen(); })
      .def(
          "send",
          [](TPyPort& p, const TPacketValue& packet) {
            p.RequireOpen();
            bool sent = false;
            {
              mkp::TPacketHolder record;
              packet.ToRecord(*record);
              py::gil_scoped_release release;
              sent = p.Core->Send(*record);
            }
            if (!sent) p.RaiseFailure("cannot send on");
          },
          py::arg("packet"), "Sends the packet; PortError when it cannot be written.")
      .def(
          "send_raw",
          [](TPyPort& p, const py::handle& data) {
            p.RequireOpen();
            const std::string bytes = BytesArg(data);
            std::vector<std::uint8_t> raw(bytes.begin(), bytes.end());
            // Logged as the Master page logs its full packet: header and its
            // checksum, " - ", data and theirs; described from the header and
            // the data.
            auto hex = [&](std::size_t from, std::size_t to) {
              to = std::max(from, std::min(to, raw.size()));
              return mkp::BytesToHexText(raw.data() + from, to - from, static_cast<long>(to - from));
            };
            const std::size_t header = mkp::frame::HeaderSize;
            const bool split = raw.size() > header;
            const std::string terminal = split ? hex(0, header) + "- " + hex(header, raw.size()) : hex(0, raw.size());
            const std::string described =
                split ? hex(0, mkp::frame::HeaderBytes) + "- " + hex(header, raw.size() - mkp::frame::ChecksumSize)
                      : hex(0, mkp::frame::HeaderBytes);
            static mkp::TMKPParser* parser = new mkp::TMKPParser();
            const std::string decode = "-> " + parser->DescribePacket(described);
            bool sent = false;
            {
              py::gil_scoped_release release;
              sent = p.Core->SendRaw(raw, "-> " + terminal, decode);
            }
            if (!sent) p.RaiseFailure("cannot send on");
          },
          py::arg("data"),
          "Writes bytes as they are (a broken frame, say), logged as the Master page logs a packet it sends as "
          "typed: header and checksum, \" - \", data and checksum.")
      .def(
          "receive",
          [](TPyPort& p, const py::handle& timeout) -> py::object {
            const int timeoutMs = TimeoutArg(timeout);
            p.RequireOpen();
            std::optional<TFrameResult> frame;
            bool failed = false;
            TSignalWatch watch;
            {
              py::gil_scoped_release release;
              frame = p.Core->Receive(timeoutMs, watch.Callback(), failed);
            }
            watch.ThrowIfRaised();
            if (!frame && failed) p.RaiseFailure("lost");
            if (!frame) return py::none();
            return FrameObject(std::move(*frame));
          },
          py::arg("timeout_ms") = py::none(),
          "The next frame (or bytes that formed none) within the time-out (default 2068 ms, a frame read's "
          "time-out); None when nothing came.")
      .def(
          "exchange",
          [](TPyPort& p, const TPacketValue& packet, const py::handle& timeout) {
            return p.Exchange(packet, TimeoutArg(timeout));
          },
          py::arg("packet"), py::arg("timeout_ms") = py::none(),
          "Sends the packet and returns its answer within the time-out (default 2068 ms): the first frame "
          "addressed to the packet's sender, or the first bytes that form no frame; frames of other stations are "
          "logged and passed over. None when no answer came; its latency_ms is the answer's latency.")
      .def_property_readonly(
          "log",
          [](const TPyPort& p) {
            py::list lines;
            for (const auto& [pane, text] : p.Core->Log().Lines()) lines.append(py::make_tuple(PaneName(pane), Text(text)));
            return lines;
          },
          "The pane lines so far as (pane, line) pairs, pane \"terminal\" or \"decode\", each line with its time "
          "in front as the panes show it (\"14:03:07.215 +16.042 -> ...\"). Each pane keeps its last 8097 lines.")
      .def("clear_log", [](TPyPort& p) { p.Core->Log().Clear(); }, "Empties the log.")
      .def("close", &ClosePort, "Closes the port (closing again does nothing).")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](TPyPort& p, const py::args&) { ClosePort(p); })
      .def("__repr__", [](const TPyPort& p) {
        return "<mkp.Port " + py::repr(py::str(p.Name)).cast<std::string>() + " " + p.Speed + " baud " +
               (p.Core->IsOpen() ? "open" : "closed") + ">";
      });

  m.def("open_port", &OpenPort, py::arg("name") = py::none(), py::arg("baud") = py::none(),
        py::arg("parity") = py::none(), py::arg("stop") = py::none(), py::arg("read_interval") = py::none(),
        py::arg("write_interval") = py::none(), py::arg("settings") = py::none(),
        "Opens a serial port: \"COM1\".., a device path (/dev/ttyUSB0, a VirtualBus's port) or another name "
        "the engine knows. Defaults: 9600 baud, no parity, 1 stop bit, read interval 1 ms, write interval 0. "
        "settings=\"mkpt.ini\" takes the port and its settings from such a file; arguments given override it. "
        "PortError, with the reason, when the port does not open.");

  m.def(
      "_record_traffic_start", [] { StartRecording(); },
      "Starts recording the pane lines of every port (the pytest plugin's per-test traffic).");
  m.def(
      "_record_traffic_take",
      [] {
        py::list lines;
        for (const auto& line : TakeRecording())
          lines.append(py::make_tuple(py::str(line.Port), PaneName(line.Pane), Text(line.Shown)));
        return lines;
      },
      "The lines recorded since the start or the last take, as (port, pane, line).");
  m.def("_record_traffic_stop", [] { StopRecording(); });
  m.def(
      "_exchange_loop",
      [](TPyPort& p, const TPacketValue& request, int count, const py::handle& timeout) {
        // The benchmark's reference: the same exchanges in one C++ loop.
        const int timeoutMs = TimeoutArg(timeout);
        p.RequireOpen();
        int answered = 0;
        double seconds = 0;
        TSignalWatch watch;
        {
          mkp::TPacketHolder record;
          request.ToRecord(*record);
          py::gil_scoped_release release;
          const auto interrupted = watch.Callback();
          const auto start = std::chrono::steady_clock::now();
          for (int i = 0; i < count; ++i) {
            bool sent = false, failed = false;
            if (p.Core->Exchange(*record, timeoutMs, interrupted, sent, failed)) ++answered;
            if (!sent || failed || interrupted()) break;
          }
          seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        watch.ThrowIfRaised();
        return py::make_tuple(answered, seconds);
      },
      py::arg("port"), py::arg("packet"), py::arg("count"), py::arg("timeout_ms") = py::none(),
      "Runs count exchanges of the packet in C++ without returning to Python; (answered, seconds).");
}

}  // namespace mkpy
