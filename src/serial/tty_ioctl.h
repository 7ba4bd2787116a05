// Requests to the tty driver beyond termios. Kept in their own file because
// the kernel's termios headers clash with the C library's.
#pragma once

#include <vector>

namespace mkp::serial_detail {

// Sets input and output speed of the open tty to `speed` bits per second
// through termios2 (BOTHER), which takes any speed, not only the fixed
// B-constants; false when the driver refuses the request.
bool SetLineSpeed(int fd, unsigned speed);
// The output speed the driver holds now; false when it cannot be read.
bool GetLineSpeed(int fd, unsigned& speed);
// Asks a serial driver to hand received bytes over at once rather than
// batched (the low-latency flag); false where the driver does not take it
// (pseudo-terminals, many USB adapters), which is no error.
bool RequestLowLatency(int fd);
// Asks the driver for RS-485 direction control: RTS on while sending, off
// after. What the driver had is kept in `previous`, to be put back with
// RestoreRs485. False where the driver has no RS-485 mode (pseudo-terminals,
// most USB adapters).
bool EnableRs485(int fd, std::vector<unsigned char>& previous);
void RestoreRs485(int fd, const std::vector<unsigned char>& previous);

}  // namespace mkp::serial_detail
