#pragma once

#include <QtGlobal>

// The line speed in baud, any value the driver takes (14400 included), apart
// from <termios.h> because the kernel's own termios2 cannot share a file with it.
namespace LineSpeed {
// Sets input and output speed; false when the driver refuses.
bool set(int fd, qint32 baud);
// The speed the driver reports; 0 when it does not tell.
qint32 get(int fd);
}  // namespace LineSpeed
