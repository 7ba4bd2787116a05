// The two log panes under the pages: the terminal pane and the decode pane
// side by side with the splitter between them, the find bar under them, and
// the feeds through which the lines of the transport reach them.
#pragma once

#include <QWidget>

#include "app/panes.h"

class QSplitter;

namespace mkpt {

class TFindBar;

class TLogPanes : public QWidget {
  Q_OBJECT
public:
  explicit TLogPanes(QWidget* parent = nullptr);

  TPaneFeed& TerminalFeed() { return terminalFeed_; }
  TPaneFeed& DecodeFeed() { return decodeFeed_; }
  // Moves the lines the feeds hold into the panes.
  void Drain(bool autoScroll);
  // Empties both panes and what their feeds still hold.
  void Clear();
  // Writes the terminal pane to the chosen name with the extension ".tr1"
  // and the decode pane with ".tr2" (the chosen name's own extension cut
  // off), Windows-1251, CR LF. Without withTerminal, the decode pane alone.
  void Save(const QString& chosen, bool withTerminal = true);
  // Lays the panes out in the panel's area: the find bar at the bottom while
  // it is shown, the panes above it with the widths given.
  void Place(int width, int height, int terminalWidth, int decodeWidth);

  QSplitter* Splitter = nullptr;
  TPaneView* TerminalLB = nullptr;
  TPaneView* DecodeTerminalLB = nullptr;
  TFindBar* FindBar = nullptr;

signals:
  // The user moved the splitter: the terminal pane's share of the width.
  void SplitMoved(double ratio);
  // The find bar was shown or hidden.
  void FindBarToggled();

private:
  TPaneFeed terminalFeed_, decodeFeed_;
};

}  // namespace mkpt
