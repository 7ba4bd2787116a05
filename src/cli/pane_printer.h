// mkptool's log panes: each line goes to standard output as it is produced,
// as the pane name, a tab and the line in UTF-8 ("terminal\t-> 0A0B0C...").
// With time stamps on, the line's time comes after the tab
// ("terminal\t14:03:07.215 +16.042 -> 0A0B0C..."), and the decode line of an
// answer ends with its latency.
#pragma once

#include <iosfwd>
#include <string>

#include "protocol/panes.h"

namespace mkptool {

class TPanePrinter : public mkp::TLogPane {
public:
  // name: "terminal" or "decode". All printers share one lock, so lines from
  // several threads never mix and keep their order; each line is flushed.
  explicit TPanePrinter(std::string name);
  TPanePrinter(std::string name, std::ostream& out);
  void AddLine(const mkp::TPaneLine& line) override;
  // Set before lines arrive.
  void SetTimestamps(bool on) { timestamps_ = on; }

private:
  std::string name_;
  std::ostream& out_;
  bool timestamps_ = false;
};

}  // namespace mkptool
