// mkp.VirtualBus.
#include <pybind11/stl.h>

#include "modes/slavetable.h"
#include "python/common.h"
#include "python/virtualbus.h"

namespace mkpy {

namespace {

struct TPyBus {
  std::unique_ptr<TVirtualBus> Bus;
};

TVirtualBus& Open(TPyBus& bus) {
  if (!bus.Bus || bus.Bus->Closed()) Raise(Exceptions().PortError, "the virtual bus is closed");
  return *bus.Bus;
}

int Count(int value, const char* name) {
  if (value < 0) throw py::value_error(std::string(name) + " must be 0 or more");
  return value;
}

void Simulate(TPyBus& bus, const py::handle& description, const py::handle& values, const py::handle& drift,
              int dropEvery, int corruptEvery, int wrongEvery, int delayMs, const py::handle& table) {
  TVirtualBus& open = Open(bus);
  auto simulation = std::make_unique<TSimulation>();
  const std::string path = PathArg(description);
  simulation->Model = LoadDescription(path);
  if (!values.is_none()) {
    for (const auto& [key, value] : values.cast<py::dict>())
      simulation->Values.emplace_back(RegisterNumber(*simulation->Model, key), ValueText(value));
  }
  if (!drift.is_none()) {
    for (const auto& [key, step] : drift.cast<py::dict>())
      simulation->Drift.emplace_back(RegisterNumber(*simulation->Model, key), step.cast<double>());
  }
  simulation->Misbehaviour.DropEvery = Count(dropEvery, "drop_every");
  simulation->Misbehaviour.CorruptEvery = Count(corruptEvery, "corrupt_every");
  simulation->Misbehaviour.WrongEvery = Count(wrongEvery, "wrong_every");
  simulation->Misbehaviour.DelayMs = Count(delayMs, "delay_ms");
  if (!table.is_none()) {
    const std::string tablePath = PathArg(table);
    simulation->Table = std::make_unique<mkp::TSlaveTable>();
    const mkp::TLoadResult loaded = mkp::LoadSlaveTable(*simulation->Table, tablePath);
    if (!loaded) RaiseLoadError(tablePath, "slave table", loaded.Message());
  }
  TSignalWatch watch;
  std::string failure;
  {
    py::gil_scoped_release release;
    try {
      open.Simulate(std::move(simulation), watch.Callback());
    } catch (const std::runtime_error& e) {
      failure = e.what();
    }
  }
  if (!failure.empty()) Raise(Exceptions().PortError, failure);
  watch.ThrowIfRaised();
}

void Close(TPyBus& bus) {
  if (!bus.Bus) return;
  py::gil_scoped_release release;
  bus.Bus->Close();
}

}  // namespace

void BindVirtualBus(py::module_& m) {
  py::class_<TPyBus>(m, "VirtualBus",
                     "A virtual serial bus: a pseudo-terminal pair. A master opens its port with open_port(bus.port); "
                     "simulate() plays the simulated device of a device description on the other end, in a thread, "
                     "until the bus is closed. Usable as a context manager, which closes it.")
      .def(py::init([] {
        auto bus = std::make_unique<TPyBus>();
        TSignalWatch watch;
        std::string failure;
        {
          py::gil_scoped_release release;
          try {
            bus->Bus = std::make_unique<TVirtualBus>(watch.Callback());
          } catch (const std::runtime_error& e) {
            failure = e.what();
          }
        }
        if (!failure.empty()) Raise(Exceptions().PortError, failure);
        watch.ThrowIfRaised();
        return bus;
      }))
      .def_property_readonly(
          "port", [](const TPyBus& b) { return b.Bus->Port(); }, "The device path a master opens.")
      .def_property_readonly("closed", [](const TPyBus& b) { return b.Bus->Closed(); })
      .def("simulate", &Simulate, py::arg("description"), py::arg("values") = py::none(),
           py::arg("drift") = py::none(), py::arg("drop_every") = 0, py::arg("corrupt_every") = 0,
           py::arg("wrong_every") = 0, py::arg("delay_ms") = 5, py::arg("table") = py::none(),
           "Plays the device of a device description (.rst) on the bus, in place of any device playing before. "
           "values: {register: value} to start with (registers by name or number; int, float, str, or a list of "
           "BYTE values); drift: {register: step}, each read moving the value by the step, ten steps up and then "
           "ten down. On the Nth, 2Nth, ... read request it misbehaves on purpose: no answer (drop_every), an "
           "answer with a broken checksum (corrupt_every), an answer of another data type (wrong_every). "
           "delay_ms: the pause before each answer. table: a slave table (.smt) answering other packets.")
      .def_property_readonly(
          "log",
          [](TPyBus& b) {
            py::list lines;
            for (const auto& [pane, text] : b.Bus->Log().Lines())
              lines.append(py::make_tuple(pane == TPane::Terminal ? "terminal" : "decode", Text(text)));
            return lines;
          },
          "The device end's pane lines, as Port.log (also after the bus is closed).")
      .def("close", &Close, "Stops the device and closes the bus (closing again does nothing).")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](TPyBus& b, const py::args&) { Close(b); })
      .def("__repr__", [](const TPyBus& b) {
        return "<mkp.VirtualBus " + py::repr(py::str(b.Bus->Port())).cast<std::string>() +
               (b.Bus->Closed() ? " closed>" : ">");
      });
}

}  // namespace mkpy
