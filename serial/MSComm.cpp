#include "serial/MSComm.h"

#include "serial/CodePage.h"

#include <QFile>
#include <QMetaObject>
#include <QSerialPort>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#endif

namespace {

using SerialSettings::LineSettings;
using SerialSettings::StopBits;

QString errorText(int number) {
    switch (number) {
        case 380:
            return QStringLiteral("Invalid property value");
        case 8000:
            return QStringLiteral("Operation not valid while the port is opened");
        case 8002:
            return QStringLiteral("Invalid port number");
        case 8005:
            return QStringLiteral("Port already open");
        case 8010:
            return QStringLiteral("The hardware is not available");
        case 8012:
            return QStringLiteral("The device is not open");
        case 8015:
            return QStringLiteral("Could not set comm state");
        case 8020:
            return QStringLiteral("Error reading comm device");
        case 8021:
            return QStringLiteral("Error writing comm device");
        default:
            return QStringLiteral("Serial communications error");
    }
}

constexpr short MaxCommPort = 16;
constexpr qsizetype ReadChunk = 4096;
constexpr int MaxReadsPerDrain = 64;  // bounds one drain against an endless stream

QSerialPort::Parity toQtParity(char parity) {
    switch (parity) {
        case 'e':
            return QSerialPort::EvenParity;
        case 'o':
            return QSerialPort::OddParity;
        case 'm':
            return QSerialPort::MarkParity;
        case 's':
            return QSerialPort::SpaceParity;
        default:
            return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits toQtStopBits(StopBits stop) {
    switch (stop) {
        case StopBits::OneAndHalf:
            return QSerialPort::OneAndHalfStop;
        case StopBits::Two:
            return QSerialPort::TwoStop;
        case StopBits::One:
            break;
    }
    return QSerialPort::OneStop;
}

// The speed table of <termios.h>, for reading back a standard speed when the
// kernel's termios2 is not available.
qint32 speedFromConstant(speed_t s) {
    struct Entry {
        speed_t constant;
        qint32 baud;
    };
    static const Entry table[] = {
        {B50, 50},         {B75, 75},     {B110, 110},   {B134, 134},     {B150, 150},
        {B200, 200},       {B300, 300},   {B600, 600},   {B1200, 1200},   {B1800, 1800},
        {B2400, 2400},     {B4800, 4800}, {B9600, 9600}, {B19200, 19200}, {B38400, 38400},
#ifdef B57600
        {B57600, 57600},
#endif
#ifdef B115200
        {B115200, 115200},
#endif
#ifdef B230400
        {B230400, 230400},
#endif
#ifdef B460800
        {B460800, 460800},
#endif
#ifdef B921600
        {B921600, 921600},
#endif
    };
    for (const Entry& e : table)
        if (e.constant == s) return e.baud;
    return 0;
}

#ifdef Q_OS_LINUX
// The kernel's struct termios2 (the layout of <asm/termbits.h>, which cannot
// be included together with <termios.h>). Its c_ospeed holds the real line
// speed, custom speeds (BOTHER) included.
#if defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || defined(__arm__) || \
    defined(__riscv) || defined(__s390__)
#define VELMORA_HAVE_TERMIOS2 1
struct KernelTermios2 {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
const unsigned long kGetTermios2 = _IOR('T', 0x2A, KernelTermios2);
#endif
#endif

// Speed of the line behind fd as the driver reports it; 0 when unknown.
qint32 lineSpeed(int fd, const termios& tio) {
#ifdef VELMORA_HAVE_TERMIOS2
    KernelTermios2 t2{};
    if (::ioctl(fd, kGetTermios2, &t2) == 0 && t2.c_ospeed > 0) {
        qint32 speed = qint32(t2.c_ospeed);
        // The old custom-speed mechanism: B38400 stands for baud_base / divisor.
        serial_struct ss{};
        if (speed == 38400 && ::ioctl(fd, TIOCGSERIAL, &ss) == 0 &&
            (ss.flags & ASYNC_SPD_MASK) == ASYNC_SPD_CUST && ss.custom_divisor > 0)
            speed = ss.baud_base / ss.custom_divisor;
        return speed;
    }
#endif
    Q_UNUSED(fd);
    return speedFromConstant(cfgetospeed(&tio));
}

// True when the line's settings are the wanted ones; a speed within 1 % counts
// (a UART divisor rarely hits a custom speed exactly, and 1 % is well inside
// what the other end tolerates).
bool sameLine(const LineSettings& line, const LineSettings& wanted) {
    if (line.parity != wanted.parity || line.dataBits != wanted.dataBits ||
        line.stopBits != wanted.stopBits)
        return false;
    if (line.baud <= 0) return true;  // the driver does not tell its speed
    const qint64 diff = qAbs(qint64(line.baud) - qint64(wanted.baud));
    return diff * 100 <= qint64(wanted.baud);
}

// Runs f and swallows anything it throws: for code that runs inside a Qt
// slot, where no exception may cross the event loop.
template <typename F>
void guarded(F&& f) noexcept {
    try {
        f();
    } catch (...) {
    }
}

// Sets a flag for the life of the scope.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : m_flag(flag), m_old(flag) { m_flag = true; }
    ~FlagScope() { m_flag = m_old; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& m_flag;
    bool m_old;
};

}  // namespace

MSCommError::MSCommError(int number, const QString& text)
    : std::runtime_error(text.toStdString()), m_number(number) {}

void MSComm::raise(int number) {
    throw MSCommError(number, errorText(number));
}

MSComm::MSComm(QObject* parent) : QObject(parent), m_port(new QSerialPort(this)) {
    m_inBuffer.reserve(InBufferSize);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    // Events of the port only ever record state: nothing thrown from them.
    connect(m_port, &QSerialPort::readyRead, this, [this] {
        guarded([this] {
            if (!m_quiet) drainSystem();
        });
    });
    connect(m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        guarded([&] { onPortError(int(error)); });
    });
}

MSComm::~MSComm() {
    guarded([this] { closePort(); });
}

// ---------------------------------------------------------------------------
// Properties

bool MSComm::PortOpen() const {
    return m_open;
}

void MSComm::setPortOpen(bool open) {
    if (!open) {
        if (m_open) closePort();
        return;
    }
    if (m_open && !m_hungUp) return;  // already open: nothing to do
    if (m_open) closePort();          // the remains of a line that went away
    openPort();
}

void MSComm::setCommPort(short port) {
    if (m_open) raise(8000);
    if (port < 1 || port > MaxCommPort) raise(380);
    m_commPort = port;
}

QString MSComm::Settings() const {
    return SerialSettings::format(m_settings);
}

void MSComm::setSettings(const QString& settings) {
    const std::optional<LineSettings> wanted = SerialSettings::parse(settings);
    if (!wanted) raise(380);
    if (!m_open) {
        m_settings = *wanted;
        return;
    }
    if (m_hungUp) raise(8020);
    if (lineGone()) {
        handleHangUp();
        raise(8020);
    }
    applySettings(*wanted);
}

void MSComm::setInputLen(short len) {
    if (len < 0) raise(380);
    m_inputLen = len;
}

void MSComm::setInputMode(short mode) {
    if (mode != comInputModeText && mode != comInputModeBinary) raise(380);
    m_inputMode = mode;
}

QString MSComm::Input() {
    if (!m_open) raise(8012);
    if (m_hungUp) raise(8020);
    drainSystem();
    if (m_hungUp) raise(8020);
    if (m_pendingPos < m_pending.size())
        pushPending();  // keep sending while the caller holds the thread

    const qsizetype n =
        m_inputLen > 0 ? qMin(qsizetype(m_inputLen), m_inBuffer.size()) : m_inBuffer.size();
    const QByteArray taken = m_inBuffer.left(n);
    m_inBuffer.remove(0, n);
    return m_inputMode == comInputModeText ? CodePage::FromAnsi(taken) : QString::fromLatin1(taken);
}

void MSComm::setOutput(const QString& text) {
    if (!m_open) raise(8012);
    if (m_hungUp) raise(8021);
    if (lineGone()) {
        handleHangUp();
        raise(8021);
    }
    const QByteArray bytes = CodePage::ToAnsi(text);
    if (bytes.isEmpty()) return;
    m_pending.append(bytes);
    pushPending();
    if (m_hungUp) raise(8021);
}

int MSComm::InBufferCount() {
    if (!m_open) raise(8012);
    if (m_hungUp) raise(8020);
    drainSystem();
    if (m_hungUp) raise(8020);
    return int(m_inBuffer.size());
}

QString MSComm::devicePath(short port) {
    if (port < 1 || port > MaxCommPort) return QString();
    const QByteArray name = "VELMORA_COM" + QByteArray::number(port);
    const QString configured = qEnvironmentVariable(name.constData());
    if (!configured.isEmpty()) return configured;
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
}

// ---------------------------------------------------------------------------
// Opening and closing

void MSComm::openPort() {
    const QString path = devicePath(m_commPort);
    const QByteArray native = QFile::encodeName(path);

    // What the device is decides the error: absent, not a serial device, no access.
    if (native.isEmpty()) raise(8002);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) raise(errno == EACCES ? 8010 : 8002);
    if (!S_ISCHR(st.st_mode)) raise(8010);
    if (::access(native.constData(), R_OK | W_OK) != 0) raise(8010);
    // termios has no 1.5 stop bits: the line cannot take these settings.
    if (m_settings.stopBits == StopBits::OneAndHalf) raise(8015);

    bool opened = false;
    {
        FlagScope quiet(m_quiet);
        m_port->setPortName(path);
        configurePort(m_settings);  // closed: only recorded, applied by open()
        m_port->setFlowControl(QSerialPort::NoFlowControl);
        m_port->setReadBufferSize(InBufferSize);
        opened = m_port->open(QIODevice::ReadWrite);
    }
    if (!opened) {
        const QSerialPort::SerialPortError error = m_port->error();
        {
            FlagScope quiet(m_quiet);
            m_port->clearError();
        }
        switch (error) {
            case QSerialPort::DeviceNotFoundError:
                raise(8002);
            // Access was checked above, so a refusal now is the device's lock
            // (another opener's lock file, or its exclusive-use flag).
            case QSerialPort::PermissionError:
                raise(8005);
            default:
                raise(8010);
        }
    }

    const int fd = m_port->handle();
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1 && !(flags & O_NONBLOCK)) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);

    // The line may quietly adjust what it cannot do; then the open fails.
    const std::optional<LineSettings> line = readLine();
    if (line && !sameLine(*line, m_settings)) {
        FlagScope quiet(m_quiet);
        m_port->close();
        m_port->clearError();
        raise(8015);
    }

    m_inBuffer.clear();
    m_pending.clear();
    m_pendingPos = 0;
    m_dropped = 0;
    m_hungUp = false;
    m_open = true;

    m_writeNotifier = new QSocketNotifier(qintptr(fd), QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this,
            [this] { guarded([this] { pushPending(); }); });
}

void MSComm::closePort() {
    if (m_writeNotifier) {
        m_writeNotifier->setEnabled(false);
        m_writeNotifier->deleteLater();
        m_writeNotifier = nullptr;
    }
    if (m_port->isOpen()) {
        FlagScope quiet(m_quiet);
        m_port->close();
    }
    {
        FlagScope quiet(m_quiet);
        m_port->clearError();
    }
    m_inBuffer.clear();
    m_pending.clear();
    m_pendingPos = 0;
    m_hungUp = false;
    m_open = false;
}

// ---------------------------------------------------------------------------
// Receiving

void MSComm::drainSystem() {
    if (!m_open || m_hungUp || !m_port->isOpen()) return;

    // Whatever QSerialPort took from the device came first.
    if (m_port->bytesAvailable() > 0) {
        const QByteArray buffered = m_port->readAll();
        store(buffered.constData(), buffered.size());
    }

    const int fd = m_port->handle();
    char chunk[ReadChunk];
    for (int reads = 0; reads < MaxReadsPerDrain; ++reads) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            store(chunk, qsizetype(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        // With VMIN = VTIME = 0 an idle line reads 0 too; a line that went
        // away reads 0 (hung up) or fails (EIO) and polls as hung up.
        if (n < 0 || lineGone()) handleHangUp();
        break;
    }
}

void MSComm::store(const char* data, qsizetype size) {
    const qsizetype room = qMax<qsizetype>(0, InBufferSize - m_inBuffer.size());
    const qsizetype kept = qMin(room, size);
    m_inBuffer.append(data, kept);
    m_dropped += quint64(size - kept);
}

// ---------------------------------------------------------------------------
// Sending

void MSComm::pushPending() {
    if (!m_open || m_hungUp || !m_port->isOpen()) {
        if (m_writeNotifier) m_writeNotifier->setEnabled(false);
        return;
    }
    const int fd = m_port->handle();
    while (m_pendingPos < m_pending.size()) {
        const ssize_t n = ::write(fd, m_pending.constData() + m_pendingPos,
                                  size_t(m_pending.size() - m_pendingPos));
        if (n > 0) {
            m_pendingPos += qsizetype(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) break;
        handleHangUp();  // EIO and the like: the device went away
        return;
    }
    if (m_pendingPos >= m_pending.size()) {
        m_pending.clear();
        m_pendingPos = 0;
    } else if (m_pendingPos > 64 * 1024 && m_pendingPos * 2 > m_pending.size()) {
        m_pending.remove(0, m_pendingPos);  // keep the sent head from piling up
        m_pendingPos = 0;
    }
    if (m_writeNotifier) m_writeNotifier->setEnabled(!m_pending.isEmpty());
}

// ---------------------------------------------------------------------------
// Hang-up

bool MSComm::lineGone() const {
    const int fd = m_port->isOpen() ? int(m_port->handle()) : -1;
    if (fd < 0) return true;
    pollfd p{fd, 0, 0};
    if (::poll(&p, 1, 0) < 0) return false;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void MSComm::handleHangUp() {
    if (m_hungUp) return;
    m_hungUp = true;
    if (m_writeNotifier) m_writeNotifier->setEnabled(false);
    // QSerialPort keeps reporting the dead line from its read notifier until
    // it is closed. This may run inside one of its signals, so close it from
    // the event loop; PortOpen stays true until the user sets it false.
    QMetaObject::invokeMethod(
        this, [this] { guarded([this] { releaseAfterHangUp(); }); }, Qt::QueuedConnection);
}

void MSComm::releaseAfterHangUp() {
    if (!m_hungUp || !m_port->isOpen()) return;
    FlagScope quiet(m_quiet);
    m_port->close();
    m_port->clearError();
}

void MSComm::onPortError(int error) {
    if (m_quiet || !m_open || m_hungUp) return;
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError &&
        error != QSerialPort::WriteError)
        return;
    // QSerialPort also fails when its read notifier fires after this
    // component already took the bytes (EAGAIN, or 0 from an idle line), so
    // look at the device before believing it went away.
    drainSystem();
    if (!m_hungUp && lineGone()) handleHangUp();
    if (m_hungUp) return;
    // A false alarm: QSerialPort may have stopped reading; start it again.
    FlagScope quiet(m_quiet);
    m_port->setReadBufferSize(InBufferSize);
    if (m_port->bytesAvailable() == 0) {
        char c = 0;
        if (m_port->read(&c, 1) == 1) store(&c, 1);
    }
}

// ---------------------------------------------------------------------------
// Line settings

bool MSComm::configurePort(const LineSettings& wanted) {
    FlagScope quiet(m_quiet);
    return m_port->setBaudRate(wanted.baud) &&
           m_port->setDataBits(QSerialPort::DataBits(wanted.dataBits)) &&
           m_port->setParity(toQtParity(wanted.parity)) &&
           m_port->setStopBits(toQtStopBits(wanted.stopBits));
}

void MSComm::applySettings(const LineSettings& wanted) {
    // termios has no 1.5 stop bits: refused before the line is touched.
    if (wanted.stopBits == StopBits::OneAndHalf) raise(8015);

    const LineSettings before = m_settings;
    const bool ok = configurePort(wanted);
    if (ok) {
        const std::optional<LineSettings> line = readLine();
        if (!line || sameLine(*line, wanted)) {
            m_settings = wanted;
            return;
        }
    } else {
        if (lineGone()) {
            handleHangUp();
            raise(8020);
        }
        configurePort(before);  // put back what was there
    }
    // Refused: report what the line really has now.
    std::optional<LineSettings> line = readLine();
    if (line && !sameLine(*line, before)) {
        if (line->baud <= 0) line->baud = before.baud;
        m_settings = *line;
    }
    raise(8015);
}

std::optional<SerialSettings::LineSettings> MSComm::readLine() const {
    const int fd = m_port->isOpen() ? int(m_port->handle()) : -1;
    if (fd < 0) return std::nullopt;
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return std::nullopt;

    LineSettings line;
    switch (tio.c_cflag & CSIZE) {
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
    if (!(tio.c_cflag & PARENB)) {
        line.parity = 'n';
    } else {
        const bool odd = (tio.c_cflag & PARODD) != 0;
#ifdef CMSPAR
        if (tio.c_cflag & CMSPAR)
            line.parity = odd ? 'm' : 's';
        else
#endif
            line.parity = odd ? 'o' : 'e';
    }
    line.stopBits = (tio.c_cflag & CSTOPB) ? StopBits::Two : StopBits::One;
    line.baud = lineSpeed(fd, tio);  // 0 when the driver does not tell
    return line;
}
