// The two log panes: a list view over a capped model of lines, and the feed
// through which lines made in any thread reach the window's thread in order.
#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/linematch.h"
#include "protocol/panes.h"

namespace mkpt {

using mkp::TPaneLine;

// Line records handed over from any thread; the window takes them in
// batches. A feed that is not taken from for a while (a held pane) keeps only
// the newest lines a pane could hold, and counts the others as dropped by the
// cap.
class TPaneFeed : public mkp::TLogPane {
public:
  void AddLine(const TPaneLine& line) override;
  // Everything added since the last call, oldest first; dropped, when given,
  // receives how many older lines the feed let go meanwhile.
  std::vector<TPaneLine> Take(std::uint64_t* dropped = nullptr);
  std::size_t Pending();

private:
  std::mutex lock_;
  std::deque<TPaneLine> pending_;
  std::uint64_t dropped_ = 0;
};

// A pane's lines with the cap of the engine's panes: holding more than
// MaxPaneLines lines, a pane loses its oldest line before a new one is added.
// Its rows are all its lines, or, while a filter is on, only the lines that
// match the find text; the other lines stay in the pane and come back, in
// order, when the filter goes off.
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
  // The most lines a pane holds (MaxPaneLines + 1 unless set; a log window's
  // panes hold more).
  void SetCap(std::size_t lines) { keep_ = std::max<std::size_t>(lines, 1); }
  std::size_t Cap() const { return keep_; }
  void Clear();
  const std::deque<TPaneLine>& Lines() const { return lines_; }
  // Lines taken since the pane was made (the cap and Clear do not lower it).
  std::uint64_t Taken() const { return taken_; }
  // Whether each line shows its time; every line keeps its time either way.
  void SetShowTime(bool on);
  bool ShowTime() const { return showTime_; }
  // Line `line` of Lines() as the pane shows it (Windows-1251): with its time
  // while the time is shown (a line without one, of a log written without
  // times, shows its text alone).
  std::string ShownLine(std::size_t line) const;
  // The lines as shown, as Windows-1251 text, each ending with CR LF.
  std::string Text() const;

  // Line `line` of Lines() as the pane shows it; find, filter, copy and the
  // colours all go by this text.
  QString ShownText(std::size_t line) const;
  // The line of a row, and the row of a line (-1 while filtered out).
  std::size_t LineOfRow(int row) const;
  int RowOfLine(std::size_t line) const;

  // The find text (null or empty: none). The matching lines are kept up to
  // date as lines come and go.
  void SetMatcher(std::shared_ptr<const TLineMatcher> matcher);
  const TLineMatcher* Matcher() const { return matcher_ && matcher_->Valid() ? matcher_.get() : nullptr; }
  const TMatchIndex& Matches() const { return matches_; }
  // Shows only the matching lines while a valid find text is set.
  void SetFilter(bool on);
  bool Filtering() const { return filter_ && Matcher(); }

private:
  int RowsWanted() const;
  void Rebuild(bool wasFiltering);
  std::deque<TPaneLine> lines_;
  std::size_t keep_ = mkp::MaxPaneLines + 1;
  std::uint64_t taken_ = 0;
  bool showTime_ = false;
  int rows_ = 0;
  std::shared_ptr<const TLineMatcher> matcher_;
  TMatchIndex matches_;
  bool filter_ = false;
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
  // The selected lines as shown, one per line (what Ctrl+C copies).
  QString SelectedText() const;
  // Puts SelectedText() on the clipboard (nothing when no line is selected).
  void CopySelection();
  // The line of the current row, or -1.
  long long CurrentLine() const;
  // Makes the row of a line current and selected alone, and scrolls to it.
  void GoToLine(std::size_t line);
  // Sent, received and message lines in colours of the palette.
  void SetColoured(bool on);
  bool Coloured() const;

protected:
  void keyPressEvent(QKeyEvent* event) override;

private:
  TPaneModel model_;
  class TPaneDelegate* delegate_ = nullptr;
};

}  // namespace mkpt
