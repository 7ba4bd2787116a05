#include "app/logloader.h"

#include <charconv>
#include <ctime>

#include "analysis/parser.h"

namespace mkpt {

mkp::TShownTime WrittenShownTime(const std::string& written) {
  mkp::TShownTime shown;
  if (written.empty() || mkp::TimePrefixLength(written) != written.size()) return shown;
  // "HH:MM:SS.mmm +D.DDD ", as TimePrefixLength has checked it.
  auto number = [&](std::size_t at, std::size_t count) { return std::stoi(written.substr(at, count)); };
  const std::time_t now = std::time(nullptr);
  std::tm day{};
  localtime_r(&now, &day);
  day.tm_hour = number(0, 2);
  day.tm_min = number(3, 2);
  day.tm_sec = number(6, 2);
  day.tm_isdst = -1;
  const auto wall = std::chrono::system_clock::from_time_t(std::mktime(&day)) + std::chrono::milliseconds(number(9, 3));
  shown.Time = mkp::MonoTimeOf(wall);
  const char* from = written.data() + 14;
  std::from_chars(from, written.data() + written.size() - 1, shown.SincePreviousMs);
  return shown;
}

TLogLoader::TLogLoader(std::unique_ptr<mkp::TMKPParser> parser) : parser_(std::move(parser)), reader_(*parser_) {}

TLogLoader::~TLogLoader() {
  Cancel();
  if (thread_.joinable()) thread_.join();
}

bool TLogLoader::Open(const std::string& path) {
  if (reader_.Open(path)) return true;
  error_ = reader_.Error();
  state_ = TState::Failed;
  return false;
}

void TLogLoader::Start() { thread_ = std::thread([this] { Run(); }); }

void TLogLoader::Cancel() {
  reader_.Cancel();
  std::lock_guard lk(lock_);
  cancelled_ = true;
  taken_.notify_all();
}

std::string TLogLoader::Error() const {
  std::lock_guard lk(lock_);
  return error_;
}

std::vector<TLogLoader::TBatch> TLogLoader::Take() {
  std::vector<TBatch> batches;
  {
    std::lock_guard lk(lock_);
    batches.assign(std::make_move_iterator(ready_.begin()), std::make_move_iterator(ready_.end()));
    ready_.clear();
  }
  taken_.notify_all();
  return batches;
}

bool TLogLoader::Hand(TBatch& batch) {
  std::unique_lock lk(lock_);
  taken_.wait(lk, [this] { return cancelled_.load() || ready_.size() < WaitingBatches; });
  if (cancelled_.load()) return false;
  ready_.push_back(std::move(batch));
  batch = TBatch{};
  return true;
}

void TLogLoader::Run() {
  using Clock = std::chrono::steady_clock;
  TBatch batch;
  mkp::TLogEntry entry;
  auto handed = Clock::now();
  bool going = true;
  while (going && reader_.Next(entry)) {
    ++batch.Entries;
    if (entry.Timed) {
      timed_ = true;
    } else {  // a text log's line: the time written with it, if any
      const mkp::TShownTime written = WrittenShownTime(entry.WrittenTime);
      entry.Terminal.Shown = written;
      entry.Decode.Shown = written;
    }
    if (entry.HasTerminal) batch.Terminal.push_back(std::move(entry.Terminal));
    if (entry.HasDecode) batch.Decode.push_back(std::move(entry.Decode));
    if (batch.Entries >= BatchEntries || (batch.Entries % 64 == 0 && Clock::now() - handed >= BatchWait)) {
      position_ = reader_.Position();
      going = Hand(batch);
      handed = Clock::now();
    }
  }
  position_ = reader_.Position();
  if (going && batch.Entries > 0) going = Hand(batch);
  {
    std::lock_guard lk(lock_);
    error_ = reader_.Error();
  }
  state_ = cancelled_.load() ? TState::Cancelled : !Error().empty() ? TState::Failed : TState::Done;
}

}  // namespace mkpt
