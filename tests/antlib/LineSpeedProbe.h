#pragma once
// The line speed of a terminal in baud, as Linux keeps it (any rate, not only the termios
// constants); 0 when `fd` is not a terminal. On a pseudo-terminal's master side it is the
// speed the other side was set to.
namespace fennick::test {

unsigned lineSpeedOf(int fd);

} // namespace fennick::test
