// mkptool learn: the slave table that answers a recorded master as the
// recorded device did, learned from a capture.
#include <charconv>
#include <iostream>
#include <string>
#include <vector>

#include "command.h"
#include "modes/learn.h"
#include "modes/slavetable.h"
#include "options.h"

namespace mkptool {

namespace {

int RunLearn(const std::vector<std::string>& arguments) {
  std::string out;
  mkp::TLearnOptions options;
  TOptionTable optionTable{
      Text("--out", out, "file name"),
      {"--master-port", true, [&](const std::string& value, std::string& error) {
         int port = 0;
         const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
         if (value.empty() || ec != std::errc() || end != value.data() + value.size() || port < 1 || port > 2) {
           error = "--master-port must be 1 or 2, not '" + value + "'";
           return false;
         }
         options.MasterInterface = port;
         return true;
       }},
  };
  std::vector<std::string> files;
  if (!ReadOptions("learn", arguments, optionTable, files)) return 2;
  if (files.size() != 1) {
    std::cerr << "Usage: mkptool learn [--out TABLE.smt] [--master-port N] CAPTURE\n";
    return 2;
  }
  std::vector<mkp::TSlaveRow> rows;
  std::string error;
  mkp::TLearnStats stats;
  const bool read = mkp::LearnSlaveTable(files[0], rows, error, &stats, options);
  if (!read && rows.empty()) {
    std::cerr << "mkptool learn: " << error << "\n";
    return 1;
  }
  if (!read) std::cerr << "mkptool learn: " << error << "; the rows learned before it are kept\n";
  std::cerr << "mkptool learn: " << stats.Requests << " requests, " << stats.Answered << " answered ("
            << stats.Repeats << " repeated), " << stats.Unanswered << " unanswered: " << rows.size() << " rows\n";
  if (out.empty()) {
    // The lines of the file, with LF line ends.
    for (const auto& row : rows) std::cout << '<' << row.Received << "> [" << row.Answer << "]\n";
    std::cout.flush();
  } else {
    mkp::TSlaveTable table;
    table.SetRows(rows);
    if (!mkp::SaveSlaveTable(table, out)) {
      std::cerr << "mkptool learn: cannot write '" << out << "'\n";
      return 1;
    }
  }
  return read ? 0 : 1;
}

const TCommandRegistrar registrar({
    "learn",
    "learn a slave table (.smt) from a capture: the device's answers to the master",
    "Usage: mkptool learn [--out TABLE.smt] [--master-port N] CAPTURE\n"
    "\n"
    "Reads a capture (pcapng or pcap, link type 147) of a conversation between\n"
    "a master and a device and makes the slave table that answers the master\n"
    "as the device did. Every frame sent that was answered becomes a row\n"
    "\"<received packet> [packet to answer]\": the frame sent as the packet\n"
    "received, the answer as the packet to answer. The answer is the next\n"
    "whole frame received within the read time-out of a frame (2068 ms) and\n"
    "before the next frame sent; a frame sent without one is left out. A\n"
    "pair seen before is not added again; rows keep the order in which their\n"
    "pairs were first seen. Bytes that formed no frame are passed over. Then\n"
    "`mkptool slave TABLE.smt` plays the recorded device.\n"
    "\n"
    "A capture of `mkptool monitor` holds received frames only: --master-port N\n"
    "takes the frames of its port N as the master's and those of the other\n"
    "port as the answers.\n"
    "\n"
    "The counts (requests, answered, repeated, unanswered, rows) go to standard\n"
    "error. Exit status 1 when the capture cannot be read (\"FILE: not a\n"
    "capture of MKP frames\"), or is cut off (\"FILE: cut off after frame N\":\n"
    "the rows learned before are still written), or the table cannot be\n"
    "written; 2 for bad options.\n"
    "\n"
    "Options:\n"
    "  --out FILE       write the table to FILE (CR LF lines, as the Slave page\n"
    "                   saves it); default: print its rows on standard output\n"
    "  --master-port N  the master's frames are those captured on port N (1 or 2)\n",
    RunLearn,
});

}  // namespace

}  // namespace mkptool
