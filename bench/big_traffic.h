// The traffic of the big-file tools: a master polling a device, now and then
// a long answer and bytes that formed no frame, always the same for a seed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <chrono>
#include <filesystem>

#include "protocol/capture.h"
#include "protocol/packet.h"

namespace benchtraffic {

// The frames of the traffic, in turn: request, answer, ...
class TTraffic {
public:
  // The next frame and whether the master sent it.
  std::vector<std::uint8_t> Next(bool& sent) {
    sent = (count_++ % 2) == 0;
    mkp::TPacketHolder p;
    p->DstAddr = sent ? mkp::MakeVorelAddr(1, 2, 3) : mkp::MakeVorelAddr(10, 11, 12);
    p->SrcAddr = sent ? mkp::MakeVorelAddr(10, 11, 12) : mkp::MakeVorelAddr(1, 2, 3);
    p->Command = sent ? 6 : 7;
    p->DataType = 5;
    const int reg = 1 + static_cast<int>(random_() % 40);
    if (sent) {
      p->DataLen = 1;
      p->Data[0] = static_cast<std::uint8_t>(reg);
    } else if (random_() % 50 == 0) {
      p->DataType = 1;
      p->DataLen = 301;  // a long answer: 300 BYTE values
      for (int i = 0; i < 301; ++i) p->Data[i] = static_cast<std::uint8_t>(random_());
      p->Data[0] = static_cast<std::uint8_t>(reg);
    } else {
      p->DataLen = 3;
      p->Data[0] = static_cast<std::uint8_t>(reg);
      p->Data[1] = static_cast<std::uint8_t>(random_());
      p->Data[2] = static_cast<std::uint8_t>(random_());
    }
    std::vector<std::uint8_t> frame(mkp::FrameBufferSize);
    int n = 0;
    mkp::BuildFrame(*p, frame.data(), n);
    frame.resize(static_cast<std::size_t>(n));
    if (!sent && random_() % 200 == 0) frame.resize(frame.size() - 2);  // cut short: "Missing format"
    return frame;
  }

private:
  std::mt19937 random_{24};
  std::uint64_t count_ = 0;
};

inline std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (auto b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 15];
    text += ' ';
  }
  return text;
}

// The terminal line the transport logs for a frame.
inline std::string TerminalLine(const std::vector<std::uint8_t>& frame, bool sent) {
  std::vector<std::uint8_t> buffer(mkp::FrameBufferSize, 0);
  std::copy(frame.begin(), frame.end(), buffer.begin());
  mkp::TPacketHolder p;
  std::size_t length = 0;
  if (mkp::FrameStartAt(frame.data(), frame.size(), length) == mkp::TFrameStart::Frame && length == frame.size() &&
      mkp::ParseFrame(buffer.data(), *p))
    return (sent ? "-> " : "<- ") + mkp::PacketToText(*p);
  return "<- Missing format : " + Hex(frame);
}

// A capture of the traffic of at least `bytes` bytes (a whole number of
// thousands of frames), starting a day ago; returns its frames.
inline std::uint64_t WriteCapture(const std::string& path, std::uint64_t bytes) {
  std::uint64_t frames = 0;
  mkp::TCaptureWriter writer;
  writer.Open(path, {"/dev/ttyUSB0"});
  TTraffic traffic;
  auto time = std::chrono::system_clock::now() - std::chrono::hours(24);
  while (std::filesystem::file_size(path) < bytes || frames % 1000 != 0) {
    bool sent = false;
    const auto frame = traffic.Next(sent);
    time += std::chrono::milliseconds(sent ? 45 : 5);
    writer.Write(1, sent, frame.data(), frame.size(), time, sent ? "0A0B0C>>010203 RD type 05 : reg 01" : "");
    ++frames;
  }
  return frames;
}

// A terminal log of the traffic (the lines the transport logs) of at least
// `bytes` bytes; returns its lines.
inline std::uint64_t WriteTerminalLog(const std::string& path, std::uint64_t bytes) {
  std::uint64_t lines = 0, written = 0;
  std::FILE* log = std::fopen(path.c_str(), "wb");
  TTraffic traffic;
  while (written < bytes) {
    bool sent = false;
    const std::string line = TerminalLine(traffic.Next(sent), sent) + "\r\n";
    std::fwrite(line.data(), 1, line.size(), log);
    written += line.size();
    ++lines;
  }
  std::fclose(log);
  return lines;
}

}  // namespace benchtraffic
