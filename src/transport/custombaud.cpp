// Arbitrary bit rates through the kernel's termios2 interface. Kept in its own file because the kernel's
// termios headers cannot be included beside the C library's <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace kest_detail {

bool SetArbitraryBaudRate(int fd, int bitsPerSecond)
{
    struct termios2 tio { };
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    tio.c_cflag &= ~CBAUD;
    tio.c_cflag |= BOTHER;
    tio.c_cflag &= ~(CBAUD << IBSHIFT);
    tio.c_cflag |= BOTHER << IBSHIFT;
    tio.c_ispeed = static_cast<speed_t>(bitsPerSecond);
    tio.c_ospeed = static_cast<speed_t>(bitsPerSecond);
    return ioctl(fd, TCSETS2, &tio) == 0;
}

} // namespace kest_detail
