// mkptool redecode: rebuilds the decode pane from a terminal log or a
// capture, reading the file as it goes.
#include <iostream>
#include <string>
#include <vector>

#include "analysis/parser.h"
#include "analysis_options.h"
#include "command.h"
#include "modes/logfile.h"
#include "text/cp1251.h"

namespace mkptool {

namespace {

int RunRedecode(const std::vector<std::string>& arguments) {
  TAnalysisOptions options;
  bool cp1251 = false;
  TOptionTable optionTable;
  AddAnalysisOptions(optionTable, options);
  optionTable.push_back(Flag("--cp1251", cp1251));
  std::vector<std::string> files;
  if (!ReadOptions("redecode", arguments, optionTable, files)) return 2;
  if (files.size() != 1) {
    std::cerr << "Usage: mkptool redecode [--hex CODE]... [--align] [--cp1251] FILE\n";
    return 2;
  }
  mkp::TMKPParser parser;
  options.ApplyTo(parser);
  mkp::TLogFileReader reader(parser);
  // A decode log is read as a terminal log is: its lines are no packets and
  // come out unchanged.
  const mkp::TLogFileKind kind = mkp::LogFileKindOf(files[0]) == mkp::TLogFileKind::Capture
                                     ? mkp::TLogFileKind::Capture
                                     : mkp::TLogFileKind::TerminalLog;
  if (!reader.Open(files[0], kind)) {
    std::cerr << "mkptool redecode: cannot open '" << files[0] << "'\n";
    return 1;
  }
  mkp::TLogEntry entry;
  std::string line;
  while (reader.Next(entry)) {
    line = entry.Timed ? mkp::ShownLine(entry.Decode, true) : entry.WrittenTime + entry.Decode.Text;
    if (cp1251) {
      std::cout << line << "\r\n";
    } else {
      PrintEngineText(std::cout, line);
      std::cout << '\n';
    }
  }
  std::cout.flush();
  if (!reader.Error().empty()) {
    std::cerr << "mkptool redecode: " << reader.Error() << "\n";
    return 1;
  }
  return 0;
}

const TCommandRegistrar registrar({
    "redecode",
    "rebuild the decode pane from a terminal log or a capture",
    "Usage: mkptool redecode [--hex CODE]... [--align] [--cp1251] FILE\n"
    "\n"
    "Reads a terminal log (the autosave file MKPTest.trm or a .tr1 pane dump;\n"
    "Windows-1251 text, CR LF or LF line ends) and prints the decode pane that\n"
    "its lines give:\n"
    "  -> TEXT                     -> and the description of TEXT as a sent packet\n"
    "  <- TEXT                     <- and the description of TEXT as a received one\n"
    "  <- Missing format : ...     <- Missing format\n"
    "  -> Transmit error!          unchanged\n"
    "A raw send of the Master page (its full-packet text, checksums included)\n"
    "is described from its header and data bytes, as the pane did. A monitor's\n"
    "\"<-1 \" and \"<-2 \" lines are read as received ones. A line that starts\n"
    "with its time (\"14:03:07.215 +16.042 \", a log saved with the time shown)\n"
    "is decoded after the time and keeps it in front. Any other line is printed\n"
    "unchanged.\n"
    "\n"
    "FILE may also be a capture: a pcapng or pcap file of link type 147 (made\n"
    "with --pcap, by the extcap, or by another program, for example\n"
    "text2pcap -l 147). Each frame prints its decode line with the capture's\n"
    "time in front, as --timestamps shows it:\n"
    "  14:03:07.215 +16.042 <- 010203>>0A0B0C ANSW type 05 : reg 01 = 1000  (answer after 12.3 ms)\n"
    "Sent frames are \"-> \" lines; received ones \"<- \" (\"<-1 \", \"<-2 \" for a\n"
    "capture of two ports; a pcap file tells no direction: \"<- \"); bytes that\n"
    "formed no frame \"<- Missing format\".\n"
    "\n"
    "The file is read as it is printed, so its size does not matter. A file\n"
    "that cannot be opened, a capture of something else (\"FILE: not a capture\n"
    "of MKP frames\") and a capture cut off or damaged (\"FILE: cut off after\n"
    "frame N\", after the lines of the frames before) give exit status 1.\n"
    "\n"
    "Options:\n" +
        std::string(AnalysisOptionsHelp) +
        "  --cp1251     write Windows-1251 text with CR LF line ends, like a dcd_\n"
        "               file (default: UTF-8 with LF)\n",
    RunRedecode,
});

}  // namespace

}  // namespace mkptool
