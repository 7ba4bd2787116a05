// A device for the Registers mode tests: it records each frame the program
// sends and answers with the packet texts a test-supplied function gives for
// it. On the far side of a pseudo-terminal it is a thread that reads the line
// (the answers GapMs apart); on a line in memory it answers from the line's
// write, each answer one read of the program.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocol/packet.h"
#include "serial/memory_line.h"
#include "serial/pty_pair.h"

namespace mkptest {

// The frame of a packet text (empty when the text is not well-formed).
inline std::vector<std::uint8_t> FrameBytes(const std::string& text) {
  mkp::TPacketHolder packet;
  std::uint8_t out[mkp::FrameBufferSize];
  int length = 0;
  if (!mkp::TextToPacket(text, *packet) || !mkp::BuildFrame(*packet, out, length)) return {};
  return {out, out + length};
}

struct TSeenPacket {
  std::string Text;  // PacketToText
  std::uint8_t Command = 0;
  std::uint8_t DataType = 0;
  int DataLen = 0;
  std::uint8_t First = 0;  // first data byte (0 without data)
  mkp::TVorelAddr Dst;
};

class TRegistersPeer {
public:
  // Answer texts for a received packet; each is sent as its own frame.
  using TAnswer = std::function<std::vector<std::string>(const TSeenPacket&, int index)>;
  using Bytes = std::vector<std::uint8_t>;

  TRegistersPeer(TPtyPair& pty, TAnswer answer) : answer_(std::move(answer)) {
    send_ = [&pty](const Bytes& frame) {
      try {
        pty.Write(frame);
      } catch (const std::exception&) {
      }
    };
    thread_ = std::thread([this, &pty] { ReadPty(pty); });
  }
  TRegistersPeer(TMemoryLine& line, TAnswer answer) : line_(&line), answer_(std::move(answer)) {
    send_ = [&line](const Bytes& frame) { line.Write(frame); };
    line.OnWrite([this](const Bytes& frame) { Answer(frame); });
  }
  ~TRegistersPeer() { Stop(); }
  TRegistersPeer(const TRegistersPeer&) = delete;
  TRegistersPeer& operator=(const TRegistersPeer&) = delete;

  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (line_ != nullptr) line_->OnWrite(nullptr);
  }

  std::vector<TSeenPacket> Seen() const {
    std::lock_guard guard(lock_);
    return seen_;
  }
  int Count() const {
    std::lock_guard guard(lock_);
    return static_cast<int>(seen_.size());
  }

  std::atomic<int> GapMs{40};

private:
  void ReadPty(TPtyPair& pty) {
    Bytes bytes;
    while (!stop_) {
      pollfd p{pty.MasterFd(), POLLIN, 0};
      const int ready = ::poll(&p, 1, bytes.empty() ? 10 : 3);
      if (ready > 0) {
        std::uint8_t buffer[4096];
        const ssize_t n = ::read(pty.MasterFd(), buffer, sizeof buffer);
        if (n > 0) bytes.insert(bytes.end(), buffer, buffer + n);
        continue;
      }
      if (bytes.empty()) continue;
      // The line fell silent: what arrived is one frame.
      Answer(bytes);
      bytes.clear();
    }
  }

  void Answer(const Bytes& bytes) {
    std::vector<std::uint8_t> frame(mkp::FrameBufferSize, 0);
    std::copy_n(bytes.begin(), std::min(bytes.size(), frame.size()), frame.begin());
    mkp::TPacketHolder packet;
    if (!mkp::ParseFrame(frame.data(), *packet)) return;
    TSeenPacket seen;
    seen.Text = mkp::PacketToText(*packet);
    seen.Command = packet->Command;
    seen.DataType = packet->DataType;
    seen.DataLen = packet->DataLen;
    seen.First = packet->DataLen > 0 ? packet->Data[0] : 0;
    seen.Dst = packet->DstAddr;
    int index;
    {
      std::lock_guard guard(lock_);
      index = static_cast<int>(seen_.size());
      seen_.push_back(seen);
    }
    bool first = true;
    for (const std::string& text : answer_(seen, index)) {
      if (!first && line_ == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(GapMs.load()));
      first = false;
      const Bytes frame = FrameBytes(text);
      if (!frame.empty()) send_(frame);
    }
  }

  TMemoryLine* line_ = nullptr;
  TAnswer answer_;
  std::function<void(const Bytes&)> send_;
  std::atomic<bool> stop_{false};
  mutable std::mutex lock_;
  std::vector<TSeenPacket> seen_;
  std::thread thread_;
};

}  // namespace mkptest
