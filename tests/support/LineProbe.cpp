#include "support/LineProbe.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

bool LineProbe::read(int fd, State* state) {
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0) return false;
    state->outputSpeed = t.c_ospeed;
    state->inputSpeed = t.c_ispeed;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            state->dataBits = 5;
            break;
        case CS6:
            state->dataBits = 6;
            break;
        case CS7:
            state->dataBits = 7;
            break;
        default:
            state->dataBits = 8;
            break;
    }
    if (!(t.c_cflag & PARENB))
        state->parity = 'n';
    else if (t.c_cflag & CMSPAR)
        state->parity = (t.c_cflag & PARODD) ? 'm' : 's';
    else
        state->parity = (t.c_cflag & PARODD) ? 'o' : 'e';
    state->twoStopBits = (t.c_cflag & CSTOPB) != 0;
    return true;
}
