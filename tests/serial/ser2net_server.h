// A serial device server for tests: the distribution's ser2net, started by
// the test with a configuration of its own that serves one device (a
// pseudo-terminal) on 127.0.0.1, as raw TCP or as Telnet with RFC 2217.
// Tests that need it skip when it is not installed.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

namespace mkptest {

class TSer2Net {
public:
  // The program, or empty when it is not installed.
  static std::string Program() {
    for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/usr/local/sbin/ser2net"})
      if (::access(path, X_OK) == 0) return path;
    return {};
  }
  static bool Available() { return !Program().empty(); }

  // Serves the device at a free port of 127.0.0.1 (telnet: with RFC 2217).
  // charDelay: the server's default wait of about two character times (1 ms
  // at least) before it hands what the device sent to the network; off, it
  // hands each byte on at once.
  // kickOldUser: a new connection ends the one before; off, the server turns
  // it away while another holds the device.
  TSer2Net(const std::string& device, bool telnet, bool charDelay = false, bool kickOldUser = true)
      : device_(device), telnet_(telnet), charDelay_(charDelay), kickOldUser_(kickOldUser) {
    char pattern[] = "/tmp/mkp-ser2net-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
    dir_ = pattern;
    for (int attempt = 0; attempt < 5 && pid_ <= 0; ++attempt) {
      port_ = FreePort();
      if (!Start()) Kill();
    }
    if (pid_ <= 0) throw std::runtime_error("ser2net did not start");
  }
  ~TSer2Net() {
    Kill();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TSer2Net(const TSer2Net&) = delete;
  TSer2Net& operator=(const TSer2Net&) = delete;

  int Port() const { return port_; }
  // The port name for the program: tcp://127.0.0.1:PORT or rfc2217://...
  std::string Url() const { return std::string(telnet_ ? "rfc2217" : "tcp") + "://127.0.0.1:" + std::to_string(port_); }

  // Starts the server (again, on the same port); true once it listens.
  bool Start() {
    if (pid_ > 0) return true;
    const std::string config = dir_ + "/ser2net.yaml";
    std::ofstream(config) << "connection: &line\n"
                          << "  accepter: " << (telnet_ ? "telnet(rfc2217),tcp," : "tcp,") << "127.0.0.1," << port_
                          << "\n"
                          << "  connector: serialdev," << device_ << ",9600n81,local\n"
                          << "  options:\n"
                          << "    kickolduser: " << (kickOldUser_ ? "true" : "false") << "\n"
                          << "    chardelay: " << (charDelay_ ? "true" : "false") << "\n";
    // Everything the child needs is made before the fork: it only calls what
    // is safe between fork and exec.
    const std::string program = Program();
    const std::string log = dir_ + "/ser2net.log";
    const std::string pidFile = dir_ + "/ser2net.pid";
    pid_ = ::fork();
    if (pid_ == 0) {
      const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (out >= 0) {
        ::dup2(out, 1);
        ::dup2(out, 2);
      }
      ::execl(program.c_str(), program.c_str(), "-n", "-u", "-c", config.c_str(), "-P", pidFile.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
      if (Listening()) return true;
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // Ends the server at once (as a crash or a pulled cable would), and waits
  // until its port is closed.
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

  bool Running() const { return pid_ > 0; }

  // A free port of 127.0.0.1 (free when asked; the server takes it next).
  static int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0)
      port = ntohs(a.sin_port);
    ::close(s);
    return port;
  }

private:
  // Whether 127.0.0.1:port listens (the kernel's table; no connection made).
  bool Listening() const {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port_);
    while (std::getline(table, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      if (local == wanted && state == "0A") return true;
    }
    return false;
  }

  std::string device_;
  bool telnet_;
  bool charDelay_;
  bool kickOldUser_;
  std::string dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

// A server that takes connections (the kernel does, on its behalf) and never
// says a word, on a free port of 127.0.0.1.
class TSilentServer {
public:
  TSilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 8) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length) != 0)
      throw std::runtime_error("cannot listen on 127.0.0.1");
    where_ = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
  }
  ~TSilentServer() { ::close(fd_); }
  TSilentServer(const TSilentServer&) = delete;
  TSilentServer& operator=(const TSilentServer&) = delete;
  // HOST:PORT
  const std::string& Where() const { return where_; }

private:
  int fd_ = -1;
  std::string where_;
};

}  // namespace mkptest
