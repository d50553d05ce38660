#include "serial/PortOrder.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include <algorithm>
#include <tuple>

namespace PortOrder {

namespace {

enum Group { Uart = 0, Adapter = 1, Other = 2 };

struct Key {
    Group group;
    QString prefix;  // the name without its number
    qint64 number;   // -1 without one
    QString byPath;
};

Key keyOf(const Port& p) {
    static const QRegularExpression split(QStringLiteral("^(.*?)(\\d+)$"));
    const QString name = QFileInfo(p.device).fileName();
    Key k{Other, name, -1, p.byPath};
    const QRegularExpressionMatch m = split.match(name);
    if (m.hasMatch()) {
        k.prefix = m.captured(1);
        k.number = m.captured(2).toLongLong();
    }
    if (k.prefix == QLatin1String("ttyS"))
        k.group = Uart;
    else if (k.prefix == QLatin1String("ttyUSB") || k.prefix == QLatin1String("ttyACM"))
        k.group = Adapter;
    return k;
}

bool before(const Key& a, const Key& b) {
    if (a.group != b.group) return a.group < b.group;
    if (a.group == Adapter) {
        // Ports with a place on the bus first, in that order.
        if (a.byPath.isEmpty() != b.byPath.isEmpty()) return !a.byPath.isEmpty();
        if (a.byPath != b.byPath) return a.byPath < b.byPath;
    }
    return std::tie(a.prefix, a.number) < std::tie(b.prefix, b.number);
}

}  // namespace

QStringList order(QList<Port> ports) {
    std::stable_sort(ports.begin(), ports.end(),
                     [](const Port& a, const Port& b) { return before(keyOf(a), keyOf(b)); });
    QStringList devices;
    for (const Port& p : ports)
        if (!devices.contains(p.device)) devices << p.device;
    return devices;
}

QStringList present() {
    // by-path links name each adapter by where it is plugged in.
    QHash<QString, QString> byPath;
    const QDir links(QStringLiteral("/dev/serial/by-path"));
    for (const QFileInfo& link : links.entryInfoList(QDir::Files | QDir::System))
        byPath.insert(link.canonicalFilePath(), link.fileName());

    QList<Port> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString device = info.systemLocation();
        ports.append({device, byPath.value(QFileInfo(device).canonicalFilePath())});
    }
    return order(ports);
}

}  // namespace PortOrder
