// TCaptureReplay: writes the frames of a capture to the line again, with the
// gaps between them that the capture records (scaled by a speed factor), to
// reproduce a recorded conversation against a device or a master.
//
// Each frame goes out through the transport's raw send, exactly as captured,
// and is logged as a sent frame ("-> " and its packet text or its bytes in
// hex, and the description). The capture is read as it is replayed, one frame
// at a time; with Loop it starts over after the last frame, after a pause as
// long as the capture's first gap.
//
// Created as TWorker<TCaptureReplay> (see worker.h).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "modes/worker.h"
#include "protocol/capture.h"

namespace mkp {

class TMKProtocolTransport;
class TMKPParser;

enum class TReplayDirection { In, Out, All };

struct TReplayOptions {
  TReplayDirection Direction = TReplayDirection::All;  // which frames of the capture
  double Speed = 1.0;  // 2: twice as fast; 0.5: half as fast
  bool Loop = false;
};

class TCaptureReplay : public TWorkerThread {
public:
  // The pause between two rounds when the capture has a single frame.
  static constexpr std::chrono::milliseconds RoundPause{100};

  // Not owned; set before Start(). The analyser describes the lines of the
  // frames written and is used by the replay's thread alone.
  void SetTransport(TMKProtocolTransport* transport) { transport_ = transport; }
  void SetParser(TMKPParser* parser) { parser_ = parser; }
  void SetCapture(std::string path) { capture_ = std::move(path); }
  void SetOptions(TReplayOptions options) { options_ = options; }

  // Any thread.
  std::uint64_t FramesWritten() const { return written_.load(); }
  std::uint64_t WriteFailures() const { return failures_.load(); }
  // Why the replay ended early: the capture's reading error; empty otherwise.
  std::string Error() const;

protected:
  void Execute() override;

private:
  bool Selected(const TCapturedFrame& frame) const;
  // Waits until the moment; false when a stop was requested.
  bool WaitUntil(TMonoTime due);

  TMKProtocolTransport* transport_ = nullptr;
  TMKPParser* parser_ = nullptr;
  std::string capture_;
  TReplayOptions options_;
  std::atomic<std::uint64_t> written_{0};
  std::atomic<std::uint64_t> failures_{0};
  mutable std::mutex errorLock_;
  std::string error_;
};

}  // namespace mkp
