#include "protocol/transport.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "analysis/parser.h"
#include "serial/line.h"
#include "text/controlchars.h"
#include "text/hextext.h"

namespace mkp {

namespace {

std::uint32_t AddressAt(const std::uint8_t* bytes) { return bytes[0] | bytes[1] << 8 | bytes[2] << 16; }

// A frame's stamp with the addresses that tell an answer from other traffic.
TLineStamp FrameStamp(TMonoTime time, TLineKind kind, const std::uint8_t* bytes, std::size_t count) {
  TLineStamp stamp{time, kind};
  if (count >= frame::SrcOffset + 3) {
    stamp.Source = AddressAt(bytes + frame::SrcOffset);
    stamp.Destination = AddressAt(bytes + frame::DstOffset);
  }
  return stamp;
}

}  // namespace

std::string DecodeFileNameFor(const std::string& terminalFile) {
  const auto slash = terminalFile.find_last_of('/');
  const std::size_t namePos = slash == std::string::npos ? 0 : slash + 1;
  return terminalFile.substr(0, namePos) + "dcd_" + terminalFile.substr(namePos);
}

TMKProtocolTransport::TMKProtocolTransport(TSerialLine* channel) : channel_(channel) {}

void TMKProtocolTransport::SetChannel(TSerialLine* channel) {
  std::lock_guard lk(ioLock_);
  channel_ = channel;
}
void TMKProtocolTransport::SetTerminalBox(TLogPane* pane) {
  std::lock_guard lk(logLock_);
  terminalBox_ = pane;
}
void TMKProtocolTransport::SetDecodeBox(TLogPane* pane) {
  std::lock_guard lk(logLock_);
  decodeBox_ = pane;
}
void TMKProtocolTransport::SetParser(TMKPParser* parser) {
  std::lock_guard lk(logLock_);
  parser_ = parser;
}
void TMKProtocolTransport::SetFrameTap(TFrameTap* tap) {
  std::lock_guard lk(logLock_);
  tap_ = tap;
}

TPaneLine TMKProtocolTransport::AddLineLocked(TLogPane* pane, TLineTimer& timer, const std::string& text,
                                              const TLineStamp& stamp) {
  TPaneLine line{ShowControlChars(text), stamp, {}};
  if (pane == nullptr) {
    line.Shown.Time = stamp.Time;
    return line;
  }
  line.Shown = timer.Next(stamp);
  pane->AddLine(line);
  return line;
}

void TMKProtocolTransport::RestartLineTimes() {
  std::lock_guard lk(logLock_);
  terminalTimer_.Reset();
  decodeTimer_.Reset();
}

void TMKProtocolTransport::AddTerminalLine(const std::string& text) { AddTerminalLine(text, TLineStamp::Now()); }

void TMKProtocolTransport::AddDecodeLine(const std::string& text) { AddDecodeLine(text, TLineStamp::Now()); }

void TMKProtocolTransport::AddTerminalLine(const std::string& text, const TLineStamp& stamp) {
  std::lock_guard lk(logLock_);
  AddLineLocked(terminalBox_, terminalTimer_, text, stamp);
}

void TMKProtocolTransport::AddDecodeLine(const std::string& text, const TLineStamp& stamp) {
  std::lock_guard lk(logLock_);
  AddLineLocked(decodeBox_, decodeTimer_, text, stamp);
}

void TMKProtocolTransport::AppendLogLine(const std::string& fileName, const std::string& text) {
  std::lock_guard lk(logLock_);
  TPaneLine line{ShowControlChars(text), TLineStamp::Now(), {}};
  line.Shown.Time = line.Stamp.Time;
  AppendLocked(fileName, line);
}

void TMKProtocolTransport::AppendLocked(const std::string& fileName, const TPaneLine& line) {
  if (!Autosave.load()) return;
  struct TFileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, TFileCloser> file(std::fopen(fileName.c_str(), "ab"));
  if (!file)
    throw EAutosaveError("Cannot open the autosave file \"" + fileName + "\": " + std::strerror(errno));
  const std::string text = ShownLine(line, AutosaveTimes.load()) + "\r\n";
  errno = 0;
  bool ok = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
  int err = errno;
  ok = std::fclose(file.release()) == 0 && ok;
  if (!ok) {
    if (err == 0) err = errno;
    throw EAutosaveError("Cannot write the autosave file \"" + fileName + "\": " + std::strerror(err));
  }
}

void TMKProtocolTransport::LogFrame(const TFrameLines& lines, const TLineStamp& stamp) {
  std::lock_guard lk(logLock_);
  LogFrameLocked(lines, stamp);
}

void TMKProtocolTransport::LogFrameLocked(const TFrameLines& lines, const TLineStamp& stamp) {
  const bool decode = DecodeEnabled.load();
  const TPaneLine terminal = AddLineLocked(terminalBox_, terminalTimer_, lines.Terminal, stamp);
  if (lines.Autosave) AppendLocked(TerminalAutosaveFile, terminal);
  TPaneLine decoded;
  if (decode) {
    decoded = AddLineLocked(decodeBox_, decodeTimer_, lines.Decode, stamp);
    if (lines.Autosave) AppendLocked(DecodeAutosaveFile, decoded);
  }
  if (tap_ == nullptr) return;
  if (!decode) decoded = {ShowControlChars(lines.Decode), stamp, {}};
  tap_->Frame({lines.Port, stamp.Kind == TLineKind::Sent, lines.Good, lines.Bytes, lines.Count, stamp.Time, &decoded});
}

void TMKProtocolTransport::LogPacket(const TMKPPacket& packet, const std::uint8_t* bytes, std::size_t count,
                                     const std::string& prefix, const TLineStamp& stamp, int port) {
  const bool sent = stamp.Kind == TLineKind::Sent;
  const std::string text = PacketToText(packet);
  TFrameLines lines{bytes, count, true, port, prefix + text, prefix, true};
  // The analyser is shared: describing goes under the log lock, with the lines.
  std::lock_guard lk(logLock_);
  if (parser_ != nullptr && (DecodeEnabled.load() || tap_ != nullptr))
    lines.Decode += sent ? parser_->DescribeMaster(text) : parser_->DescribeSlave(text);
  LogFrameLocked(lines, stamp);
}

void TMKProtocolTransport::LogMissingFormat(const std::uint8_t* bytes, std::size_t count, TMonoTime firstByte,
                                            const std::string& prefix, int port) {
  if (count == 0) return;
  const std::string hex = BytesToHexText(bytes, count, static_cast<long>(count));
  LogFrame({bytes, count, false, port, prefix + "Missing format : " + hex, prefix + "Missing format", false},
           {firstByte, TLineKind::Received});
}

void TMKProtocolTransport::LogPiece(const TBusPiece& piece, const TMKPPacket* packet, const std::string& prefix,
                                    int port) {
  if (packet != nullptr)
    LogPacket(*packet, piece.Bytes.data(), piece.Bytes.size(), prefix,
              FrameStamp(piece.FirstByte, TLineKind::Received, piece.Bytes.data(), piece.Bytes.size()), port);
  else
    LogMissingFormat(piece.Bytes.data(), piece.Bytes.size(), piece.FirstByte, prefix, port);
}

bool TMKProtocolTransport::SendPacket(const TMKPPacket& packet, TMonoTime* written) {
  std::lock_guard io(ioLock_);
  std::vector<std::uint8_t> frame(FrameBufferSize);
  int length = 0;
  bool sent = false;
  try {
    if (channel_ == nullptr || !BuildFrame(packet, frame.data(), length)) throw EMKProtocolFailure();
    std::size_t count = static_cast<std::size_t>(length);
    if (!channel_->WriteBytes(frame.data(), count)) throw EMKProtocolFailure();
    sent = true;
  } catch (const EMKProtocolFailure&) {
  }
  TLineStamp stamp = TLineStamp::Now(sent ? TLineKind::Sent : TLineKind::Other);
  if (!sent) {
    const bool decode = DecodeEnabled.load();
    std::lock_guard lk(logLock_);
    AddLineLocked(terminalBox_, terminalTimer_, "-> Transmit error!", stamp);
    if (decode) AddLineLocked(decodeBox_, decodeTimer_, "-> Transmit error!", stamp);
    return false;
  }
  // A paced write ends when its last byte has gone out.
  stamp = FrameStamp(stamp.Time + std::chrono::duration_cast<TMonoClock::duration>(channel_->PendingWriteTime()),
                     TLineKind::Sent, frame.data(), static_cast<std::size_t>(length));
  if (written != nullptr) *written = stamp.Time;
  LogPacket(packet, frame.data(), static_cast<std::size_t>(length), "-> ", stamp);
  return true;
}

bool TMKProtocolTransport::SendRaw(const std::uint8_t* bytes, std::size_t count, const std::string& terminalLine,
                                   const std::string& decodeLine, TMonoTime* written) {
  std::lock_guard io(ioLock_);
  std::size_t taken = count;
  if (channel_ == nullptr || !channel_->WriteBytes(bytes, taken)) return false;
  const TLineStamp stamp = FrameStamp(
      TMonoClock::now() + std::chrono::duration_cast<TMonoClock::duration>(channel_->PendingWriteTime()),
      TLineKind::Sent, bytes, count);
  if (written != nullptr) *written = stamp.Time;
  std::size_t length = 0;
  const bool good = FrameStartAt(bytes, count, length) == TFrameStart::Frame && length == count;
  LogFrame({bytes, count, good, 1, terminalLine, decodeLine, true}, stamp);
  return true;
}

static std::string DroppedBytesLine(std::size_t bytes, bool modeSwitch) {
  return "<- " + std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes") +
         (modeSwitch ? " that arrived while no mode was reading dropped" : " dropped: they waited unread too long");
}

void TMKProtocolTransport::ReportDropped() {
  if (channel_ == nullptr) return;
  if (const std::size_t dropped = channel_->TakeDropped()) AddTerminalLine(DroppedBytesLine(dropped, false));
  if (const std::string lost = channel_->TakeLostReport(); !lost.empty()) AddTerminalLine(lost);
}

std::size_t TMKProtocolTransport::DropWaiting(TMonoTime arrivedBefore) {
  // Not under the line's lock: a worker that is ending may still be inside a
  // read, and the window's thread must not wait for it. The bytes that read
  // takes are its own; those still waiting go.
  const std::size_t dropped = channel_ != nullptr ? channel_->DiscardWaiting(arrivedBefore) : 0;
  if (dropped > 0) AddTerminalLine(DroppedBytesLine(dropped, true));
  return dropped;
}

bool TMKProtocolTransport::ReceivePieces(TMonoTime deadline, const TPieceHandler& onPiece,
                                         const TSerialLine::TInterrupted& interrupted) {
  return ReadPieces(deadline, onPiece, nullptr, interrupted);
}

bool TMKProtocolTransport::ReceivePieces(TMonoTime deadline, const TPieceHandler& onPiece, TFrameSplitter& splitter) {
  return ReadPieces(deadline, onPiece, &splitter, nullptr);
}

bool TMKProtocolTransport::ReadPieces(TMonoTime deadline, const TPieceHandler& onPiece, TFrameSplitter* carried,
                                      const TSerialLine::TInterrupted& interrupted) {
  std::lock_guard io(ioLock_);
  if (channel_ == nullptr) return false;
  ReportDropped();
  std::vector<std::uint8_t> buffer(FrameBufferSize);
  std::vector<TSerialLine::TArrival> arrivals;
  bool done = false;
  while (!done && TMonoClock::now() < deadline) {
    TFrameSplitter own;
    TFrameSplitter& splitter = carried != nullptr ? *carried : own;
    std::size_t fed = 0;
    // The read rides out a silence while what it holds may still become a frame.
    auto unfinished = [&](const std::uint8_t* bytes, std::size_t count) {
      splitter.FeedRead(bytes, fed, count, arrivals);
      return splitter.Unfinished();
    };
    std::size_t count = 0;
    if (!channel_->Read(buffer.data(), buffer.size(), count, {unfinished, nullptr, &deadline, &arrivals, interrupted}))
      return false;
    splitter.FeedRead(buffer.data(), fed, count, arrivals);
    // A splitter of its own settles all after each read. A carried one holds
    // what may still become a frame (for the next read, or the next call)
    // until the line has been silent for longer than a frame's silences
    // last, and settles bad bytes held waiting for the next frame start once
    // a read ended at a silence.
    const TMonoTime now = TMonoClock::now();
    const auto held = splitter.HeldUntil();
    if (carried == nullptr ||
        (splitter.Unfinished()
             ? held && now - *held > std::chrono::duration_cast<TMonoClock::duration>(channel_->FrameGap())
             : count < buffer.size() && now < deadline))
      splitter.Flush();
    for (const TBusPiece& piece : splitter.Take()) {
      TPacketHolder packet;
      std::vector<std::uint8_t> frame(FrameBufferSize, 0);
      std::copy_n(piece.Bytes.begin(), std::min(piece.Bytes.size(), frame.size()), frame.begin());
      const bool parsed = piece.Good && ParseFrame(frame.data(), *packet);
      LogPiece(piece, parsed ? &*packet : nullptr, "<- ");
      if (onPiece(piece, parsed ? &*packet : nullptr)) done = true;
    }
    if (!done && interrupted && interrupted()) break;
  }
  return done;
}

bool TMKProtocolTransport::ReceivePacket(TMKPPacket& packet, TReceiveInfo* info) {
  std::lock_guard io(ioLock_);
  ReportDropped();
  std::vector<std::uint8_t> frame(FrameBufferSize, 0);
  std::size_t received = 0;
  TMonoTime firstByte = TMonoClock::now();
  bool ok = false;
  try {
    if (channel_ == nullptr) throw EMKProtocolFailure();
    if (!channel_->ReadBytes(frame.data(), frame.size(), received, FrameUnfinished, &firstByte)) {
      received = 0;
      throw EMKProtocolFailure();
    }
    if (received == 0 || !ParseFrame(frame.data(), packet)) throw EMKProtocolFailure();
    // The bytes of this one read are the frame: leading noise, a truncated
    // frame, two frames or trailing bytes all fail here.
    if (received != static_cast<std::size_t>(FrameLength(packet))) throw EMKProtocolFailure();
    ok = true;
  } catch (const EMKProtocolFailure&) {
  }
  if (info != nullptr) *info = {received, firstByte};
  if (!ok) {
    LogMissingFormat(frame.data(), received, firstByte, "<- ");
    return false;
  }
  LogPacket(packet, frame.data(), received, "<- ", FrameStamp(firstByte, TLineKind::Received, frame.data(), received));
  return true;
}

}  // namespace mkp
