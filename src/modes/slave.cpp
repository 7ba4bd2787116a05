#include "modes/slave.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

#include "protocol/transport.h"

namespace mkp {

int FindSlaveRow(const TSlaveTableSnapshot& rows, const TMKPPacket& packet) {
  // One record serves every row: a well-formed text sets every field that
  // SamePacket compares, and a text that is not well-formed is passed over.
  TPacketHolder candidate;
  for (std::size_t i = 0; i < rows.Rows.size(); ++i) {
    if (TextToPacket(rows.Rows[i].Received, *candidate) && SamePacket(*candidate, packet))
      return static_cast<int>(i) + 1;
  }
  return -1;
}

bool BuildSlaveAnswer(const TSlaveTableSnapshot& rows, int row, TMKPPacket& packet) {
  if (row < 1 || static_cast<std::size_t>(row) > rows.Rows.size()) return false;
  return TextToPacket(rows.Rows[static_cast<std::size_t>(row - 1)].Answer, packet);
}

int TSlaveRowMatcher::Find(const std::shared_ptr<const TSlaveTableSnapshot>& rows,
                           const TMKPPacket& packet) {
  if (!rows) return -1;
  if (rows != snapshot_) Refresh(*rows);
  snapshot_ = rows;
  for (std::size_t i = 0; i < parsed_.size(); ++i) {
    if (parsed_[i].WellFormed && SamePacket(parsed_[i].Packet, packet)) return static_cast<int>(i) + 1;
  }
  return -1;
}

void TSlaveRowMatcher::Refresh(const TSlaveTableSnapshot& rows) {
  std::vector<TParsedRow> fresh(rows.Rows.size());
  TPacketHolder scratch;
  for (std::size_t i = 0; i < rows.Rows.size(); ++i) {
    const std::string& text = rows.Rows[i].Received;
    TParsedRow& row = fresh[i];
    if (i < parsed_.size() && parsed_[i].Text == text) {
      row = std::move(parsed_[i]);
      continue;
    }
    row.Text = text;
    row.WellFormed = TextToPacket(text, *scratch);
    if (!row.WellFormed) continue;
    TMKPPacket& p = row.Packet;
    p.SrcAddr = scratch->SrcAddr;
    p.DstAddr = scratch->DstAddr;
    p.Command = scratch->Command;
    p.DataType = scratch->DataType;
    p.DataLen = scratch->DataLen;
    p.Data = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(std::max(p.DataLen, 1)));
    std::copy_n(scratch->Data.get(), p.DataLen, p.Data.get());
  }
  parsed_ = std::move(fresh);
}

int TSlaveAutoRepeater::FindRow(const TMKPPacket& packet) const {
  if (!table_) return -1;
  return FindSlaveRow(*table_->Snapshot(), packet);
}

bool TSlaveAutoRepeater::BuildAnswer(int row, TMKPPacket& packet) const {
  if (!table_) return false;
  return BuildSlaveAnswer(*table_->Snapshot(), row, packet);
}

std::string TSlaveAutoRepeater::ErrorLine(const std::string& what) {
  return "Slave responder error : " + (what.empty() ? std::string("unknown error") : what);
}

void TSlaveAutoRepeater::Respond() {
  if (!transport_) return;
  TPacketHolder received;
  if (!transport_->ReceivePacket(*received)) return;
  if (!table_) return;
  // Matching and answering read one snapshot, so an edit in between cannot
  // shift the row that answers.
  auto rows = table_->Snapshot();
  int row = matcher_.Find(rows, *received);
  if (row < 1) return;
  TPacketHolder answer;
  if (!BuildSlaveAnswer(*rows, row, *answer)) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(AnswerDelayMs));
  transport_->SendPacket(*answer);
}

void TSlaveAutoRepeater::Execute() {
  for (;;) {
    std::string error;
    try {
      Respond();
    } catch (const std::exception& e) {
      error = ErrorLine(e.what());
    } catch (...) {
      error = ErrorLine({});
    }
    if (!error.empty() && transport_) {
      // The responder goes on with the next packet; the pane shows why this
      // one was dropped.
      try {
        transport_->AddTerminalLine(error);
      } catch (...) {
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(LoopDelayMs));
    if (!SafePoint()) return;
  }
}

}  // namespace mkp
