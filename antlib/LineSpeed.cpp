#include "antlib/LineSpeed.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace antlib {

int setAnyLineSpeed(int fd, unsigned baud)
{
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0)
        return errno;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    if (::ioctl(fd, TCSETS2, &tio) != 0)
        return errno;
    return 0;
}

} // namespace antlib
