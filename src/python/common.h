// What the parts of the Python module share: its exception classes, text at
// the edge (Python str <-> Windows-1251), Ctrl+C during blocking calls, and
// the typed reading of decoded values.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <string>
#include <string_view>

#include "modes/device.h"
#include "protocol/packet.h"
#include "serial/line.h"
#include "text/paramlist.h"

namespace py = pybind11;

namespace mkpy {

struct TPacketValue;
struct TFrameResult;

// The module's exception classes (made by BindExceptions).
struct TExceptions {
  py::object Error;        // mkp.Error
  py::object FrameError;   // mkp.FrameError(Error, ValueError)
  py::object PortError;    // mkp.PortError(Error, OSError)
  py::object DeviceError;  // mkp.DeviceError(Error)
};
TExceptions& Exceptions();
void BindExceptions(py::module_& m);

// Raises a Python exception of the given class with a message (UTF-8).
[[noreturn]] void Raise(const py::handle& type, const std::string& message);
// FileNotFoundError for a missing file, ValueError with the loader's message
// for a file that yields nothing or cannot be read.
[[noreturn]] void RaiseLoadError(const std::string& path, const std::string& what, const std::string& message);

// Engine text (Windows-1251) as a Python str, and back.
py::str Text(std::string_view cp1251);
std::string EngineText(const py::handle& text);
// A file name given as str or os.PathLike.
std::string PathArg(const py::handle& path);
// Bytes from bytes, bytearray or memoryview.
std::string BytesArg(const py::handle& data);

// Ctrl+C while a call waits with the interpreter's lock released: the
// callback asks the interpreter for pending signals (taking the lock for
// that); once a handler raised, the call ends and ThrowIfRaised() passes the
// exception (KeyboardInterrupt) on.
class TSignalWatch {
public:
  mkp::TSerialLine::TInterrupted Callback();
  // With the lock held again, after the call.
  void ThrowIfRaised() const;

private:
  bool raised_ = false;
};

// The value of one decoded value text, by the type code it was decoded with:
// int for the integer types, float for the reals, str for the rest; a run
// of BYTE or BCD_BYTE values (one text) becomes a list of int.
py::object ValueOf(const mkp::TParamItem& item);
// All values of a description, a run of BYTE values spread out.
py::list ValuesOf(const mkp::TParamList& results);

// A bus address given as six hex digits ("010203") or 3 bytes; ValueError
// naming the argument otherwise.
mkp::TVorelAddr AddressArg(const py::handle& value, const char* name);

// A Python Packet object for a packet value, and a Frame object.
py::object PacketObject(const TPacketValue& packet);
py::object FrameObject(TFrameResult&& frame);

// A device description (.rst) by file name: FileNotFoundError, or
// ValueError for a file that yields nothing.
std::unique_ptr<mkp::TDeviceModel> LoadDescription(const std::string& path);
// A register given by number (1..65535) or by name (str, as the description
// names it); KeyError for a name the description does not have.
int RegisterNumber(const mkp::TDeviceModel& model, const py::handle& key);
// The name of a register as a dict key: its name, or its number when it has
// none.
py::object RegisterKey(const mkp::TDeviceModel& model, int reg);
// A register value as the Registers page writes it: "1000", "21.5", "MKP-1",
// "5 6" for a list of BYTE values.
std::string ValueText(const py::handle& value);

void BindPacket(py::module_& m);
void BindPort(py::module_& m);
void BindDevice(py::module_& m);
void BindVirtualBus(py::module_& m);

}  // namespace mkpy
