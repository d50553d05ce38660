#pragma once

// Reads a terminal's line settings the way the kernel holds them (TCGETS2,
// struct termios2 of <asm/termbits.h>), so custom speeds such as 14400 show
// as they are. Kept in its own file: <asm/termbits.h> clashes with <termios.h>.
namespace LineProbe {

struct State {
    unsigned outputSpeed = 0;  // c_ospeed
    unsigned inputSpeed = 0;   // c_ispeed
    int dataBits = 0;          // 5..8
    char parity = '?';         // 'n', 'e', 'o', 'm', 's'
    bool twoStopBits = false;
};

// fd: the slave, or the master of a pseudo-terminal (its termios requests act
// on the slave). False when the request fails.
bool read(int fd, State* state);

}  // namespace LineProbe
