// The line parameters an open asks of the tty driver, made from the settings'
// texts without touching a device, and the check of what the driver took.
#pragma once

#include <termios.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "serial/line_names.h"

namespace mkp {

struct TLineParameters {
  unsigned Speed = 0;                 // bits per second
  std::optional<TParity> Parity;      // none: as the driver had it
  std::optional<TStopBits> StopBits;  // none: as the driver had it
};

// From the texts of the settings (blanks and letter case ignored). A parity
// or stop-bit text that names no setting leaves that parameter as the driver
// had it. None, with the reason in error, for a speed that is not a positive
// decimal number, and for 1.5 stop bits, which the Linux serial driver lacks.
std::optional<TLineParameters> MakeLineParameters(std::string_view speed, std::string_view stopBits,
                                                  std::string_view parity, std::string& error);

// The driver's settings turned into a raw 8-bit line with these parameters:
// no input or output processing, no echo, no signals, no software flow
// control (it would swallow the bytes 11h and 13h of binary frames), reads
// that never block in the driver. Hardware flow control and the modem lines
// stay as they were. A speed with a B-constant of its own is set here; for
// any other, standardSpeed is false and the caller sets it apart.
termios RawLineSettings(const termios& current, const TLineParameters& parameters, bool& standardSpeed);

// Why the settings read back from the driver differ from those asked for, or
// empty when it took them. A pseudo-terminal drops parity and character size
// by design, so only the stop bits are compared there. actualSpeed is the
// speed the driver reports, when it can tell; within 3 % counts as taken.
std::string ReadBackMismatch(const termios& wanted, const termios& back, bool pseudoTerminal,
                             unsigned wantedSpeed, std::optional<unsigned> actualSpeed);

// The time one character takes on the line: a start bit, 8 data bits, the
// parity bit and the stop bits of these settings.
std::chrono::microseconds CharacterTime(unsigned speed, tcflag_t cflag);

// The longest silence inside one frame that a read of an unfinished frame
// rides out: 20 ms plus 16 character times. A USB adapter hands its bytes
// over when its latency timer runs out (16 ms by default) or its buffer
// fills, so a frame comes in bursts up to 16 ms apart plus the host's
// scheduling; a UART hands them over at its FIFO trigger level (up to 14 of
// 16 bytes) or after a few quiet character times, so the gap between two
// deliveries is at most about 16 character times, which at low speeds is far
// more than 20 ms (16 characters at 1200 baud take 133 ms).
std::chrono::microseconds FrameGapFloor(unsigned speed, tcflag_t cflag);

}  // namespace mkp
