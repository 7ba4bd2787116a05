// The Monitor page: a listener on the bus that never writes. The page chooses
// an optional second port, shows what the running monitor has seen, holds the
// panes while "Pause" is checked and clears them; the worker itself is the
// engine's TBusMonitor, made here for the main form's mode switch.
#pragma once

#include <QWidget>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "modes/monitor.h"
#include "modes/worker.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace mkp {
class TCOMPortChannel;
class TMKProtocolTransport;
class TPortSettings;
}  // namespace mkp

namespace mkpt {

class TMonitorPage : public QWidget {
  Q_OBJECT
public:
  // worker: the main form's worker while the mode is Monitor, else null.
  explicit TMonitorPage(std::function<mkp::TWorkerThread*()> worker, QWidget* parent = nullptr);

  // The monitor running now, or null.
  mkp::TBusMonitor* Current() const;

  // A monitor on the first port (the channel, as the port settings frame has
  // opened it) and, when "Second port" names one, on that port with the same
  // line settings; not started. A second port that is the first port itself
  // is not opened again: the monitor reads the first port alone and says so.
  std::unique_ptr<mkp::TWorkerThread> MakeMonitor(mkp::TMKProtocolTransport& transport, mkp::TCOMPortChannel& first,
                                                  const mkp::TPortSettings& settings) const;
  // The counters, once a second (with the status bar).
  void Refresh();
  bool Paused() const;
  // What went wrong with the second port of the running monitor ("Second
  // port: ..."), or empty.
  QString SecondPortProblem() const;

  QComboBox* SecondPortCBox = nullptr;
  QCheckBox* PauseCB = nullptr;
  QPushButton* ClearBtn = nullptr;
  QLabel* FramesLabel = nullptr;
  QLabel* BadReadsLabel = nullptr;
  QLabel* RateLabel = nullptr;

signals:
  // The user chose another second port (the monitor must start again).
  void SecondPortChanged();
  void PauseChanged(bool paused);
  void ClearRequested();

private:
  std::function<mkp::TWorkerThread*()> worker_;
  mutable QString applied_;  // the second port of the last monitor made
  mutable bool samePort_ = false;  // ... which was the first port itself
  const mkp::TBusMonitor* counted_ = nullptr;  // the monitor the rate was last measured on
  std::uint64_t lastFrames_ = 0;
  std::chrono::steady_clock::time_point lastRefresh_{};
};

}  // namespace mkpt
