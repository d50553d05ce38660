#include "serial/Line.h"

#include "serial/LineLock.h"
#include "serial/LineSpeed.h"

#include <QFile>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {

using SerialSettings::LineSettings;
using SerialSettings::StopBits;

// Lines held by this process, in a form a signal handler may walk: fixed
// slots, the descriptor claimed atomically, the lock path as plain bytes.
struct Held {
    std::atomic<int> fd{-1};
    char lockPath[512] = {};
    dev_t device = 0;
};
constexpr int kMaxHeld = 16;
Held g_held[kMaxHeld];

void releaseDescriptor(int fd) noexcept {
    ::ioctl(fd, TIOCNXCL);
    ::tcflush(fd, TCIOFLUSH);  // unsent output would hold close() until it drains
    ::flock(fd, LOCK_UN);
    ::close(fd);
}

void releaseSlot(Held& h) noexcept {
    const int fd = h.fd.exchange(-1);
    if (fd < 0) return;
    releaseDescriptor(fd);
    LineLock::release(h.lockPath);
    h.lockPath[0] = '\0';
}

void releaseAtExit() {
    Line::releaseAll();
}

int claimSlot(int fd, dev_t device, const QString& lockPath) {
    static const bool hooked = std::atexit(releaseAtExit) == 0;
    Q_UNUSED(hooked);
    const QByteArray lock = QFile::encodeName(lockPath);
    for (int i = 0; i < kMaxHeld; ++i) {
        int expected = -1;
        Held& h = g_held[i];
        if (h.fd.load() != -1) continue;
        qstrncpy(h.lockPath, lock.constData(), sizeof h.lockPath);
        h.device = device;
        if (h.fd.compare_exchange_strong(expected, fd)) return i;
    }
    return -1;
}

bool heldHere(dev_t device) {
    for (Held& h : g_held)
        if (h.fd.load() >= 0 && h.device == device) return true;
    return false;
}

QString errnoText(int e) {
    return QString::fromLocal8Bit(std::strerror(e));
}

// The PID holding an flock on the device, from /proc/locks; 0 when not found.
qint64 flockHolder(const struct stat& st) {
    QFile f(QStringLiteral("/proc/locks"));
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return 0;
    const QByteArray inode = QByteArray::number(qulonglong(st.st_ino));
    const QByteArray where = QByteArray::number(major(st.st_dev), 16).rightJustified(2, '0') + ':' +
                             QByteArray::number(minor(st.st_dev), 16).rightJustified(2, '0') + ':' +
                             inode;
    // /proc files tell no size: read to the end rather than asking atEnd().
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> f5 = line.simplified().split(' ');
        // "1: FLOCK  ADVISORY  WRITE 1234 00:1b:5 0 EOF"
        if (f5.size() >= 6 && f5[1] == "FLOCK" && f5[5] == where) return f5[4].toLongLong();
    }
    return 0;
}

QString holderText(qint64 pid) {
    if (pid <= 0) return QString();
    const QString name = LineLock::processName(pid);
    return name.isEmpty() ? QStringLiteral(" by PID %1").arg(pid)
                          : QStringLiteral(" by PID %1 (%2)").arg(pid).arg(name);
}

QString groupHint(const struct stat& st) {
    const group* g = ::getgrgid(st.st_gid);
    if (!g || st.st_gid == 0) return QString();
    return QStringLiteral("; join the group '%1' (sudo adduser $USER %1, then log in again)")
        .arg(QString::fromLocal8Bit(g->gr_name));
}

bool setFields(int fd, const LineSettings& s) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return false;
    ::cfmakeraw(&t);
    t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | INPCK);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    t.c_cflag &= ~tcflag_t(CMSPAR);
#endif
    switch (s.dataBits) {
        case 5:
            t.c_cflag |= CS5;
            break;
        case 6:
            t.c_cflag |= CS6;
            break;
        case 7:
            t.c_cflag |= CS7;
            break;
        default:
            t.c_cflag |= CS8;
            break;
    }
    switch (s.parity) {
        case 'e':
            t.c_cflag |= PARENB;
            break;
        case 'o':
            t.c_cflag |= PARENB | PARODD;
            break;
#ifdef CMSPAR
        case 'm':
            t.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case 's':
            t.c_cflag |= PARENB | CMSPAR;
            break;
#endif
        default:
            break;
    }
    if (s.stopBits == StopBits::Two) t.c_cflag |= CSTOPB;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &t) != 0) return false;
    return LineSpeed::set(fd, s.baud);
}

}  // namespace

Line::Line(QObject* parent) : QObject(parent) {}

Line::~Line() {
    close();
}

Line::Refusal Line::open(const QString& path, const LineSettings& settings, QString* why) {
    close();
    const auto refuse = [why](Refusal r, const QString& text) {
        if (why) *why = text;
        return r;
    };
    // Refused on open (EBUSY) or, for root, after it (TIOCGEXCL): one reason.
    const QString exclusiveBusy =
        QStringLiteral("busy: another program set its exclusive-use flag");
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty()) return refuse(Refusal::Absent, QStringLiteral("no device named"));

    struct stat st {};
    if (::stat(native.constData(), &st) != 0) {
        const int e = errno;
        if (e == EACCES) return refuse(Refusal::NoPermission, QStringLiteral("no permission"));
        return refuse(Refusal::Absent, QStringLiteral("absent (%1)").arg(errnoText(e)));
    }
    if (!S_ISCHR(st.st_mode))
        return refuse(Refusal::NotSerial, QStringLiteral("not a serial device"));
    if (::access(native.constData(), R_OK | W_OK) != 0)
        return refuse(Refusal::NoPermission, QStringLiteral("no permission") + groupHint(st));

    const LineLock::Holder lockHolder = LineLock::check(path, heldHere(st.st_rdev));
    if (lockHolder.busy) return refuse(Refusal::Busy, QStringLiteral("busy: ") + lockHolder.why);

    const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        switch (e) {
            case EBUSY:
                return refuse(Refusal::Busy, exclusiveBusy);
            case EACCES:
            case EPERM:
                return refuse(Refusal::NoPermission,
                              QStringLiteral("no permission") + groupHint(st));
            case ENOENT:
            case ENXIO:
            case ENODEV:
                return refuse(Refusal::Absent, QStringLiteral("absent (%1)").arg(errnoText(e)));
            default:
                return refuse(Refusal::NotSerial,
                              QStringLiteral("cannot be opened (%1)").arg(errnoText(e)));
        }
    }
    termios probe{};
    if (::tcgetattr(fd, &probe) != 0) {
        ::close(fd);
        return refuse(Refusal::NotSerial, QStringLiteral("not a serial device"));
    }
    // Root opens past another program's exclusive-use flag: honour it anyway.
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive) {
        ::close(fd);
        return refuse(Refusal::Busy, exclusiveBusy);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        if (e == EWOULDBLOCK)
            return refuse(Refusal::Busy,
                          QStringLiteral("busy: held (flock)%1").arg(holderText(flockHolder(st))));
        return refuse(Refusal::NotSerial,
                      QStringLiteral("cannot be locked (%1)").arg(errnoText(e)));
    }
    ::ioctl(fd, TIOCEXCL);

    QString lockWhy;
    const QString lockPath = LineLock::take(path, &lockWhy);
    if (lockPath.isEmpty())
        std::fprintf(stderr, "Velmora: %s is held without a lock file (%s)\n", native.constData(),
                     qPrintable(lockWhy));

    const int slot = claimSlot(fd, st.st_rdev, lockPath);
    if (slot < 0) {
        releaseDescriptor(fd);
        LineLock::release(QFile::encodeName(lockPath).constData());
        return refuse(Refusal::Busy, QStringLiteral("too many lines open in this program"));
    }
    m_fd = fd;
    m_slot = slot;
    m_state = State::Open;

    if (!setFields(fd, settings)) {
        close();
        return refuse(Refusal::Settings, QStringLiteral("the line refused the settings"));
    }

    m_readNotifier = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, [this] { emit readyRead(); });
    m_writeNotifier = new QSocketNotifier(qintptr(fd), QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, [this] { emit readyWrite(); });
    return Refusal::None;
}

void Line::release() {
    for (QSocketNotifier* n : {m_readNotifier, m_writeNotifier}) {
        if (!n) continue;
        n->setEnabled(false);
        n->deleteLater();  // may be inside its own signal
    }
    m_readNotifier = m_writeNotifier = nullptr;
    if (m_slot >= 0) releaseSlot(g_held[m_slot]);
    m_slot = -1;
    m_fd = -1;
}

void Line::close() {
    release();
    m_state = State::Closed;
}

void Line::goneAway() {
    if (m_state != State::Open) return;
    release();  // the device goes back to the system at once; the state stays
    m_state = State::HungUp;
}

bool Line::checkGone() {
    if (m_state != State::Open) return m_state == State::HungUp;
    pollfd p{m_fd, 0, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) goneAway();
    return m_state == State::HungUp;
}

qsizetype Line::read(char* data, qsizetype size) {
    if (m_state != State::Open) return m_state == State::HungUp ? -1 : 0;
    for (;;) {
        const ssize_t n = ::read(m_fd, data, size_t(size));
        if (n > 0) return qsizetype(n);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
        // An idle raw line can read 0 as well; a line that went away reads 0
        // or fails (EIO) and polls as hung up.
        if (n < 0 || checkGone()) {
            goneAway();
            return -1;
        }
        return 0;
    }
}

qsizetype Line::write(const char* data, qsizetype size) {
    if (m_state != State::Open) return m_state == State::HungUp ? -1 : 0;
    for (;;) {
        const ssize_t n = ::write(m_fd, data, size_t(size));
        if (n >= 0) return qsizetype(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        goneAway();  // EIO and the like
        return -1;
    }
}

bool Line::apply(const LineSettings& settings) {
    if (m_state != State::Open) return false;
    return setFields(m_fd, settings);
}

std::optional<LineSettings> Line::current() const {
    if (m_state != State::Open) return std::nullopt;
    termios t{};
    if (::tcgetattr(m_fd, &t) != 0) return std::nullopt;
    LineSettings line;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            line.dataBits = 5;
            break;
        case CS6:
            line.dataBits = 6;
            break;
        case CS7:
            line.dataBits = 7;
            break;
        default:
            line.dataBits = 8;
            break;
    }
    if (!(t.c_cflag & PARENB)) {
        line.parity = 'n';
    } else {
        const bool odd = (t.c_cflag & PARODD) != 0;
#ifdef CMSPAR
        if (t.c_cflag & CMSPAR)
            line.parity = odd ? 'm' : 's';
        else
#endif
            line.parity = odd ? 'o' : 'e';
    }
    line.stopBits = (t.c_cflag & CSTOPB) ? StopBits::Two : StopBits::One;
    line.baud = LineSpeed::get(m_fd);
    return line;
}

void Line::watchWrite(bool on) {
    if (m_writeNotifier) m_writeNotifier->setEnabled(on && m_state == State::Open);
}

void Line::releaseAll() noexcept {
    for (Held& h : g_held) releaseSlot(h);
}
