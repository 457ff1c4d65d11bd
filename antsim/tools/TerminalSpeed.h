#pragma once
// The output speed a terminal is set to, in baud, whether the host set a standard speed or
// any other through termios2 (the first ANT stick runs at 50000). A file of its own: the
// kernel's termios header and the C library's cannot be included together.

// 0 when it cannot be read.
unsigned terminalBaud(int fd);
