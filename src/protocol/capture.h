// Captures: the frames of the line in a capture file that other protocol
// analysers read, and the reading of such files back.
//
// Writing (TCaptureWriter) makes a pcapng file: a section header, one
// interface description per port (link type 147, LINKTYPE_USER0, named by the
// port's path, time stamps in microseconds), and one enhanced packet block per
// frame with its time (the wall-clock moment of the line's time, as the panes
// show it), its bytes exactly as they were on the line, its direction
// (inbound for received, outbound for sent) and the decode pane's line as its
// comment, in UTF-8. Bytes that formed no frame go in too, inbound, with the
// comment "Missing format". Every block goes to the file (one write) as it is
// made, so a program killed in the middle leaves a capture readable up to its
// last frame.
//
// Reading (TCaptureReader) takes pcapng and pcap files whose frames have link
// type 147, made here or elsewhere, one frame at a time, holding no more than
// one block in memory. It takes any bytes: a file that is no capture of MKP
// frames, and one cut off or damaged after some frames, are told by the texts
// "FILE: not a capture of MKP frames" and "FILE: cut off after frame N".
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/transport.h"

namespace mkp {

// LINKTYPE_USER0, the link type of MKP frames in a capture.
inline constexpr std::uint16_t CaptureLinkType = 147;

using TWallTime = std::chrono::system_clock::time_point;

class TCaptureWriter : public TFrameTap {
public:
  TCaptureWriter() = default;
  ~TCaptureWriter() override;
  TCaptureWriter(const TCaptureWriter&) = delete;
  TCaptureWriter& operator=(const TCaptureWriter&) = delete;

  // Creates the file (replacing one that is there; a FIFO is opened for
  // writing) and writes the section header and one interface per name, port 1
  // first. False, with Error(), when it cannot.
  bool Open(const std::string& path, const std::vector<std::string>& interfaces,
            const std::string& application = "mkpt");
  // Ends the capture; the file stays as written. Later frames are dropped.
  void Close();
  bool IsOpen() const;
  const std::string& Path() const { return path_; }
  // The name of the interface of a port that has none yet (one not named to
  // Open), used when its first frame comes; instead of "port N". Any thread.
  void SetInterfaceName(int port, const std::string& name);

  // A frame handed by the transport: its time mapped to the wall clock, its
  // decode line (without its direction prefix) as the comment.
  void Frame(const TFrameRecord& frame) override;
  // One frame written as given. A port without an interface yet gets one
  // named "port N". False when the capture is closed or has failed.
  bool Write(int port, bool sent, const std::uint8_t* bytes, std::size_t count, TWallTime time,
             std::string_view commentUtf8);

  // Why the file could not be created or written; empty while all is well.
  std::string Error() const;
  bool Failed() const { return failed_.load(); }
  std::uint64_t Frames() const { return frames_.load(); }

  // Called once, in the thread whose write failed (under the transport's
  // lock: it must not call the transport), with the reason. Capturing stops
  // there; the file keeps every frame written before. Set before frames flow.
  void SetOnFailure(std::function<void(const std::string& why)> onFailure) { onFailure_ = std::move(onFailure); }

  // The comment of a frame: its decode line without the direction prefix
  // ("-> ", "<- ", "<-1 ", "<-2 "), in UTF-8; "Missing format" for received
  // bytes that formed no frame.
  static std::string CommentFor(const TFrameRecord& frame);

private:
  bool WriteBlock();
  void AddInterface(const std::string& name);
  void Fail(const std::string& why);

  mutable std::mutex lock_;
  int fd_ = -1;
  std::string path_;
  std::string error_;
  std::size_t interfaces_ = 0;
  std::vector<std::string> laterNames_;  // by port - 1
  std::vector<std::uint8_t> block_;
  std::atomic<bool> failed_{false};
  std::atomic<std::uint64_t> frames_{0};
  std::function<void(const std::string&)> onFailure_;
};

enum class TFrameDirection : std::uint8_t { Unknown, In, Out };

// One frame of a capture.
struct TCapturedFrame {
  int Interface = 1;   // the MKP interface it was captured on, counted from 1 in its section
  int Interfaces = 1;  // MKP interfaces described so far in its section
  TFrameDirection Direction = TFrameDirection::Unknown;  // pcap files tell none
  TWallTime Time{};
  std::vector<std::uint8_t> Bytes;  // as captured
  std::uint32_t OriginalLength = 0;
  std::string Comment;  // UTF-8; empty when the frame has none
  std::string InterfaceName;
  // Whether it was received (or came without a direction).
  bool Received() const { return Direction != TFrameDirection::Out; }
};

class TCaptureReader {
public:
  enum class TStep { Frame, End, Failed };

  // Whether the first four bytes of a file are those of a pcap or pcapng file.
  static bool LooksLikeCapture(const std::uint8_t* bytes, std::size_t count);
  // The same for a file (false when it cannot be read).
  static bool IsCaptureFile(const std::string& path);

  TCaptureReader() = default;
  ~TCaptureReader();
  TCaptureReader(const TCaptureReader&) = delete;
  TCaptureReader& operator=(const TCaptureReader&) = delete;

  // Opens the file; the texts name it as given. False with Error() when it
  // cannot be opened ("FILE: cannot open: reason").
  bool Open(const std::string& path);
  // Reads a capture held in memory (not copied: it must outlive the reader).
  void OpenMemory(const std::uint8_t* bytes, std::size_t count, std::string name);

  // The next frame of link type 147; End after the last; Failed with Error()
  // when the file is no capture of MKP frames or is cut off or damaged (the
  // frames read before stand). Frames of other link types are passed over.
  TStep Next(TCapturedFrame& frame);
  const std::string& Error() const { return error_; }

  std::uint64_t FramesRead() const { return frames_; }
  std::uint64_t Skipped() const { return skipped_; }
  // Bytes read so far and the size of the file (0 when unknown).
  std::uint64_t Position() const { return position_; }
  std::uint64_t Size() const { return size_; }

  // The largest block or record taken; a longer one counts as damage.
  static constexpr std::uint32_t MaxBlock = 16u << 20;

private:
  struct TInterface {
    bool Mkp = false;
    int Number = 0;  // among the MKP interfaces of the section
    std::string Name;
    std::uint8_t TsResol = 6;
    std::int64_t TsOffset = 0;
  };
  enum class TFormat { Unknown, Pcap, Pcapng };

  // Exactly count bytes, or false at the end of the input (got: how many came).
  bool Read(void* into, std::size_t count, std::size_t* got = nullptr);
  bool Skip(std::uint64_t count);
  TStep Start();
  TStep NextPcap(TCapturedFrame& frame);
  TStep NextPcapng(TCapturedFrame& frame);
  TStep Section();
  TStep NotMkp();
  TStep CutOff();
  TStep Finish();
  std::uint32_t U32(const std::uint8_t* at) const;
  std::uint16_t U16(const std::uint8_t* at) const;
  void Describe(const std::vector<std::uint8_t>& body);
  bool Packet(std::uint32_t type, const std::vector<std::uint8_t>& body, TCapturedFrame& frame);

  std::FILE* file_ = nullptr;
  const std::uint8_t* memory_ = nullptr;
  std::size_t memorySize_ = 0;
  std::string name_;
  std::string error_;
  TFormat format_ = TFormat::Unknown;
  bool started_ = false;
  bool done_ = false;
  bool swap_ = false;
  bool nanoseconds_ = false;  // pcap
  bool anyMkpInterface_ = false;
  std::vector<TInterface> interfaces_;
  int mkpInterfaces_ = 0;
  std::vector<std::uint8_t> body_;
  std::uint64_t frames_ = 0;
  std::uint64_t skipped_ = 0;
  std::uint64_t position_ = 0;
  std::uint64_t size_ = 0;
};

}  // namespace mkp
