// TMKProtocolTransport: the one object through which packets go onto and come
// off the serial line, logging each one raw and decoded.
#pragma once

#include <mutex>
#include <string>

#include "protocol/packet.h"
#include "protocol/panes.h"

namespace mkp {

class TCOMPortChannel;
class TMKPParser;

class TMKProtocolTransport {
public:
  explicit TMKProtocolTransport(TCOMPortChannel* channel = nullptr);

  void SetChannel(TCOMPortChannel* channel);
  void SetTerminalBox(TLogPane* pane);
  void SetDecodeBox(TLogPane* pane);
  void SetParser(TMKPParser* parser);

  // Frames and writes the packet; logs "-> ..." or "-> Transmit error!".
  bool SendPacket(const TMKPPacket& packet);
  // One read of up to FrameBufferSize bytes; logs "<- ..." or
  // "<- Missing format : ..."; nothing arrived logs nothing.
  bool ReceivePacket(TMKPPacket& packet);

  void AddTerminalLine(const std::string& text);
  void AddDecodeLine(const std::string& text);
  // Appends one line (CR LF) to the file when Autosave is on.
  void AppendLogLine(const std::string& fileName, const std::string& text);

  std::string TerminalAutosaveFile;
  std::string DecodeAutosaveFile;
  bool AutoScroll = false;
  bool DecodeEnabled = false;
  bool Autosave = false;

private:
  TCOMPortChannel* channel_ = nullptr;
  TLogPane* terminalBox_ = nullptr;
  TLogPane* decodeBox_ = nullptr;
  TMKPParser* parser_ = nullptr;
  std::recursive_mutex lock_;  // two threads never interleave on the line
};

}  // namespace mkp
