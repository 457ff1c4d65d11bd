#pragma once
// Line speeds that termios has no constant for (the first ANT stick runs at 50000 baud), set
// through Linux's termios2. A file of its own: the kernel's termios header and the C library's
// cannot be included together.

namespace antlib {

// Sets both directions of the tty `fd` to `baud`, leaving the rest of its settings; 0 or the
// errno of the failure.
int setAnyLineSpeed(int fd, unsigned baud);

} // namespace antlib
