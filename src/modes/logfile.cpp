#include "modes/logfile.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "analysis/parser.h"
#include "modes/monitor.h"
#include "protocol/packet.h"
#include "text/controlchars.h"
#include "text/hextext.h"

namespace mkp {

namespace {

std::string FileNamePart(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool EndsWithNoCase(const std::string& text, std::string_view end) {
  if (text.size() < end.size()) return false;
  for (std::size_t i = 0; i < end.size(); ++i) {
    char c = text[text.size() - end.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != end[i]) return false;
  }
  return true;
}

// The Master page logs a raw send as its full-packet text: the header bytes,
// two blanks and the header checksum, then (with data) " - ", the data bytes,
// two blanks and the data checksum. Its decode line described the header and
// data fields only, so the checksums are dropped here. The transport's text
// form ("010203.0A0B0C.07.05.0300 - 05 34 12 ") never holds two blanks.
std::string WithoutChecksums(const std::string& text) {
  const std::size_t dash = text.find(" - ");
  std::string head = text.substr(0, dash);
  if (head.find('.') != std::string::npos || head.find("  ") == std::string::npos) return text;
  head.erase(head.find("  "));
  if (dash == std::string::npos) return head;
  std::string data = text.substr(dash + 3);
  if (std::size_t gap = data.find("  "); gap != std::string::npos) data.erase(gap);
  return head + " - " + data;
}

// The direction of a received line: "<- ", or a monitor port's "<-1 ",
// "<-2 "; 0 when the line is no received line.
std::size_t ReceivedPrefixLength(std::string_view text) {
  if (text.rfind("<- ", 0) == 0) return 3;
  if (text.size() >= 4 && text.rfind("<-", 0) == 0 && text[2] >= '1' && text[2] <= '9' && text[3] == ' ') return 4;
  return 0;
}

std::uint32_t AddressAt(const std::uint8_t* bytes) { return bytes[0] | bytes[1] << 8 | bytes[2] << 16; }

}  // namespace

TLogFileKind LogFileKindOf(const std::string& path) {
  if (TCaptureReader::IsCaptureFile(path)) return TLogFileKind::Capture;
  const std::string name = FileNamePart(path);
  if (name.rfind("dcd_", 0) == 0 || EndsWithNoCase(name, ".tr2")) return TLogFileKind::DecodeLog;
  return TLogFileKind::TerminalLog;
}

TFrameTexts FrameLineTexts(const std::uint8_t* bytes, std::size_t count, bool sent, const std::string& prefix,
                           TMKPParser& parser) {
  TFrameTexts texts;
  std::size_t length = 0;
  if (count <= static_cast<std::size_t>(FrameBufferSize) &&
      FrameStartAt(bytes, count, length) == TFrameStart::Frame && length == count) {
    std::array<std::uint8_t, FrameBufferSize> buffer{};
    std::memcpy(buffer.data(), bytes, count);
    TPacketHolder packet;
    if (ParseFrame(buffer.data(), *packet)) {
      const std::string text = PacketToText(*packet);
      texts.Terminal = prefix + text;
      texts.Decode = prefix + (sent ? parser.DescribeMaster(text) : parser.DescribeSlave(text));
      texts.Good = true;
      return texts;
    }
  }
  const std::string hex = BytesToHexText(bytes, count, static_cast<long>(count));
  if (sent) {
    texts.Terminal = prefix + hex;
    texts.Decode = prefix + parser.DescribeMaster(hex);
  } else {
    texts.Terminal = prefix + "Missing format : " + hex;
    texts.Decode = prefix + "Missing format";
  }
  return texts;
}

std::string CapturedFramePrefix(const TCapturedFrame& frame) {
  if (!frame.Received()) return "-> ";
  if (frame.Interfaces > 1 || frame.Interface > 1) return TBusMonitor::Prefix(frame.Interface, std::max(2, frame.Interfaces));
  return "<- ";
}

std::string RedecodeLine(TMKPParser& parser, const std::string& line) {
  const std::string_view text = line;
  if (text == "-> Transmit error!") return line;
  if (text.rfind("-> ", 0) == 0) return "-> " + ShowControlChars(parser.DescribeMaster(WithoutChecksums(line.substr(3))));
  if (const std::size_t n = ReceivedPrefixLength(text); n > 0) {
    const std::string prefix = line.substr(0, n);
    if (text.substr(n).rfind("Missing format", 0) == 0) return prefix + "Missing format";
    return prefix + ShowControlChars(parser.DescribeSlave(line.substr(n)));
  }
  return line;
}

TLogFileReader::TLogFileReader(TMKPParser& parser) : parser_(parser) {}

TLogFileReader::~TLogFileReader() {
  if (text_ != nullptr) std::fclose(text_);
}

bool TLogFileReader::Open(const std::string& path) { return Open(path, LogFileKindOf(path)); }

bool TLogFileReader::Open(const std::string& path, TLogFileKind kind) {
  kind_ = kind;
  path_ = path;
  error_.clear();
  if (kind == TLogFileKind::Capture) {
    capture_ = std::make_unique<TCaptureReader>();
    if (!capture_->Open(path)) {
      error_ = capture_->Error();
      return false;
    }
    size_ = capture_->Size();
    return true;
  }
  text_ = std::fopen(path.c_str(), "rb");
  if (text_ == nullptr) {
    error_ = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(::fileno(text_), &st) == 0 && S_ISREG(st.st_mode)) size_ = static_cast<std::uint64_t>(st.st_size);
  return true;
}

std::uint64_t TLogFileReader::Position() const {
  return capture_ ? capture_->Position() : textPosition_;
}

bool TLogFileReader::Next(TLogEntry& entry) {
  if (cancelled_.load()) return false;
  entry = TLogEntry{};
  return kind_ == TLogFileKind::Capture ? NextFrame(entry) : NextLine(entry);
}

bool TLogFileReader::NextFrame(TLogEntry& entry) {
  if (!capture_) return false;
  const TCaptureReader::TStep step = capture_->Next(frame_);
  if (step != TCaptureReader::TStep::Frame) {
    if (step == TCaptureReader::TStep::Failed) error_ = capture_->Error();
    return false;
  }
  const bool sent = !frame_.Received();
  const TFrameTexts texts =
      FrameLineTexts(frame_.Bytes.data(), frame_.Bytes.size(), sent, CapturedFramePrefix(frame_), parser_);
  TLineStamp stamp{MonoTimeOf(frame_.Time), sent ? TLineKind::Sent : TLineKind::Received};
  if (frame_.Bytes.size() >= frame::SrcOffset + 3) {
    stamp.Source = AddressAt(frame_.Bytes.data() + frame::SrcOffset);
    stamp.Destination = AddressAt(frame_.Bytes.data() + frame::DstOffset);
  }
  entry.HasTerminal = entry.HasDecode = true;
  entry.Timed = true;
  entry.Terminal = {ShowControlChars(texts.Terminal), stamp, terminalTimer_.Next(stamp)};
  entry.Decode = {ShowControlChars(texts.Decode), stamp, decodeTimer_.Next(stamp)};
  entry.Frame = &frame_;
  return true;
}

bool TLogFileReader::ReadLine(std::string& line) {
  line.clear();
  if (text_ == nullptr) return false;
  for (;;) {
    if (bufferAt_ == buffer_.size()) {
      if (textEnd_) return !line.empty();
      buffer_.resize(1 << 16);
      const std::size_t n = std::fread(buffer_.data(), 1, buffer_.size(), text_);
      buffer_.resize(n);
      bufferAt_ = 0;
      if (n == 0) {
        if (std::ferror(text_)) error_ = path_ + ": cannot read: " + std::strerror(errno);
        textEnd_ = true;
        return !line.empty();
      }
    }
    const char* from = buffer_.data() + bufferAt_;
    std::size_t available = buffer_.size() - bufferAt_;
    const std::size_t room = LineLimit - line.size();
    const bool cut = available >= room;
    if (cut) available = room;
    const void* newline = std::memchr(from, '\n', available);
    const std::size_t take = newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - from) : available;
    line.append(from, take);
    bufferAt_ += take;
    textPosition_ += take;
    if (newline) {
      ++bufferAt_;
      ++textPosition_;
      return true;
    }
    if (cut) return true;
  }
}

bool TLogFileReader::NextLine(TLogEntry& entry) {
  if (!ReadLine(line_)) return false;
  if (!line_.empty() && line_.back() == '\r') line_.pop_back();
  const std::size_t timed = TimePrefixLength(line_);
  entry.WrittenTime = line_.substr(0, timed);
  std::string text = line_.substr(timed);
  if (kind_ == TLogFileKind::TerminalLog) {
    entry.HasDecode = true;
    entry.Decode.Text = RedecodeLine(parser_, text);
    entry.HasTerminal = true;
    entry.Terminal.Text = std::move(text);
  } else {
    entry.HasDecode = true;
    entry.Decode.Text = std::move(text);
  }
  return true;
}

}  // namespace mkp
