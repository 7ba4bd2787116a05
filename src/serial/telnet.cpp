#include "serial/telnet.h"

namespace mkp::telnet {

namespace {

bool LocalSupported(std::uint8_t option) {
  return option == OptBinary || option == OptSuppressGoAhead || option == OptComPort;
}
bool RemoteSupported(std::uint8_t option) { return option == OptBinary || option == OptSuppressGoAhead; }

void Command(std::vector<std::uint8_t>& out, std::uint8_t verb, std::uint8_t option) {
  out.insert(out.end(), {IAC, verb, option});
}

}  // namespace

std::vector<std::uint8_t> TClient::Greeting() {
  std::vector<std::uint8_t> out;
  for (std::uint8_t option : {OptComPort, OptBinary}) {
    askedLocal_[option] = true;
    Command(out, WILL, option);
  }
  askedRemote_[OptBinary] = true;
  Command(out, DO, OptBinary);
  return out;
}

void TClient::Escape(const std::uint8_t* bytes, std::size_t count, std::vector<std::uint8_t>& out) {
  out.reserve(out.size() + count);
  for (std::size_t i = 0; i < count; ++i) {
    out.push_back(bytes[i]);
    if (bytes[i] == IAC) out.push_back(IAC);
  }
}

std::vector<std::uint8_t> TClient::ComPortCommand(std::uint8_t command, const std::vector<std::uint8_t>& value) {
  std::vector<std::uint8_t> out{IAC, SB, OptComPort, command};
  Escape(value.data(), value.size(), out);
  out.insert(out.end(), {IAC, SE});
  return out;
}

void TClient::Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& replies) {
  // An answer only where the state changes, and never to our own request's
  // answer, so that two sides never loop (RFC 854).
  switch (verb) {
    case WILL:
      if (RemoteSupported(option)) {
        if (!remote_[option] && !askedRemote_[option]) Command(replies, DO, option);
        remote_[option] = true;
      } else {
        Command(replies, DONT, option);
      }
      askedRemote_[option] = false;
      break;
    case WONT:
      if (remote_[option] && !askedRemote_[option]) Command(replies, DONT, option);
      remote_[option] = false;
      askedRemote_[option] = false;
      break;
    case DO:
      if (LocalSupported(option)) {
        if (!local_[option] && !askedLocal_[option]) Command(replies, WILL, option);
        local_[option] = true;
      } else {
        Command(replies, WONT, option);
      }
      askedLocal_[option] = false;
      break;
    case DONT:
      if (local_[option] && !askedLocal_[option]) Command(replies, WONT, option);
      local_[option] = false;
      askedLocal_[option] = false;
      if (option == OptComPort) comPortRefused_ = true;
      break;
    default:
      break;
  }
}

void TClient::EndSubnegotiation() {
  if (sub_.size() >= 2 && sub_[0] == OptComPort && sub_[1] > ServerOffset)
    answers_[static_cast<std::uint8_t>(sub_[1] - ServerOffset)].assign(sub_.begin() + 2, sub_.end());
  sub_.clear();
}

void TClient::Take(const std::uint8_t* bytes, std::size_t count, std::vector<std::uint8_t>& data,
                   std::vector<std::uint8_t>& replies) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t b = bytes[i];
    switch (state_) {
      case TState::Data:
        if (b == IAC)
          state_ = TState::Iac;
        else
          data.push_back(b);
        break;
      case TState::Iac:
        if (b == IAC) {
          data.push_back(IAC);
          state_ = TState::Data;
        } else if (b == WILL || b == WONT || b == DO || b == DONT) {
          verb_ = b;
          state_ = TState::Option;
        } else if (b == SB) {
          sub_.clear();
          state_ = TState::Sub;
        } else {
          state_ = TState::Data;  // NOP, GA, break, ...: nothing for a serial line
        }
        break;
      case TState::Option:
        Negotiate(verb_, b, replies);
        state_ = TState::Data;
        break;
      case TState::Sub:
        if (b == IAC)
          state_ = TState::SubIac;
        else if (sub_.size() < 64)
          sub_.push_back(b);
        break;
      case TState::SubIac:
        if (b == IAC) {
          if (sub_.size() < 64) sub_.push_back(IAC);
          state_ = TState::Sub;
        } else {
          EndSubnegotiation();  // SE, or a command that ends it all the same
          state_ = TState::Data;
        }
        break;
    }
  }
}

std::optional<std::vector<std::uint8_t>> TClient::ComPortAnswer(std::uint8_t command) const {
  const auto found = answers_.find(command);
  if (found == answers_.end()) return std::nullopt;
  return found->second;
}

}  // namespace mkp::telnet
