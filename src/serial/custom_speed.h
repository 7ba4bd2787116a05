// Line speeds through the kernel's termios2 interface, which takes any speed
// in bits per second (BOTHER), not only the fixed B-constants. Kept in its own
// file because the kernel's termios headers clash with the C library's.
#pragma once

namespace mkp::serial_detail {

// Sets input and output speed of the open tty to `speed` bits per second;
// false when the driver refuses the request.
bool SetLineSpeed(int fd, unsigned speed);
// The output speed the driver holds now; false when it cannot be read.
bool GetLineSpeed(int fd, unsigned& speed);

}  // namespace mkp::serial_detail
