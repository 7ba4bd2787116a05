// mkptool redecode: rebuilds the decode pane from a terminal log.
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/parser.h"
#include "analysis_options.h"
#include "command.h"
#include "protocol/linetime.h"
#include "text/controlchars.h"
#include "text/cp1251.h"

namespace mkptool {

namespace {

// The Master page logs a raw send as its full-packet text: the header bytes,
// two blanks and the header checksum, then (with data) " - ", the data bytes,
// two blanks and the data checksum. Its decode line described the header and
// data fields only, so the checksums are dropped here. The transport's text
// form ("010203.0A0B0C.07.05.0300 - 05 34 12 ") never holds two blanks.
std::string WithoutChecksums(const std::string& text) {
  const std::size_t dash = text.find(" - ");
  std::string head = text.substr(0, dash);
  if (head.find('.') != std::string::npos || head.find("  ") == std::string::npos) return text;
  head.erase(head.find("  "));
  if (dash == std::string::npos) return head;
  std::string data = text.substr(dash + 3);
  if (std::size_t gap = data.find("  "); gap != std::string::npos) data.erase(gap);
  return head + " - " + data;
}

// The direction of a received line: "<- ", or a monitor port's "<-1 ",
// "<-2 "; 0 when the line is no received line.
std::size_t ReceivedPrefixLength(std::string_view text) {
  if (text.rfind("<- ", 0) == 0) return 3;
  if (text.size() >= 4 && text.rfind("<-", 0) == 0 && (text[2] == '1' || text[2] == '2') && text[3] == ' ') return 4;
  return 0;
}

// The decode pane line that a terminal pane line gives; a line shown with its
// time keeps the time in front.
std::string RedecodeLine(mkp::TMKPParser& parser, const std::string& whole) {
  const std::size_t timed = mkp::TimePrefixLength(whole);
  const std::string time = whole.substr(0, timed);
  const std::string line = whole.substr(timed);
  std::string_view text = line;
  if (text == "-> Transmit error!") return whole;
  if (text.rfind("-> ", 0) == 0)
    return time + "-> " + mkp::ShowControlChars(parser.DescribeMaster(WithoutChecksums(line.substr(3))));
  if (const std::size_t n = ReceivedPrefixLength(text); n > 0) {
    const std::string prefix = line.substr(0, n);
    if (text.substr(n).rfind("Missing format", 0) == 0) return time + prefix + "Missing format";
    return time + prefix + mkp::ShowControlChars(parser.DescribeSlave(line.substr(n)));
  }
  return whole;
}

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
  std::ifstream in(files[0], std::ios::binary);
  if (!in) {
    std::cerr << "mkptool redecode: cannot open '" << files[0] << "'\n";
    return 1;
  }
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    std::cerr << "mkptool redecode: cannot read '" << files[0] << "'\n";
    return 1;
  }

  mkp::TMKPParser parser;
  options.ApplyTo(parser);
  std::size_t pos = 0;
  while (pos < content.size()) {
    std::size_t end = content.find('\n', pos);
    std::string line =
        content.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? content.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string decoded = RedecodeLine(parser, line);
    if (cp1251) {
      std::cout << decoded << "\r\n";
    } else {
      PrintEngineText(std::cout, decoded);
      std::cout << '\n';
    }
  }
  std::cout.flush();
  return 0;
}

const TCommandRegistrar registrar({
    "redecode",
    "rebuild the decode pane from a terminal log",
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
    "Options:\n" +
        std::string(AnalysisOptionsHelp) +
        "  --cp1251     write Windows-1251 text with CR LF line ends, like a dcd_\n"
        "               file (default: UTF-8 with LF)\n",
    RunRedecode,
});

}  // namespace

}  // namespace mkptool
