#include "python/portcore.h"

#include <algorithm>
#include <cstdio>

#include "protocol/linetime.h"

namespace mkpy {

namespace {

using mkp::TMonoClock;

// Pieces read after the one a caller took wait for the next Receive; beyond
// this many the oldest go (they are in the log all the same).
constexpr std::size_t PendingLimit = 1024;

struct TRecorder {
  std::mutex Lock;
  bool On = false;
  std::vector<TRecordedLine> Lines;
};

TRecorder& Recorder() {
  static TRecorder recorder;
  return recorder;
}

std::string Hex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

}  // namespace

// ---- Packet values -----------------------------------------------------------

void TPacketValue::ToRecord(mkp::TMKPPacket& record) const {
  record.DstAddr = Dst;
  record.SrcAddr = Src;
  record.Command = Command;
  record.DataType = DataType;
  const std::size_t length = std::min(Data.size(), static_cast<std::size_t>(mkp::MaxDataLen));
  record.DataLen = static_cast<std::int32_t>(length);
  std::copy_n(Data.data(), length, record.Data.get());
}

TPacketValue TPacketValue::FromRecord(const mkp::TMKPPacket& record) {
  TPacketValue value;
  value.Dst = record.DstAddr;
  value.Src = record.SrcAddr;
  value.Command = record.Command;
  value.DataType = record.DataType;
  const auto length = static_cast<std::size_t>(std::clamp(record.DataLen, 0, mkp::MaxDataLen));
  value.Data.assign(reinterpret_cast<const char*>(record.Data.get()), length);
  return value;
}

std::string AddressHex(const mkp::TVorelAddr& address) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (const std::uint8_t byte : address.Bytes) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

std::string FrameProblem(const std::uint8_t* bytes, std::size_t count) {
  namespace frame = mkp::frame;
  const long size = static_cast<long>(count);
  if (count < frame::HeaderSize)
    return "a frame has at least " + std::to_string(frame::HeaderSize) + " bytes, these are " + std::to_string(count);
  const std::uint32_t header = frame::ReadChecksum(bytes + frame::HeaderChecksumOffset);
  const std::uint32_t headerComputed = mkp::ComputeChecksum(bytes, size, 0, frame::HeaderBytes);
  if (header != headerComputed)
    return "header checksum mismatch: the frame holds " + Hex32(header) + ", the header gives " + Hex32(headerComputed);
  const std::size_t length = frame::StatedDataLength(bytes);
  if (length > static_cast<std::size_t>(mkp::MaxDataLen))
    return "the data length " + std::to_string(length) + " exceeds " + std::to_string(mkp::MaxDataLen);
  const std::size_t wanted = frame::LengthFor(length);
  if (count < wanted)
    return "truncated: the header announces " + std::to_string(wanted) + " bytes, these are " + std::to_string(count);
  if (count > wanted)
    return std::to_string(count - wanted) + " bytes after the end of the frame (the header announces " +
           std::to_string(wanted) + " bytes)";
  if (length == 0) return {};
  const std::uint32_t data = frame::ReadChecksum(bytes + frame::DataOffset + length);
  const std::uint32_t dataComputed =
      mkp::ComputeChecksum(bytes, size, static_cast<long>(frame::DataOffset), static_cast<long>(length));
  if (data != dataComputed)
    return "data checksum mismatch: the frame holds " + Hex32(data) + ", the data give " + Hex32(dataComputed);
  return {};
}

std::chrono::system_clock::time_point WallTime(mkp::TMonoTime time) {
  const auto age = TMonoClock::now() - time;
  return std::chrono::system_clock::now() - std::chrono::duration_cast<std::chrono::system_clock::duration>(age);
}

// ---- Pane log ----------------------------------------------------------------

TPaneLog::TPaneLog(std::string port) : port_(std::move(port)) {}

void TPaneLog::SetPortName(std::string port) {
  std::lock_guard guard(lock_);
  port_ = std::move(port);
}

void TPaneLog::SetRecorded(bool recorded) {
  std::lock_guard guard(lock_);
  recorded_ = recorded;
}

void TPaneLog::Add(TPane pane, const mkp::TPaneLine& line) {
  std::string shown = mkp::ShownLine(line, true);
  std::string port;
  bool recorded = false;
  {
    std::lock_guard guard(lock_);
    auto& lines = panes_[static_cast<int>(pane)];
    lines.push_back({++sequence_, shown});
    if (lines.size() > PaneLimit) lines.pop_front();
    last_[static_cast<int>(pane)] = line.Text;
    port = port_;
    recorded = recorded_;
  }
  if (!recorded) return;
  TRecorder& recorder = Recorder();
  std::lock_guard guard(recorder.Lock);
  if (recorder.On) recorder.Lines.push_back({std::move(port), pane, std::move(shown)});
}

std::vector<std::pair<TPane, std::string>> TPaneLog::Lines() const {
  std::lock_guard guard(lock_);
  std::vector<std::pair<TPane, std::string>> lines;
  lines.reserve(panes_[0].size() + panes_[1].size());
  auto terminal = panes_[0].begin();
  auto decode = panes_[1].begin();
  while (terminal != panes_[0].end() || decode != panes_[1].end()) {
    if (decode == panes_[1].end() || (terminal != panes_[0].end() && terminal->Sequence < decode->Sequence)) {
      lines.emplace_back(TPane::Terminal, terminal++->Shown);
    } else {
      lines.emplace_back(TPane::Decode, decode++->Shown);
    }
  }
  return lines;
}

void TPaneLog::Clear() {
  std::lock_guard guard(lock_);
  panes_[0].clear();
  panes_[1].clear();
}

std::string TPaneLog::LastText(TPane pane) const {
  std::lock_guard guard(lock_);
  return last_[static_cast<int>(pane)];
}

void StartRecording() {
  TRecorder& recorder = Recorder();
  std::lock_guard guard(recorder.Lock);
  recorder.On = true;
  recorder.Lines.clear();
}

std::vector<TRecordedLine> TakeRecording() {
  TRecorder& recorder = Recorder();
  std::lock_guard guard(recorder.Lock);
  std::vector<TRecordedLine> lines;
  lines.swap(recorder.Lines);
  return lines;
}

void StopRecording() {
  TRecorder& recorder = Recorder();
  std::lock_guard guard(recorder.Lock);
  recorder.On = false;
  recorder.Lines.clear();
}

// ---- Port --------------------------------------------------------------------

TPortCore::TPortCore(std::unique_ptr<mkp::TCOMPortChannel> channel)
    : channel_(channel ? std::move(channel) : std::make_unique<mkp::TCOMPortChannel>()) {
  transport_.SetChannel(channel_.get());
  transport_.SetParser(&parser_);
  transport_.SetTerminalBox(log_.Terminal());
  transport_.SetDecodeBox(log_.Decode());
  transport_.DecodeEnabled = true;
}

TPortCore::~TPortCore() { Close(); }

bool TPortCore::Open(const std::string& name, const std::string& speed, const std::string& stopBits,
                     const std::string& parity, int readInterval, int writeInterval,
                     const mkp::TSerialLine::TInterrupted& interrupted) {
  log_.SetPortName(name);
  {
    std::lock_guard guard(pendingLock_);
    pending_.clear();
  }
  return channel_->OpenPort(name, speed, stopBits, parity, readInterval, writeInterval, interrupted);
}

void TPortCore::Close() { channel_->ClosePort(); }

std::string TPortCore::LastError() const { return channel_->LastError(); }

bool TPortCore::Send(const mkp::TMKPPacket& packet, mkp::TMonoTime* written) {
  return transport_.SendPacket(packet, written);
}

bool TPortCore::SendRaw(const std::vector<std::uint8_t>& bytes, const std::string& terminal,
                        const std::string& decode) {
  return transport_.SendRaw(bytes.data(), bytes.size(), terminal, decode);
}

TFrameResult TPortCore::MakeFrame(const mkp::TBusPiece& piece, const mkp::TMKPPacket* packet) {
  TFrameResult frame;
  frame.Good = packet != nullptr;
  frame.Raw = piece.Bytes;
  if (packet != nullptr) frame.Packet = TPacketValue::FromRecord(*packet);
  frame.FirstByte = piece.FirstByte;
  // The transport has just logged the piece, in this thread.
  frame.Text = log_.LastText(TPane::Terminal);
  frame.Decode = transport_.DecodeEnabled ? log_.LastText(TPane::Decode) : std::string();
  return frame;
}

std::optional<TFrameResult> TPortCore::Await(mkp::TMonoTime deadline,
                                             const mkp::TSerialLine::TInterrupted& interrupted,
                                             const std::function<bool(const TFrameResult&)>& take,
                                             bool& lineFailed) {
  lineFailed = false;
  std::optional<TFrameResult> found;
  std::vector<TFrameResult> after;
  transport_.ReceivePieces(
      deadline,
      [&](const mkp::TBusPiece& piece, const mkp::TMKPPacket* packet) {
        TFrameResult frame = MakeFrame(piece, packet);
        if (found) {
          after.push_back(std::move(frame));
        } else if (take(frame)) {
          found = std::move(frame);
        }
        return found.has_value();
      },
      interrupted);
  if (!after.empty()) {
    std::lock_guard guard(pendingLock_);
    for (auto& frame : after) pending_.push_back(std::move(frame));
    while (pending_.size() > PendingLimit) pending_.pop_front();
  }
  if (!found && (!IsOpen() || channel_->PortLost())) lineFailed = true;
  return found;
}

std::optional<TFrameResult> TPortCore::Receive(int timeoutMs, const mkp::TSerialLine::TInterrupted& interrupted,
                                               bool& lineFailed) {
  lineFailed = false;
  {
    std::lock_guard guard(pendingLock_);
    if (!pending_.empty()) {
      TFrameResult frame = std::move(pending_.front());
      pending_.pop_front();
      return frame;
    }
  }
  if (!IsOpen()) {
    lineFailed = true;
    return std::nullopt;
  }
  const auto deadline = TMonoClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  return Await(deadline, interrupted, [](const TFrameResult&) { return true; }, lineFailed);
}

std::optional<TFrameResult> TPortCore::Exchange(const mkp::TMKPPacket& request, int timeoutMs,
                                                const mkp::TSerialLine::TInterrupted& interrupted, bool& sent,
                                                bool& lineFailed, std::uint64_t* otherTraffic) {
  lineFailed = false;
  {
    std::lock_guard guard(pendingLock_);
    pending_.clear();
  }
  const mkp::TMonoTime start = TMonoClock::now();
  mkp::TMonoTime written = start;
  sent = Send(request, &written);
  if (!sent) {
    lineFailed = !IsOpen() || channel_->PortLost();
    return std::nullopt;
  }
  const std::uint32_t self = mkp::VorelAddrToInt(request.SrcAddr);
  const auto deadline = TMonoClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  auto answer = Await(
      deadline, interrupted,
      [&](const TFrameResult& frame) {
        // What began to arrive before the request went out answers nothing.
        if (frame.FirstByte < start) return false;
        if (!frame.Good || mkp::VorelAddrToInt(frame.Packet->Dst) == self) return true;
        if (otherTraffic != nullptr) ++*otherTraffic;
        return false;
      },
      lineFailed);
  if (answer) answer->LatencyMs = std::chrono::duration<double, std::milli>(answer->FirstByte - written).count();
  return answer;
}

}  // namespace mkpy
