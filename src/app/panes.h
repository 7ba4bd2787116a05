// The two log panes: a list view over a capped model of lines, and the feed
// through which lines made in any thread reach the window's thread in order.
#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/panes.h"

namespace mkpt {

// One line of a pane: the engine's text, when it happened, and the time it
// shows beside its text (worked out when the pane took it).
struct TPaneLine {
  std::string Text;  // Windows-1251
  mkp::TLineStamp Stamp;
  mkp::TShownTime Shown;
};

// Lines handed over from any thread; the window takes them in batches. Each
// line's shown time is worked out here, in the order the lines come. A feed
// that is not taken from for a while (a held pane) keeps only the newest lines
// a pane could hold, and counts the others as dropped by the cap.
class TPaneFeed : public mkp::TLogPane {
public:
  // answers: latencies are shown for answers (the decode pane).
  explicit TPaneFeed(bool answers = false) : timer_(answers) {}
  void AddLine(const std::string& line, const mkp::TLineStamp& stamp) override;
  // Everything added since the last call, oldest first; dropped, when given,
  // receives how many older lines the feed let go meanwhile.
  std::vector<TPaneLine> Take(std::uint64_t* dropped = nullptr);
  // The next line counts as the first of its pane again (the pane was cleared).
  void RestartTime();
  std::size_t Pending();

private:
  std::mutex lock_;
  std::deque<TPaneLine> pending_;
  std::uint64_t dropped_ = 0;
  mkp::TLineTimer timer_;
};

// A pane's lines with the cap of the engine's panes: holding more than
// MaxPaneLines lines, a pane loses its oldest line before a new one is added.
class TPaneModel : public QAbstractListModel {
  Q_OBJECT
public:
  static constexpr int ItemHeight = 14;
  static constexpr int Extent = 10000;  // horizontal scroll extent, px

  using QAbstractListModel::QAbstractListModel;
  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  // dropped: lines of the batch that a feed already let go (counted as taken).
  void Append(std::vector<TPaneLine> lines, std::uint64_t dropped = 0);
  void Clear();
  const std::deque<TPaneLine>& Lines() const { return lines_; }
  // Lines taken since the pane was made (the cap and Clear do not lower it).
  std::uint64_t Taken() const { return taken_; }
  // Whether each line shows its time; every line keeps its time either way.
  void SetShowTime(bool on);
  bool ShowTime() const { return showTime_; }
  // A line as the pane shows it (Windows-1251).
  std::string ShownLine(std::size_t row) const;
  QString ShownText(int row) const;
  // The lines as shown, as Windows-1251 text, each ending with CR LF.
  std::string Text() const;

private:
  std::deque<TPaneLine> lines_;
  std::uint64_t taken_ = 0;
  bool showTime_ = false;
};

class TPaneView : public QListView {
  Q_OBJECT
public:
  explicit TPaneView(QWidget* parent = nullptr);
  TPaneModel& Model() { return model_; }
  // Adds the lines; with autoscroll on, the newest line becomes the last
  // visible one when the pane holds more lines than fit.
  void Append(std::vector<TPaneLine> lines, bool autoScroll, std::uint64_t dropped = 0);
  // The number of whole lines that fit.
  int VisibleLines() const;

private:
  TPaneModel model_;
};

}  // namespace mkpt
