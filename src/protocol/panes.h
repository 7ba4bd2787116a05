// The two log panes as the engine sees them: sinks of line records. The
// transport makes each record once, where the bytes are handled; the window's
// panes, the autosave files and mkptool's printer only format it.
#pragma once

#include <cstddef>
#include <string>

#include "protocol/linetime.h"

namespace mkp {

constexpr std::size_t MaxPaneLines = 8096;

// One pane line: its text, when it happened, and the time it shows beside
// its text (worked out from the line before it in the same pane).
struct TPaneLine {
  std::string Text;  // Windows-1251; control characters written visibly
  TLineStamp Stamp;
  TShownTime Shown;
};

// The line as a pane shows it: with its time in front (and an answer's
// latency after it) when withTime.
std::string ShownLine(const TPaneLine& line, bool withTime);

class TLogPane {
public:
  virtual ~TLogPane() = default;
  // One line. May be called from a worker thread: an implementation hands it
  // on to its own thread in call order.
  virtual void AddLine(const TPaneLine& line) = 0;
};

}  // namespace mkp
