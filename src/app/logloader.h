// The reading of a log window's file: a thread of its own reads the file
// with the engine's reader and hands the pane lines over in batches, oldest
// first. It keeps at most a few batches waiting: while the window has not
// taken them, the thread waits, so the lines of a file of any size never pile
// up between the two. Cancel() (or the loader's end) stops the reading at the
// next line.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "modes/logfile.h"
#include "protocol/panes.h"

namespace mkp {
class TMKPParser;
}

namespace mkpt {

class TLogLoader {
public:
  enum class TState { Loading, Done, Cancelled, Failed };
  struct TBatch {
    std::vector<mkp::TPaneLine> Terminal, Decode;
    std::uint64_t Entries = 0;  // frames or lines of the file
  };
  // A batch goes over when it holds this many entries or has waited this long.
  static constexpr std::size_t BatchEntries = 4096;
  static constexpr std::chrono::milliseconds BatchWait{25};
  // The batches that may wait to be taken before the thread waits.
  static constexpr std::size_t WaitingBatches = 8;

  // The analyser that makes the decode lines: the loader's own.
  explicit TLogLoader(std::unique_ptr<mkp::TMKPParser> parser);
  // Cancels the reading and waits for the thread.
  ~TLogLoader();
  TLogLoader(const TLogLoader&) = delete;
  TLogLoader& operator=(const TLogLoader&) = delete;

  // Opens the file (path in the file system's bytes); false with Error().
  bool Open(const std::string& path);
  mkp::TLogFileKind Kind() const { return reader_.Kind(); }
  // Starts the thread.
  void Start();
  // The batches ready now, oldest first.
  std::vector<TBatch> Take();
  // Any thread.
  void Cancel();
  // Loading until the thread has ended; what it left may still wait in Take().
  TState State() const { return state_.load(); }
  // Why the reading stopped early (the reader's text); empty otherwise.
  std::string Error() const;
  // Bytes read and the file's size (0: unknown), for the progress.
  std::uint64_t Position() const { return position_.load(); }
  std::uint64_t Size() const { return reader_.Size(); }
  // Whether the entries carry the file's times (a capture's do).
  bool Timed() const { return timed_.load(); }

private:
  void Run();
  // Puts the batch in the queue, waiting while it is full; false once cancelled.
  bool Hand(TBatch& batch);

  std::unique_ptr<mkp::TMKPParser> parser_;
  mkp::TLogFileReader reader_;
  std::thread thread_;
  mutable std::mutex lock_;
  std::condition_variable taken_;
  std::deque<TBatch> ready_;
  std::string error_;
  std::atomic<TState> state_{TState::Loading};
  std::atomic<std::uint64_t> position_{0};
  std::atomic<bool> timed_{false};
  std::atomic<bool> cancelled_{false};
};

// The shown time of a line a text log wrote with its time
// ("14:03:07.215 +16.042 "): that time of day (today) and difference, so that
// the pane shows it as written. None (a zero time) when the text has none.
mkp::TShownTime WrittenShownTime(const std::string& written);

}  // namespace mkpt
