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
  // current: the monitor running now, or null (the main form's worker).
  explicit TMonitorPage(std::function<mkp::TBusMonitor*()> current, QWidget* parent = nullptr);

  // A monitor on the first port (the channel, as the port settings frame has
  // opened it) and, when "Second port" names one, on that port with the same
  // line settings; not started.
  std::unique_ptr<mkp::TWorkerThread> MakeMonitor(mkp::TMKProtocolTransport& transport, mkp::TCOMPortChannel& first,
                                                  const mkp::TPortSettings& settings) const;
  // The counters, once a second (with the status bar).
  void Refresh();
  bool Paused() const;

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
  std::function<mkp::TBusMonitor*()> current_;
  mutable QString applied_;  // the second port of the last monitor made
  const mkp::TBusMonitor* counted_ = nullptr;  // the monitor the rate was last measured on
  std::uint64_t lastFrames_ = 0;
  std::chrono::steady_clock::time_point lastRefresh_{};
};

}  // namespace mkpt
