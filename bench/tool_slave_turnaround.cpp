// Turnaround of the Slave responder over a pseudo-terminal: from the last byte
// of a request written on the line to the first byte of the answer read back,
// for tables of 1, 100 and 1000 rows (the request matching the last row).
// Then the same with a table of 1 row on a network port: the responder on
// tcp://127.0.0.1 to a serial device server (ser2net, started here) whose
// device is the pseudo-terminal, beside the local port in the same run, with
// what the network path adds at the median.
//
// Usage: tool_slave_turnaround [REQUESTS [READ_INTERVAL_MS]]   (1000 and 1)
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "modes/slave.h"
#include "modes/slavetable.h"
#include "protocol/packet.h"
#include "protocol/transport.h"
#include "serial/comport.h"
#include "serial/ser2net_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

Bytes Frame(const std::string& text) {
  mkp::TPacketHolder packet;
  if (!mkp::TextToPacket(text, *packet)) throw std::runtime_error("bad packet text " + text);
  std::uint8_t buffer[mkp::FrameBufferSize];
  int length = 0;
  mkp::BuildFrame(*packet, buffer, length);
  return Bytes(buffer, buffer + length);
}

std::string Hex2(int v) {
  char b[4];
  std::snprintf(b, sizeof b, "%02X", v & 0xFF);
  return b;
}

std::vector<mkp::TSlaveRow> MakeRows(int count) {
  std::vector<mkp::TSlaveRow> rows;
  for (int i = 0; i < count; ++i) {
    std::string reg = Hex2(i) + " " + Hex2(i >> 8);
    rows.push_back({"010203.0A0B0C.06.05.0200 - " + reg,
                    "0A0B0C.010203.07.05.0400 - " + reg + " 34 12"});
  }
  rows.emplace_back();  // the usual empty row at the end
  return rows;
}

struct TPty {
  int Master = -1;
  int Keeper = -1;
  std::string Path;
  TPty() {
    Master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (Master < 0 || grantpt(Master) != 0 || unlockpt(Master) != 0) throw std::runtime_error("no pty");
    char name[128];
    ptsname_r(Master, name, sizeof name);
    Path = name;
    Keeper = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  ~TPty() {
    ::close(Master);
    ::close(Keeper);
  }
  // Reads exactly n bytes (or gives up after timeoutMs); returns when the
  // first byte arrived through firstByte.
  bool ReadAnswer(std::size_t n, int timeoutMs, Clock::time_point& firstByte) {
    std::size_t got = 0;
    std::uint8_t buf[4096];
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got < n) {
      int left = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
      if (left < 0) return false;
      pollfd p{Master, POLLIN, 0};
      if (::poll(&p, 1, left) <= 0) return false;
      if (got == 0) firstByte = Clock::now();
      ssize_t r = ::read(Master, buf, std::min(sizeof buf, n - got));
      if (r <= 0) return false;
      got += static_cast<std::size_t>(r);
    }
    return true;
  }
};

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  std::size_t i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

struct TFigures {
  double P50 = 0, P90 = 0, P99 = 0, Max = 0;
  int Lost = 0;
};

// The responder on the pty itself, or (server) on a network port to the
// server serving the pty.
TFigures RunTable(int rowCount, int requests, int readInterval, bool network = false, bool charDelay = false) {
  TPty pty;
  std::unique_ptr<mkptest::TSer2Net> server;
  if (network) server = std::make_unique<mkptest::TSer2Net>(pty.Path, false, charDelay);
  const std::string port = network ? server->Url() : pty.Path;
  mkp::TCOMPortChannel channel;
  if (!channel.OpenPort(port, "115200", "1", "none", readInterval, 0))
    throw std::runtime_error("cannot open " + port + ": " + channel.LastError());
  mkp::TMKProtocolTransport transport(&channel);
  mkp::TSlaveTable table;
  table.SetRows(MakeRows(rowCount));
  const auto& last = table.Snapshot()->Rows[static_cast<std::size_t>(rowCount - 1)];
  Bytes request = Frame(last.Received);
  Bytes answer = Frame(last.Answer);

  mkp::TWorker<mkp::TSlaveAutoRepeater> responder;
  responder.SetTransport(&transport);
  responder.SetTables(&table);
  responder.Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));

  std::vector<double> ms;
  int lost = 0;
  for (int i = 0; i < requests; ++i) {
    if (::write(pty.Master, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
      throw std::runtime_error("write failed");
    auto written = Clock::now();
    Clock::time_point first;
    if (!pty.ReadAnswer(answer.size(), 3000, first)) {
      ++lost;
      continue;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(first - written).count());
    // Let the responder finish its 10 ms pause and sit in its receive again.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  responder.Terminate();
  if (ms.empty()) {
    std::printf("%5d rows%s: no answers\n", rowCount, network ? " (network)" : "");
    return {};
  }
  const TFigures f{Percentile(ms, 0.5), Percentile(ms, 0.9), Percentile(ms, 0.99), *std::max_element(ms.begin(), ms.end()),
                   lost};
  std::printf("%5d rows%s: %d requests, median %.2f ms, p90 %.2f ms, p99 %.2f ms, max %.2f ms, "
              "missing %d\n",
              rowCount, network ? (charDelay ? " on tcp://127.0.0.1 via ser2net, its chardelay on" : " on tcp://127.0.0.1 via ser2net, chardelay: false") : "", requests, f.P50, f.P90, f.P99, f.Max, lost);
  std::fflush(stdout);
  return f;
}

void TimeFindRow(int rowCount) {
  mkp::TSlaveTable table;
  table.SetRows(MakeRows(rowCount));
  auto snapshot = table.Snapshot();
  mkp::TPacketHolder packet;
  mkp::TextToPacket(snapshot->Rows[static_cast<std::size_t>(rowCount - 1)].Received, *packet);
  const int rounds = 200;
  auto start = Clock::now();
  int found = 0;
  for (int i = 0; i < rounds; ++i) found += mkp::FindSlaveRow(*snapshot, *packet) == rowCount;
  double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / rounds;
  mkp::TSlaveRowMatcher matcher;
  matcher.Find(snapshot, *packet);  // parses the rows once
  start = Clock::now();
  for (int i = 0; i < rounds; ++i) found += matcher.Find(snapshot, *packet) == rowCount;
  double cached = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / rounds;
  std::printf("Matching over %d rows (last row matches): %.1f us parsing every row, %.1f us with "
              "the responder's parsed rows%s\n",
              rowCount, us, cached, found == 2 * rounds ? "" : " (MISMATCH)");
}

}  // namespace

int main(int argc, char** argv) {
  int requests = argc > 1 ? std::atoi(argv[1]) : 1000;
  int readInterval = argc > 2 ? std::atoi(argv[2]) : 1;
  if (requests < 1) requests = 1;
  std::printf("Slave responder turnaround over a pseudo-terminal (read interval %d ms; "
              "the protocol's own answer delay is %d ms)\n",
              readInterval, mkp::TSlaveAutoRepeater::AnswerDelayMs);
  for (int rows : {1, 100, 1000}) TimeFindRow(rows);
  try {
    for (int rows : {1, 100, 1000}) RunTable(rows, requests, readInterval);
    if (!mkptest::TSer2Net::Available()) {
      std::printf("Network port: ser2net is not installed, not measured\n");
      return 0;
    }
    std::printf("Local port and network port in the same run (1 row):\n");
    const TFigures local = RunTable(1, requests, readInterval);
    const TFigures network = RunTable(1, requests, readInterval, true);
    const TFigures delayed = RunTable(1, requests, readInterval, true, true);
    std::printf("Network path adds %.2f ms at the median (%.2f ms against %.2f ms, ratio %.2f), %.2f ms at p90; "
                "target: under 1 ms at the median: %s\n",
                network.P50 - local.P50, network.P50, local.P50, local.P50 > 0 ? network.P50 / local.P50 : 0.0,
                network.P90 - local.P90, network.P50 - local.P50 < 1.0 ? "met" : "NOT MET");
    std::printf("With the server's own default wait before it forwards (chardelay, about two character times at the "
                "server's 9600 baud): %.2f ms more at the median (ratio %.2f)\n",
                delayed.P50 - local.P50, local.P50 > 0 ? delayed.P50 / local.P50 : 0.0);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tool_slave_turnaround: %s\n", e.what());
    return 1;
  }
  return 0;
}
