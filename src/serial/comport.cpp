#include "serial/comport.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "text/textcut.h"

namespace mkp {

namespace {

using Clock = TMonoClock;

}  // namespace

const char* PortStateText(TPortState state) {
  switch (state) {
    case psOk:
      return "Port settings OK";
    case psInvalid:
      return "Invalid port settings!";
    case psFailed:
      return "Last operation FAILED!";
  }
  return "Invalid port settings!";
}

TCOMPortChannel::TCOMPortChannel() = default;

TCOMPortChannel::~TCOMPortChannel() { ClosePort(); }

void TCOMPortChannel::SetLastError(std::string text, std::string brief) {
  std::lock_guard lk(infoLock_);
  lastError_ = std::move(text);
  lastBrief_ = std::move(brief);
}

std::string TCOMPortChannel::LastError() const {
  std::lock_guard lk(infoLock_);
  return lastError_;
}

std::string TCOMPortChannel::LastErrorBrief() const {
  std::lock_guard lk(infoLock_);
  return lastBrief_.empty() ? lastError_ : lastBrief_;
}
std::string TCOMPortChannel::PortName() const {
  std::lock_guard lk(infoLock_);
  return portName_;
}
std::string TCOMPortChannel::Speed() const {
  std::lock_guard lk(infoLock_);
  return speed_;
}
std::string TCOMPortChannel::StopBits() const {
  std::lock_guard lk(infoLock_);
  return stopBits_;
}
std::string TCOMPortChannel::Parity() const {
  std::lock_guard lk(infoLock_);
  return parity_;
}
std::string TCOMPortChannel::DevicePath() const {
  std::lock_guard lk(infoLock_);
  return devicePath_;
}

std::unique_ptr<TLineStream> TCOMPortChannel::OpenStream(const std::string& portName, const TLineSettings& settings,
                                                         std::string& devicePath) {
  if (IsNetworkPortName(portName)) {
    devicePath = portName;
    return OpenNetworkStream(portName, settings);
  }
  return OpenTtyStream(portName, settings, devicePath);
}

void TCOMPortChannel::SetLineOptions(const TLineOptions& options) {
  rs485_ = options.Rs485;
  if (!options.Echo && echo_.exchange(false)) {
    std::lock_guard wl(waitingLock_);
    ReleaseEchoLocked();
    arrived_.notify_all();
  }
  echo_ = options.Echo;
}

TLineOptions TCOMPortChannel::LineOptions() const { return {echo_.load(), rs485_.load()}; }

std::string TCOMPortChannel::LineOptionsNote() const {
  std::lock_guard lk(infoLock_);
  return optionsNote_;
}

std::string TCOMPortChannel::TakeLostReport() {
  if (!network_.load() || !lost_.load() || lostReported_.exchange(true)) return {};
  return LastErrorBrief();
}

bool TCOMPortChannel::OpenPort(const std::string& portName, const std::string& speed,
                               const std::string& stopBits, const std::string& parity, int readInterval,
                               int writeInterval, const TInterrupted& interrupted) {
  ClosePort();
  std::size_t discarded = 0;
  try {
    readInterval_ = std::max(0, readInterval);
    writeInterval_ = std::max(0, writeInterval);
    std::string devicePath;
    auto stream = OpenStream(portName, {speed, stopBits, parity}, devicePath);
    // What the driver queued before the open came at times no one knows: it
    // goes, and counts towards the bytes the open discards.
    discarded = stream->DiscardQueuedInput();
    const bool rs485 = rs485_.load() && stream->EnableRs485();
    {
      std::unique_lock hl(handleLock_);
      baud_ = stream->BitRate();
      frameGap_ = stream->FrameGap();
      echoAllowance_ = stream->EchoAllowance();
      stream_ = std::move(stream);
    }
    rs485Active_ = rs485;
    network_ = IsNetworkPortName(portName);
    {
      std::lock_guard lk(infoLock_);
      portName_ = devicePath == portName ? portName : UpperCase(Trim(portName));
      speed_ = UpperCase(Trim(speed));
      stopBits_ = UpperCase(Trim(stopBits));
      parity_ = UpperCase(Trim(parity));
      devicePath_ = devicePath;
      lastError_.clear();
      lastBrief_.clear();
      optionsNote_ = rs485_.load() && !rs485 ? Rs485UnsupportedText : "";
    }
  } catch (const ECantOpenPort& e) {
    SetLastError(e.what(), e.Brief());
    state_ = psInvalid;
    return false;
  } catch (const std::exception& e) {
    SetLastError(e.what());
    state_ = psInvalid;
    return false;
  }
  lost_ = false;
  lostReported_ = false;
  echoDropped_ = 0;
  echoMismatches_ = 0;
  StartReader();
  state_ = psOk;
  DiscardInput(discarded, interrupted);
  if (lost_.load() && network_.load()) {
    // The server took the connection and closed it again at once (its port
    // busy, a limit of users): no open. Its own words are the short reason.
    std::string brief;
    {
      std::shared_lock hl(handleLock_);
      if (stream_) brief = stream_->Greeting();
    }
    const std::string why = LastError();
    if (brief.empty() || brief.size() > 60) brief = LastErrorBrief();
    ClosePort();
    SetLastError(why, brief);
    return false;
  }
  return true;
}

void TCOMPortChannel::DiscardInput(std::size_t discarded, const TInterrupted& interrupted) {
  // Up to 255 bytes, waiting at most 2 + 255 ms, with no byte-to-byte limit;
  // a failure here is no failure of the open.
  std::uint8_t bytes[255];
  if (discarded >= sizeof bytes) return;
  std::size_t count = 0;
  std::lock_guard rl(readLock_);
  TReadOptions options;
  options.Interrupted = interrupted;
  ReadLocked(bytes, sizeof bytes - discarded, count, options,
             Clock::now() + std::chrono::milliseconds(2 + sizeof bytes), 0);
}

void TCOMPortChannel::StartReader() {
  TLineStream* stream;
  {
    std::shared_lock hl(handleLock_);
    stream = stream_.get();
  }
  std::lock_guard wl(waitingLock_);
  waiting_.clear();
  waitingFront_ = 0;
  waitingBytes_ = 0;
  dropped_ = 0;
  readerEnded_ = false;
  readerFailure_.clear();
  readerBrief_.clear();
  echoExpected_.clear();
  echoHeld_.clear();
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  reader_ = std::thread(&TCOMPortChannel::ReaderLoop, this, stream, wakeFd_);
}

void TCOMPortChannel::StopReader() {
  if (reader_.joinable()) {
    const std::uint64_t one = 1;
    if (wakeFd_ >= 0 && ::write(wakeFd_, &one, sizeof one) < 0) {
      // The reader also looks at its flag every few milliseconds.
    }
    {
      std::lock_guard wl(waitingLock_);
      readerEnded_ = true;
    }
    reader_.join();
  }
  if (wakeFd_ >= 0) ::close(wakeFd_);
  wakeFd_ = -1;
  std::lock_guard wl(waitingLock_);
  readerEnded_ = true;
  arrived_.notify_all();
}

void TCOMPortChannel::ReaderLoop(TLineStream* stream, int wake) {
  std::vector<std::uint8_t> bytes;
  for (;;) {
    {
      std::lock_guard wl(waitingLock_);
      if (readerEnded_) return;
      // An echo overdue: what came of it is kept as received.
      if (!echoExpected_.empty() && Clock::now() >= echoDeadline_) {
        ++echoMismatches_;
        ReleaseEchoLocked();
        arrived_.notify_all();
      }
    }
    pollfd p[2] = {{stream->Descriptor(), POLLIN, 0}, {wake, POLLIN, 0}};
    const timespec ts = ToTimespec(std::chrono::milliseconds(50));
    const int r = ppoll(p, wake >= 0 ? 2 : 1, &ts, nullptr);
    if (r < 0 && errno != EINTR) {
      std::lock_guard wl(waitingLock_);
      readerFailure_ = std::string("Read failed: ") + std::strerror(errno);
      readerEnded_ = true;
      arrived_.notify_all();
      return;
    }
    if (r <= 0 || (p[1].revents & POLLIN)) continue;
    if (!(p[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) continue;
    bytes.clear();
    std::string failure;
    const bool ok = stream->ReadAvailable(bytes, failure);
    const TMonoTime now = Clock::now();
    std::lock_guard wl(waitingLock_);
    if (!bytes.empty()) {
      if (!echoExpected_.empty()) FilterEchoLocked(bytes, now);
      if (!bytes.empty()) QueueLocked(std::move(bytes), now);
      bytes = {};
      arrived_.notify_all();
    }
    const bool hangUp = (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p[0].revents & POLLIN);
    if (!ok || hangUp) {
      readerFailure_ = ok || failure.empty() ? std::string("The port was lost (hang-up)") : failure;
      readerBrief_ = stream->LostBrief();
      readerEnded_ = true;
      ReleaseEchoLocked();
      lost_ = true;
      SetLastError(readerFailure_, readerBrief_);
      arrived_.notify_all();
      return;
    }
  }
}

void TCOMPortChannel::QueueLocked(std::vector<std::uint8_t> bytes, TMonoTime arrived) {
  waitingBytes_ += bytes.size();
  waiting_.push_back({std::move(bytes), arrived});
  while (waitingBytes_ > WaitingLimit) {
    // The oldest bytes go: a full line read only now and then keeps the newest.
    const std::size_t front = waiting_.front().Bytes.size() - waitingFront_;
    dropped_ += front;
    waitingBytes_ -= front;
    waiting_.pop_front();
    waitingFront_ = 0;
  }
}

void TCOMPortChannel::FilterEchoLocked(std::vector<std::uint8_t>& bytes, TMonoTime arrived) {
  std::size_t matched = 0;
  while (matched < bytes.size() && !echoExpected_.empty()) {
    if (bytes[matched] != echoExpected_.front()) {
      // Not the echo after all: everything is kept, in the order it came.
      ++echoMismatches_;
      ReleaseEchoLocked();
      return;
    }
    echoExpected_.pop_front();
    ++matched;
  }
  if (matched > 0) {
    echoHeld_.push_back({std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(matched)),
                         arrived});
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(matched));
  }
  if (echoExpected_.empty()) {
    for (const TChunk& chunk : echoHeld_) echoDropped_ += chunk.Bytes.size();
    echoHeld_.clear();
  }
}

void TCOMPortChannel::ReleaseEchoLocked() {
  for (TChunk& chunk : echoHeld_) QueueLocked(std::move(chunk.Bytes), chunk.Arrived);
  echoHeld_.clear();
  echoExpected_.clear();
}

void TCOMPortChannel::ExpectEcho(const std::uint8_t* bytes, std::size_t count) {
  // The echo comes as the bytes go out: their wire time, and the line's own
  // delay on top.
  const auto wire = std::chrono::microseconds(static_cast<long long>(count) * 11'000'000 / std::max(1u, baud_.load()));
  std::lock_guard wl(waitingLock_);
  echoExpected_.insert(echoExpected_.end(), bytes, bytes + count);
  const TMonoTime due = Clock::now() + 2 * wire + echoAllowance_.load();
  echoDeadline_ = echoExpected_.size() > count ? std::max(echoDeadline_, due) : due;
}

std::size_t TCOMPortChannel::DiscardWaiting(TMonoTime arrivedBefore) {
  std::lock_guard wl(waitingLock_);
  ReleaseEchoLocked();
  std::size_t count = std::exchange(dropped_, 0);
  while (!waiting_.empty() && waiting_.front().Arrived < arrivedBefore) {
    const std::size_t front = waiting_.front().Bytes.size() - waitingFront_;
    count += front;
    waitingBytes_ -= front;
    waiting_.pop_front();
    waitingFront_ = 0;
  }
  return count;
}

std::size_t TCOMPortChannel::TakeDropped() {
  std::lock_guard wl(waitingLock_);
  return std::exchange(dropped_, 0);
}

void TCOMPortChannel::StopPacing() {
  {
    std::lock_guard pl(paceLock_);
    paceStop_ = true;
    paced_.clear();
    pacedNext_ = 0;
  }
  paceCv_.notify_all();
  if (paceThread_.joinable()) paceThread_.join();
  std::lock_guard pl(paceLock_);
  paceStop_ = false;
}

void TCOMPortChannel::ClosePort() {
  bool failed;
  {
    std::lock_guard pl(paceLock_);
    failed = state_.exchange(psInvalid) == psFailed;  // refuses new paced writes from here on
  }
  StopPacing();
  StopReader();
  {
    // A read in progress sees the state and ends.
    std::lock_guard wl(waitingLock_);
    arrived_.notify_all();
  }
  std::lock_guard rl(readLock_);
  std::unique_lock hl(handleLock_);
  // Bytes of a write that failed would hold up the close of a real port
  // (it waits for the output to drain) and are stale anyway.
  if (stream_ && failed) stream_->DiscardQueuedOutput();
  stream_.reset();
  state_ = psInvalid;
  std::lock_guard wl(waitingLock_);
  waiting_.clear();
  waitingFront_ = 0;
  waitingBytes_ = 0;
}

bool TCOMPortChannel::WriteAllLocked(const std::uint8_t* buffer, std::size_t count) {
  // No write time-out is asked for; a line held up by flow control or a pty
  // whose other side never reads still must not block forever.
  const auto limit =
      std::chrono::milliseconds(2000 + static_cast<long long>(count) * 11000 / std::max(1u, baud_.load()));
  std::string failure;
  bool lost = false;
  // Awaited before the bytes go, so that a quick echo is not taken for line bytes.
  if (echo_.load()) ExpectEcho(buffer, count);
  if (stream_->WriteAll(buffer, count, Clock::now() + limit, failure, lost)) return true;
  if (echo_.load()) {
    std::lock_guard wl(waitingLock_);
    ReleaseEchoLocked();
  }
  if (lost) lost_ = true;
  SetLastError(failure, lost ? stream_->LostBrief() : std::string());
  return false;
}

bool TCOMPortChannel::WriteBytes(const std::uint8_t* buffer, std::size_t& count) {
  if (writeInterval_.load() > 0) {
    std::lock_guard pl(paceLock_);
    if (state_.load() != psOk || buffer == nullptr) {
      count = 0;
      state_ = psFailed;
      return false;
    }
    const std::size_t pending = paced_.size() - pacedNext_;
    if (pending + count > PacedCopySize) {
      SetLastError("Paced write refused: more than " + std::to_string(PacedCopySize) + " bytes pending");
      count = 0;
      return false;
    }
    paced_.erase(paced_.begin(), paced_.begin() + static_cast<std::ptrdiff_t>(pacedNext_));
    pacedNext_ = 0;
    paced_.insert(paced_.end(), buffer, buffer + count);
    if (!paceThread_.joinable()) paceThread_ = std::thread(&TCOMPortChannel::PacingLoop, this);
    paceCv_.notify_all();
    return true;
  }

  std::shared_lock hl(handleLock_);
  if (state_.load() != psOk || !stream_ || buffer == nullptr) {
    count = 0;
    state_ = psFailed;
    return false;
  }
  std::lock_guard wl(writeLock_);
  if (!WriteAllLocked(buffer, count)) {
    count = 0;
    state_ = psFailed;
    return false;
  }
  state_ = psOk;
  return true;
}

void TCOMPortChannel::PacingLoop() {
  std::unique_lock pl(paceLock_);
  const auto interval = std::chrono::milliseconds(std::max(1, writeInterval_.load()));
  auto tick = Clock::now() + interval;
  while (!paceStop_) {
    if (pacedNext_ >= paced_.size()) {
      // The timer is off until the next paced write; it then ticks first one
      // interval later.
      paceCv_.wait(pl, [&] { return paceStop_ || pacedNext_ < paced_.size(); });
      tick = Clock::now() + interval;
      continue;
    }
    if (paceCv_.wait_until(pl, tick, [&] { return paceStop_; })) break;
    const std::uint8_t byte = paced_[pacedNext_];
    pl.unlock();
    bool ok;
    {
      std::shared_lock hl(handleLock_);
      std::lock_guard wl(writeLock_);
      ok = stream_ && WriteAllLocked(&byte, 1);
    }
    pl.lock();
    if (paceStop_) break;
    if (!ok) {
      state_ = psFailed;
      paced_.clear();
      pacedNext_ = 0;
    } else {
      state_ = psOk;
      ++pacedNext_;  // appends only compact the bytes before this one
    }
    if (pacedNext_ >= paced_.size()) {
      paced_.clear();
      pacedNext_ = 0;
      paceCv_.notify_all();
    }
    tick += interval;
    if (tick < Clock::now()) tick = Clock::now() + interval;  // a late tick does not bunch the rest
  }
}

bool TCOMPortChannel::WaitPacedWrite(std::chrono::milliseconds timeout) {
  std::unique_lock pl(paceLock_);
  return paceCv_.wait_for(pl, timeout, [&] { return pacedNext_ >= paced_.size(); });
}

std::chrono::nanoseconds TCOMPortChannel::PendingWriteTime() const {
  std::lock_guard pl(paceLock_);
  const std::size_t pending = paced_.size() - pacedNext_;
  return std::chrono::milliseconds(std::max(1, writeInterval_.load())) * static_cast<long long>(pending);
}

bool TCOMPortChannel::PacedWriteActive() const {
  std::lock_guard pl(paceLock_);
  return pacedNext_ < paced_.size();
}

bool TCOMPortChannel::Read(std::uint8_t* buffer, std::size_t maximum, std::size_t& count,
                           const TReadOptions& options) {
  count = 0;
  if (options.Arrivals != nullptr) options.Arrivals->clear();
  if (buffer == nullptr) return false;
  std::lock_guard rl(readLock_);
  if (state_.load() != psOk) return false;
  if (maximum == 0) return true;
  const TMonoTime total = options.Deadline != nullptr
                              ? *options.Deadline
                              : Clock::now() + std::chrono::milliseconds(2 + static_cast<long long>(maximum));
  return ReadLocked(buffer, maximum, count, options, total, readInterval_.load());
}

bool TCOMPortChannel::ReadLocked(std::uint8_t* buffer, std::size_t maximum, std::size_t& count,
                                 const TReadOptions& options, TMonoTime total, int intervalMs) {
  const auto interval =
      std::chrono::duration_cast<TMonoClock::duration>(std::chrono::milliseconds(intervalMs));
  const auto frameGap =
      std::max(interval, std::chrono::duration_cast<TMonoClock::duration>(frameGap_.load()));
  TMonoTime lastByte{};
  bool inFrame = false;  // the bytes so far are an unfinished frame
  std::unique_lock wl(waitingLock_);
  while (count < maximum) {
    if (state_.load() != psOk && state_.load() != psFailed) break;  // closed meanwhile
    const auto silence = inFrame ? frameGap : interval;
    if (!waiting_.empty()) {
      TChunk& chunk = waiting_.front();
      // A silence longer than the limit before these bytes ends the read: they
      // belong to the next one.
      if (count > 0 && interval.count() > 0 && chunk.Arrived - lastByte > silence) break;
      const std::size_t n = std::min(maximum - count, chunk.Bytes.size() - waitingFront_);
      std::memcpy(buffer + count, chunk.Bytes.data() + waitingFront_, n);
      if (count == 0 && options.FirstByte != nullptr) *options.FirstByte = chunk.Arrived;
      if (options.Arrivals != nullptr && (count == 0 || chunk.Arrived != lastByte))
        options.Arrivals->push_back({count, chunk.Arrived});
      count += n;
      waitingBytes_ -= n;
      waitingFront_ += n;
      lastByte = chunk.Arrived;
      if (waitingFront_ == chunk.Bytes.size()) {
        waiting_.pop_front();
        waitingFront_ = 0;
      }
      inFrame = options.Unfinished && options.Unfinished(buffer, count);
      continue;
    }
    if (readerEnded_) break;
    TMonoTime until = total;
    if (count > 0 && interval.count() > 0) until = std::min(until, lastByte + (inFrame ? frameGap : interval));
    if (Clock::now() >= until) break;
    if (!options.Interrupted) {
      arrived_.wait_until(wl, until);
      continue;
    }
    arrived_.wait_until(wl, std::min(until, Clock::now() + TSerialLine::InterruptCheck));
    // Asked without the lock: the caller may take locks of its own.
    wl.unlock();
    const bool interrupted = options.Interrupted();
    wl.lock();
    if (interrupted) return true;
  }
  if (count > 0 || !readerEnded_ || readerFailure_.empty()) return true;
  // The line failed and nothing is left to read: say so, and wait out the
  // read's time-out so that callers polling in a loop do not spin.
  const std::string failure = readerFailure_;
  const std::string brief = readerBrief_;
  wl.unlock();
  SetLastError(failure, brief);
  const TMonoTime end = std::min(total, Clock::now() + std::chrono::milliseconds(2 + maximum));
  while (Clock::now() < end) {
    std::this_thread::sleep_until(options.Interrupted ? std::min(end, Clock::now() + TSerialLine::InterruptCheck) : end);
    if (options.Interrupted && options.Interrupted()) break;
  }
  return false;
}

}  // namespace mkp
