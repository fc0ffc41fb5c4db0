// Speeds outside the POSIX table (14400, 56000, 128000, 256000) need the Linux termios2
// interface, whose header cannot share a translation unit with <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdint>

int SetArbitraryLineSpeed(int fd, uint32_t bitsPerSecond) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = bitsPerSecond;
    tio.c_ospeed = bitsPerSecond;
    if (ioctl(fd, TCSETS2, &tio) != 0) return errno;
    return 0;
}
