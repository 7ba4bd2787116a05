// A serial line over the network: a TCP connection to a serial device server,
// carrying the line's bytes as they are (tcp://HOST:PORT) or in a Telnet
// session whose com-port control option sets the server's line
// (rfc2217://HOST:PORT).
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "serial/line_params.h"
#include "serial/linestream.h"
#include "serial/telnet.h"
#include "text/textcut.h"

namespace mkp {

namespace {

using namespace std::chrono_literals;

// Connecting (name look-up included), and the server's answer to the line
// settings, each take at most the total time-out of a frame read.
constexpr auto ConnectTimeout = 2068ms;
// A frame crosses the server and the network in pieces; the silences inside
// it grow by this much over those of a local line.
constexpr auto NetworkGapAllowance = 20ms;
constexpr const char* LostBriefText = "Connection lost";

std::string ErrnoText(int err) { return std::generic_category().message(err); }

std::string LowerCase(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// The text trimmed when it is one short line of plain text; else empty.
std::string PlainLine(const std::string& text) {
  const std::string line = Trim(text);
  if (line.size() > 120) return {};
  for (const char c : line)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return {};
  return line;
}

struct TNetName {
  bool Telnet = false;
  std::string Host;
  std::string Port;
  std::string Shown;  // HOST:PORT
};

std::optional<TNetName> SplitNetName(const std::string& portName) {
  const std::string name = Trim(portName);
  const std::string lower = LowerCase(name);
  TNetName n;
  std::string rest;
  if (lower.rfind("tcp://", 0) == 0) {
    rest = name.substr(6);
  } else if (lower.rfind("rfc2217://", 0) == 0) {
    n.Telnet = true;
    rest = name.substr(10);
  } else {
    return std::nullopt;
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  std::size_t colon;
  if (!rest.empty() && rest.front() == '[') {  // [IPv6]:PORT
    const std::size_t close = rest.find(']');
    if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') return n;
    n.Host = rest.substr(1, close - 1);
    colon = close + 1;
  } else {
    colon = rest.rfind(':');
    if (colon == std::string::npos) return n;
    n.Host = rest.substr(0, colon);
  }
  n.Port = rest.substr(colon + 1);
  n.Shown = rest;
  return n;
}

class TSocket {
public:
  explicit TSocket(int fd = -1) : fd_(fd) {}
  ~TSocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  TSocket(TSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  TSocket& operator=(TSocket&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int Get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }

private:
  int fd_;
};

// The events of the descriptor once one of them came, or 0 at the deadline.
int PollFor(int fd, short events, TMonoTime deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const timespec left = ToTimespec(deadline - TMonoClock::now());
    const int r = ::ppoll(&p, 1, &left, nullptr);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return r;
    return p.revents;
  }
}

struct TAddrInfoFree {
  void operator()(addrinfo* info) const {
    if (info != nullptr) freeaddrinfo(info);
  }
};
using TAddrInfo = std::unique_ptr<addrinfo, TAddrInfoFree>;

// The addresses of the host, looked up within the deadline. A name server
// that does not answer must not hold the open: the look-up runs in a thread
// of its own, which is left to end by itself when the deadline passes.
TAddrInfo Resolve(const TNetName& n, TMonoTime deadline) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (getaddrinfo(n.Host.c_str(), n.Port.c_str(), &hints, &found) == 0) return TAddrInfo(found);

  struct TLookup {
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
    int Result = 0;
    TAddrInfo Info;
  };
  auto lookup = std::make_shared<TLookup>();
  std::thread([lookup, host = n.Host, port = n.Port] {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    addrinfo* info = nullptr;
    const int result = getaddrinfo(host.c_str(), port.c_str(), &hints, &info);
    std::lock_guard lk(lookup->Lock);
    lookup->Result = result;
    lookup->Info.reset(info);
    lookup->Finished = true;
    lookup->Done.notify_all();
  }).detach();
  std::unique_lock lk(lookup->Lock);
  if (!lookup->Done.wait_until(lk, deadline, [&] { return lookup->Finished; }))
    throw ECantOpenPort("The name look-up of \"" + n.Host + "\" took too long", "Host not found");
  if (lookup->Result != 0) {
    const std::string why = lookup->Result == EAI_SYSTEM ? ErrnoText(errno) : gai_strerror(lookup->Result);
    throw ECantOpenPort("Cannot find the host \"" + n.Host + "\": " + why, "Host not found");
  }
  return std::move(lookup->Info);
}

void SetSocketOptions(int fd) {
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);  // a frame goes out at once
  // A server that vanishes without closing (pulled cable, powered off) is
  // found out within seconds rather than hours.
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  const int idle = 5, interval = 2, probes = 3;
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
  const unsigned userTimeout = 10000;  // ms that written bytes may stay unacknowledged
  setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
}

TSocket Connect(const TNetName& n) {
  const TMonoTime deadline = TMonoClock::now() + ConnectTimeout;
  const TAddrInfo info = Resolve(n, deadline);
  int lastError = ECONNREFUSED;
  bool timedOut = false;
  for (const addrinfo* a = info.get(); a != nullptr; a = a->ai_next) {
    TSocket s(::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
    if (s.Get() < 0) {
      lastError = errno;
      continue;
    }
    if (::connect(s.Get(), a->ai_addr, a->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) {
        lastError = errno;
        continue;
      }
      const int events = PollFor(s.Get(), POLLOUT, deadline);
      if (events == 0) {
        timedOut = true;
        break;
      }
      int error = 0;
      socklen_t length = sizeof error;
      if (getsockopt(s.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
      if (error != 0) {
        lastError = error;
        continue;
      }
    }
    SetSocketOptions(s.Get());
    return s;
  }
  const std::string where = "Cannot connect to " + n.Shown + ": ";
  if (timedOut)
    throw ECantOpenPort(where + "no answer within " + std::to_string(ConnectTimeout.count()) + " ms",
                        "Connection timed out");
  if (lastError == ECONNREFUSED) throw ECantOpenPort(where + "Connection refused", "Connection refused");
  if (lastError == ENETUNREACH || lastError == EHOSTUNREACH)
    throw ECantOpenPort(where + ErrnoText(lastError), "Host unreachable");
  throw ECantOpenPort(where + ErrnoText(lastError), ErrnoText(lastError));
}

class TNetStream : public TLineStream {
public:
  TNetStream(TSocket socket, std::unique_ptr<telnet::TClient> session, unsigned baud,
             std::chrono::microseconds frameGap, std::string shown)
      : socket_(std::move(socket)),
        telnet_(std::move(session)),
        baud_(baud),
        frameGap_(frameGap),
        shown_(std::move(shown)) {}

  int Descriptor() const override { return socket_.Get(); }
  unsigned BitRate() const override { return baud_; }
  std::chrono::microseconds FrameGap() const override { return frameGap_; }
  std::string LostBrief() const override { return LostBriefText; }
  std::string Greeting() const override { return Said(); }
  std::chrono::milliseconds EchoAllowance() const override { return 500ms; }

  std::size_t DiscardQueuedInput() override { return std::exchange(pending_, {}).size(); }

  // Line bytes that came with the Telnet negotiation, before reading began.
  void Keep(std::vector<std::uint8_t> bytes) { pending_ = std::move(bytes); }

  bool ReadAvailable(std::vector<std::uint8_t>& out, std::string& failure) override {
    if (!pending_.empty()) {
      out.insert(out.end(), pending_.begin(), pending_.end());
      pending_.clear();
    }
    std::uint8_t buffer[4096];
    std::vector<std::uint8_t> replies;
    for (;;) {
      const ssize_t k = ::recv(socket_.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
      if (k > 0) {
        const std::size_t before = out.size();
        if (telnet_)
          telnet_->Take(buffer, static_cast<std::size_t>(k), out, replies);
        else
          out.insert(out.end(), buffer, buffer + k);
        Listen(out.data() + before, out.size() - before);
        continue;
      }
      if (k < 0 && errno == EINTR) continue;
      if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      const std::string said = Said();
      failure = k == 0 ? "Connection lost: " + shown_ + " closed the connection" +
                             (said.empty() ? std::string() : ", saying \"" + said + "\"")
                       : "Connection lost: " + shown_ + ": " + ErrnoText(errno);
      return false;
    }
    if (!replies.empty()) {
      std::string why;
      bool lost = false;
      if (!SendAll(replies.data(), replies.size(), TMonoClock::now() + ConnectTimeout, why, lost) && lost) {
        failure = why;
        return false;
      }
    }
    return true;
  }

  bool WriteAll(const std::uint8_t* bytes, std::size_t count, TMonoTime deadline, std::string& failure,
                bool& lost) override {
    if (!telnet_) return SendAll(bytes, count, deadline, failure, lost);
    std::vector<std::uint8_t> escaped;
    telnet::TClient::Escape(bytes, count, escaped);
    return SendAll(escaped.data(), escaped.size(), deadline, failure, lost);
  }

  // Sends the bytes as they are; the reader's negotiation answers and the
  // writes never interleave.
  bool SendAll(const std::uint8_t* bytes, std::size_t count, TMonoTime deadline, std::string& failure, bool& lost) {
    std::lock_guard lk(sendLock_);
    std::size_t done = 0;
    while (done < count) {
      const ssize_t r = ::send(socket_.Get(), bytes + done, count - done, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (r > 0) {
        done += static_cast<std::size_t>(r);
        continue;
      }
      const int err = r < 0 ? errno : EAGAIN;
      if (err == EINTR) continue;
      if (err == EAGAIN || err == EWOULDBLOCK) {
        if (PollFor(socket_.Get(), POLLOUT, deadline) == 0) {
          failure = "Write timed out: " + shown_ + " does not take the bytes";
          return false;
        }
        continue;
      }
      lost = true;
      failure = "Connection lost: " + shown_ + ": " + ErrnoText(err);
      return false;
    }
    return true;
  }

private:
  // A server that turns a connection away says why in a line of text and
  // closes (ser2net: "Port's device already in use"): the text of the first
  // moments is kept to tell the user.
  void Listen(const std::uint8_t* bytes, std::size_t count) {
    std::lock_guard lk(saidLock_);
    if (TMonoClock::now() - opened_ > 2s) return;
    for (std::size_t i = 0; i < count && heard_.size() < 200; ++i) heard_ += static_cast<char>(bytes[i]);
  }
  // What was heard, when it is one short line of plain text; else empty.
  std::string Said() const {
    std::lock_guard lk(saidLock_);
    return PlainLine(heard_);
  }

  TSocket socket_;
  std::unique_ptr<telnet::TClient> telnet_;
  const TMonoTime opened_ = TMonoClock::now();
  mutable std::mutex saidLock_;
  std::string heard_;
  unsigned baud_;
  std::chrono::microseconds frameGap_;
  std::string shown_;
  std::vector<std::uint8_t> pending_;
  std::mutex sendLock_;
};

std::vector<std::uint8_t> BigEndian32(unsigned value) {
  return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
          static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

std::uint8_t ParityCode(TParity parity) {
  switch (parity) {
    case TParity::None: return 1;
    case TParity::Odd: return 2;
    case TParity::Even: return 3;
    case TParity::Mark: return 4;
    case TParity::Space: return 5;
  }
  return 0;
}

std::uint8_t StopCode(TStopBits stop) {
  switch (stop) {
    case TStopBits::One: return 1;
    case TStopBits::Two: return 2;
    case TStopBits::OneAndHalf: return 3;
  }
  return 0;
}

// Sets the server's line and waits for its answers: the speed's answer is
// required, the others are compared where they came before the deadline.
// Line bytes that arrive meanwhile are kept.
void SetServerLine(TNetStream& stream, telnet::TClient& session, const TLineParameters& p, const TNetName& n,
                   std::vector<std::uint8_t>& early) {
  std::vector<std::uint8_t> out = session.Greeting();
  std::vector<std::pair<std::uint8_t, std::vector<std::uint8_t>>> asked = {{telnet::SetBaudRate, BigEndian32(p.Speed)},
                                                                           {telnet::SetDataSize, {8}}};
  if (p.Parity) asked.push_back({telnet::SetParity, {ParityCode(*p.Parity)}});
  if (p.StopBits) asked.push_back({telnet::SetStopSize, {StopCode(*p.StopBits)}});
  for (const auto& [command, value] : asked) {
    const auto bytes = telnet::TClient::ComPortCommand(command, value);
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  const TMonoTime deadline = TMonoClock::now() + ConnectTimeout;
  std::string why;
  bool lost = false;
  if (!stream.SendAll(out.data(), out.size(), deadline, why, lost))
    throw ECantOpenPort("Cannot set the line of " + n.Shown + ": " + why, LostBriefText);

  auto answered = [&] {
    return std::all_of(asked.begin(), asked.end(), [&](const auto& a) { return session.ComPortAnswer(a.first); });
  };
  while (!answered() && !session.ComPortRefused()) {
    if (PollFor(stream.Descriptor(), POLLIN, deadline) == 0) break;
    std::uint8_t buffer[1024];
    const ssize_t k = ::recv(stream.Descriptor(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (k < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (k <= 0) {
      // A server that turns the connection away says why first.
      const std::string said = PlainLine(std::string(early.begin(), early.end()));
      throw ECantOpenPort(n.Shown + " closed the connection while the line was being set" +
                              (said.empty() ? std::string() : ", saying \"" + said + "\""),
                          said.empty() || said.size() > 60 ? std::string(LostBriefText) : said);
    }
    std::vector<std::uint8_t> replies;
    session.Take(buffer, static_cast<std::size_t>(k), early, replies);
    if (!replies.empty()) stream.SendAll(replies.data(), replies.size(), deadline, why, lost);
  }
  if (session.ComPortRefused())
    throw ECantOpenPort(n.Shown + " refuses the RFC 2217 com-port control (is it a telnet(rfc2217) port?)",
                        "No RFC 2217 on the server");
  const auto speed = session.ComPortAnswer(telnet::SetBaudRate);
  if (!speed)
    throw ECantOpenPort(n.Shown + " did not answer the RFC 2217 line settings within " +
                            std::to_string(ConnectTimeout.count()) + " ms (is it a telnet(rfc2217) port?)",
                        "No RFC 2217 answer");
  if (speed->size() == 4) {
    const unsigned set = static_cast<unsigned>((*speed)[0]) << 24 | (*speed)[1] << 16 | (*speed)[2] << 8 | (*speed)[3];
    const double ratio = static_cast<double>(set) / p.Speed;
    if (ratio < 0.97 || ratio > 1.03)
      throw ECantOpenPort(n.Shown + " set the speed " + std::to_string(set) + " instead of " + std::to_string(p.Speed),
                          "Speed refused by the server");
  }
  for (const auto& [command, value] : asked) {
    if (command == telnet::SetBaudRate) continue;
    const auto answer = session.ComPortAnswer(command);
    if (answer && !answer->empty() && (*answer)[0] != value[0])
      throw ECantOpenPort(n.Shown + " refused the parity, stop bits or data bits", "Settings refused by the server");
  }
}

}  // namespace

bool IsNetworkPortName(const std::string& portName) { return SplitNetName(portName).has_value(); }

std::unique_ptr<TLineStream> OpenNetworkStream(const std::string& portName, const TLineSettings& settings) {
  const auto n = SplitNetName(portName);
  if (!n) throw ECantOpenPort("Not a network port name: " + portName, "Unknown port name");
  unsigned port = 0;
  const auto [end, ec] = std::from_chars(n->Port.data(), n->Port.data() + n->Port.size(), port);
  if (n->Host.empty() || n->Port.empty() || ec != std::errc() || end != n->Port.data() + n->Port.size() || port == 0 ||
      port > 65535)
    throw ECantOpenPort("Bad network port name \"" + portName + "\": use tcp://HOST:PORT or rfc2217://HOST:PORT",
                        "Bad network port name");

  std::string error;
  const auto parameters = MakeLineParameters(settings.Speed, settings.StopBits, settings.Parity, error);
  if (!parameters) throw ECantOpenPort(error);
  bool standard = false;
  const termios line = RawLineSettings(termios{}, *parameters, standard);
  const auto gap = FrameGapFloor(parameters->Speed, line.c_cflag) + NetworkGapAllowance;

  TSocket socket = Connect(*n);
  if (!n->Telnet)
    return std::make_unique<TNetStream>(std::move(socket), nullptr, parameters->Speed, gap, n->Shown);
  auto session = std::make_unique<telnet::TClient>();
  telnet::TClient* client = session.get();
  auto stream = std::make_unique<TNetStream>(std::move(socket), std::move(session), parameters->Speed, gap, n->Shown);
  std::vector<std::uint8_t> early;
  SetServerLine(*stream, *client, *parameters, *n, early);
  stream->Keep(std::move(early));
  return stream;
}

}  // namespace mkp
