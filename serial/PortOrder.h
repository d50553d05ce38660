#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Which device COM1, COM2, ... stand for when no VELMORA_COMn names one.
namespace PortOrder {

struct Port {
    QString device;  // "/dev/ttyUSB0"
    QString byPath;  // its /dev/serial/by-path name, empty when it has none
};

// UARTs (ttyS) by number, then USB and ACM adapters by their place on the
// bus (by-path name; those without one after, by name), then anything else
// by name. ttyS entries must already be real UARTs (the port listing drops
// those whose driver reports no UART).
QStringList order(QList<Port> ports);

// The serial ports present on this machine, in that order.
QStringList present();

}  // namespace PortOrder
