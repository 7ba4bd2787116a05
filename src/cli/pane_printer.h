// mkptool's log panes: each line goes to standard output as it is produced,
// as the pane name, a tab and the line in UTF-8 ("terminal\t-> 0A0B0C...").
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
  void AddLine(const std::string& line) override;

private:
  std::string name_;
  std::ostream& out_;
};

}  // namespace mkptool
