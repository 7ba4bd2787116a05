#include "modes/monitor.h"

#include <algorithm>
#include <memory>
#include <thread>

#include "protocol/transport.h"
#include "serial/comport.h"
#include "serial/line.h"

namespace mkp {

// ---- TPieceMerger ---------------------------------------------------------------

TPieceMerger::TPieceMerger(int ports)
    : queues_(static_cast<std::size_t>(std::max(ports, 1))),
      watermarks_(static_cast<std::size_t>(std::max(ports, 1)), TMonoTime::min()) {}

void TPieceMerger::Add(int port, TBusPiece piece) {
  queues_.at(static_cast<std::size_t>(port - 1)).push_back(std::move(piece));
}

void TPieceMerger::SetWatermark(int port, TMonoTime time) {
  TMonoTime& mark = watermarks_.at(static_cast<std::size_t>(port - 1));
  mark = std::max(mark, time);
}

bool TPieceMerger::Empty() const {
  return std::all_of(queues_.begin(), queues_.end(), [](const auto& q) { return q.empty(); });
}

std::vector<TPortPiece> TPieceMerger::Take(bool all) {
  std::vector<TPortPiece> ready;
  for (;;) {
    std::size_t best = queues_.size();
    for (std::size_t p = 0; p < queues_.size(); ++p)
      if (!queues_[p].empty() && (best == queues_.size() || queues_[p].front().FirstByte < queues_[best].front().FirstByte))
        best = p;
    if (best == queues_.size()) break;
    const TMonoTime time = queues_[best].front().FirstByte;
    if (!all) {
      // Another port with nothing queued may still bring an earlier piece
      // unless it has got past this time.
      bool safe = true;
      for (std::size_t p = 0; p < queues_.size(); ++p)
        if (p != best && queues_[p].empty() && watermarks_[p] < time) safe = false;
      if (!safe) break;
    }
    ready.push_back({static_cast<int>(best) + 1, std::move(queues_[best].front())});
    queues_[best].pop_front();
  }
  return ready;
}

std::vector<TPortPiece> TPieceMerger::TakeReady() { return Take(false); }
std::vector<TPortPiece> TPieceMerger::TakeAll() { return Take(true); }

// ---- TBusMonitor ------------------------------------------------------------------

struct TBusMonitor::TPortReader {
  int Port = 1;
  TSerialLine* Line = nullptr;
  TFrameSplitter Splitter;  // the port's thread only
  // Under the monitor's lock:
  std::vector<TBusPiece> Ready;
  std::optional<TMonoTime> HeldSince;
  std::thread Thread;
};

TBusMonitor::TBusMonitor() = default;
TBusMonitor::~TBusMonitor() = default;

std::string TBusMonitor::SecondPortError() const {
  std::lock_guard lk(errorLock_);
  return secondError_;
}

std::string TBusMonitor::SecondPortErrorLine(const std::string& port, const std::string& why) {
  return "Second port " + port + " : Invalid port settings!" + (why.empty() ? std::string() : " " + why);
}

std::string TBusMonitor::Prefix(int port, int ports) {
  if (ports < 2) return "<- ";
  return "<-" + std::to_string(port) + " ";
}

std::string TBusMonitor::ErrorLine(const std::string& what) { return "Bus monitor error : " + what; }

void TBusMonitor::SetLines(TSerialLine* first, TSerialLine* second) {
  lines_[0] = first;
  lines_[1] = first != nullptr ? second : nullptr;
}

void TBusMonitor::ReadPort(TPortReader& reader) {
  // Short reads (a read waits 2 ms more than its size at most): a stop is
  // answered soon, and frames longer than a read are put together anyway.
  std::vector<std::uint8_t> buffer(ReadSize);
  auto publish = [&] {
    std::vector<TBusPiece> pieces = reader.Splitter.Take();
    std::lock_guard lk(lock_);
    for (auto& piece : pieces) reader.Ready.push_back(std::move(piece));
    reader.HeldSince = reader.Splitter.HeldSince();
    changed_.notify_all();
  };
  std::vector<TSerialLine::TArrival> arrivals;
  while (!stopReading_.load()) {
    std::size_t fed = 0;
    auto feed = [&](const std::uint8_t* bytes, std::size_t count) { reader.Splitter.FeedRead(bytes, fed, count, arrivals); };
    // Bytes are split as they come, so that the read rides out a silence only
    // while they may still become a frame.
    auto take = [&](const std::uint8_t* bytes, std::size_t count) {
      if (count > fed) {
        feed(bytes, count);
        publish();
      }
      return reader.Splitter.Unfinished();
    };
    std::size_t count = 0;
    if (!reader.Line->Read(buffer.data(), buffer.size(), count, {take, nullptr, nullptr, &arrivals})) {
      // The line is not usable (closed, failed): look again a little later.
      std::unique_lock lk(lock_);
      changed_.wait_for(lk, std::chrono::milliseconds(100), [&] { return stopReading_.load(); });
      continue;
    }
    feed(buffer.data(), count);  // a line that handed the bytes over only at the end
    // A read ends short when the line fell silent: what is held is settled.
    if (count < buffer.size()) reader.Splitter.Flush();
    publish();
  }
  reader.Splitter.Flush();
  publish();
}

void TBusMonitor::Deliver(const TPortPiece& item) {
  const TBusPiece& piece = item.Piece;
  TPacketHolder packet;
  bool parsed = false;
  if (piece.Good) {
    std::vector<std::uint8_t> frame(FrameBufferSize, 0);
    std::copy_n(piece.Bytes.begin(), std::min(piece.Bytes.size(), frame.size()), frame.begin());
    parsed = ParseFrame(frame.data(), *packet);
  }
  if (parsed)
    ++frames_;
  else
    ++badReads_;
  if (onPiece_) onPiece_(item.Port, piece, parsed ? &*packet : nullptr);
  if (!logging_ || transport_ == nullptr) return;
  const std::string prefix = Prefix(item.Port, Ports());
  try {
    transport_->LogPiece(piece, parsed ? &*packet : nullptr, prefix, item.Port);
  } catch (const std::exception& e) {
    transport_->AddTerminalLine(ErrorLine(e.what()));
  }
}

void TBusMonitor::Execute() {
  if (lines_[0] == nullptr) {
    while (SleepFor(std::chrono::milliseconds(50)) && SafePoint()) {
    }
    return;
  }
  if (secondOpening_ && lines_[1] == nullptr) {
    const TPortOpening& o = *secondOpening_;
    auto channel = std::make_unique<TCOMPortChannel>();
    if (channel->OpenPort(o.Name, o.Speed, o.StopBits, o.Parity, o.ReadInterval, 0)) {
      ownSecond_ = std::move(channel);
      lines_[1] = ownSecond_.get();
    } else {
      const std::string why = channel->LastError();
      {
        std::lock_guard lk(errorLock_);
        secondError_ = why.empty() ? "Invalid port settings!" : why;
      }
      if (transport_ != nullptr) transport_->AddTerminalLine(SecondPortErrorLine(o.Name, why));
    }
  }
  const int ports = lines_[1] != nullptr ? 2 : 1;
  ports_ = ports;
  std::vector<std::unique_ptr<TPortReader>> readers;
  for (int p = 0; p < ports; ++p) {
    auto reader = std::make_unique<TPortReader>();
    reader->Port = p + 1;
    reader->Line = lines_[p];
    readers.push_back(std::move(reader));
  }
  stopReading_ = false;
  for (auto& reader : readers) reader->Thread = std::thread([this, r = reader.get()] { ReadPort(*r); });
  auto endReaders = [&] {
    {
      std::lock_guard lk(lock_);
      stopReading_ = true;
      changed_.notify_all();
    }
    for (auto& reader : readers)
      if (reader->Thread.joinable()) reader->Thread.join();
  };

  TPieceMerger merger(ports);
  // Moves what the ports have read into the merger; the lock is held.
  auto gather = [&] {
    const TMonoTime idle = TMonoClock::now() - MergeMargin;
    for (auto& reader : readers) {
      for (auto& piece : reader->Ready) merger.Add(reader->Port, std::move(piece));
      reader->Ready.clear();
      merger.SetWatermark(reader->Port, reader->HeldSince ? std::min(*reader->HeldSince, idle) : idle);
    }
  };
  try {
    for (;;) {
      std::vector<TPortPiece> ready;
      {
        std::unique_lock lk(lock_);
        changed_.wait_for(lk, merger.Empty() ? std::chrono::milliseconds(50) : std::chrono::milliseconds(5));
        gather();
        ready = merger.TakeReady();
      }
      for (const auto& piece : ready) Deliver(piece);
      if (!SafePoint()) break;
    }
  } catch (...) {
    endReaders();
    throw;
  }
  endReaders();
  // What the ports read before they ended is logged too.
  {
    std::lock_guard lk(lock_);
    gather();
  }
  for (const auto& piece : merger.TakeAll()) Deliver(piece);
  if (ownSecond_) ownSecond_->ClosePort();
}

}  // namespace mkp
