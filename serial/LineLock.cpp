#include "serial/LineLock.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace LineLock {

namespace {

QStringList& overrideDirs() {
    static QStringList dirs;
    return dirs;
}

constexpr qsizetype kMaxLockSize = 64;  // "%10d\n" is 11; anything far longer is not a lock
constexpr qint64 kFreshEmptyMs = 2000;  // an empty file this young is being written

qint64 pidMax() {
    QFile f(QStringLiteral("/proc/sys/kernel/pid_max"));
    if (f.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const qint64 v = f.readAll().trimmed().toLongLong(&ok);
        if (ok && v > 0) return v;
    }
    return 4194304;  // the kernel's upper limit
}

bool alive(qint64 pid) {
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// The PID in a lock file's contents; 0 when it names none.
qint64 pidIn(const QByteArray& content) {
    if (content.size() == int(sizeof(int))) {
        int binary = 0;
        std::memcpy(&binary, content.constData(), sizeof binary);
        if (binary > 0) return binary;
    }
    // Qt's lock files (QLockFile) add the program's name and host on lines of their own.
    const QByteArray text = content.trimmed().split('\n').constFirst().trimmed();
    if (text.isEmpty() || text.size() > 20) return 0;
    for (char c : text)
        if (c < '0' || c > '9') return 0;
    bool ok = false;
    const qint64 pid = text.toLongLong(&ok);
    return ok ? pid : 0;
}

enum class Kind { Absent, Live, Stale, Unremovable };

struct Found {
    Kind kind = Kind::Absent;
    qint64 pid = 0;
    QString what;  // what made it stale, or who holds it
};

Found look(const QString& file, bool heldHere) {
    const QByteArray native = QFile::encodeName(file);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0) return {};
    if (S_ISLNK(st.st_mode)) return {Kind::Stale, 0, QStringLiteral("a symlink, not a lock")};
    if (!S_ISREG(st.st_mode)) return {Kind::Unremovable, 0, QStringLiteral("not a file")};
    if (st.st_size > kMaxLockSize) return {Kind::Stale, 0, QStringLiteral("too large for a lock")};

    const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // Unreadable: someone else's, and we cannot tell whether it is live.
        return {Kind::Live, 0, QStringLiteral("an unreadable lock file")};
    }
    char buf[kMaxLockSize + 1];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    const QByteArray content(buf, n > 0 ? qsizetype(n) : 0);

    if (content.isEmpty()) {
        const qint64 age = QDateTime::currentMSecsSinceEpoch() - qint64(st.st_mtime) * 1000 -
                           st.st_mtim.tv_nsec / 1000000;
        if (age < kFreshEmptyMs)
            return {Kind::Live, 0, QStringLiteral("a lock file being written")};
        return {Kind::Stale, 0, QStringLiteral("empty")};
    }
    const qint64 pid = pidIn(content);
    if (pid <= 0 || pid > pidMax()) return {Kind::Stale, pid, QStringLiteral("names no process")};
    if (pid == ::getpid())
        return heldHere ? Found{Kind::Live, pid, QString()}
                        : Found{Kind::Stale, pid, QStringLiteral("left by an earlier run")};
    if (alive(pid)) return {Kind::Live, pid, QString()};
    return {Kind::Stale, pid, QStringLiteral("its process has ended")};
}

QString describeHolder(qint64 pid) {
    const QString name = processName(pid);
    return name.isEmpty() ? QStringLiteral("PID %1").arg(pid)
                          : QStringLiteral("PID %1 (%2)").arg(pid).arg(name);
}

}  // namespace

QStringList directories() {
    if (!overrideDirs().isEmpty()) return overrideDirs();
    QStringList dirs;
    struct stat first {};
    const bool haveRun = ::stat("/run/lock", &first) == 0 && S_ISDIR(first.st_mode);
    if (haveRun) dirs << QStringLiteral("/run/lock");
    struct stat second {};
    if (::stat("/var/lock", &second) == 0 && S_ISDIR(second.st_mode) &&
        !(haveRun && first.st_dev == second.st_dev && first.st_ino == second.st_ino))
        dirs << QStringLiteral("/var/lock");
    if (dirs.isEmpty()) dirs << QStringLiteral("/run/lock");
    return dirs;
}

void setDirectories(const QStringList& dirs) {
    overrideDirs() = dirs;
}

QString fileName(const QString& devicePath) {
    return QStringLiteral("LCK..") + QFileInfo(devicePath).fileName();
}

Holder check(const QString& devicePath, bool heldHere) {
    for (const QString& dir : directories()) {
        const QString file = dir + u'/' + fileName(devicePath);
        const Found found = look(file, heldHere);
        switch (found.kind) {
            case Kind::Absent:
            case Kind::Unremovable:  // names nobody; we only cannot write ours there
                break;
            case Kind::Live: {
                Holder h;
                h.busy = true;
                h.pid = found.pid;
                h.file = file;
                h.why =
                    found.pid > 0
                        ? QStringLiteral("locked by %1 in %2").arg(describeHolder(found.pid), file)
                        : QStringLiteral("%1 in %2").arg(found.what, file);
                return h;
            }
            case Kind::Stale:
                if (::unlink(QFile::encodeName(file).constData()) == 0)
                    std::fprintf(stderr, "Velmora: removed the stale lock file %s (%s)\n",
                                 qPrintable(file), qPrintable(found.what));
                else
                    std::fprintf(stderr,
                                 "Velmora: ignoring the stale lock file %s (%s; not ours to "
                                 "remove)\n",
                                 qPrintable(file), qPrintable(found.what));
                break;
        }
    }
    return {};
}

QString take(const QString& devicePath, QString* why) {
    const QString file = directories().constFirst() + u'/' + fileName(devicePath);
    const QByteArray native = QFile::encodeName(file);
    const int fd =
        ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (why)
            *why = QStringLiteral("%1: %2").arg(file, QString::fromLocal8Bit(std::strerror(errno)));
        return QString();
    }
    char text[16];
    const int len = std::snprintf(text, sizeof text, "%10d\n", int(::getpid()));
    const bool written = ::write(fd, text, size_t(len)) == ssize_t(len);
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {  // a full disk: leave no empty lock behind
        if (why) *why = QStringLiteral("%1: could not be written").arg(file);
        ::unlink(native.constData());
        return QString();
    }
    return file;
}

void release(const char* path) noexcept {
    if (!path || !*path) return;
    const int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    char buf[32];
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0) return;
    // Parse by hand: nothing here may allocate.
    long long pid = 0;
    bool digits = false;
    for (ssize_t i = 0; i < n; ++i) {
        const char c = buf[i];
        if (c >= '0' && c <= '9') {
            pid = pid * 10 + (c - '0');
            digits = true;
            if (pid > 0x7fffffff) return;
        } else if (c != ' ' && c != '\n') {
            return;
        }
    }
    if (digits && pid == ::getpid()) ::unlink(path);
}

QString processName(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return QString();
    return QString::fromLocal8Bit(f.readAll().trimmed());
}

}  // namespace LineLock
