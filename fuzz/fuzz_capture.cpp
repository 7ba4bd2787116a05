// The capture reader on arbitrary bytes: never reads or writes out of bounds,
// never holds more than a block, always ends (with a frame count that the
// bytes could hold), and what it yields can be turned into pane lines.
#include <cstdint>

#include "analysis/parser.h"
#include "modes/logfile.h"
#include "protocol/capture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static mkp::TMKPParser parser;
  mkp::TCaptureReader reader;
  reader.OpenMemory(data, size, "FILE");
  mkp::TCapturedFrame frame;
  std::uint64_t frames = 0;
  for (;;) {
    const auto step = reader.Next(frame);
    if (step != mkp::TCaptureReader::TStep::Frame) {
      if ((step == mkp::TCaptureReader::TStep::Failed) == reader.Error().empty()) __builtin_trap();
      break;
    }
    // Every frame takes at least a record header of the file.
    if (++frames > size / 12 + 1) __builtin_trap();
    if (frame.Bytes.size() > size) __builtin_trap();
    (void)mkp::FrameLineTexts(frame.Bytes.data(), frame.Bytes.size(), !frame.Received(),
                              mkp::CapturedFramePrefix(frame), parser);
  }
  if (reader.Next(frame) == mkp::TCaptureReader::TStep::Frame) __builtin_trap();  // ended for good
  return 0;
}
