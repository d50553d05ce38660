// termios2 carries the speed as a number (BOTHER), so speeds that have no
// Bxxxx constant, such as 14400, reach the driver as they are.
#include "serial/LineSpeed.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

namespace LineSpeed {

bool set(int fd, qint32 baud) {
    if (baud <= 0) return false;
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) return false;
    t.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = speed_t(baud);
    t.c_ospeed = speed_t(baud);
    return ::ioctl(fd, TCSETS2, &t) == 0;
}

qint32 get(int fd) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0 || t.c_ospeed == 0) return 0;
    qint32 speed = qint32(t.c_ospeed);
    // The old custom-speed mechanism: 38400 stands for baud_base / divisor.
    serial_struct ss{};
    if (speed == 38400 && ::ioctl(fd, TIOCGSERIAL, &ss) == 0 &&
        (ss.flags & ASYNC_SPD_MASK) == ASYNC_SPD_CUST && ss.custom_divisor > 0)
        speed = ss.baud_base / ss.custom_divisor;
    return speed;
}

}  // namespace LineSpeed
