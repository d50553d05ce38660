#include "support/PtyBoard.h"

#include "support/TestEnv.h"

#include <QElapsedTimer>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace {
void makeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) throw std::runtime_error("tcgetattr failed");
    cfmakeraw(&t);
    if (tcsetattr(fd, TCSANOW, &t) != 0) throw std::runtime_error("tcsetattr failed");
}

int waitingAt(int fd) {
    int n = 0;
    if (fd < 0 || ioctl(fd, FIONREAD, &n) != 0) return 0;
    return n;
}
}  // namespace

PtyBoard::PtyBoard() {
    char name[128] = {};
    if (openpty(&m_master, &m_slaveKeep, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    makeRaw(m_master);
    makeRaw(m_slaveKeep);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_slavePath = QString::fromLocal8Bit(name);
}

PtyBoard::~PtyBoard() {
    if (m_master >= 0) ::close(m_master);
    if (m_slaveKeep >= 0) ::close(m_slaveKeep);
}

void PtyBoard::send(const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{m_master, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else if (n < 0 && errno != EINTR) {
            throw std::runtime_error("write to pty master failed");
        }
    }
}

int PtyBoard::pending() const {
    return waitingAt(m_master);
}

QByteArray PtyBoard::receive(int n, int timeoutMs) {
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (got.size() < n && clock.elapsed() < timeoutMs) {
        int avail = waitingAt(m_master);
        if (avail > 0) {
            QByteArray chunk(qMin(avail, int(n - got.size())), '\0');
            ssize_t r = ::read(m_master, chunk.data(), size_t(chunk.size()));
            if (r > 0) got.append(chunk.constData(), r);
        } else {
            pollfd p{m_master, POLLIN, 0};
            ::poll(&p, 1, 20);
        }
    }
    return got;
}

QByteArray PtyBoard::receiveAll() {
    QByteArray got;
    char buf[4096];
    for (;;) {
        ssize_t r = ::read(m_master, buf, sizeof buf);
        if (r <= 0) break;
        got.append(buf, r);
    }
    return got;
}

bool PtyBoard::waitSlaveHas(int n, int timeoutMs) const {
    QElapsedTimer clock;
    clock.start();
    while (waitingAt(m_slaveKeep) < n) {
        if (clock.elapsed() >= timeoutMs) return false;
        QThread::usleep(500);
    }
    return true;
}

void PtyBoard::hangUp() {
    if (m_master >= 0) ::close(m_master);
    m_master = -1;
}

PluggedBoard::PluggedBoard(int port) {
    TestEnv::setPortDevice(port, slavePath());
}
