// termios2 carries the speed as a number (BOTHER), so speeds that have no
// Bxxxx constant, such as 14400, reach the driver as they are.
#include "serial/LineSpeed.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

namespace LineSpeed {

namespace {
// A standard speed keeps its Bxxx constant, so tools that read the line with
// the classic termios calls (stty, minicom) see it as it is.
tcflag_t constantFor(qint32 baud) {
    struct Entry {
        qint32 baud;
        tcflag_t constant;
    };
    static const Entry table[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const Entry& e : table)
        if (e.baud == baud) return e.constant;
    return BOTHER;
}
}  // namespace

bool set(int fd, qint32 baud) {
    if (baud <= 0) return false;
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) return false;
    const tcflag_t constant = constantFor(baud);
    t.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= constant | (constant << IBSHIFT);
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
