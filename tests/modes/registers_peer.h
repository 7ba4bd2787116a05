// A device on the far side of a pseudo-terminal for the Registers mode tests:
// a thread that reads each frame the program sends, records it, and answers
// with the packet texts a test-supplied function gives for it.
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
#include "serial/pty_pair.h"

namespace mkptest {

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
  // Answer texts for a received packet; each is sent as its own frame, with
  // GapMs between two of them.
  using TAnswer = std::function<std::vector<std::string>(const TSeenPacket&, int index)>;

  TRegistersPeer(TPtyPair& pty, TAnswer answer) : pty_(pty), answer_(std::move(answer)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~TRegistersPeer() { Stop(); }
  TRegistersPeer(const TRegistersPeer&) = delete;
  TRegistersPeer& operator=(const TRegistersPeer&) = delete;

  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
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
  void Run() {
    std::vector<std::uint8_t> bytes;
    while (!stop_) {
      pollfd p{pty_.MasterFd(), POLLIN, 0};
      const int ready = ::poll(&p, 1, bytes.empty() ? 10 : 3);
      if (ready > 0) {
        std::uint8_t buffer[4096];
        const ssize_t n = ::read(pty_.MasterFd(), buffer, sizeof buffer);
        if (n > 0) bytes.insert(bytes.end(), buffer, buffer + n);
        continue;
      }
      if (bytes.empty()) continue;
      // The line fell silent: what arrived is one frame.
      std::vector<std::uint8_t> frame(mkp::FrameBufferSize, 0);
      std::copy_n(bytes.begin(), std::min(bytes.size(), frame.size()), frame.begin());
      bytes.clear();
      mkp::TPacketHolder packet;
      if (!mkp::ParseFrame(frame.data(), *packet)) continue;
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
        if (!first) std::this_thread::sleep_for(std::chrono::milliseconds(GapMs.load()));
        first = false;
        Send(text);
      }
    }
  }

  void Send(const std::string& text) {
    mkp::TPacketHolder packet;
    if (!mkp::TextToPacket(text, *packet)) return;
    std::uint8_t frame[mkp::FrameBufferSize];
    int length = 0;
    if (!mkp::BuildFrame(*packet, frame, length)) return;
    try {
      pty_.Write(std::vector<std::uint8_t>(frame, frame + length));
    } catch (const std::exception&) {
    }
  }

  TPtyPair& pty_;
  TAnswer answer_;
  std::atomic<bool> stop_{false};
  mutable std::mutex lock_;
  std::vector<TSeenPacket> seen_;
  std::thread thread_;
};

}  // namespace mkptest
