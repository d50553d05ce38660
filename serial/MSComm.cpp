#include "serial/MSComm.h"

#include "serial/CodePage.h"
#include "serial/Line.h"
#include "serial/PortOrder.h"

#include <cstdio>

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

constexpr short kMaxCommPort = 16;
constexpr qsizetype kReadChunk = 4096;
constexpr int kMaxReadsPerDrain = 64;  // bounds one drain against an endless stream

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

}  // namespace

MSCommError::MSCommError(int number, const QString& text)
    : std::runtime_error(text.toStdString()), m_number(number) {}

void MSComm::raise(int number) {
    throw MSCommError(number, errorText(number));
}

MSComm::MSComm(QObject* parent) : QObject(parent), m_line(new Line(this)) {
    m_inBuffer.reserve(InBufferSize);
    // Events of the line only ever record state: nothing thrown from them.
    connect(m_line, &Line::readyRead, this, [this] { guarded([this] { drainSystem(); }); });
    connect(m_line, &Line::readyWrite, this, [this] { guarded([this] { pushPending(); }); });
}

MSComm::~MSComm() {
    guarded([this] { closePort(); });
}

bool MSComm::hungUp() const {
    return m_line->state() == Line::State::HungUp;
}

bool MSComm::lineGone() {
    return m_line->checkGone();
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
    if (m_open && !hungUp()) return;  // already open: nothing to do
    if (m_open) closePort();          // the remains of a line that went away
    openPort();
}

void MSComm::setCommPort(short port) {
    if (m_open) raise(8000);
    if (port < 1 || port > kMaxCommPort) raise(380);
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
    if (hungUp() || lineGone()) raise(8020);
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
    if (hungUp()) raise(8020);
    drainSystem();
    if (hungUp()) raise(8020);
    if (m_pendingPos < m_pending.size())
        pushPending();  // keep sending while the caller holds the thread

    const qsizetype n =
        m_inputLen > 0 ? qMin(qsizetype(m_inputLen), m_inBuffer.size()) : m_inBuffer.size();
    const QByteArray taken = m_inBuffer.left(n);
    m_inBuffer.remove(0, n);
    return m_inputMode == comInputModeText ? CodePage::fromAnsi(taken) : QString::fromLatin1(taken);
}

void MSComm::setOutput(const QString& text) {
    if (!m_open) raise(8012);
    if (hungUp() || lineGone()) raise(8021);
    const QByteArray bytes = CodePage::toAnsi(text);
    if (bytes.isEmpty()) return;
    m_pending.append(bytes);
    pushPending();
    if (hungUp()) raise(8021);
}

int MSComm::InBufferCount() {
    if (!m_open) raise(8012);
    if (hungUp()) raise(8020);
    drainSystem();
    if (hungUp()) raise(8020);
    return int(m_inBuffer.size());
}

QString MSComm::devicePath(short port) {
    if (port < 1 || port > kMaxCommPort) return QString();
    const QByteArray name = "VELMORA_COM" + QByteArray::number(port);
    const QString configured = qEnvironmentVariable(name.constData());
    if (!configured.isEmpty()) return configured;
    const QStringList present = PortOrder::present();
    if (port <= present.size()) return present.at(port - 1);
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
}

// ---------------------------------------------------------------------------
// Opening and closing

void MSComm::openPort() {
    const QString path = devicePath(m_commPort);
    const QByteArray shown = path.toLocal8Bit();
    // termios has no 1.5 stop bits: the line cannot take these settings.
    if (m_settings.stopBits == StopBits::OneAndHalf) {
        std::fprintf(stderr, "Velmora: COM%d (%s): no 1.5 stop bits on this system\n",
                     int(m_commPort), shown.constData());
        raise(8015);
    }

    QString why;
    Line::Refusal refusal = m_line->open(path, m_settings, &why);
    if (refusal == Line::Refusal::None) {
        // The line may quietly adjust what it cannot do; then the open fails.
        const std::optional<LineSettings> line = m_line->current();
        if (line && !sameLine(*line, m_settings)) {
            m_line->close();
            refusal = Line::Refusal::Settings;
            why = QStringLiteral("the line does not hold %1").arg(Settings());
        }
    }
    if (refusal != Line::Refusal::None) {
        std::fprintf(stderr, "Velmora: COM%d (%s) not opened: %s\n", int(m_commPort),
                     shown.constData(), qPrintable(why));
        switch (refusal) {
            case Line::Refusal::Absent:
                raise(8002);
            case Line::Refusal::Busy:
                raise(8005);
            case Line::Refusal::Settings:
                raise(8015);
            default:
                raise(8010);
        }
    }
    std::fprintf(stderr, "Velmora: COM%d is %s\n", int(m_commPort), shown.constData());

    m_inBuffer.clear();
    m_pending.clear();
    m_pendingPos = 0;
    m_dropped = 0;
    m_open = true;
}

void MSComm::closePort() {
    // Unsent output goes with the port: nothing waits for the line to drain.
    m_pending.clear();
    m_pendingPos = 0;
    m_line->close();
    m_inBuffer.clear();
    m_open = false;
}

// ---------------------------------------------------------------------------
// Receiving

void MSComm::drainSystem() {
    if (!m_open || hungUp()) return;
    char chunk[kReadChunk];
    for (int reads = 0; reads < kMaxReadsPerDrain; ++reads) {
        const qsizetype n = m_line->read(chunk, sizeof chunk);
        if (n <= 0) break;  // nothing more now, or the line went away
        store(chunk, n);
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
    if (!m_open || hungUp()) {
        m_line->watchWrite(false);
        return;
    }
    while (m_pendingPos < m_pending.size()) {
        const qsizetype n =
            m_line->write(m_pending.constData() + m_pendingPos, m_pending.size() - m_pendingPos);
        if (n < 0) return;  // the line went away
        if (n == 0) break;  // the driver is full
        m_pendingPos += n;
    }
    if (m_pendingPos >= m_pending.size()) {
        m_pending.clear();
        m_pendingPos = 0;
    } else if (m_pendingPos > 64 * 1024 && m_pendingPos * 2 > m_pending.size()) {
        m_pending.remove(0, m_pendingPos);  // keep the sent head from piling up
        m_pendingPos = 0;
    }
    m_line->watchWrite(!m_pending.isEmpty());
}

// ---------------------------------------------------------------------------
// Line settings

void MSComm::applySettings(const LineSettings& wanted) {
    // termios has no 1.5 stop bits: refused before the line is touched.
    if (wanted.stopBits == StopBits::OneAndHalf) raise(8015);

    const LineSettings before = m_settings;
    if (m_line->apply(wanted)) {
        const std::optional<LineSettings> line = m_line->current();
        if (!line || sameLine(*line, wanted)) {
            m_settings = wanted;
            return;
        }
    } else {
        if (lineGone()) raise(8020);
        m_line->apply(before);  // put back what was there
    }
    // Refused: report what the line really has now.
    std::optional<LineSettings> line = m_line->current();
    if (line && !sameLine(*line, before)) {
        if (line->baud <= 0) line->baud = before.baud;
        m_settings = *line;
    }
    raise(8015);
}
