#include "modes/simdevice.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <exception>
#include <random>
#include <thread>

#include "modes/write_packet.h"
#include "protocol/transport.h"
#include "serial/line.h"
#include "text/hextext.h"
#include "text/numtext.h"
#include "text/textcut.h"

namespace mkp {

namespace {

// A write template with the separators removed, as its filling reads it.
std::string Squeezed(const std::string& writeTemplate) {
  std::string text;
  for (const char c : writeTemplate) {
    if (c != ' ' && c != '.' && c != ',' && c != '-' && c != '(' && c != ')') text += c;
  }
  return text;
}

std::string RealText(double value) {
  char buffer[32];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6).ptr;
  return std::string(buffer, end);
}

}  // namespace

void TDeviceSimulator::SetModel(const TDeviceModel& model) {
  requests_.clear();
  writes_.clear();
  int lastRow = model.RegisterNames.Count();
  bool addressSet = false;
  TPacketHolder packet;  // each request and template is read into it in turn
  for (int i = 0; i < model.Requests.Count(); ++i) {
    TRequest request;
    if (!TextToPacket(TDeviceModel::ItemText(model.Requests, i), *packet)) continue;
    if (!addressSet) address_ = packet->DstAddr;
    addressSet = true;
    request.Command = packet->Command;
    request.DataType = packet->DataType;
    request.Data.assign(packet->Data.get(), packet->Data.get() + packet->DataLen);
    request.Rows = RequestRowNumbers(TDeviceModel::ItemText(model.RequestRows, i));
    for (const int row : request.Rows) lastRow = std::max(lastRow, row);
    requests_.push_back(std::move(request));
  }
  for (int i = 0; i < model.WriteTemplates.Count(); ++i) {
    const std::string text = TDeviceModel::ItemText(model.WriteTemplates, i);
    if (text.empty()) continue;
    TWriteTemplate write;
    if (!FillWritePacket(text, *packet, values_)) continue;
    const std::string data = Squeezed(text).substr(20);
    std::size_t open = data.find('%');
    const std::size_t prefix = std::min(data.substr(0, open).size() / 2, std::size_t{MaxDataLen});
    write.Command = packet->Command;
    write.DataType = packet->DataType;
    write.Prefix.assign(packet->Data.get(), packet->Data.get() + prefix);
    // The rows of the placeholders, as the filling reads them.
    for (std::size_t close; open != std::string::npos && (close = data.find('%', open + 1)) != std::string::npos;
         open = data.find('%', close + 1)) {
      const std::string placeholder = data.substr(open + 1, close - open - 1);
      write.Rows.push_back(ParseInteger(TextBefore(placeholder, ":")).value_or(0));
    }
    if (write.Rows.empty()) write.Rows.push_back(i + 1);
    writes_.push_back(std::move(write));
    lastRow = std::max(lastRow, i + 1);
  }
  values_.SetRowCount(std::max(values_.RowCount(), lastRow));
}

void TDeviceSimulator::SetValue(int reg, const std::string& value) {
  if (reg > values_.RowCount()) values_.SetRowCount(reg);
  values_.SetCurrentValue(reg, value);
}

bool TDeviceSimulator::Answer(const TMKPPacket& received, TMKPPacket& answer) {
  lastWasRead_ = false;
  if (received.DstAddr == address_ && AnswerRead(received, answer)) {
    lastWasRead_ = true;
    return true;
  }
  if (received.DstAddr == address_ && AnswerWrite(received, answer)) return true;
  if (table_ != nullptr) {
    const auto rows = table_->Snapshot();
    const int row = FindSlaveRow(*rows, received);
    if (row >= 1 && BuildSlaveAnswer(*rows, row, answer)) return true;
  }
  // What a device says to its own address when it has nothing better: a ping
  // is acknowledged, a read of a register it does not have gets the error
  // "no such variable".
  if (!(received.DstAddr == address_) || (received.Command != CmdPing && received.Command != CmdRead)) return false;
  answer.DstAddr = received.SrcAddr;
  answer.SrcAddr = address_;
  answer.Command = received.Command == CmdPing ? CmdAck : CmdError;
  answer.DataType = 0;
  answer.DataLen = received.Command == CmdPing ? 0 : 1;
  if (answer.DataLen > 0) answer.Data[0] = ErrorNoSuchVariable;
  return true;
}

bool TDeviceSimulator::AnswerRead(const TMKPPacket& received, TMKPPacket& answer) {
  for (const TRequest& r : requests_) {
    if (r.Command != received.Command || r.DataType != received.DataType ||
        received.DataLen != static_cast<int>(r.Data.size()) ||
        !std::equal(r.Data.begin(), r.Data.end(), received.Data.get()))
      continue;
    answer.DstAddr = received.SrcAddr;
    answer.SrcAddr = address_;
    answer.Command = CmdAnswer;
    answer.DataType = r.DataType;
    int length = 0;
    if (!r.Data.empty()) answer.Data[length++] = r.Data[0];
    for (const int row : r.Rows) {
      for (const std::uint8_t byte : EncodeRegisterValue(r.DataType, values_.CurrentValue(row))) {
        if (length < MaxDataLen) answer.Data[length++] = byte;
      }
      Drift(row);
    }
    answer.DataLen = length;
    return true;
  }
  return false;
}

bool TDeviceSimulator::AnswerWrite(const TMKPPacket& received, TMKPPacket& answer) {
  for (const TWriteTemplate& write : writes_) {
    if (write.Command != received.Command || write.DataType != received.DataType ||
        received.DataLen < static_cast<int>(write.Prefix.size()) ||
        !std::equal(write.Prefix.begin(), write.Prefix.end(), received.Data.get()))
      continue;
    // The written values, read back as the decode pane shows them.
    parser_.DescribePacket(PacketToText(received));
    std::vector<std::string> texts;
    for (const TParamItem& item : parser_.Results.Items()) texts.push_back(Trim(item.Text));
    if (write.Rows.size() == 1) {
      std::string joined;
      for (const auto& text : texts) joined += (joined.empty() ? "" : " ") + text;
      SetValue(write.Rows[0], joined);
    } else {
      for (std::size_t i = 0; i < write.Rows.size() && i < texts.size(); ++i) SetValue(write.Rows[i], texts[i]);
    }
    answer.DstAddr = received.SrcAddr;
    answer.SrcAddr = address_;
    answer.Command = CmdAck;
    answer.DataType = 0;
    answer.DataLen = 0;
    return true;
  }
  return false;
}

void TDeviceSimulator::Drift(int reg) {
  const auto found = drift_.find(reg);
  if (found == drift_.end()) return;
  TDrift& drift = found->second;
  const double step = (drift.Count / DriftSteps) % 2 == 0 ? drift.Step : -drift.Step;
  drift.Count = (drift.Count + 1) % (2 * DriftSteps);
  const std::string value = Trim(values_.CurrentValue(reg));
  const auto integer = ParseInteger(value);
  if (integer && std::floor(step) == step) {
    values_.SetCurrentValue(reg, std::to_string(static_cast<long long>(*integer) + static_cast<long long>(step)));
    return;
  }
  try {
    values_.SetCurrentValue(reg, RealText(StrToFloatDot(value) + step));
  } catch (const EConvertError&) {
    // A value that is not a number stays as it is.
  }
}

TDeviceSimulator::TFault TDeviceSimulator::NextReadFault() {
  ++reads_;
  auto due = [this](int every) { return every > 0 && reads_ % every == 0; };
  if (due(misbehaviour_.DropEvery)) return TFault::Drop;
  if (due(misbehaviour_.SilentEvery)) return TFault::Silent;
  if (due(misbehaviour_.CorruptEvery)) return TFault::Corrupt;
  if (due(misbehaviour_.WrongEvery)) return TFault::Wrong;
  if (due(misbehaviour_.GarbageEvery)) return TFault::Garbage;
  return TFault::None;
}

void TDeviceSimulator::Count(std::uint64_t TCounters::*counter) {
  std::lock_guard lk(countersLock_);
  ++(counters_.*counter);
}

TDeviceSimulator::TCounters TDeviceSimulator::Counters() const {
  std::lock_guard lk(countersLock_);
  return counters_;
}

void TDeviceSimulator::SendFaulty(const TMKPPacket& answer, bool corrupt) {
  std::vector<std::uint8_t> frame(FrameBufferSize);
  int length = 0;
  TSerialLine* line = transport_->Channel();
  if (line == nullptr || !BuildFrame(answer, frame.data(), length) || length <= 1) return;
  if (corrupt) frame[static_cast<std::size_t>(length - 1)] ^= 0x5A;  // the last checksum byte
  const int splitMs = misbehaviour_.SplitMs;
  std::size_t first = splitMs > 0 ? static_cast<std::size_t>(length) / 2 : static_cast<std::size_t>(length);
  std::size_t count = first;
  if (!line->WriteBytes(frame.data(), count)) return;
  if (splitMs > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(splitMs));
    count = static_cast<std::size_t>(length) - first;
    if (!line->WriteBytes(frame.data() + first, count)) return;
  }
  std::string notes;
  if (splitMs > 0) notes = "written in two parts " + std::to_string(splitMs) + " ms apart";
  if (corrupt) notes += std::string(notes.empty() ? "" : ", ") + "checksum broken on purpose";
  transport_->AddTerminalLine("-> " + PacketToText(answer) + " (" + notes + ")", TLineStamp::Now(TLineKind::Sent));
}

void TDeviceSimulator::SendGarbage() {
  TSerialLine* line = transport_->Channel();
  if (line == nullptr) return;
  if (garbageSeed_ == 0) garbageSeed_ = VorelAddrToInt(address_) * 2654435761u + 1;
  std::mt19937 random(garbageSeed_++);
  std::vector<std::uint8_t> bytes(8 + random() % 17);
  for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random());
  std::size_t count = bytes.size();
  if (line->WriteBytes(bytes.data(), count))
    transport_->AddTerminalLine(
        "-> " + BytesToHexText(bytes.data(), bytes.size(), static_cast<long>(bytes.size())) + "(garbage on purpose)",
        TLineStamp::Now(TLineKind::Sent));
}

void TDeviceSimulator::Handle(const TMKPPacket& received) {
  if (transport_ == nullptr) return;
  TPacketHolder answer;
  if (!Answer(received, *answer)) return;
  const TFault fault = lastWasRead_ ? NextReadFault() : TFault::None;
  if (lastWasRead_) Count(&TCounters::Requests);
  switch (fault) {
    case TFault::Drop:
      Count(&TCounters::Dropped);
      return;
    case TFault::Silent:
      Count(&TCounters::Silent);
      return;
    case TFault::Corrupt:
      Count(&TCounters::Corrupted);
      break;
    case TFault::Wrong:
      // Another data type of the same addressing (odd stays odd).
      answer->DataType = static_cast<std::uint8_t>(answer->DataType ^ 0x40);
      Count(&TCounters::Wrong);
      break;
    case TFault::Garbage:
      Count(&TCounters::Garbage);
      break;
    case TFault::None:
      break;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(std::max(misbehaviour_.DelayMs, 0)));
  if (fault == TFault::Garbage) SendGarbage();
  if (misbehaviour_.SplitMs > 0 || fault == TFault::Corrupt)
    SendFaulty(*answer, fault == TFault::Corrupt);
  else
    transport_->SendPacket(*answer);
  if (misbehaviour_.SplitMs > 0) Count(&TCounters::Split);
  Count(&TCounters::Answered);
}

void TDeviceSimulator::ServeLine(TMKProtocolTransport& transport, TFrameSplitter& splitter,
                                 std::chrono::milliseconds slice,
                                 const std::function<void(const TMKPPacket& frame)>& onFrame) {
  std::vector<std::vector<std::uint8_t>> frames;
  const TMonoTime deadline = TMonoClock::now() + slice;
  // Answers go out after the read: the transport is not free inside it.
  const bool usable = transport.ReceivePieces(
      deadline,
      [&](const TBusPiece& piece, const TMKPPacket* packet) {
        if (packet == nullptr) return false;
        frames.push_back(piece.Bytes);
        return true;
      },
      splitter);
  if (!usable && frames.empty() && TMonoClock::now() < deadline) std::this_thread::sleep_until(deadline);
  for (const auto& bytes : frames) {
    std::vector<std::uint8_t> frame(FrameBufferSize, 0);
    std::copy_n(bytes.begin(), std::min(bytes.size(), frame.size()), frame.begin());
    TPacketHolder received;
    if (ParseFrame(frame.data(), *received)) onFrame(*received);
  }
}

void TDeviceSimulator::Execute() {
  TFrameSplitter splitter;
  for (;;) {
    if (transport_ != nullptr) {
      try {
        ServeLine(*transport_, splitter, ReadSlice, [this](const TMKPPacket& received) { Handle(received); });
      } catch (const std::exception& e) {
        transport_->AddTerminalLine(TSlaveAutoRepeater::ErrorLine(e.what()));
      }
    }
    if (!SafePoint()) return;
  }
}

}  // namespace mkp
