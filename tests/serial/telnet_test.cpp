// The Telnet client of rfc2217:// ports: escaping, option negotiation and the
// com-port control answers, with commands cut anywhere between two reads.
#include "serial/telnet.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace mkp::telnet;

TEST(TelnetTest, DataBytesFFAreDoubledOutAndSingledIn) {
  const Bytes data{0x01, 0xFF, 0x0D, 0x00, 0xFF, 0xFF};
  Bytes out;
  TClient::Escape(data.data(), data.size(), out);
  EXPECT_EQ(out, (Bytes{0x01, 0xFF, 0xFF, 0x0D, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(TClient::ComPortCommand(SetBaudRate, {0x00, 0x00, 0xFF, 0x01}),
            (Bytes{IAC, SB, 44, 1, 0x00, 0x00, 0xFF, 0xFF, 0x01, IAC, SE}));

  // Fed one byte at a time: every command may be cut anywhere.
  TClient client;
  Bytes got, replies;
  for (const std::uint8_t b : out) client.Take(&b, 1, got, replies);
  EXPECT_EQ(got, data);
  EXPECT_TRUE(replies.empty());
}

TEST(TelnetTest, NegotiationIsAnsweredOnceAndTheComPortAnswersAreKept) {
  TClient client;
  EXPECT_EQ(client.Greeting(), (Bytes{IAC, WILL, 44, IAC, WILL, 0, IAC, DO, 0}));
  // What a server says at the start: its own requests, then answers to ours.
  const Bytes server{IAC, WILL, 3, IAC, DO, 3,  IAC, WILL, 1,  IAC, DONT, 1, IAC, DO, 0, IAC,
                     WILL, 0,  IAC, DO, 44, IAC, DO,   24, 0x41, IAC, 241, 0x42};
  Bytes data, replies;
  client.Take(server.data(), server.size(), data, replies);
  // Suppress-go-ahead taken both ways, echo and terminal type refused; what we
  // asked for (binary, com-port) is not answered again.
  EXPECT_EQ(replies, (Bytes{IAC, DO, 3, IAC, WILL, 3, IAC, DONT, 1, IAC, WONT, 24}));
  EXPECT_EQ(data, (Bytes{0x41, 0x42}));
  EXPECT_TRUE(client.ServerBinary());
  EXPECT_FALSE(client.ComPortRefused());

  const Bytes answers{IAC, SB, 44, 101, 0x00, 0x00, 0x4B, 0x00, IAC, SE, IAC, SB, 44, 103, 3, IAC, SE};
  data.clear();
  replies.clear();
  client.Take(answers.data(), 6, data, replies);
  client.Take(answers.data() + 6, answers.size() - 6, data, replies);
  EXPECT_TRUE(data.empty());
  EXPECT_EQ(client.ComPortAnswer(SetBaudRate), (Bytes{0x00, 0x00, 0x4B, 0x00}));
  EXPECT_EQ(client.ComPortAnswer(SetParity), (Bytes{3}));
  EXPECT_FALSE(client.ComPortAnswer(SetStopSize));

  const Bytes refusal{IAC, DONT, 44};
  client.Take(refusal.data(), refusal.size(), data, replies);
  EXPECT_TRUE(client.ComPortRefused());
}

}  // namespace
