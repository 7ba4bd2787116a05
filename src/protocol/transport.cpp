#include "protocol/transport.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "analysis/parser.h"
#include "serial/comport.h"
#include "text/hextext.h"

namespace mkp {

std::string DecodeFileNameFor(const std::string& terminalFile) {
  const auto slash = terminalFile.find_last_of('/');
  const std::size_t namePos = slash == std::string::npos ? 0 : slash + 1;
  return terminalFile.substr(0, namePos) + "dcd_" + terminalFile.substr(namePos);
}

TMKProtocolTransport::TMKProtocolTransport(TCOMPortChannel* channel) : channel_(channel) {}

void TMKProtocolTransport::SetChannel(TCOMPortChannel* channel) {
  std::lock_guard lk(lock_);
  channel_ = channel;
}
void TMKProtocolTransport::SetTerminalBox(TLogPane* pane) {
  std::lock_guard lk(lock_);
  terminalBox_ = pane;
}
void TMKProtocolTransport::SetDecodeBox(TLogPane* pane) {
  std::lock_guard lk(lock_);
  decodeBox_ = pane;
}
void TMKProtocolTransport::SetParser(TMKPParser* parser) {
  std::lock_guard lk(lock_);
  parser_ = parser;
}

void TMKProtocolTransport::AddTerminalLine(const std::string& text) {
  std::lock_guard lk(lock_);
  if (terminalBox_ != nullptr) terminalBox_->AddLine(text);
}

void TMKProtocolTransport::AddDecodeLine(const std::string& text) {
  std::lock_guard lk(lock_);
  if (decodeBox_ != nullptr) decodeBox_->AddLine(text);
}

void TMKProtocolTransport::AppendLogLine(const std::string& fileName, const std::string& text) {
  if (!Autosave.load()) return;
  std::lock_guard lk(lock_);
  struct TFileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, TFileCloser> file(std::fopen(fileName.c_str(), "ab"));
  if (!file)
    throw EAutosaveError("Cannot open the autosave file \"" + fileName + "\": " + std::strerror(errno));
  const std::string line = text + "\r\n";
  errno = 0;
  bool ok = std::fwrite(line.data(), 1, line.size(), file.get()) == line.size();
  int err = errno;
  ok = std::fclose(file.release()) == 0 && ok;
  if (!ok) {
    if (err == 0) err = errno;
    throw EAutosaveError("Cannot write the autosave file \"" + fileName + "\": " + std::strerror(err));
  }
}

void TMKProtocolTransport::LogPacket(const TMKPPacket& packet, bool sent, bool decode) {
  const std::string prefix = sent ? "-> " : "<- ";
  const std::string text = PacketToText(packet);
  const std::string terminalLine = prefix + text;
  AddTerminalLine(terminalLine);
  AppendLogLine(TerminalAutosaveFile, terminalLine);
  if (!decode) return;
  std::string description;
  if (parser_ != nullptr) description = sent ? parser_->DescribeMaster(text) : parser_->DescribeSlave(text);
  const std::string decodeLine = prefix + description;
  AddDecodeLine(decodeLine);
  AppendLogLine(DecodeAutosaveFile, decodeLine);
}

bool TMKProtocolTransport::SendPacket(const TMKPPacket& packet) {
  std::lock_guard lk(lock_);
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
  const bool decode = DecodeEnabled.load();
  if (!sent) {
    AddTerminalLine("-> Transmit error!");
    if (decode) AddDecodeLine("-> Transmit error!");
    return false;
  }
  LogPacket(packet, /*sent=*/true, decode);
  return true;
}

bool TMKProtocolTransport::ReceivePacket(TMKPPacket& packet) {
  std::lock_guard lk(lock_);
  std::vector<std::uint8_t> frame(FrameBufferSize, 0);
  std::size_t received = 0;
  bool ok = false;
  try {
    if (channel_ == nullptr) throw EMKProtocolFailure();
    if (!channel_->ReadBytes(frame.data(), frame.size(), received)) {
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
  const bool decode = DecodeEnabled.load();
  if (!ok) {
    if (received != 0) {
      AddTerminalLine("<- Missing format : " +
                      BytesToHexText(frame.data(), frame.size(), static_cast<long>(received)));
      if (decode) AddDecodeLine("<- Missing format");
    }
    return false;
  }
  LogPacket(packet, /*sent=*/false, decode);
  return true;
}

}  // namespace mkp
