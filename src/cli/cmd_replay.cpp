// mkptool replay: writes the frames of a capture to a port again, with their
// recorded gaps, and prints what comes back.
#include <charconv>
#include <chrono>
#include <cmath>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "analysis_options.h"
#include "command.h"
#include "modes/monitor.h"
#include "modes/replay.h"
#include "port_options.h"
#include "signals.h"

namespace mkptool {

namespace {

using namespace std::chrono_literals;

int RunReplay(const std::vector<std::string>& arguments) {
  TAnalysisOptions analysis;
  TPortOptions port;
  mkp::TReplayOptions replay;
  TOptionTable optionTable = PortCommandOptions(analysis, port);
  optionTable.push_back({"--direction", true, [&](const std::string& value, std::string& error) {
                           if (value == "in") replay.Direction = mkp::TReplayDirection::In;
                           else if (value == "out") replay.Direction = mkp::TReplayDirection::Out;
                           else if (value == "all") replay.Direction = mkp::TReplayDirection::All;
                           else {
                             error = "--direction must be in, out or all, not '" + value + "'";
                             return false;
                           }
                           return true;
                         }});
  optionTable.push_back({"--speed", true, [&](const std::string& value, std::string& error) {
                           double speed = 0;
                           const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), speed);
                           if (value.empty() || ec != std::errc() || end != value.data() + value.size() ||
                               !std::isfinite(speed) || speed < 0.001 || speed > 1000000) {
                             error = "--speed must be a number from 0.001 to 1000000, not '" + value + "'";
                             return false;
                           }
                           replay.Speed = speed;
                           return true;
                         }});
  optionTable.push_back(Flag("--loop", replay.Loop));
  std::vector<std::string> files;
  if (!ReadPortCommandOptions("replay", arguments, optionTable, port, files)) return 2;
  if (files.size() != 1) {
    std::cerr << "mkptool replay: give exactly one capture file\n";
    return 2;
  }
  {
    // A file that is no capture is refused before the port is touched.
    mkp::TCaptureReader check;
    mkp::TCapturedFrame frame;
    if (!check.Open(files[0]) || check.Next(frame) == mkp::TCaptureReader::TStep::Failed) {
      if (check.FramesRead() == 0) {
        std::cerr << "mkptool replay: " << check.Error() << "\n";
        return 2;
      }
    }
  }

  TPortSession session;
  analysis.ApplyTo(session.Parser);
  mkp::TMKPParser replayParser;
  analysis.ApplyTo(replayParser);
  InstallStopSignals();
  if (!session.Open(port)) return 2;

  // What comes back is read and logged while the frames go out.
  mkp::TWorker<mkp::TBusMonitor> monitor;
  monitor.SetTransport(&session.Transport);
  monitor.SetLines(&session.Channel);
  monitor.Start();

  mkp::TWorker<mkp::TCaptureReplay> replayer;
  replayer.SetTransport(&session.Transport);
  replayer.SetParser(&replayParser);
  replayer.SetCapture(files[0]);
  replayer.SetOptions(replay);
  replayer.Start();

  int status = 0;
  while (!StopRequested() && !replayer.Finished()) {
    if (session.Channel.PortLost()) {
      std::cerr << "mkptool replay: the port was lost: " << session.Channel.LastError() << "\n";
      status = 1;
      break;
    }
    std::this_thread::sleep_for(5ms);
  }
  replayer.Terminate();
  replayer.WaitFor();
  // The answers to the last frames: read on until the line has been quiet
  // for a while (a frame's read time-out at most).
  if (status == 0 && !StopRequested()) {
    const auto end = std::chrono::steady_clock::now() + 2068ms;
    auto seen = monitor.Frames() + monitor.BadReads();
    auto quietSince = std::chrono::steady_clock::now();
    while (!StopRequested() && std::chrono::steady_clock::now() < end &&
           std::chrono::steady_clock::now() - quietSince < 250ms) {
      std::this_thread::sleep_for(5ms);
      if (const auto now = monitor.Frames() + monitor.BadReads(); now != seen) {
        seen = now;
        quietSince = std::chrono::steady_clock::now();
      }
    }
  }
  monitor.Terminate();
  monitor.WaitFor();
  if (const std::string error = replayer.Error(); !error.empty()) {
    std::cerr << "mkptool replay: " << error << "\n";
    status = 1;
  }
  if (replayer.WriteFailures() > 0) {
    std::cerr << "mkptool replay: " << replayer.WriteFailures() << " frames could not be written\n";
    status = 1;
  }
  return status;
}

const TCommandRegistrar registrar({
    "replay",
    "write the frames of a capture to a port again, with their recorded gaps",
    std::string("Usage: mkptool replay [PORT OPTIONS] [--direction in|out|all] [--speed X] [--loop]\n"
                "                      [--hex CODE]... [--align] CAPTURE\n"
                "\n"
                "Writes the frames of a capture (pcapng or pcap, link type 147) to the\n"
                "port, each exactly as captured, with the gaps between them that the\n"
                "capture records, to reproduce a field capture against a device or a\n"
                "master. The capture is read as it is replayed. Meanwhile the port is\n"
                "read as `mkptool monitor` reads it, so what comes back is printed too;\n"
                "the pane lines are printed as `mkptool listen` prints them (a frame\n"
                "written: \"-> \" and its packet text, or its bytes in hex when they form\n"
                "no frame). After the last frame the port is read until it has been quiet\n"
                "for 250 ms (2068 ms at most).\n"
                "\n"
                "Ends after the last frame (with --loop: starts over, after a pause as\n"
                "long as the first gap of the capture, until SIGINT or SIGTERM) with exit\n"
                "status 0; 1 when a frame could not be written, the port was lost or the\n"
                "capture is cut off (\"FILE: cut off after frame N\", after the frames\n"
                "before); 2 for bad options, a file that is no capture (\"FILE: not a\n"
                "capture of MKP frames\") or a port that could not be opened.\n"
                "\n"
                "Port options:\n") +
        PortOptionsHelp +
        "\nOther options:\n"
        "  --direction D  which frames: in (those received), out (those sent) or\n"
        "                 all (all, the default; a pcap file tells no direction:\n"
        "                 its frames count as received)\n"
        "  --speed X      play X times as fast (0.5: half as fast); default 1\n"
        "  --loop         start over after the last frame, until stopped\n" +
        AnalysisOptionsHelp,
    RunReplay,
});

}  // namespace

}  // namespace mkptool
