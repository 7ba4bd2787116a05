// Ports over the network, against a real serial device server (ser2net)
// serving a pseudo-terminal on 127.0.0.1: bytes both ways, the line settings
// sent over RFC 2217, and the failures of a network: refused, unknown, silent
// and vanishing servers, none of which may hang.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "serial/comport.h"
#include "serial/pty_pair.h"
#include "serial/ser2net_server.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

#define REQUIRE_SER2NET() \
  if (!mkptest::TSer2Net::Available()) GTEST_SKIP() << "ser2net is not installed"

Bytes ReadFromChannel(mkp::TCOMPortChannel& channel, std::size_t count, std::chrono::milliseconds limit) {
  Bytes got;
  const auto end = Clock::now() + limit;
  while (got.size() < count && Clock::now() < end) {
    std::uint8_t buffer[256];
    std::size_t n = 0;
    if (!channel.ReadBytes(buffer, sizeof buffer, n)) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

template <class Predicate>
bool WaitFor(Predicate done, std::chrono::milliseconds limit = 10s) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

TEST(NetworkPortTest, BytesPassBothWaysOnBothKindsAndRfc2217SetsTheServersLine) {
  REQUIRE_SER2NET();
  for (const bool telnet : {false, true}) {
    SCOPED_TRACE(telnet ? "rfc2217" : "tcp");
    mkptest::TPtyPair pty;
    mkptest::TSer2Net server(pty.Path(), telnet);
    mkp::TCOMPortChannel channel;
    ASSERT_TRUE(channel.OpenPort(server.Url(), "19200", "2", "even", 1, 0)) << channel.LastError();
    EXPECT_EQ(channel.PortName(), server.Url());
    EXPECT_TRUE(channel.NetworkPort());

    // The server's own device got the settings of the open over RFC 2217; a
    // raw port keeps the server's configuration (9600).
    const int fd = ::open(pty.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    ::close(fd);
    EXPECT_EQ(cfgetospeed(&t), telnet ? B19200 : B9600);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, telnet);

    // FFh (the Telnet escape), CR LF and NUL pass as they are, both ways.
    const Bytes out{0x01, 0xFF, 0x0D, 0x0A, 0x00, 0xFF, 0xFF, 0x7E};
    std::size_t count = out.size();
    ASSERT_TRUE(channel.WriteBytes(out.data(), count));
    EXPECT_EQ(pty.Read(out.size(), 5000), out);
    const Bytes in{0xFF, 0x11, 0x13, 0x0D, 0x00, 0xFF};
    pty.Write(in);
    EXPECT_EQ(ReadFromChannel(channel, in.size(), 5000ms), in);
  }
}

TEST(NetworkPortTest, RefusedUnknownAndSilentServersAreToldWithoutHanging) {
  mkp::TCOMPortChannel channel;
  const int closed = mkptest::TSer2Net::FreePort();
  auto t0 = Clock::now();
  EXPECT_FALSE(channel.OpenPort("tcp://127.0.0.1:" + std::to_string(closed), "9600", "1", "none", 1, 0));
  EXPECT_EQ(channel.State(), mkp::psInvalid);
  EXPECT_EQ(channel.LastErrorBrief(), "Connection refused");
  EXPECT_FALSE(channel.OpenPort("TCP://127.0.0.1", "9600", "1", "none", 1, 0));
  EXPECT_EQ(channel.LastErrorBrief(), "Bad network port name");
  EXPECT_FALSE(channel.OpenPort("rfc2217://no-such-host.invalid:2000", "9600", "1", "none", 1, 0));
  EXPECT_EQ(channel.LastErrorBrief(), "Host not found");
  EXPECT_LT(Clock::now() - t0, 10s);

  // A server that takes the connection and never says a word: a raw port
  // opens and reads nothing; an RFC 2217 port gives up waiting for the answer
  // to its settings.
  mkptest::TSilentServer silent;
  const std::string& where = silent.Where();
  ASSERT_TRUE(channel.OpenPort("tcp://" + where, "9600", "1", "none", 1, 0)) << channel.LastError();
  std::uint8_t buffer[16];
  std::size_t count = 0;
  t0 = Clock::now();
  EXPECT_TRUE(channel.ReadBytes(buffer, sizeof buffer, count));
  EXPECT_EQ(count, 0u);
  EXPECT_LT(Clock::now() - t0, 2s);
  t0 = Clock::now();
  EXPECT_FALSE(channel.OpenPort("rfc2217://" + where, "9600", "1", "none", 1, 0));
  EXPECT_EQ(channel.LastErrorBrief(), "No RFC 2217 answer");
  EXPECT_LT(Clock::now() - t0, 10s);
}

TEST(NetworkPortTest, AServerThatTurnsTheConnectionAwayIsQuotedAndTheOpenFails) {
  REQUIRE_SER2NET();
  // The device is taken by a first connection; the server turns a second
  // one away with a line of text.
  mkptest::TPtyPair pty;
  mkptest::TSer2Net server(pty.Path(), false, false, /*kickOldUser=*/false);
  mkp::TCOMPortChannel first, second;
  ASSERT_TRUE(first.OpenPort(server.Url(), "9600", "1", "none", 1, 0)) << first.LastError();
  EXPECT_FALSE(second.OpenPort(server.Url(), "9600", "1", "none", 1, 0));
  EXPECT_EQ(second.State(), mkp::psInvalid);
  EXPECT_NE(second.LastError().find("closed the connection, saying \"Port already in use\""), std::string::npos)
      << second.LastError();
  EXPECT_EQ(second.LastErrorBrief(), "Port already in use");
  EXPECT_EQ(first.State(), mkp::psOk);
}

TEST(NetworkPortTest, AServerThatVanishesIsLostAndTheNextOpenConnectsAgain) {
  REQUIRE_SER2NET();
  mkptest::TPtyPair pty;
  mkptest::TSer2Net server(pty.Path(), false);
  mkp::TCOMPortChannel channel;
  ASSERT_TRUE(channel.OpenPort(server.Url(), "9600", "1", "none", 1, 0)) << channel.LastError();
  EXPECT_EQ(channel.TakeLostReport(), "");

  server.Kill();
  ASSERT_TRUE(WaitFor([&] { return channel.PortLost(); }));
  EXPECT_EQ(channel.LastErrorBrief(), "Connection lost");
  EXPECT_EQ(channel.TakeLostReport(), "Connection lost");
  EXPECT_EQ(channel.TakeLostReport(), "");  // told once
  std::uint8_t buffer[16];
  std::size_t count = 0;
  const auto t0 = Clock::now();
  EXPECT_FALSE(channel.ReadBytes(buffer, sizeof buffer, count));
  EXPECT_LT(Clock::now() - t0, 5s);
  EXPECT_FALSE(channel.OpenPort(server.Url(), "9600", "1", "none", 1, 0));
  EXPECT_EQ(channel.LastErrorBrief(), "Connection refused");

  ASSERT_TRUE(server.Start());
  ASSERT_TRUE(channel.OpenPort(server.Url(), "9600", "1", "none", 1, 0)) << channel.LastError();
  EXPECT_FALSE(channel.PortLost());
  const Bytes out{0x10, 0x20};
  count = out.size();
  ASSERT_TRUE(channel.WriteBytes(out.data(), count));
  EXPECT_EQ(pty.Read(out.size(), 5000), out);
}

}  // namespace
