// Logs opened again: a capture, a terminal log (the autosave file
// "MKPTest.trm", a ".tr1" pane file) or a decode log (its "dcd_" twin, a
// ".tr2" pane file), read one entry at a time as the panes would show it.
//
// - A capture: each frame gives its terminal line and a decode line made anew
//   by the analyser with its current settings, with the capture's times
//   (each pane's shown time and an answer's latency, as the panes work them
//   out).
// - A terminal log: each line as it is, and the decode line it gives (the
//   rules of RedecodeLine); a line written with its time keeps it apart.
// - A decode log: each line as it is.
//
// The reader streams: it holds one frame or one line (at most LineLimit bytes)
// at a time, whatever the size of the file. Cancel() may be called from any
// thread; the next Next() then ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "protocol/capture.h"
#include "protocol/linetime.h"
#include "protocol/panes.h"

namespace mkp {

class TMKPParser;

enum class TLogFileKind { Capture, TerminalLog, DecodeLog };

// By its first bytes and its name: a pcap or pcapng file is a capture; a file
// named "dcd_..." or "*.tr2" a decode log; anything else a terminal log.
TLogFileKind LogFileKindOf(const std::string& path);

// The terminal and decode lines of a frame as the transport logs them, under
// the direction prefix ("-> ", "<- ", "<-1 ", ...): a whole frame as its
// packet text and description, received bytes that formed no frame as
// "Missing format" (terminal: with the bytes in hex), sent bytes that formed
// no frame as their hex text and its description.
struct TFrameTexts {
  std::string Terminal;
  std::string Decode;
  bool Good = false;  // a whole frame
};
TFrameTexts FrameLineTexts(const std::uint8_t* bytes, std::size_t count, bool sent, const std::string& prefix,
                           TMKPParser& parser);

// The direction prefix of a captured frame: "-> " when sent; "<- " when
// received on the one MKP interface of its section, "<-N " when there are
// several (a monitor's two ports).
std::string CapturedFramePrefix(const TCapturedFrame& frame);

// The decode pane line that a terminal pane line gives (without its time):
// "-> TEXT" and "<- TEXT" (or "<-1 ", "<-2 ") described as a sent or received
// packet, a Master page raw send (its full-packet text with checksums)
// described from its header and data, "Missing format" lines shortened to
// "<- Missing format"; any other line unchanged. Control characters of a
// description are written visibly, as the panes write them.
std::string RedecodeLine(TMKPParser& parser, const std::string& line);

// One entry of a log file.
struct TLogEntry {
  bool HasTerminal = false;
  TPaneLine Terminal;  // text without a time written in the file
  bool HasDecode = false;
  TPaneLine Decode;
  // A capture's lines carry their times (Stamp, Shown); a text log's do not.
  bool Timed = false;
  // A text log line written with its time ("14:03:07.215 +16.042 "): that
  // time, as written; empty otherwise.
  std::string WrittenTime;
  // A capture's frame (valid until the next Next()); null for a text log.
  const TCapturedFrame* Frame = nullptr;
};

class TLogFileReader {
public:
  // Lines longer than this are taken in pieces of this length.
  static constexpr std::size_t LineLimit = 1 << 20;

  // The analyser that makes the decode lines: not owned, used only by this
  // reader's thread while it reads.
  explicit TLogFileReader(TMKPParser& parser);
  ~TLogFileReader();
  TLogFileReader(const TLogFileReader&) = delete;
  TLogFileReader& operator=(const TLogFileReader&) = delete;

  // Opens the file as the kind LogFileKindOf tells. False with Error() when
  // it cannot be opened.
  bool Open(const std::string& path);
  bool Open(const std::string& path, TLogFileKind kind);
  TLogFileKind Kind() const { return kind_; }

  // The next entry; false at the end, after Cancel(), or on an error of the
  // file (Error() then tells it; the entries before it stand).
  bool Next(TLogEntry& entry);
  // Any thread: the next Next() returns false.
  void Cancel() { cancelled_ = true; }
  bool Cancelled() const { return cancelled_.load(); }
  // Why the reading stopped early ("FILE: cut off after frame N", ...);
  // empty after a clean end.
  const std::string& Error() const { return error_; }

  // For a progress display: bytes read so far and the file's size.
  std::uint64_t Position() const;
  std::uint64_t Size() const { return size_; }

private:
  bool NextFrame(TLogEntry& entry);
  bool NextLine(TLogEntry& entry);
  bool ReadLine(std::string& line);

  TMKPParser& parser_;
  TLogFileKind kind_ = TLogFileKind::TerminalLog;
  std::atomic<bool> cancelled_{false};
  std::string error_;
  std::string path_;
  std::uint64_t size_ = 0;
  // A capture.
  std::unique_ptr<TCaptureReader> capture_;
  TCapturedFrame frame_;
  TLineTimer terminalTimer_{false}, decodeTimer_{true};
  // A text log.
  std::FILE* text_ = nullptr;
  std::uint64_t textPosition_ = 0;
  bool textEnd_ = false;
  std::vector<char> buffer_;
  std::size_t bufferAt_ = 0;
  std::string line_;
};

}  // namespace mkp
