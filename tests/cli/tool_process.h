// mkptool run in the background for tests of the port commands, and the
// opening of a port over a pseudo-terminal made visible.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "serial/pty_pair.h"

extern char** environ;

namespace mkptest {

// mkptool running in the background, its standard output and error collected.
class TToolProcess {
public:
  explicit TToolProcess(const std::vector<std::string>& args) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    std::vector<std::string> all{MKPTOOL_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, MKPTOOL_PATH, &actions, nullptr, argv.data(), environ) != 0)
      throw std::runtime_error("spawn");
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    outReader_ = std::thread([this, fd = out[0]] { Drain(fd, out_); });
    errReader_ = std::thread([this, fd = err[0]] { Drain(fd, err_); });
  }
  ~TToolProcess() {
    if (pid_ > 0) kill(pid_, SIGKILL);
    Wait();
  }
  void Signal(int sig) { kill(pid_, sig); }
  bool Running() {
    if (pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == pid_) pid_ = -1;
    return pid_ > 0;
  }
  // Exit status, or -1 when it did not exit normally.
  int Wait() {
    int& status = status_;
    if (pid_ > 0) waitpid(pid_, &status, 0);
    pid_ = -1;
    if (outReader_.joinable()) outReader_.join();
    if (errReader_.joinable()) errReader_.join();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // What the tool printed (once it has ended).
  const std::string& Out() const { return out_; }
  const std::string& Err() const { return err_; }
  // What it has printed so far, while it runs.
  std::string OutSoFar() {
    std::lock_guard lk(lock_);
    return out_;
  }
  std::string ErrSoFar() {
    std::lock_guard lk(lock_);
    return err_;
  }
  // Waits until standard error holds the text.
  bool WaitForError(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    return WaitUntil(limit, [&] { return err_.find(text) != std::string::npos; });
  }
  // Waits until standard output holds the text at or after `from`.
  bool WaitForOutput(const std::string& text, std::size_t from = 0,
                     std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    return WaitUntil(limit, [&] { return out_.find(text, from) != std::string::npos; });
  }
  // Waits until the tool has printed `count` lines starting with `prefix`.
  bool WaitForLines(const std::string& prefix, std::size_t count,
                    std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    return WaitUntil(limit, [&] {
      std::size_t seen = 0;
      for (std::size_t at = 0; (at = out_.find(prefix, at)) != std::string::npos; at += prefix.size())
        if (at == 0 || out_[at - 1] == '\n') ++seen;
      return seen >= count;
    });
  }

private:
  // Waits until `done` (called with the lock held) holds or `limit` passes;
  // the readers wake it whenever the tool has printed more.
  template <typename TDone>
  bool WaitUntil(std::chrono::milliseconds limit, TDone done) {
    std::unique_lock lk(lock_);
    return printed_.wait_for(lk, limit, done);
  }

  void Drain(int fd, std::string& into) {
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) {
      {
        std::lock_guard lk(lock_);
        into.append(buf, static_cast<std::size_t>(n));
      }
      printed_.notify_all();
    }
    close(fd);
  }
  std::mutex lock_;
  std::condition_variable printed_;
  pid_t pid_ = -1;
  int status_ = 0;
  std::thread outReader_, errReader_;
  std::string out_, err_;
};

// Opening a port reads and drops up to 255 bytes that wait on the line. With
// 255 bytes waiting there before a command starts, the end of that phase can
// be seen: once they are taken, the command is reading frames. (Bytes written
// to the master reach the terminal's input a little later, so the priming
// waits until all of them are there.)
inline bool PrimeTheOpening(mkptest::TPtyPair& pty) {
  pty.Write(std::vector<std::uint8_t>(255, 0xEE));
  return pty.WaitUnread(255);
}

}  // namespace mkptest
