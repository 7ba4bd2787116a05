// What a page of the window gets of the main form: the engine objects that
// all pages share, the mode in force and its worker, the status bar, the
// dispatcher and the window's wait for a blocking exchange. The pages know
// the form only through this.
#pragma once

#include <QString>
#include <functional>

#include "app/operations.h"

namespace mkp {
class TMKProtocolTransport;
class TMKPParser;
class TWorkerThread;
}  // namespace mkp

namespace mkpt {

class TDialogs;
class TDispatcher;

class TPageHost {
public:
  virtual ~TPageHost() = default;
  virtual mkp::TMKProtocolTransport& Transport() = 0;
  virtual mkp::TMKPParser& Parser() = 0;
  virtual TDispatcher& Dispatcher() = 0;
  virtual TDialogs& Dialogs() = 0;
  virtual TWorkMode Mode() const = 0;
  // The worker of the mode in force, or null.
  virtual mkp::TWorkerThread* Worker() const = 0;
  // Shows a text in a status panel (0 to 3); any thread.
  virtual void ShowStatus(int panel, const QString& text) = 0;
  // Runs a blocking exchange off the window's thread: painting and timers go
  // on, and the input that could overlap it is held until it ends. A failure
  // of the work is thrown again here.
  virtual void WaitFor(const std::function<void()>& work) = 0;
  // Whether such an exchange is under way.
  virtual bool Busy() const = 0;
  // Lays the window out again (what a page shows has changed).
  virtual void Rearrange() = 0;
};

}  // namespace mkpt
