#include "tests/antlib/LineSpeedProbe.h"

// The kernel's termios2, which <termios.h> must not meet in one file.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace fennick::test {

unsigned lineSpeedOf(int fd)
{
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0)
        return 0;
    return tio.c_ospeed;
}

} // namespace fennick::test
