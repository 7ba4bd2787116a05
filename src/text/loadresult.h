// The outcome of loading one of the user's files (a slave table, a device
// description, a parse table, the port settings).
//
// Besides loaded and failed (missing, unreadable, or a value that ends the
// reading), a loader may find that the file, read line by line by its usual
// rules, yields nothing usable at all: random bytes, a file of another kind,
// an empty file. It then keeps what it had and says so, and the caller tells
// the user with Message(): "FILE: no slave table rows found".
#pragma once

#include <stdexcept>
#include <string>

namespace mkp {

enum class TLoadStatus { Loaded, Failed, NothingUsable };

// What each kind of file lacks when it yields nothing.
inline constexpr const char* NoSlaveRows = "no slave table rows found";
inline constexpr const char* NoDeviceLines = "no requests or registers found";
inline constexpr const char* NoParseEntries = "no parse table entries found";
inline constexpr const char* NoPortSettings = "no port settings found";

// A file that yields nothing, for the window's operation dispatcher, which
// shows the message in its error box.
class ENothingUsable : public std::runtime_error {
public:
  explicit ENothingUsable(const std::string& message) : std::runtime_error(message) {}
};

class TLoadResult {
public:
  // true: loaded; false: failed. Not explicit, so loaders that answer with a
  // flag answer with a result.
  TLoadResult(bool loaded) : status_(loaded ? TLoadStatus::Loaded : TLoadStatus::Failed) {}
  static TLoadResult Nothing(const std::string& fileName, const char* what) {
    TLoadResult result(false);
    result.status_ = TLoadStatus::NothingUsable;
    result.message_ = fileName + ": " + what;
    return result;
  }

  TLoadStatus Status() const { return status_; }
  // True only when loaded, so `if (!Load...)` reads as before.
  operator bool() const { return status_ == TLoadStatus::Loaded; }
  bool NothingUsable() const { return status_ == TLoadStatus::NothingUsable; }
  // "FILE: no ... found" when nothing was usable, else empty.
  const std::string& Message() const { return message_; }
  void ThrowIfNothingUsable() const {
    if (NothingUsable()) throw ENothingUsable(message_);
  }

private:
  TLoadStatus status_;
  std::string message_;
};

}  // namespace mkp
