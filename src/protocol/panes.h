// The two log panes as the engine sees them: sinks of lines. The window's
// list boxes and mkptool's printer implement TLogPane; TPaneLines is the
// one model of a pane's lines with its cap, used by the window too.
#pragma once

#include <cstddef>
#include <deque>
#include <string>

#include "protocol/linetime.h"

namespace mkp {

constexpr std::size_t MaxPaneLines = 8096;

class TLogPane {
public:
  virtual ~TLogPane() = default;
  // One line (8-bit Windows-1251 text) and when it happened. May be called
  // from a worker thread: an implementation hands it on to its own thread in
  // call order.
  virtual void AddLine(const std::string& line, const TLineStamp& stamp) = 0;
};

// A pane's lines: a pane holding more than MaxPaneLines lines loses its first
// line before a new one is added, so it never holds more than MaxPaneLines + 1.
class TPaneLines {
public:
  void Add(std::string line) {
    if (lines_.size() > MaxPaneLines) lines_.pop_front();
    lines_.push_back(std::move(line));
  }
  void Clear() { lines_.clear(); }
  std::size_t Count() const { return lines_.size(); }
  const std::string& operator[](std::size_t i) const { return lines_[i]; }
  const std::deque<std::string>& Lines() const { return lines_; }

private:
  std::deque<std::string> lines_;
};

}  // namespace mkp
