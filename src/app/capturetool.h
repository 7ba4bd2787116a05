// "Capture to file...": every frame the transport sends or receives, in any
// mode, also goes to a pcapng capture while the switch is on. The status bar's
// file panel shows the capture's name meanwhile (the panel's own text comes
// back afterwards, also when it changed in between). A write failure ends the
// capture, unchecks the switch and says so once in the terminal pane; the
// panes and the mode go on.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "protocol/capture.h"

class QLabel;
class QStatusBar;

namespace mkpt {

class TDialogs;
class TDispatcher;

class TCaptureTool : public QObject {
  Q_OBJECT
public:
  // The names of the ports' interfaces: the first port, and the monitor's
  // second port (empty: none).
  using TPortNames = std::function<std::pair<std::string, std::string>()>;

  // Adds the switch's operation (opToggleCapture) to the dispatcher.
  // filePanel: the status panel the capture's name is shown over.
  TCaptureTool(mkp::TMKProtocolTransport& transport, TDispatcher& dispatcher, TDialogs& dialogs, QStatusBar* bar,
               QLabel* filePanel, TPortNames portNames, QObject* parent);
  // The transport must no longer hand frames to the capture (the form's
  // workers have ended): the file is closed as written.
  ~TCaptureTool() override;

  bool Capturing() const { return capturing_; }
  // Asks for a file and starts, or stops.
  void Toggle();
  // Names the second port's interface anew (the monitor's choice changed).
  void SecondPortChanged();
  const mkp::TCaptureWriter& Writer() const { return writer_; }

  // Shown over the file panel while capturing.
  QLabel* CapturePanel = nullptr;

private:
  void Start();
  void Stop();
  // In the window's thread: the writer has failed.
  void Failed(const QString& why);

  mkp::TMKProtocolTransport& transport_;
  TDispatcher& dispatcher_;
  TDialogs& dialogs_;
  QLabel* filePanel_;
  TPortNames portNames_;
  mkp::TCaptureWriter writer_;
  bool capturing_ = false;
};

}  // namespace mkpt
