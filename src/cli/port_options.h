// The port options shared by every mkptool command that uses the serial line
// (send, listen, slave, poll), and the engine objects such a command runs:
// channel, analyser and transport with the two panes printed to standard
// output.
#pragma once

#include <string>
#include <vector>

#include "analysis/parser.h"
#include "analysis_options.h"
#include "options.h"
#include "pane_printer.h"
#include "protocol/capture.h"
#include "protocol/transport.h"
#include "serial/comport.h"

namespace mkptool {

struct TPortOptions {
  std::string Port;           // "COM3", a device path, tcp://HOST:PORT or rfc2217://HOST:PORT
  std::string Speed = "9600";
  std::string StopBits = "1";
  std::string Parity = "none";
  int ReadInterval = 1;       // ms
  int WriteInterval = 0;      // ms; 0 writes at once
  bool Timestamps = false;    // --timestamps: the time of each pane line
  bool Echo = false;          // --echo: drop the echo of each write
  bool Rs485 = false;         // --rs485: ask the driver for RS-485 direction control
  std::string Pcap;           // --pcap FILE: every frame also goes to this capture
};

// Adds the port options to a command's option table: --port NAME, --baud N,
// --parity none|odd|even|mark|space, --stop 1|1.5|2, --read-interval MS,
// --write-interval MS, --settings FILE (all six taken from a "mkpt.ini"
// file), --echo, --rs485, --timestamps and --pcap FILE.
void AddPortOptions(TOptionTable& table, TPortOptions& options);
// The options every port command takes: the analysis switches and the port
// options.
TOptionTable PortCommandOptions(TAnalysisOptions& analysis, TPortOptions& port);
// Reads a port command's options (see ReadOptions) and checks that a port
// was given; false after a message on standard error (exit status 2).
bool ReadPortCommandOptions(const std::string& command, const std::vector<std::string>& args,
                            const TOptionTable& table, const TPortOptions& port,
                            std::vector<std::string>& positionals);

// The option lines for a command's --help text.
extern const char* const PortOptionsHelp;

// Channel, analyser (both decode switches on) and transport, with the
// terminal and decode panes printed to standard output and DecodeEnabled on.
struct TPortSession {
  mkp::TCOMPortChannel Channel;
  mkp::TMKPParser Parser;
  TPanePrinter Terminal{"terminal"};
  TPanePrinter Decode{"decode"};
  mkp::TCaptureWriter Capture;  // with --pcap
  mkp::TMKProtocolTransport Transport{&Channel};

  TPortSession();
  TPortSession(const TPortSession&) = delete;
  TPortSession& operator=(const TPortSession&) = delete;

  // Opens the port (and sets the panes' time stamps); on failure prints "Invalid port settings!" to standard
  // error, and the channel's reason on a second line, and returns false (the
  // command then exits with status 2). A line option the port cannot take
  // ("RS-485 mode not supported by this port") is told on standard error;
  // the port opens all the same. With --pcap it then creates the
  // capture, one interface for the port and one for port2 when given, and
  // hands it every frame the transport moves; a capture that cannot be
  // created is a failure too ("mkptool: FILE: cannot create: reason"). A
  // capture that cannot be written later is said once on standard error and
  // ends there; the command goes on.
  bool Open(const TPortOptions& options, const std::string& port2 = {});
  ~TPortSession();
};

}  // namespace mkptool
