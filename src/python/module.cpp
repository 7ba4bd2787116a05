// The extension module mkp._mkp; the package mkp re-exports it.
#include <cerrno>
#include <charconv>
#include <filesystem>

#include "python/common.h"
#include "text/cp1251.h"

namespace mkpy {

namespace {

py::object NewException(py::module_& m, const char* name, const char* doc, py::tuple bases) {
  const std::string qualified = std::string("mkp.") + name;
  PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases.ptr(), nullptr);
  if (type == nullptr) throw py::error_already_set();
  py::object object = py::reinterpret_steal<py::object>(type);
  m.add_object(name, object);
  return object;
}

}  // namespace

TExceptions& Exceptions() {
  static TExceptions* exceptions = new TExceptions();  // lives as long as the interpreter
  return *exceptions;
}

void BindExceptions(py::module_& m) {
  TExceptions& e = Exceptions();
  e.Error = NewException(m, "Error", "Base class of the errors of mkp.", py::make_tuple(py::handle(PyExc_Exception)));
  e.FrameError = NewException(m, "FrameError", "Bytes that are not one whole MKP frame; the message says why.",
                              py::make_tuple(e.Error, py::handle(PyExc_ValueError)));
  e.PortError = NewException(m, "PortError",
                             "A serial port could not be opened, or failed or was closed while in use.",
                             py::make_tuple(e.Error, py::handle(PyExc_OSError)));
  e.DeviceError = NewException(
      m, "DeviceError",
      "A device did not answer as its description says. Attributes: request (the Packet sent, or None) and "
      "answer (the Frame received, or None).",
      py::make_tuple(e.Error));
}

void Raise(const py::handle& type, const std::string& message) {
  PyErr_SetString(type.ptr(), message.c_str());
  throw py::error_already_set();
}

void RaiseLoadError(const std::string& path, const std::string& what, const std::string& message) {
  if (!message.empty()) throw py::value_error(mkp::Cp1251ToUtf8(message));
  std::error_code ignored;
  if (!std::filesystem::exists(path, ignored)) {
    PyErr_SetObject(PyExc_FileNotFoundError, py::make_tuple(ENOENT, "No such " + what, path).ptr());
    throw py::error_already_set();
  }
  throw py::value_error("cannot read the " + what + " '" + path + "'");
}

py::str Text(std::string_view cp1251) {
  const std::string utf8 = mkp::Cp1251ToUtf8(cp1251);
  return py::str(utf8.data(), utf8.size());
}

std::string EngineText(const py::handle& text) {
  if (!py::isinstance<py::str>(text)) throw py::type_error("a str was expected");
  return mkp::Utf8ToCp1251(text.cast<std::string>());
}

std::string PathArg(const py::handle& path) {
  py::object fspath = py::module_::import("os").attr("fspath")(path);
  if (!py::isinstance<py::str>(fspath)) throw py::type_error("a file name is a str or os.PathLike");
  return fspath.cast<std::string>();
}

std::string BytesArg(const py::handle& data) {
  if (PyBytes_Check(data.ptr())) return std::string(PyBytes_AS_STRING(data.ptr()), PyBytes_GET_SIZE(data.ptr()));
  if (PyByteArray_Check(data.ptr()))
    return std::string(PyByteArray_AS_STRING(data.ptr()), PyByteArray_GET_SIZE(data.ptr()));
  if (PyObject_CheckBuffer(data.ptr()) && !py::isinstance<py::str>(data)) {
    Py_buffer view;
    if (PyObject_GetBuffer(data.ptr(), &view, PyBUF_C_CONTIGUOUS) != 0) throw py::error_already_set();
    std::string bytes(static_cast<const char*>(view.buf), static_cast<std::size_t>(view.len));
    PyBuffer_Release(&view);
    return bytes;
  }
  throw py::type_error("bytes were expected (bytes, bytearray or memoryview)");
}

mkp::TSerialLine::TInterrupted TSignalWatch::Callback() {
  return [this] {
    if (raised_) return true;
    py::gil_scoped_acquire gil;
    // The exception a handler raised stays set in this thread's state until
    // ThrowIfRaised takes it.
    raised_ = PyErr_CheckSignals() != 0;
    return raised_;
  };
}

void TSignalWatch::ThrowIfRaised() const {
  if (raised_) throw py::error_already_set();
}

// ---- Decoded values ----------------------------------------------------------

namespace {

enum class TFamily { Integer, Integers, Real, Text };

TFamily FamilyOf(int typeCode) {
  const int base = typeCode % 2 == 1 ? typeCode : typeCode - 1;  // the odd member of its pair
  switch (base) {
    case 1: case 37: return TFamily::Integers;              // BYTE, BCD_BYTE: one text per run
    case 5: case 7: case 9: case 11: case 39: return TFamily::Integer;
    case 13: case 15: case 25: case 27: return TFamily::Real;
    default: return TFamily::Text;                          // strings, date-times, addresses
  }
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

py::object IntegerOf(std::string_view text) {
  text = Trimmed(text);
  long long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return Text(text);
  return py::int_(value);
}

py::object RealOf(std::string_view text) {
  text = Trimmed(text);
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return Text(text);
  return py::float_(value);
}

// The numbers of a run of BYTE values ("1 2 10 ").
py::list IntegersOf(std::string_view text) {
  py::list values;
  while (true) {
    text = Trimmed(text);
    if (text.empty()) break;
    const std::size_t blank = text.find(' ');
    values.append(IntegerOf(text.substr(0, blank)));
    if (blank == std::string_view::npos) break;
    text.remove_prefix(blank);
  }
  return values;
}

}  // namespace

py::object ValueOf(const mkp::TParamItem& item) {
  switch (FamilyOf(item.Code)) {
    case TFamily::Integer: return IntegerOf(item.Text);
    case TFamily::Real: return RealOf(item.Text);
    case TFamily::Text: return Text(item.Text);
    case TFamily::Integers: {
      py::list values = IntegersOf(item.Text);
      if (values.empty()) return py::none();
      if (values.size() == 1) return values[0];
      return values;
    }
  }
  return py::none();
}

py::list ValuesOf(const mkp::TParamList& results) {
  py::list values;
  for (const mkp::TParamItem& item : results.Items()) {
    if (FamilyOf(item.Code) == TFamily::Integers) {
      for (auto value : IntegersOf(item.Text)) values.append(value);
    } else {
      values.append(ValueOf(item));
    }
  }
  return values;
}

}  // namespace mkpy

PYBIND11_MODULE(_mkp, m) {
  m.doc() = "The MKP engine of mkpt: packets, frames, the packet analyser, serial ports, devices and a "
            "virtual bus with a simulated device.";
  m.attr("__version__") = MKPT_VERSION;
  mkpy::BindExceptions(m);
  mkpy::BindPacket(m);
  mkpy::BindPort(m);
  mkpy::BindDevice(m);
  mkpy::BindVirtualBus(m);
}
