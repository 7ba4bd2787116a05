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

// One line of a pane: the engine's text and when it was made (room for the
// optional receive times of a later version).
struct TPaneLine {
  std::string Text;  // Windows-1251
  std::chrono::system_clock::time_point Made;
};

// Lines handed over from any thread; the window takes them in batches.
class TPaneFeed : public mkp::TLogPane {
public:
  void AddLine(const std::string& line) override;
  // Everything added since the last call, oldest first.
  std::vector<TPaneLine> Take();

private:
  std::mutex lock_;
  std::vector<TPaneLine> pending_;
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

  void Append(std::vector<TPaneLine> lines);
  void Clear();
  const std::deque<TPaneLine>& Lines() const { return lines_; }
  // Lines taken since the pane was made (the cap and Clear do not lower it).
  std::uint64_t Taken() const { return taken_; }
  // The lines as Windows-1251 text, each ending with CR LF.
  std::string Text() const;

private:
  std::deque<TPaneLine> lines_;
  std::uint64_t taken_ = 0;
};

class TPaneView : public QListView {
  Q_OBJECT
public:
  explicit TPaneView(QWidget* parent = nullptr);
  TPaneModel& Model() { return model_; }
  // Adds the lines; with autoscroll on, the newest line becomes the last
  // visible one when the pane holds more lines than fit.
  void Append(std::vector<TPaneLine> lines, bool autoScroll);
  // The number of whole lines that fit.
  int VisibleLines() const;

private:
  TPaneModel model_;
};

}  // namespace mkpt
