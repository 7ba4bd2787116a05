// The client side of a Telnet session that carries a serial line: data bytes
// with the byte FFh doubled (IAC escaping) both ways, option negotiation
// answered, and the com-port control option (RFC 2217), through which the
// client sets the speed, data bits, parity and stop bits of the server's
// port. No sockets here: the network line feeds it what it receives and
// sends what it gives back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace mkp::telnet {

inline constexpr std::uint8_t IAC = 255;
inline constexpr std::uint8_t DONT = 254;
inline constexpr std::uint8_t DO = 253;
inline constexpr std::uint8_t WONT = 252;
inline constexpr std::uint8_t WILL = 251;
inline constexpr std::uint8_t SB = 250;
inline constexpr std::uint8_t SE = 240;

inline constexpr std::uint8_t OptBinary = 0;
inline constexpr std::uint8_t OptEcho = 1;
inline constexpr std::uint8_t OptSuppressGoAhead = 3;
inline constexpr std::uint8_t OptComPort = 44;

// Com-port commands of the client; the server answers each with the code
// plus 100 and the value it has now.
inline constexpr std::uint8_t SetBaudRate = 1;  // four bytes, most significant first
inline constexpr std::uint8_t SetDataSize = 2;  // 5..8
inline constexpr std::uint8_t SetParity = 3;    // 1 none, 2 odd, 3 even, 4 mark, 5 space
inline constexpr std::uint8_t SetStopSize = 4;  // 1 one, 2 two, 3 one and a half
inline constexpr std::uint8_t ServerOffset = 100;

class TClient {
public:
  // What the client says first: it will do com-port control and both sides
  // send binary (so that carriage returns and every other byte pass as they
  // are).
  std::vector<std::uint8_t> Greeting();

  // Appends the bytes with FFh doubled.
  static void Escape(const std::uint8_t* bytes, std::size_t count, std::vector<std::uint8_t>& out);
  // IAC SB 44 command value IAC SE, the value escaped.
  static std::vector<std::uint8_t> ComPortCommand(std::uint8_t command, const std::vector<std::uint8_t>& value);

  // Takes bytes received from the server, in order: line data goes to `data`,
  // answers to the server's option requests to `replies` (to be sent back).
  // Commands may be cut anywhere between two calls.
  void Take(const std::uint8_t* bytes, std::size_t count, std::vector<std::uint8_t>& data,
            std::vector<std::uint8_t>& replies);

  // The value of the server's last answer to a com-port command, if one came.
  std::optional<std::vector<std::uint8_t>> ComPortAnswer(std::uint8_t command) const;
  // The server refused the com-port control option.
  bool ComPortRefused() const { return comPortRefused_; }
  // Whether the server agreed to send binary.
  bool ServerBinary() const { return remote_[OptBinary]; }

private:
  enum class TState { Data, Iac, Option, Sub, SubIac };
  void Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& replies);
  void EndSubnegotiation();

  TState state_ = TState::Data;
  std::uint8_t verb_ = 0;
  std::vector<std::uint8_t> sub_;
  // Per option: enabled on our side (we WILL) and on the server's (it WILLs),
  // and whether we asked for it and wait for the answer.
  std::array<bool, 256> local_{}, remote_{}, askedLocal_{}, askedRemote_{};
  std::map<std::uint8_t, std::vector<std::uint8_t>> answers_;
  bool comPortRefused_ = false;
};

}  // namespace mkp::telnet
