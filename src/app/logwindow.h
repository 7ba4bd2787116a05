// A log window: a capture, a saved pane file or an autosave file opened again
// in a window of its own, with the two panes of the main window, "Show time",
// the find bar with its filter, the colours, copying and "Save to file". The
// file loads in a thread of its own: its lines appear as they are read, the
// progress shows under the panes, and "Cancel" (or closing the window) stops
// the loading with the lines read so far kept.
//
// A capture and a terminal log get their decode pane made anew by an analyser
// with the settings the main window's had when the log was opened; a decode
// log is shown as it is, in the decode pane alone.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <deque>
#include <memory>

#include "app/logloader.h"

class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTimer;

namespace mkpt {

class TDialogs;
class TDispatcher;
class TLogPanes;

class TLogWindow : public QMainWindow {
  Q_OBJECT
public:
  // The lines a pane of a log window keeps (some 170 bytes each): the oldest
  // go beyond them, as in the main window's panes, whose cap is far lower.
  static constexpr std::size_t DefaultPaneCap = 2'500'000;
  // The most lines a pane takes in one tick of the loading.
  static constexpr std::size_t MaxAppend = 65536;
  // The filter of the open dialog.
  static const char* const FileFilter;

  struct TOptions {
    bool ShowTime = false;
    bool Coloured = true;
    std::size_t PaneCap = DefaultPaneCap;
  };

  // Opens the file (a name as the dialog gave it) and starts loading it into
  // a new window, which is shown. Throws with the reason when the file cannot
  // be opened. The window frees itself when closed.
  static TLogWindow* Open(const QString& file, std::unique_ptr<mkp::TMKPParser> parser,
                          std::shared_ptr<TDialogs> dialogs, TOptions options, QWidget* parent);
  ~TLogWindow() override;

  // Takes what the loader has read into the panes (the timer does it while
  // loading).
  void Drain();
  // Stops the loading; the lines read so far stay.
  void CancelLoading();
  bool Loading() const;
  const TLogLoader& Loader() const { return *loader_; }
  // Entries (frames or lines) of the file taken so far.
  std::uint64_t Entries() const { return entries_; }

  TDispatcher* Dispatcher = nullptr;
  TLogPanes* Panes = nullptr;
  QLabel* StatusLabel = nullptr;
  QProgressBar* Progress = nullptr;
  QPushButton* CancelBtn = nullptr;
  QMenu* PopupMenu = nullptr;

  // The menu item by caption, or null.
  QAction* Item(const QString& caption) const;

protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  TLogWindow(const QString& file, std::unique_ptr<TLogLoader> loader, std::shared_ptr<TDialogs> dialogs,
             TOptions options, QWidget* parent);
  void CreateMenus();
  void Place();
  void Finished(TLogLoader::TState state);
  void ShowProgress();
  void SaveToFile();
  QString CapNote() const;

  QString file_;
  std::size_t cap_;
  std::unique_ptr<TLogLoader> loader_;
  std::shared_ptr<TDialogs> dialogs_;
  QTimer* timer_ = nullptr;
  std::vector<QAction*> items_;
  double splitRatio_ = 0.42;  // the decode lines are the longer
  std::uint64_t entries_ = 0;
  // Lines taken from the loader, not yet in the panes.
  std::deque<mkp::TPaneLine> pendingTerminal_, pendingDecode_;
  QElapsedTimer sinceShown_;
  std::size_t chunk_ = MaxAppend;  // lines a pane takes a tick
  bool flushing_ = false;
  bool finished_ = false;
  bool firstLines_ = true;
};

}  // namespace mkpt
