#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Lock files of the serial tools (uucp, cu, minicom, lockdev): "LCK.." and
// the device's base name in the system's lock directory, holding the owner's
// PID as ten ASCII digits and a newline (older tools write a native int).
namespace LineLock {

// Where lock files live: /run/lock, and /var/lock when it is another folder.
QStringList directories();
// Tests point the lock files at a folder of their own; empty restores the default.
void setDirectories(const QStringList& dirs);

// "LCK..ttyUSB0" for /dev/ttyUSB0, "LCK..3" for /dev/pts/3.
QString fileName(const QString& devicePath);

struct Holder {
    bool busy = false;
    qint64 pid = 0;  // the live holder, when known
    QString file;    // the lock file that refused
    QString why;     // for the refusal line
};

// Looks at every lock file of the device. A live holder refuses; a stale file
// (dead or impossible PID, garbage, a symlink) is removed where allowed and
// otherwise ignored. A lock naming this process counts as stale (an earlier
// run's) unless heldHere says this process really holds the device.
Holder check(const QString& devicePath, bool heldHere);

// Writes this process's lock file; returns its path, empty when none could be
// written (no lock folder, read-only, full, or a file we may not replace).
QString take(const QString& devicePath, QString* why);

// Removes the lock file at path if it still names this process. Only
// async-signal-safe calls: it also runs on the way out of a signal handler.
void release(const char* path) noexcept;

// The name of a process, from /proc; empty when unknown.
QString processName(qint64 pid);

}  // namespace LineLock
