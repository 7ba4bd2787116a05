// TMKProtocolTransport: the one object through which packets go onto and come
// off the serial line, logging each one raw and decoded.
//
// Log lines, exactly:
//   sent        terminal "-> " + packet text      decode "-> " + DescribeMaster
//   received    terminal "<- " + packet text      decode "<- " + DescribeSlave
//   send failed terminal "-> Transmit error!"      decode the same (panes only)
//   bad frame   terminal "<- Missing format : " + the bytes in hex
//               decode "<- Missing format" (panes only)
//   silence     nothing at all
// Decode lines only while DecodeEnabled. With Autosave on, the lines of sent
// and received packets are also appended to the autosave files.
//
// Reading a frame: one read of the line, which rides out the silences inside
// a frame while the bytes so far are the unfinished start of one
// (FrameUnfinished), and otherwise ends at the line's read interval.
//
// Threads: sends and receives are serialised by one lock, held across the
// line's read; pane lines (and autosave lines) by another, never held across
// a read, so a line added from the window's thread never waits for a
// worker's receive. The panes get their lines in the calling thread, in
// order (a pane hands them on to its own thread). Bindings and file names are
// set before workers start.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>

#include "protocol/packet.h"
#include "protocol/panes.h"

namespace mkp {

class TSerialLine;
class TMKPParser;

// An autosave file could not be opened or written. Thrown by AppendLogLine
// (and so out of SendPacket and ReceivePacket): the caller reports it. The
// pane line was already added.
class EAutosaveError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The terminal autosave file of the window.
inline constexpr const char* TerminalAutosaveName = "MKPTest.trm";
// The decode autosave file for a terminal one: "dcd_" in front of its
// file-name part, same folder ("logs/run.trm" -> "logs/dcd_run.trm").
std::string DecodeFileNameFor(const std::string& terminalFile);

// Whether bytes read from the line are the unfinished start of a frame: fewer
// than a header (they may still become one, unless their length field already
// exceeds MaxDataLen), or a header whose checksum is right and whose length
// announces more bytes than there are.
bool FrameUnfinished(const std::uint8_t* bytes, std::size_t count);

// What a receive saw: how many bytes the read gave and when the first of them
// arrived.
struct TReceiveInfo {
  std::size_t Bytes = 0;
  TMonoTime FirstByte{};
};

class TMKProtocolTransport {
public:
  explicit TMKProtocolTransport(TSerialLine* channel = nullptr);

  void SetChannel(TSerialLine* channel);
  void SetTerminalBox(TLogPane* pane);
  void SetDecodeBox(TLogPane* pane);
  void SetParser(TMKPParser* parser);
  TSerialLine* Channel() const { return channel_; }
  TMKPParser* Parser() const { return parser_; }

  // Frames and writes the packet; logs "-> ..." or "-> Transmit error!".
  // written, when given, receives the moment the write ended (on success).
  // May throw EAutosaveError, or what the analyser throws.
  bool SendPacket(const TMKPPacket& packet, TMonoTime* written = nullptr);
  // One read of up to FrameBufferSize bytes; logs "<- ..." or
  // "<- Missing format : ..."; nothing arrived logs nothing. The received
  // count must be exactly the frame length the header announces. info, when
  // given, tells what the read saw.
  bool ReceivePacket(TMKPPacket& packet, TReceiveInfo* info = nullptr);

  // The lines of a frame received by someone else (a bus monitor), under the
  // given direction prefix ("<- ", "<-1 "): as ReceivePacket logs them.
  void LogReceived(const TMKPPacket& packet, TMonoTime firstByte, const std::string& prefix);
  // The lines of bytes that formed no frame, as ReceivePacket logs them.
  void LogMissingFormat(const std::uint8_t* bytes, std::size_t count, TMonoTime firstByte,
                        const std::string& prefix);

  // One line to a pane; nothing when the pane is absent. Without a stamp the
  // line is of kind Other, made now.
  void AddTerminalLine(const std::string& text);
  void AddDecodeLine(const std::string& text);
  void AddTerminalLine(const std::string& text, const TLineStamp& stamp);
  void AddDecodeLine(const std::string& text, const TLineStamp& stamp);
  // Appends the line and CR LF to the file when Autosave is on, opening and
  // closing the file for the line (created when missing). The text is written
  // as it is held (Windows-1251). With AutosaveTimes on, a line of an autosave
  // file starts with the time the last line of its pane shows. Throws
  // EAutosaveError on failure.
  void AppendLogLine(const std::string& fileName, const std::string& text);
  // The next line of each pane counts as its first again (the panes were
  // cleared).
  void RestartLineTimes();

  // Frame helpers of the transport, shared with the Master page.
  static std::uint32_t ComputeChecksum(const std::uint8_t* buffer, long bufferLength, long start, long count) {
    return mkp::ComputeChecksum(buffer, bufferLength, start, count);
  }

  std::string TerminalAutosaveFile;
  std::string DecodeAutosaveFile;
  // Whether the window's pane scrolls to each new line; the transport keeps
  // it for the window, which reads it when it adds a line to its list box.
  std::atomic<bool> AutoScroll{false};
  std::atomic<bool> DecodeEnabled{false};
  std::atomic<bool> Autosave{false};
  // Whether the autosave files get the lines with their time, as the panes
  // show them while their time is shown.
  std::atomic<bool> AutosaveTimes{false};

private:
  // The terminal and decode lines (and autosave lines) of a packet moved.
  void LogPacket(const TMKPPacket& packet, const std::string& prefix, bool decode, const TLineStamp& stamp);
  // The log lock is held.
  void AddLineLocked(TLogPane* pane, const std::string& text, const TLineStamp& stamp);
  void AppendLocked(const std::string& fileName, const std::string& text);
  // The time shown by the last line of the pane an autosave file follows.
  const TShownTime* ShownFor(const std::string& fileName) const;

  TSerialLine* channel_ = nullptr;
  TLogPane* terminalBox_ = nullptr;
  TLogPane* decodeBox_ = nullptr;
  TMKPParser* parser_ = nullptr;
  std::mutex ioLock_;   // one send or receive on the line at a time
  std::mutex logLock_;  // panes, analyser and autosave files; after ioLock_
  // Under logLock_: the shown time of each pane's lines, for the autosave files.
  TLineTimer terminalTimer_{false}, decodeTimer_{true};
  TShownTime terminalShown_, decodeShown_;
};

}  // namespace mkp
