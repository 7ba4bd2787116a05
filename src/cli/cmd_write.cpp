// mkptool write: the "Transmit" of Registers mode without the window. Puts
// values into the "New value" cells of the registers table and sends one
// write packet per filled row to the device.
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "analysis_options.h"
#include "command.h"
#include "modes/device.h"
#include "modes/registers.h"
#include "modes/registers_ops.h"
#include "modes/registers_table.h"
#include "port_options.h"
#include "registers_options.h"
#include "text/cp1251.h"
#include "text/textcut.h"

namespace mkptool {

namespace {

int RunWrite(const std::vector<std::string>& arguments) {
  TAnalysisOptions analysis;
  TPortOptions port;
  TRegistersOptions options;
  TOptionTable optionTable = PortCommandOptions(analysis, port);
  AddRegistersOptions(optionTable, options, /*allowCycles=*/false);
  std::vector<std::string> args;
  if (!ReadPortCommandOptions("write", arguments, optionTable, port, args)) return 2;
  if (args.size() < 2) {
    std::cerr << "mkptool write: give a device description file (.rst) and at least one K=VALUE\n";
    return 2;
  }
  const std::string deviceFile = args[0];
  mkp::TDeviceModel model;
  const mkp::TLoadResult loaded = mkp::LoadDeviceDescription(deviceFile, model);
  if (ReportNothingUsable("write", loaded)) return 2;
  if (!loaded) {
    std::cerr << "mkptool write: cannot load the device description '" << deviceFile << "'\n";
    return 2;
  }
  mkp::TRegistersTable table;
  table.LoadNames(model.RegisterNames);

  std::set<int> rows;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const auto assignment = ReadAssignment(args[i]);
    if (!assignment) {
      std::cerr << "mkptool write: '" << args[i] << "' is not K=VALUE\n";
      return 2;
    }
    const auto& [row, value] = *assignment;
    if (row < 1 || row > table.RowCount()) {
      std::cerr << "mkptool write: the description has no register " << row << " (registers 1.."
                << table.RowCount() << ")\n";
      return 2;
    }
    table.SetNewValue(row, mkp::Utf8ToCp1251(value));
    if (!mkp::Trim(table.NewValue(row)).empty()) rows.insert(row);
  }

  TPortSession session;
  analysis.ApplyTo(session.Parser);
  if (!session.Open(port)) return 2;

  mkp::TThreadWaiter waiter;
  mkp::TTransmitContext context;
  context.Transport = &session.Transport;
  context.Parser = &session.Parser;
  context.Model = &model;
  context.Table = &table;
  context.DeviceAddress = options.DeviceAddress;
  context.Waiter = &waiter;
  int sent = 0;
  mkp::TransmitRegisters(context, &sent);

  int status = 0;
  for (const int row : rows) {
    if (mkp::TDeviceModel::ItemText(model.WriteTemplates, row - 1).empty()) {
      std::cerr << "mkptool write: register " << row << " has no write template\n";
      status = 1;
    }
  }
  if (sent < static_cast<int>(rows.size())) status = 1;
  std::cerr << "mkptool write: " << sent << " write packet(s) sent\n";
  return status;
}

const TCommandRegistrar registrar({
    "write",
    "write new register values to a device from a device description (.rst)",
    std::string(
        "Usage: mkptool write [PORT OPTIONS] [--hex CODE]... [--align] [--address A.B.C]\n"
        "                     DEVICE.rst K=VALUE...\n"
        "\n"
        "The \"Transmit\" of Registers mode: puts each VALUE into the \"New value\" of\n"
        "register K, waits RegSendTimeout1 ms, empties the line, and then for every\n"
        "register with a New value and a write template fills the template (its\n"
        "%K:TT% placeholders take the New value of register K, or its Current value\n"
        "when that is empty, encoded as type TT) and sends it, to the address given\n"
        "with --address when there is one; after each write it waits RegSendTimeout2\n"
        "ms, reads and logs the replies and waits RegSendTimeout3 ms. Replies are only\n"
        "logged, not checked.\n"
        "\n"
        "The pane lines are printed as they are produced (the pane name, a tab and\n"
        "the line); the number of write packets sent goes to standard error. Exit\n"
        "status 1 when a given register has no write template or a packet could not\n"
        "be sent, 2 for bad options or arguments, a description that cannot be\n"
        "loaded, or a port that could not be opened.\n"
        "\n"
        "Port options:\n") +
        PortOptionsHelp +
        "\nOther options:\n"
        "  --address A.B.C  send the writes to this device address instead of the\n"
        "                   destination written in the templates\n" +
        AnalysisOptionsHelp,
    RunWrite,
});

}  // namespace

}  // namespace mkptool
