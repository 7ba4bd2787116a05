#include "protocol/capture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "protocol/linetime.h"
#include "text/cp1251.h"

namespace mkp {

namespace {

// Block types and option codes of the pcapng format.
constexpr std::uint32_t SectionHeaderBlock = 0x0A0D0D0A;
constexpr std::uint32_t InterfaceBlock = 1;
constexpr std::uint32_t ObsoletePacketBlock = 2;
constexpr std::uint32_t SimplePacketBlock = 3;
constexpr std::uint32_t EnhancedPacketBlock = 6;
constexpr std::uint32_t ByteOrderMagic = 0x1A2B3C4D;
constexpr std::uint16_t OptEnd = 0;
constexpr std::uint16_t OptComment = 1;
constexpr std::uint16_t OptFlags = 2;         // epb_flags, pack_flags
constexpr std::uint16_t OptIfName = 2;        // in an interface description
constexpr std::uint16_t OptUserAppl = 4;      // in a section header
constexpr std::uint16_t OptIfTsResol = 9;
constexpr std::uint16_t OptIfTsOffset = 14;
constexpr std::uint32_t FlagInbound = 1;
constexpr std::uint32_t FlagOutbound = 2;
constexpr std::size_t MaxOptionLength = 0xFFFF;

constexpr std::size_t Pad4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

// The writer's blocks are little-endian; the byte-order magic says so.
void Put16(std::vector<std::uint8_t>& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  for (int i = 0; i < 32; i += 8) b.push_back(static_cast<std::uint8_t>(v >> i));
}
void PutBytes(std::vector<std::uint8_t>& b, const void* data, std::size_t count) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  b.insert(b.end(), p, p + count);
  b.resize(Pad4(b.size()), 0);
}
void PutOption(std::vector<std::uint8_t>& b, std::uint16_t code, const void* data, std::size_t count) {
  Put16(b, code);
  Put16(b, static_cast<std::uint16_t>(count));
  PutBytes(b, data, count);
}
void BeginBlock(std::vector<std::uint8_t>& b, std::uint32_t type) {
  b.clear();
  Put32(b, type);
  Put32(b, 0);  // the length, once known
}
void EndBlock(std::vector<std::uint8_t>& b) {
  const auto total = static_cast<std::uint32_t>(b.size() + 4);
  for (int i = 0; i < 4; ++i) b[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(total >> (8 * i));
  Put32(b, total);
}

// A UTF-8 text cut to at most `limit` bytes, never inside a character.
std::string_view CutUtf8(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

// The length of a pane line's direction prefix: "-> ", "<- ", "<-1 ", "<-2 ".
std::size_t DirectionPrefixLength(std::string_view line) {
  if (line.rfind("-> ", 0) == 0 || line.rfind("<- ", 0) == 0) return 3;
  if (line.size() >= 4 && line.rfind("<-", 0) == 0 && line[2] >= '1' && line[2] <= '9' && line[3] == ' ') return 4;
  return 0;
}

// A time stamp of a capture, in units of its resolution, as a wall-clock time.
TWallTime WallTime(std::uint64_t units, std::uint8_t resolution, std::int64_t offsetSeconds) {
  __int128 ns = 0;
  const int exponent = resolution & 0x7F;
  if (resolution & 0x80) {
    ns = exponent >= 64 ? 0 : (static_cast<__int128>(units) * 1000000000) >> exponent;
  } else if (exponent <= 9) {
    __int128 scale = 1;
    for (int i = exponent; i < 9; ++i) scale *= 10;
    ns = static_cast<__int128>(units) * scale;
  } else if (exponent <= 27) {
    __int128 scale = 1;
    for (int i = 9; i < exponent; ++i) scale *= 10;
    ns = static_cast<__int128>(units) / scale;
  }
  ns += static_cast<__int128>(offsetSeconds) * 1000000000;
  // Far outside what a clock can show: held at the ends of its range.
  constexpr __int128 limit = static_cast<__int128>(std::numeric_limits<std::int64_t>::max() / 2);
  if (ns > limit) ns = limit;
  if (ns < -limit) ns = -limit;
  return TWallTime(std::chrono::duration_cast<TWallTime::duration>(std::chrono::nanoseconds(static_cast<std::int64_t>(ns))));
}

}  // namespace

// ---- Writing ----------------------------------------------------------------

TCaptureWriter::~TCaptureWriter() { Close(); }

bool TCaptureWriter::Open(const std::string& path, const std::vector<std::string>& interfaces,
                          const std::string& application) {
  Close();
  std::lock_guard lk(lock_);
  path_ = path;
  error_.clear();
  failed_ = false;
  frames_ = 0;
  interfaces_ = 0;
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    error_ = path + ": cannot create: " + std::strerror(errno);
    failed_ = true;
    return false;
  }
  BeginBlock(block_, SectionHeaderBlock);
  Put32(block_, ByteOrderMagic);
  Put16(block_, 1);  // version 1.0
  Put16(block_, 0);
  Put32(block_, 0xFFFFFFFF);  // section length not given
  Put32(block_, 0xFFFFFFFF);
  if (!application.empty()) PutOption(block_, OptUserAppl, application.data(), std::min(application.size(), MaxOptionLength));
  PutOption(block_, OptEnd, nullptr, 0);
  EndBlock(block_);
  bool ok = WriteBlock();
  for (std::size_t i = 0; ok && i < interfaces.size(); ++i) {
    AddInterface(interfaces[i]);
    ok = WriteBlock();
  }
  if (!ok) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

void TCaptureWriter::Close() {
  std::lock_guard lk(lock_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool TCaptureWriter::IsOpen() const {
  std::lock_guard lk(lock_);
  return fd_ >= 0 && !failed_.load();
}

void TCaptureWriter::SetInterfaceName(int port, const std::string& name) {
  if (port < 1) return;
  std::lock_guard lk(lock_);
  const auto index = static_cast<std::size_t>(port - 1);
  if (laterNames_.size() <= index) laterNames_.resize(index + 1);
  laterNames_[index] = name;
}

std::string TCaptureWriter::Error() const {
  std::lock_guard lk(lock_);
  return error_;
}

void TCaptureWriter::AddInterface(const std::string& name) {
  BeginBlock(block_, InterfaceBlock);
  Put16(block_, CaptureLinkType);
  Put16(block_, 0);
  Put32(block_, 0);  // no snapshot length limit
  if (!name.empty()) PutOption(block_, OptIfName, name.data(), std::min(name.size(), MaxOptionLength));
  const std::uint8_t microseconds = 6;
  PutOption(block_, OptIfTsResol, &microseconds, 1);
  PutOption(block_, OptEnd, nullptr, 0);
  EndBlock(block_);
  ++interfaces_;
}

void TCaptureWriter::Fail(const std::string& why) {
  error_ = path_ + ": cannot write: " + why;
  failed_ = true;
}

bool TCaptureWriter::WriteBlock() {
  std::size_t done = 0;
  while (done < block_.size()) {
    const ssize_t n = ::write(fd_, block_.data() + done, block_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Fail(n < 0 ? std::strerror(errno) : "nothing written");
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string TCaptureWriter::CommentFor(const TFrameRecord& frame) {
  if (!frame.Sent && !frame.Good) return "Missing format";
  if (frame.Decode == nullptr) return {};
  std::string_view line = frame.Decode->Text;
  line.remove_prefix(DirectionPrefixLength(line));
  return Cp1251ToUtf8(line);
}

void TCaptureWriter::Frame(const TFrameRecord& frame) {
  if (failed_.load()) return;
  Write(frame.Port, frame.Sent, frame.Bytes, frame.Count, WallClockOf(frame.Time), CommentFor(frame));
}

bool TCaptureWriter::Write(int port, bool sent, const std::uint8_t* bytes, std::size_t count, TWallTime time,
                           std::string_view commentUtf8) {
  bool failedNow = false;
  std::string why;
  {
    std::lock_guard lk(lock_);
    if (fd_ < 0 || failed_.load()) return false;
    const std::size_t index = static_cast<std::size_t>(port < 1 ? 1 : port) - 1;
    bool ok = true;
    while (ok && interfaces_ <= index) {
      const bool named = interfaces_ < laterNames_.size() && !laterNames_[interfaces_].empty();
      AddInterface(named ? laterNames_[interfaces_] : "port " + std::to_string(interfaces_ + 1));
      ok = WriteBlock();
    }
    if (ok) {
      if (bytes == nullptr) count = 0;
      count = std::min<std::size_t>(count, TCaptureReader::MaxBlock);
      const auto us = static_cast<std::uint64_t>(
          std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count());
      BeginBlock(block_, EnhancedPacketBlock);
      Put32(block_, static_cast<std::uint32_t>(index));
      Put32(block_, static_cast<std::uint32_t>(us >> 32));
      Put32(block_, static_cast<std::uint32_t>(us));
      Put32(block_, static_cast<std::uint32_t>(count));
      Put32(block_, static_cast<std::uint32_t>(count));
      PutBytes(block_, bytes, count);
      const std::uint32_t flags = sent ? FlagOutbound : FlagInbound;
      std::uint8_t flagBytes[4];
      for (int i = 0; i < 4; ++i) flagBytes[i] = static_cast<std::uint8_t>(flags >> (8 * i));
      PutOption(block_, OptFlags, flagBytes, 4);
      if (!commentUtf8.empty()) {
        const std::string_view comment = CutUtf8(commentUtf8, MaxOptionLength);
        PutOption(block_, OptComment, comment.data(), comment.size());
      }
      PutOption(block_, OptEnd, nullptr, 0);
      EndBlock(block_);
      ok = WriteBlock();
    }
    if (ok) {
      ++frames_;
      return true;
    }
    failedNow = true;
    why = error_;
  }
  if (failedNow && onFailure_) onFailure_(why);
  return false;
}

// ---- Reading ----------------------------------------------------------------

bool TCaptureReader::LooksLikeCapture(const std::uint8_t* b, std::size_t count) {
  if (count < 4) return false;
  const std::uint32_t be = static_cast<std::uint32_t>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
  return be == SectionHeaderBlock || be == 0xA1B2C3D4 || be == 0xD4C3B2A1 || be == 0xA1B23C4D || be == 0x4D3CB2A1;
}

bool TCaptureReader::IsCaptureFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  std::uint8_t head[4];
  const std::size_t n = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  return LooksLikeCapture(head, n);
}

TCaptureReader::~TCaptureReader() {
  if (file_ != nullptr) std::fclose(file_);
}

bool TCaptureReader::Open(const std::string& path) {
  name_ = path;
  file_ = std::fopen(path.c_str(), "rb");
  if (file_ == nullptr) {
    error_ = path + ": cannot open: " + std::strerror(errno);
    done_ = true;
    return false;
  }
  std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
  struct stat st {};
  if (::fstat(::fileno(file_), &st) == 0 && S_ISREG(st.st_mode)) size_ = static_cast<std::uint64_t>(st.st_size);
  return true;
}

void TCaptureReader::OpenMemory(const std::uint8_t* bytes, std::size_t count, std::string name) {
  memory_ = bytes;
  memorySize_ = count;
  size_ = count;
  name_ = std::move(name);
}

bool TCaptureReader::Read(void* into, std::size_t count, std::size_t* got) {
  std::size_t n = 0;
  if (file_ != nullptr) {
    n = std::fread(into, 1, count, file_);
  } else if (memory_ != nullptr || memorySize_ == 0) {
    const std::uint64_t left = memorySize_ > position_ ? memorySize_ - position_ : 0;
    n = static_cast<std::size_t>(std::min<std::uint64_t>(count, left));
    if (n > 0) std::memcpy(into, memory_ + position_, n);
  }
  position_ += n;
  if (got != nullptr) *got = n;
  return n == count;
}

bool TCaptureReader::Skip(std::uint64_t count) {
  std::uint8_t scratch[4096];
  while (count > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, sizeof scratch));
    if (!Read(scratch, n)) return false;
    count -= n;
  }
  return true;
}

std::uint32_t TCaptureReader::U32(const std::uint8_t* at) const {
  std::uint32_t v = static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
                    static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
  return swap_ ? __builtin_bswap32(v) : v;
}

std::uint16_t TCaptureReader::U16(const std::uint8_t* at) const {
  const auto v = static_cast<std::uint16_t>(at[0] | at[1] << 8);
  return swap_ ? __builtin_bswap16(v) : v;
}

TCaptureReader::TStep TCaptureReader::NotMkp() {
  error_ = name_ + ": not a capture of MKP frames";
  done_ = true;
  return TStep::Failed;
}

TCaptureReader::TStep TCaptureReader::CutOff() {
  if (format_ == TFormat::Unknown) return NotMkp();
  error_ = name_ + ": cut off after frame " + std::to_string(frames_);
  done_ = true;
  return TStep::Failed;
}

TCaptureReader::TStep TCaptureReader::Finish() {
  if (frames_ == 0 && (skipped_ > 0 || (format_ == TFormat::Pcapng && !anyMkpInterface_))) return NotMkp();
  done_ = true;
  return TStep::End;
}

TCaptureReader::TStep TCaptureReader::Next(TCapturedFrame& frame) {
  if (done_) return error_.empty() ? TStep::End : TStep::Failed;
  if (!started_) {
    started_ = true;
    if (const TStep step = Start(); step != TStep::Frame) return step;
  }
  return format_ == TFormat::Pcap ? NextPcap(frame) : NextPcapng(frame);
}

// Reads the file header (pcap) or the first section header (pcapng). Frame
// means: go on.
TCaptureReader::TStep TCaptureReader::Start() {
  std::uint8_t magic[4];
  if (!Read(magic, 4)) return NotMkp();
  const std::uint32_t be = static_cast<std::uint32_t>(magic[0]) << 24 | magic[1] << 16 | magic[2] << 8 | magic[3];
  if (be == SectionHeaderBlock) {
    std::uint8_t length[4];
    if (!Read(length, 4)) return NotMkp();
    body_.assign(length, length + 4);
    const TStep step = Section();
    if (step == TStep::Frame) format_ = TFormat::Pcapng;
    return step;
  }
  if (be == 0xA1B2C3D4 || be == 0xA1B23C4D) {
    swap_ = true;  // big-endian file
  } else if (be == 0xD4C3B2A1 || be == 0x4D3CB2A1) {
    swap_ = false;
  } else {
    return NotMkp();
  }
  nanoseconds_ = be == 0xA1B23C4D || be == 0x4D3CB2A1;
  std::uint8_t header[20];
  if (!Read(header, sizeof header)) return NotMkp();
  if ((U32(header + 16) & 0xFFFF) != CaptureLinkType) return NotMkp();
  format_ = TFormat::Pcap;
  anyMkpInterface_ = true;
  return TStep::Frame;
}

// A section header whose type and length fields have been read: its byte
// order, version and options. Frame means: go on.
TCaptureReader::TStep TCaptureReader::Section() {
  const bool first = format_ == TFormat::Unknown;
  auto damaged = [&] { return first ? NotMkp() : CutOff(); };
  std::uint8_t magic[4];
  if (!Read(magic, 4)) return damaged();
  if (magic[0] == 0x4D && magic[1] == 0x3C && magic[2] == 0x2B && magic[3] == 0x1A)
    swap_ = false;
  else if (magic[0] == 0x1A && magic[1] == 0x2B && magic[2] == 0x3C && magic[3] == 0x4D)
    swap_ = true;
  else
    return damaged();
  // The length field, read before the magic and kept in body_, in the
  // section's byte order.
  const std::uint32_t length = U32(body_.data());
  if (length < 28 || length % 4 != 0 || length > MaxBlock) return damaged();
  std::vector<std::uint8_t> rest(length - 12);
  if (!Read(rest.data(), rest.size())) return damaged();
  if (U16(rest.data()) != 1 || U32(rest.data() + rest.size() - 4) != length) return damaged();
  interfaces_.clear();
  mkpInterfaces_ = 0;
  return TStep::Frame;
}

TCaptureReader::TStep TCaptureReader::NextPcap(TCapturedFrame& frame) {
  std::uint8_t header[16];
  std::size_t got = 0;
  if (!Read(header, sizeof header, &got)) return got == 0 ? Finish() : CutOff();
  const std::uint32_t length = U32(header + 8);
  if (length > MaxBlock) return CutOff();
  frame.Bytes.resize(length);
  if (!Read(frame.Bytes.data(), length)) return CutOff();
  const std::uint64_t seconds = U32(header);
  const std::uint64_t fraction = U32(header + 4);
  frame.Time = WallTime(seconds * (nanoseconds_ ? 1000000000ull : 1000000ull) + fraction, nanoseconds_ ? 9 : 6, 0);
  frame.OriginalLength = U32(header + 12);
  frame.Interface = frame.Interfaces = 1;
  frame.Direction = TFrameDirection::Unknown;
  frame.Comment.clear();
  frame.InterfaceName.clear();
  ++frames_;
  return TStep::Frame;
}

TCaptureReader::TStep TCaptureReader::NextPcapng(TCapturedFrame& frame) {
  for (;;) {
    std::uint8_t head[8];
    std::size_t got = 0;
    if (!Read(head, sizeof head, &got)) return got == 0 ? Finish() : CutOff();
    const std::uint32_t rawType = static_cast<std::uint32_t>(head[0]) << 24 | head[1] << 16 | head[2] << 8 | head[3];
    if (rawType == SectionHeaderBlock) {
      body_.assign(head + 4, head + 8);
      if (Section() != TStep::Frame) return TStep::Failed;
      continue;
    }
    const std::uint32_t type = U32(head);
    const std::uint32_t length = U32(head + 4);
    if (length < 12 || length % 4 != 0) return CutOff();
    const std::uint32_t bodyLength = length - 12;
    const bool packet = type == EnhancedPacketBlock || type == SimplePacketBlock || type == ObsoletePacketBlock;
    if (type != InterfaceBlock && !packet) {
      if (!Skip(bodyLength)) return CutOff();
    } else {
      if (bodyLength > MaxBlock) return CutOff();
      body_.resize(bodyLength);
      if (!Read(body_.data(), bodyLength)) return CutOff();
    }
    std::uint8_t trailer[4];
    if (!Read(trailer, 4) || U32(trailer) != length) return CutOff();
    if (type == InterfaceBlock) {
      Describe(body_);
    } else if (packet) {
      if (Packet(type, body_, frame)) {
        ++frames_;
        return TStep::Frame;
      }
      if (done_) return TStep::Failed;
    }
  }
}

void TCaptureReader::Describe(const std::vector<std::uint8_t>& body) {
  TInterface iface;
  if (body.size() >= 8 && U16(body.data()) == CaptureLinkType) {
    iface.Mkp = true;
    iface.Number = ++mkpInterfaces_;
    anyMkpInterface_ = true;
  }
  std::size_t at = 8;
  while (at + 4 <= body.size()) {
    const std::uint16_t code = U16(body.data() + at);
    const std::uint16_t length = U16(body.data() + at + 2);
    if (code == OptEnd || at + 4 + length > body.size()) break;
    const std::uint8_t* value = body.data() + at + 4;
    if (code == OptIfName) {
      iface.Name.assign(reinterpret_cast<const char*>(value), length);
      while (!iface.Name.empty() && iface.Name.back() == '\0') iface.Name.pop_back();
    } else if (code == OptIfTsResol && length >= 1) {
      iface.TsResol = value[0];
    } else if (code == OptIfTsOffset && length >= 8) {
      std::uint64_t v = U32(value);
      std::uint64_t w = U32(value + 4);
      v = swap_ ? (v << 32 | w) : (w << 32 | v);
      iface.TsOffset = static_cast<std::int64_t>(v);
    }
    at += 4 + Pad4(length);
  }
  interfaces_.push_back(std::move(iface));
}

// A packet block: true with the frame filled when it is a frame of an MKP
// interface; false when passed over, or (done_ set) when it is damaged.
bool TCaptureReader::Packet(std::uint32_t type, const std::vector<std::uint8_t>& body, TCapturedFrame& frame) {
  auto damaged = [&] {
    CutOff();
    return false;
  };
  std::size_t interface = 0, dataAt = 0, captured = 0;
  std::uint32_t original = 0;
  std::uint64_t units = 0;
  bool timed = true;
  if (type == SimplePacketBlock) {
    if (body.size() < 4) return damaged();
    original = U32(body.data());
    dataAt = 4;
    captured = std::min<std::size_t>(original, body.size() - 4);
    timed = false;
  } else {
    const std::size_t fixed = 20;
    if (body.size() < fixed) return damaged();
    if (type == EnhancedPacketBlock) {
      interface = U32(body.data());
    } else {
      interface = U16(body.data());
    }
    units = static_cast<std::uint64_t>(U32(body.data() + 4)) << 32 | U32(body.data() + 8);
    captured = U32(body.data() + 12);
    original = U32(body.data() + 16);
    dataAt = fixed;
    if (captured > body.size() - fixed) return damaged();
  }
  if (interface >= interfaces_.size()) return damaged();
  const TInterface& iface = interfaces_[interface];
  if (!iface.Mkp) {
    ++skipped_;
    return false;
  }
  frame.Bytes.assign(body.begin() + static_cast<std::ptrdiff_t>(dataAt),
                     body.begin() + static_cast<std::ptrdiff_t>(dataAt + captured));
  frame.OriginalLength = original;
  frame.Interface = iface.Number;
  frame.Interfaces = mkpInterfaces_;
  frame.InterfaceName = iface.Name;
  frame.Time = timed ? WallTime(units, iface.TsResol, iface.TsOffset) : TWallTime{};
  frame.Direction = TFrameDirection::Unknown;
  frame.Comment.clear();
  bool haveComment = false;
  std::size_t at = dataAt + Pad4(captured);
  while (type != SimplePacketBlock && at + 4 <= body.size()) {
    const std::uint16_t code = U16(body.data() + at);
    const std::uint16_t length = U16(body.data() + at + 2);
    if (code == OptEnd || at + 4 + length > body.size()) break;
    const std::uint8_t* value = body.data() + at + 4;
    if (code == OptComment && !haveComment) {
      frame.Comment.assign(reinterpret_cast<const char*>(value), length);
      haveComment = true;
    } else if (code == OptFlags && length >= 4) {
      const std::uint32_t flags = U32(value) & 3;
      frame.Direction = flags == FlagInbound    ? TFrameDirection::In
                        : flags == FlagOutbound ? TFrameDirection::Out
                                                : TFrameDirection::Unknown;
    }
    at += 4 + Pad4(length);
  }
  return true;
}

}  // namespace mkp
