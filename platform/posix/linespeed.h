#pragma once
// The line speed of a terminal as a number of bits per second, any rate
// the driver takes (BOTHER), kept apart from <termios.h> because the
// kernel's termios2 record clashes with the C library's termios.

namespace sundry::platform::posix {

// The output speed of the terminal fd in bits per second; false with errno.
bool GetLineSpeed(int fd, unsigned* rate);

// Sets both speeds of the terminal fd to rate bits per second (rate > 0),
// leaving every other setting as it is. False with errno.
bool SetLineSpeed(int fd, unsigned rate);

}  // namespace sundry::platform::posix
