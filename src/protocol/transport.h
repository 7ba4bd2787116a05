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
// Each pane line is one record (TPaneLine) made here, once: its text (control
// characters written visibly), its stamp, and the time it shows, from the one
// timer of its pane. The panes, the autosave files and a frame tap (a
// capture) all get it from here.
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
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>

#include "protocol/framesplit.h"
#include "protocol/packet.h"
#include "protocol/panes.h"
#include "serial/line.h"

namespace mkp {

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

// What a receive saw: how many bytes the read gave and when the first of them
// arrived.
struct TReceiveInfo {
  std::size_t Bytes = 0;
  TMonoTime FirstByte{};
};

// A frame (or bytes that formed none) as it went over the line, handed to a
// frame tap where it is logged: a capture writes it.
struct TFrameRecord {
  int Port = 1;       // the line: 1, or 2 for a monitor's second port
  bool Sent = false;  // written by us; false: received
  bool Good = true;   // a whole frame; false: "Missing format" bytes
  const std::uint8_t* Bytes = nullptr;
  std::size_t Count = 0;
  TMonoTime Time{};
  const TPaneLine* Decode = nullptr;  // the decode pane's line of it
};

class TFrameTap {
public:
  virtual ~TFrameTap() = default;
  // Called under the transport's log lock, in the thread that moved the frame.
  virtual void Frame(const TFrameRecord& frame) = 0;
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

  // The tap that gets every frame moved (null: none; not owned). May be set
  // and cleared at any time; Frame() is not called after SetFrameTap returns.
  void SetFrameTap(TFrameTap* tap);

  // Frames and writes the packet; logs "-> ..." or "-> Transmit error!".
  // written, when given, receives the moment the write ended (on success).
  // May throw EAutosaveError, or what the analyser throws.
  bool SendPacket(const TMKPPacket& packet, TMonoTime* written = nullptr);
  // Writes the bytes as they are; when the line takes them, logs the given
  // terminal and decode lines as a sent frame's (the Master page's raw send).
  // When it does not, nothing is logged. May throw EAutosaveError.
  bool SendRaw(const std::uint8_t* bytes, std::size_t count, const std::string& terminalLine,
               const std::string& decodeLine, TMonoTime* written = nullptr);
  // One read of up to FrameBufferSize bytes; logs "<- ..." or
  // "<- Missing format : ..."; nothing arrived logs nothing. The received
  // count must be exactly the frame length the header announces. info, when
  // given, tells what the read saw.
  bool ReceivePacket(TMKPPacket& packet, TReceiveInfo* info = nullptr);

  // Reads until onPiece has what it waits for, or the deadline passes. Each
  // read of the line (ended by a silence, as ReceivePacket's, or by the
  // deadline) is cut into frames and bad bytes (TFrameSplitter); every piece
  // is logged as ReceivePacket logs a frame or "Missing format" bytes and then
  // handed to onPiece, in order (packet: the frame read back; null for bad
  // bytes). onPiece returns true once it has what it waited for; the other
  // pieces of that read still reach it. True when onPiece said so; false when
  // the deadline passed first or the line is not usable. interrupted, when
  // given, is asked while the line is read (TSerialLine::TReadOptions) and
  // ends the wait early when it says so.
  using TPieceHandler = std::function<bool(const TBusPiece& piece, const TMKPPacket* packet)>;
  bool ReceivePieces(TMonoTime deadline, const TPieceHandler& onPiece,
                     const TSerialLine::TInterrupted& interrupted = nullptr);
  // The same for a reader that watches the line call after call (a simulated
  // device, a bus scan): the splitter is the caller's and lives on, so a frame
  // that the deadline cuts is put together by the next call instead of being
  // given up as bad bytes. What it holds is settled when the line has been
  // silent for longer than the line's frame gap.
  bool ReceivePieces(TMonoTime deadline, const TPieceHandler& onPiece, TFrameSplitter& splitter);
  // Drops the bytes that arrived before the given moment and wait unread (a
  // mode switch: what came while no mode read the line) and says how many in
  // the terminal pane; the count (0: no line).
  std::size_t DropWaiting(TMonoTime arrivedBefore = TMonoTime::max());

  // The lines of a piece read by someone else (a bus monitor), under the
  // given direction prefix ("<- ", "<-1 "): a frame (packet: the frame read
  // back) as ReceivePacket logs it, bad bytes (packet null) as "Missing
  // format". port: the line it came from, for a frame tap.
  void LogPiece(const TBusPiece& piece, const TMKPPacket* packet, const std::string& prefix, int port = 1);

  // One line to a pane; nothing when the pane is absent. Without a stamp the
  // line is of kind Other, made now.
  void AddTerminalLine(const std::string& text);
  void AddDecodeLine(const std::string& text);
  void AddTerminalLine(const std::string& text, const TLineStamp& stamp);
  void AddDecodeLine(const std::string& text, const TLineStamp& stamp);
  // Appends the line and CR LF to the file when Autosave is on, opening and
  // closing the file for the line (created when missing). The text is written
  // as it is held (Windows-1251), control characters written visibly. Throws
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
  // What a frame moved is logged as: the bytes on the line and its two lines.
  struct TFrameLines {
    const std::uint8_t* Bytes = nullptr;
    std::size_t Count = 0;
    bool Good = true;
    int Port = 1;
    std::string Terminal;
    std::string Decode;
    bool Autosave = true;  // "Missing format" lines go to the panes only
  };
  // The terminal and decode lines (and autosave lines) of a packet moved.
  void LogPacket(const TMKPPacket& packet, const std::uint8_t* bytes, std::size_t count, const std::string& prefix,
                 const TLineStamp& stamp, int port = 1);
  void LogMissingFormat(const std::uint8_t* bytes, std::size_t count, TMonoTime firstByte,
                        const std::string& prefix, int port = 1);
  // Logs both lines (the decode line while DecodeEnabled) and hands the frame
  // to the tap. Takes the log lock; LogFrameLocked with it held.
  void LogFrame(const TFrameLines& lines, const TLineStamp& stamp);
  void LogFrameLocked(const TFrameLines& lines, const TLineStamp& stamp);
  // The two ReceivePieces: a splitter of their own for each read, or the
  // caller's carried from read to read.
  bool ReadPieces(TMonoTime deadline, const TPieceHandler& onPiece, TFrameSplitter* carried,
                  const TSerialLine::TInterrupted& interrupted);
  // Says in the terminal pane how many bytes the line dropped unread, if any,
  // and that a line over the network was lost.
  void ReportDropped();
  // The log lock is held. The record made for the pane.
  TPaneLine AddLineLocked(TLogPane* pane, TLineTimer& timer, const std::string& text, const TLineStamp& stamp);
  void AppendLocked(const std::string& fileName, const TPaneLine& line);

  TSerialLine* channel_ = nullptr;
  TLogPane* terminalBox_ = nullptr;
  TLogPane* decodeBox_ = nullptr;
  TMKPParser* parser_ = nullptr;
  std::mutex ioLock_;   // one send or receive on the line at a time
  std::mutex logLock_;  // panes, analyser and autosave files; after ioLock_
  TFrameTap* tap_ = nullptr;  // under logLock_
  // Under logLock_: the one timer of each pane.
  TLineTimer terminalTimer_{false}, decodeTimer_{true};
};

}  // namespace mkp
