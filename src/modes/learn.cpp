#include "modes/learn.h"

#include <array>
#include <cstring>

#include "protocol/packet.h"
#include "text/textcut.h"

namespace mkp {

namespace {

// The packet text of a whole frame (without its trailing blank), or none.
std::optional<std::string> FrameText(const std::vector<std::uint8_t>& bytes) {
  std::size_t length = 0;
  if (bytes.size() > static_cast<std::size_t>(FrameBufferSize) ||
      FrameStartAt(bytes.data(), bytes.size(), length) != TFrameStart::Frame || length != bytes.size())
    return std::nullopt;
  std::array<std::uint8_t, FrameBufferSize> buffer{};
  std::memcpy(buffer.data(), bytes.data(), bytes.size());
  TPacketHolder packet;
  if (!ParseFrame(buffer.data(), *packet)) return std::nullopt;
  return TrimRight(PacketToText(*packet));
}

}  // namespace

void TSlaveTableLearner::Add(const TCapturedFrame& frame) {
  const bool request = options_.MasterInterface > 0 ? frame.Interface == options_.MasterInterface : !frame.Received();
  const std::optional<std::string> text = FrameText(frame.Bytes);
  if (!text) return;
  if (request) {
    if (pending_) ++stats_.Unanswered;
    ++stats_.Requests;
    pending_.emplace(*text, frame.Time);
    return;
  }
  if (!pending_) return;
  if (frame.Time - pending_->second > options_.Window) {
    ++stats_.Unanswered;
    pending_.reset();
    return;
  }
  ++stats_.Answered;
  if (seen_.emplace(pending_->first, *text).second)
    rows_.push_back({pending_->first, *text});
  else
    ++stats_.Repeats;
  pending_.reset();
}

void TSlaveTableLearner::Finish() {
  if (pending_) ++stats_.Unanswered;
  pending_.reset();
}

bool LearnSlaveTable(const std::string& capture, std::vector<TSlaveRow>& rows, std::string& error,
                     TLearnStats* stats, TLearnOptions options, const std::atomic<bool>* cancel) {
  error.clear();
  TCaptureReader reader;
  TSlaveTableLearner learner(options);
  bool ok = reader.Open(capture);
  TCapturedFrame frame;
  while (ok) {
    if (cancel != nullptr && cancel->load()) {
      ok = false;
      break;
    }
    const TCaptureReader::TStep step = reader.Next(frame);
    if (step == TCaptureReader::TStep::End) break;
    if (step == TCaptureReader::TStep::Failed) ok = false;
    else learner.Add(frame);
  }
  learner.Finish();
  if (!ok && !(cancel != nullptr && cancel->load())) error = reader.Error();
  rows = learner.Rows();
  if (stats != nullptr) *stats = learner.Stats();
  return ok;
}

}  // namespace mkp
