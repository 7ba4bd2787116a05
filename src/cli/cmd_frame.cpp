// Packet frame commands: checksum, compose, frame, parse.
#include <cstdio>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "command.h"
#include "options.h"
#include "modes/master.h"
#include "protocol/packet.h"
#include "text/cp1251.h"
#include "text/hextext.h"

namespace mkptool {
namespace {

// A usage error already reported on standard error.
struct TUsageError {};

// These commands take no options: the words of args are their input.
std::vector<std::string> Positional(const std::vector<std::string>& args, const char* command) {
  std::vector<std::string> out;
  if (!ReadOptions(command, args, {}, out)) throw TUsageError{};
  return out;
}

int Guarded(const std::function<int()>& body) {
  try {
    return body();
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  } catch (const TUsageError&) {
    return 2;
  }
}

const TCommandRegistrar checksumCommand({
    "checksum",
    "checksum text of a field of hex bytes, as the Master page shows it",
    "Usage: mkptool checksum [TEXT]\n"
    "Prints the checksum of the bytes of TEXT (hex digit pairs; blanks ignored, an odd\n"
    "last digit is read with a 0 in front, a pair that is not hex counts as 00) as\n"
    "four hex bytes, lowest first: `mkptool checksum \"61 62 63\"` prints 43 6E 00 00.\n"
    "More than 2048 bytes give 00 00 00 00. Without TEXT, reads one field per line\n"
    "of standard input and answers one line each.\n",
    [](const std::vector<std::string>& args) {
      return Guarded([&] {
        return RunBatch(Positional(args, "checksum"),
                        [](const std::string& in) { return mkp::ChecksumText(in); });
      });
    }});

const TCommandRegistrar composeCommand({
    "compose",
    "the Master page's \"Full packet\" text of a header and a data block",
    "Usage: mkptool compose HEADER [DATA]\n"
    "Prints the full packet text as the Master page composes it: the header bytes,\n"
    "two blanks and the header checksum, then, when DATA holds bytes, \" - \", the\n"
    "data bytes, two blanks and the data checksum. Without arguments, reads lines\n"
    "of standard input, each HEADER optionally followed by a TAB and DATA.\n",
    [](const std::vector<std::string>& args) {
      return Guarded([&] {
        auto pos = Positional(args, "compose");
        if (pos.size() > 2) throw std::invalid_argument("mkptool compose: expects HEADER [DATA]");
        auto one = [](const std::string& header, const std::string& data) {
          return mkp::ComposeFullPacket(header, data, mkp::ChecksumText(header),
                                        mkp::ChecksumText(data));
        };
        if (!pos.empty()) {  // the arguments as given: a TAB in them is text
          const std::string data = pos.size() > 1 ? mkp::Utf8ToCp1251(pos[1]) : std::string();
          return RunBatch({pos[0]}, [&](const std::string& header) { return one(header, data); });
        }
        return RunBatch({}, [&](const std::string& in) {
          const auto tab = in.find('\t');
          return tab == std::string::npos ? one(in, "") : one(in.substr(0, tab), in.substr(tab + 1));
        });
      });
    }});

const TCommandRegistrar frameCommand({
    "frame",
    "the bytes of the frame of a packet text",
    "Usage: mkptool frame [TEXT]\n"
    "TEXT is packet text: destination, source, command, data type, the length low\n"
    "byte first, then the data bytes, as hex pairs with blanks, \".\", \",\", \"-\",\n"
    "\"(\" and \")\" ignored (the form the panes log, e.g. 0A0B0C.010203.06.01.0100 - 05).\n"
    "Prints the frame with both checksums as hex bytes separated by blanks.\n"
    "Without TEXT, reads one packet text per line of standard input.\n",
    [](const std::vector<std::string>& args) {
      return Guarded([&] {
        return RunBatch(Positional(args, "frame"), [](const std::string& in) {
          mkp::TPacketHolder packet;
          if (!mkp::TextToPacket(in, *packet)) throw TCaseError{"not well-formed packet text"};
          std::uint8_t frame[mkp::FrameBufferSize];
          int length = 0;
          if (!mkp::BuildFrame(*packet, frame, length)) throw TCaseError{"cannot build the frame"};
          std::string text = mkp::BytesToHexText(frame, sizeof frame, length);
          if (!text.empty()) text.pop_back();
          return text;
        });
      });
    }});

const TCommandRegistrar parseCommand({
    "parse",
    "the packet text of a frame's bytes",
    "Usage: mkptool parse [HEX]\n"
    "HEX is a frame's bytes as hex text (blanks, \".\", \",\", \"-\", \"(\" and \")\"\n"
    "ignored). Prints the packet text form exactly as the terminal pane logs it\n"
    "(trailing blank included) when both checksums match and the byte count is the\n"
    "frame length the header announces; otherwise ERROR: Missing format.\n"
    "Without HEX, reads one frame per line of standard input.\n",
    [](const std::vector<std::string>& args) {
      return Guarded([&] {
        return RunBatch(Positional(args, "parse"), [](const std::string& in) {
          const auto bytes = mkp::FullPacketBytes(in);
          if (!bytes || bytes->empty()) throw TCaseError{"Missing format"};
          std::uint8_t frame[mkp::FrameBufferSize];
          std::memset(frame, 0, sizeof frame);
          std::memcpy(frame, bytes->data(), bytes->size());
          mkp::TPacketHolder packet;
          if (!mkp::ParseFrame(frame, *packet)) throw TCaseError{"Missing format"};
          if (bytes->size() != static_cast<std::size_t>(mkp::FrameLength(*packet))) throw TCaseError{"Missing format"};
          return mkp::PacketToText(*packet);
        });
      });
    }});

}  // namespace
}  // namespace mkptool
