// mkptool slave: plays a device on the serial line, answering every packet
// that matches a row of a slave table (".smt" file).
#include <sys/stat.h>

#include <chrono>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "analysis_options.h"
#include "command.h"
#include "modes/slave.h"
#include "modes/slavetable.h"
#include "port_options.h"
#include "signals.h"
#include "supervise.h"

namespace mkptool {

namespace {

using namespace std::chrono_literals;

// What tells a changed table file apart: its modification time and size.
struct TFileStamp {
  bool Exists = false;
  long long Seconds = 0;
  long long Nanoseconds = 0;
  long long Size = 0;
  bool operator==(const TFileStamp&) const = default;
};

TFileStamp StampOf(const std::string& fileName) {
  TFileStamp stamp;
  struct stat st {};
  if (::stat(fileName.c_str(), &st) != 0) return stamp;
  stamp.Exists = true;
  stamp.Seconds = static_cast<long long>(st.st_mtim.tv_sec);
  stamp.Nanoseconds = static_cast<long long>(st.st_mtim.tv_nsec);
  stamp.Size = static_cast<long long>(st.st_size);
  return stamp;
}

int RunSlave(const std::vector<std::string>& arguments) {
  TAnalysisOptions analysis;
  TPortOptions port;
  bool reload = false;
  TOptionTable optionTable = PortCommandOptions(analysis, port);
  optionTable.push_back(Flag("--reload", reload));
  std::vector<std::string> files;
  if (!ReadPortCommandOptions("slave", arguments, optionTable, port, files)) return 2;
  if (files.size() != 1) {
    std::cerr << "mkptool slave: give exactly one slave table file (.smt)\n";
    return 2;
  }
  const std::string tableFile = files[0];

  mkp::TSlaveTable table;
  TFileStamp stamp = StampOf(tableFile);
  const mkp::TLoadResult loaded = mkp::LoadSlaveTable(table, tableFile);
  if (ReportNothingUsable("slave", loaded)) return 2;
  if (!loaded) {
    std::cerr << "mkptool slave: cannot load the slave table '" << tableFile << "'\n";
    return 2;
  }

  TPortSession session;
  analysis.ApplyTo(session.Parser);
  InstallStopSignals();  // a stop asked for while the port opens counts too
  if (!session.Open(port)) return 2;

  mkp::TWorker<mkp::TSlaveAutoRepeater> responder;
  responder.SetTransport(&session.Transport);
  responder.SetTables(&table);
  responder.Start();

  TSupervision supervision{"slave", &session, port, &responder, nullptr};
  auto nextCheck = std::chrono::steady_clock::now() + 200ms;
  if (reload) {
    supervision.OnTurn = [&] {
      if (std::chrono::steady_clock::now() < nextCheck) return;
      nextCheck = std::chrono::steady_clock::now() + 200ms;
      TFileStamp now = StampOf(tableFile);
      if (now == stamp || !now.Exists) return;  // a file briefly gone keeps the old table
      stamp = now;
      mkp::TLoadResult reloaded = false;
      {
        // Held between two packets for the load, as the window does.
        mkp::TWorkerPause pause(&responder);
        reloaded = mkp::LoadSlaveTable(table, tableFile);
      }
      if (reloaded)
        std::cerr << "mkptool slave: reloaded '" << tableFile << "' (" << table.RowCount() << " rows)\n";
      else if (reloaded.NothingUsable())  // a file being rewritten, say: the table in force stays
        std::cerr << "mkptool slave: " << reloaded.Message() << "; the table stays as it was\n";
      else
        std::cerr << "mkptool slave: could not reload '" << tableFile << "'\n";
    };
  }
  const int status = SuperviseWorker(supervision);
  // The responder ends after its current receive wait (about 2 s at most).
  responder.Terminate();
  responder.WaitFor();
  return status;
}

const TCommandRegistrar registrar({
    "slave",
    "answer packets on a serial port from a slave table (.smt)",
    std::string("Usage: mkptool slave [PORT OPTIONS] [--reload] [--hex CODE]... [--align] TABLE.smt\n"
                "\n"
                "Plays a device: receives every packet on the line and, when it equals the\n"
                "\"Received packet\" of a row of the table (the first such row from the top),\n"
                "waits 5 ms and sends that row's \"Packet to answer\" exactly as written.\n"
                "A row whose answer is empty or not packet text answers nothing. Each line\n"
                "of the table file is \"<received packet> [packet to answer]\".\n"
                "\n"
                "The pane lines are printed as they are produced, each as the pane name, a\n"
                "tab and the line (see `mkptool listen --help`). Runs until SIGINT or SIGTERM,\n"
                "then stops after the packet in hand and exits with status 0. When an\n"
                "answer cannot be written (\"-> Transmit error!\"), the port and the cause\n"
                "go to standard error and the port is opened again with the same settings.\n"
                "Exit status 1 when the port is lost or cannot be opened again, 2 for bad\n"
                "options, a table that cannot be loaded or holds no row whose received\n"
                "packet is packet text (\"no slave table rows found\"), or a port that\n"
                "could not be opened (\"Invalid port settings!\").\n"
                "\n"
                "Port options:\n") +
        PortOptionsHelp +
        "\nOther options:\n"
        "  --reload     load the table again whenever the file changes on disk\n"
        "               (checked every 200 ms; the responder waits between two\n"
        "               packets while it loads)\n" +
        AnalysisOptionsHelp,
    RunSlave,
});

}  // namespace

}  // namespace mkptool
