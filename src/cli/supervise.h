// The loop of the commands that run a worker on the serial line until they
// are stopped (slave, poll): it watches the worker and the port, reopens the
// port after a failed write, and ends on a stop signal, when the worker ends,
// or when the port is gone.
#pragma once

#include <functional>
#include <string>

#include "modes/worker.h"
#include "port_options.h"

namespace mkptool {

struct TSupervision {
  std::string Command;  // "slave", "poll": the prefix of the messages
  TPortSession* Session = nullptr;
  TPortOptions Port;    // the settings to reopen the port with
  mkp::TWorkerThread* Worker = nullptr;
  // Called on every turn of the loop (about every 20 ms), in the loop's thread.
  std::function<void()> OnTurn;
};

// Starts nothing; runs until a stop signal (or RequestStop), the worker's
// end, or the loss of the port, and returns the exit status:
// - 0 after a stop request;
// - 1 when the worker ended on its own (its error, if any, on standard
//   error), when the port was lost, or when it could not be opened again.
// A network port whose connection broke is not given up: the loop says so,
// holds the worker and connects again every second until it works (or a
// stop is asked for), then lets the worker go on.
// A write that failed leaves the port refusing every read and write: the
// loop says so on standard error (the port and the cause, one line), holds
// the worker between two steps, opens the port again with the same settings
// and lets the worker go on; it does so at most once a second.
// The caller stops and joins the worker afterwards.
int SuperviseWorker(const TSupervision& supervision);

// For a network port whose connection broke: says so on standard error
// ("mkptool COMMAND: PORT: Connection lost: ...; connecting again") and
// connects again every second until it works (true) or a stop is asked for
// (false); each new reason it fails for is told once.
bool ReconnectNetworkPort(mkp::TCOMPortChannel& channel, const TPortOptions& port, const std::string& command);

}  // namespace mkptool
