#include "app/portkeeper.h"

#include "app/pagehost.h"
#include "app/qtext.h"
#include "protocol/transport.h"
#include "serial/portsettings.h"

namespace mkpt {

bool TReopeningLine::Open(const TOpenSettings& settings) {
  std::lock_guard lk(lock_);
  settings_ = settings;
  failure_.clear();
  return OpenLocked(settings);
}

bool TReopeningLine::OpenLocked(const TOpenSettings& s) {
  channel_.SetLineOptions(s.Options);
  const bool opened = channel_.OpenPort(s.Port, s.Speed, s.StopBits, s.Parity, s.ReadInterval, s.WriteInterval);
  armed_ = opened && mkp::IsNetworkPortName(s.Port);
  return opened;
}

bool TReopeningLine::ReopenIfLost() {
  if (!Lost()) return true;
  std::lock_guard lk(lock_);
  if (!Lost()) return true;  // another thread has brought it back
  const auto now = std::chrono::steady_clock::now();
  if (now < nextAttempt_) return false;
  nextAttempt_ = now + Spacing;
  // Said once: a receive may have said it already.
  if (const std::string lost = channel_.TakeLostReport(); !lost.empty()) transport_.AddTerminalLine(lost);
  if (OpenLocked(settings_)) {
    failure_.clear();
    return true;
  }
  // Not given up: the next use (or the next tick) tries again.
  armed_ = true;
  failure_ = channel_.LastError();
  return false;
}

std::string TReopeningLine::ReopenFailure() const {
  std::lock_guard lk(lock_);
  return failure_;
}

bool TReopeningLine::WriteBytes(const std::uint8_t* buffer, std::size_t& count) {
  ReopenIfLost();
  return channel_.WriteBytes(buffer, count);
}

bool TReopeningLine::Read(std::uint8_t* buffer, std::size_t maximum, std::size_t& count,
                          const TReadOptions& options) {
  ReopenIfLost();
  return channel_.Read(buffer, maximum, count, options);
}

TPortKeeper::TPortKeeper(mkp::TCOMPortChannel& channel, mkp::TMKProtocolTransport& transport)
    : channel_(channel), line_(channel, transport) {}

TPortKeeper::~TPortKeeper() {
  if (ticker_.joinable()) ticker_.join();
}

bool TPortKeeper::Open(const mkp::TPortSettings& s, TPageHost* window) {
  const TOpenSettings settings{s.GetPortName(),      s.GetSpeed(),          s.GetStopBits(),
                               s.GetParity(),        s.GetReadInterval(),   s.GetWriteInterval(),
                               {s.GetEcho(), s.GetRs485()}};
  if (window == nullptr || window->Busy() || !mkp::IsNetworkPortName(settings.Port)) return line_.Open(settings);
  bool opened = false;
  window->WaitFor([&] { opened = line_.Open(settings); });
  return opened;
}

void TPortKeeper::Tick() {
  if (!line_.Lost() || ticking_.load()) return;
  if (ticker_.joinable()) ticker_.join();
  ticking_ = true;
  ticker_ = std::thread([this] {
    line_.ReopenIfLost();
    ticking_ = false;
  });
}

QString TPortKeeper::OptionsNote() const {
  return channel_.State() == mkp::psInvalid ? QString() : FromEngine(channel_.LineOptionsNote());
}

QString TPortKeeper::StatusText(QString& tip) const {
  if (line_.Lost()) {
    // How it broke, or why connecting again failed since.
    const std::string why = line_.ReopenFailure();
    tip = why.empty() ? FromEngine(channel_.LastError())
                      : "Connection lost; connecting again failed: " + FromEngine(why);
    tip += "\nThe next use of the port (or the next second) connects again.";
    return "Connection lost";
  }
  QString text = mkp::PortStateText(channel_.State());
  tip.clear();
  if (const std::string why = channel_.LastError(); channel_.State() == mkp::psInvalid && !why.empty()) {
    tip = text + "  " + FromEngine(why);  // the short reason in the panel, the whole one in its tool tip
    text += "  " + FromEngine(channel_.LastErrorBrief());
  }
  if (const QString note = OptionsNote(); !note.isEmpty()) {
    text += "; " + note;
    tip = (tip.isEmpty() ? text : tip + "\n" + note);
  }
  return text;
}

}  // namespace mkpt
