#include "protocol/transport.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "analysis/parser.h"
#include "serial/line.h"
#include "text/hextext.h"

namespace mkp {

std::string DecodeFileNameFor(const std::string& terminalFile) {
  const auto slash = terminalFile.find_last_of('/');
  const std::size_t namePos = slash == std::string::npos ? 0 : slash + 1;
  return terminalFile.substr(0, namePos) + "dcd_" + terminalFile.substr(namePos);
}

bool FrameUnfinished(const std::uint8_t* bytes, std::size_t count) {
  constexpr std::size_t HeaderSize = 14;
  if (count >= 10 && bytes[8] + bytes[9] * 256 > MaxDataLen) return false;  // no frame is that long
  if (count < HeaderSize) return true;
  const std::uint32_t stated = static_cast<std::uint32_t>(bytes[10]) | static_cast<std::uint32_t>(bytes[11]) << 8 |
                               static_cast<std::uint32_t>(bytes[12]) << 16 |
                               static_cast<std::uint32_t>(bytes[13]) << 24;
  if (ComputeChecksum(bytes, static_cast<long>(HeaderSize), 0, 10) != stated) return false;
  const int length = bytes[8] + bytes[9] * 256;
  return count < static_cast<std::size_t>(length == 0 ? HeaderSize : length + 18);
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

void TMKProtocolTransport::AddLineLocked(TLogPane* pane, const std::string& text, const TLineStamp& stamp) {
  if (pane == nullptr) return;
  if (pane == terminalBox_) terminalShown_ = terminalTimer_.Next(stamp);
  if (pane == decodeBox_) decodeShown_ = decodeTimer_.Next(stamp);
  pane->AddLine(text, stamp);
}

void TMKProtocolTransport::RestartLineTimes() {
  std::lock_guard lk(logLock_);
  terminalTimer_.Reset();
  decodeTimer_.Reset();
}

const TShownTime* TMKProtocolTransport::ShownFor(const std::string& fileName) const {
  if (fileName == TerminalAutosaveFile) return &terminalShown_;
  if (fileName == DecodeAutosaveFile) return &decodeShown_;
  return nullptr;
}

void TMKProtocolTransport::AddTerminalLine(const std::string& text) { AddTerminalLine(text, TLineStamp::Now()); }

void TMKProtocolTransport::AddDecodeLine(const std::string& text) { AddDecodeLine(text, TLineStamp::Now()); }

void TMKProtocolTransport::AddTerminalLine(const std::string& text, const TLineStamp& stamp) {
  std::lock_guard lk(logLock_);
  AddLineLocked(terminalBox_, text, stamp);
}

void TMKProtocolTransport::AddDecodeLine(const std::string& text, const TLineStamp& stamp) {
  std::lock_guard lk(logLock_);
  AddLineLocked(decodeBox_, text, stamp);
}

void TMKProtocolTransport::AppendLogLine(const std::string& fileName, const std::string& text) {
  std::lock_guard lk(logLock_);
  AppendLocked(fileName, text);
}

void TMKProtocolTransport::AppendLocked(const std::string& fileName, const std::string& text) {
  if (!Autosave.load()) return;
  struct TFileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, TFileCloser> file(std::fopen(fileName.c_str(), "ab"));
  if (!file)
    throw EAutosaveError("Cannot open the autosave file \"" + fileName + "\": " + std::strerror(errno));
  std::string line = text + "\r\n";
  if (AutosaveTimes.load())
    if (const TShownTime* shown = ShownFor(fileName))
      line = TimePrefix(*shown) + text + AnswerSuffix(*shown) + "\r\n";
  errno = 0;
  bool ok = std::fwrite(line.data(), 1, line.size(), file.get()) == line.size();
  int err = errno;
  ok = std::fclose(file.release()) == 0 && ok;
  if (!ok) {
    if (err == 0) err = errno;
    throw EAutosaveError("Cannot write the autosave file \"" + fileName + "\": " + std::strerror(err));
  }
}

void TMKProtocolTransport::LogPacket(const TMKPPacket& packet, const std::string& prefix, bool decode,
                                     const TLineStamp& stamp) {
  const bool sent = stamp.Kind == TLineKind::Sent;
  const std::string text = PacketToText(packet);
  const std::string terminalLine = prefix + text;
  std::lock_guard lk(logLock_);
  AddLineLocked(terminalBox_, terminalLine, stamp);
  AppendLocked(TerminalAutosaveFile, terminalLine);
  if (!decode) return;
  std::string description;
  if (parser_ != nullptr) description = sent ? parser_->DescribeMaster(text) : parser_->DescribeSlave(text);
  const std::string decodeLine = prefix + description;
  AddLineLocked(decodeBox_, decodeLine, stamp);
  AppendLocked(DecodeAutosaveFile, decodeLine);
}

void TMKProtocolTransport::LogReceived(const TMKPPacket& packet, TMonoTime firstByte, const std::string& prefix) {
  LogPacket(packet, prefix, DecodeEnabled.load(), {firstByte, TLineKind::Received});
}

void TMKProtocolTransport::LogMissingFormat(const std::uint8_t* bytes, std::size_t count, TMonoTime firstByte,
                                            const std::string& prefix) {
  if (count == 0) return;
  const TLineStamp stamp{firstByte, TLineKind::Received};
  const std::string hex = BytesToHexText(bytes, count, static_cast<long>(count));
  std::lock_guard lk(logLock_);
  AddLineLocked(terminalBox_, prefix + "Missing format : " + hex, stamp);
  if (DecodeEnabled.load()) AddLineLocked(decodeBox_, prefix + "Missing format", stamp);
}

bool TMKProtocolTransport::SendPacket(const TMKPPacket& packet, TMonoTime* written) {
  std::lock_guard io(ioLock_);
  std::vector<std::uint8_t> frame(FrameBufferSize);
  bool sent = false;
  try {
    int length = 0;
    if (channel_ == nullptr || !BuildFrame(packet, frame.data(), length)) throw EMKProtocolFailure();
    std::size_t count = static_cast<std::size_t>(length);
    if (!channel_->WriteBytes(frame.data(), count)) throw EMKProtocolFailure();
    sent = true;
  } catch (const EMKProtocolFailure&) {
  }
  TLineStamp stamp = TLineStamp::Now(sent ? TLineKind::Sent : TLineKind::Other);
  // A paced write ends when its last byte has gone out.
  if (sent) stamp.Time += std::chrono::duration_cast<TMonoClock::duration>(channel_->PendingWriteTime());
  const bool decode = DecodeEnabled.load();
  if (!sent) {
    std::lock_guard lk(logLock_);
    AddLineLocked(terminalBox_, "-> Transmit error!", stamp);
    if (decode) AddLineLocked(decodeBox_, "-> Transmit error!", stamp);
    return false;
  }
  if (written != nullptr) *written = stamp.Time;
  LogPacket(packet, "-> ", decode, stamp);
  return true;
}

bool TMKProtocolTransport::ReceivePacket(TMKPPacket& packet, TReceiveInfo* info) {
  std::lock_guard io(ioLock_);
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
  LogPacket(packet, "<- ", DecodeEnabled.load(), {firstByte, TLineKind::Received});
  return true;
}

}  // namespace mkp
