// The board floods the line while nobody clicks: a writer thread pushes its
// stream into the pseudo-terminal as fast as the line takes it, never
// blocking for long and bounded in time, while the connected window runs its
// event loop with the real connection timer. Memory stays bounded, the timer
// ticks on time, and afterwards Receive gives the oldest characters kept, in
// the order they came; what did not fit is counted as dropped.
#include "serial/MSComm.h"
#include "support/PtyBoard.h"
#include "support/TestEnv.h"
#include "support/TickRecorder.h"
#include "support/WindowChecks.h"
#include "ui/frmMain.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>

namespace {
constexpr qsizetype kMiB = 1024 * 1024;

// Resident memory of this process in KiB (VmRSS), -1 when unknown.
qint64 residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// "[0000000][0000001]...": any run of it tells where in the stream it was
// taken from.
QByteArray makeStream(qsizetype size) {
    QByteArray bytes;
    bytes.reserve(size + 16);
    for (int record = 0; bytes.size() < size; ++record)
        bytes += '[' + QByteArray::number(record).rightJustified(7, '0') + ']';
    bytes.truncate(size);
    return bytes;
}

// Writes a stream into the board's end of the line from a thread of its own,
// as fast as the line takes it, over and over until the whole stream went
// and at least minMs passed: long enough to see the connection timer tick.
// It never blocks for long and gives up at deadlineMs, so a program that
// stops reading cannot hang the test.
class FloodWriter {
public:
    FloodWriter(int fd, const QByteArray& stream, int minMs, int deadlineMs)
        : m_thread([=, this] { run(fd, stream, minMs, deadlineMs); }) {}
    ~FloodWriter() { m_thread.join(); }
    FloodWriter(const FloodWriter&) = delete;
    FloodWriter& operator=(const FloodWriter&) = delete;

    bool finished() const { return m_finished; }
    qsizetype written() const { return m_written; }
    qint64 tookMs() const { return m_tookMs; }

private:
    void run(int fd, const QByteArray& stream, int minMs, int deadlineMs) {
        QElapsedTimer clock;
        clock.start();
        qsizetype done = 0;
        while ((done < stream.size() || clock.elapsed() < minMs) && clock.elapsed() < deadlineMs) {
            const qsizetype at = done % stream.size();
            const ssize_t n = ::write(fd, stream.constData() + at,
                                      size_t(qMin<qsizetype>(4096, stream.size() - at)));
            if (n > 0) {
                done += n;
                m_written = done;
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{fd, POLLOUT, 0};
                ::poll(&p, 1, 20);
            } else if (!(n < 0 && errno == EINTR)) {
                break;
            }
        }
        m_tookMs = clock.elapsed();
        m_finished = true;
    }

    std::atomic<qsizetype> m_written = 0;
    std::atomic<qint64> m_tookMs = 0;
    std::atomic<bool> m_finished = false;
    std::thread m_thread;
};
}  // namespace

class FloodTest : public QObject {
    Q_OBJECT
    std::unique_ptr<PluggedBoard> board;
    std::unique_ptr<frmMain> form;

private slots:
    void initTestCase() {
        TestEnv::isolateUserStore();
        TestEnv::setPortDevice(2, "/nonexistent/velmora-test-com2");
    }

    void init() {
        board = std::make_unique<PluggedBoard>();
        form = WindowChecks::startWindow();
        QVERIFY(WindowChecks::showAndConnect(*form));
    }

    void cleanup() {
        form.reset();
        board.reset();
    }

    void floodWhileNobodyClicks() {
        const QByteArray stream = makeStream(kMiB);
        const qint64 rssBefore = residentKiB();
        qint64 rssPeak = rssBefore;
        QVERIFY(rssBefore > 0);
        BoxCloser closer;
        TickRecorder ticks(form->Timer1);
        // A click in the middle of the flood is served, and its text goes out.
        form->TransText->setText(QStringLiteral("ping"));
        QTimer::singleShot(1000, form->Transmition, &QPushButton::click);
        qsizetype written = 0;
        {
            FloodWriter writer(board->masterFd(), stream, 3000, 20000);
            while (!writer.finished()) {
                QTest::qWait(10);
                rssPeak = qMax(rssPeak, residentKiB());
            }
            written = writer.written();
            qInfo("%lld bytes written in %lld ms; %lld tick(s), largest gap %lld ms",
                  qint64(written), writer.tookMs(), qint64(ticks.count()), ticks.largestGapMs());
            QVERIFY2(written >= stream.size(), "the program stopped taking in the line");
        }
        QVERIFY2(ticks.largestGapMs() < 1500,
                 qPrintable(QString("no tick for %1 ms").arg(ticks.largestGapMs())));
        qInfo("resident memory %lld KiB before, peak %lld KiB", rssBefore, rssPeak);
#ifndef __SANITIZE_ADDRESS__
        // Under AddressSanitizer freed chunks wait in its quarantine, so the
        // resident size says nothing about our buffers there.
        QVERIFY2(rssPeak - rssBefore < 20 * 1024,
                 qPrintable(QString("memory grew by %1 KiB").arg(rssPeak - rssBefore)));
#endif

        // The event loop alone takes in the rest of the stream.
        const quint64 dropped = quint64(written - MSComm::InBufferSize);
        QTRY_COMPARE_WITH_TIMEOUT(form->MSComm1->droppedBytes(), dropped, 5000);
        QCOMPARE(form->MSComm1->InBufferCount(), MSComm::InBufferSize);
        QCOMPARE(closer.seen.size(), 0);
        QCOMPARE(board->receive(4), QByteArray("ping"));

        // The oldest characters, one per click, in the order they came.
        QByteArray received;
        for (int click = 0; click < MSComm::InBufferSize; ++click) {
            form->Receive->click();
            received += form->RexText->text().toLatin1();
        }
        QCOMPARE(received, stream.left(MSComm::InBufferSize));
        form->Receive->click();
        QCOMPARE(form->RexText->text(), QString("NULL"));
        QCOMPARE(form->MSComm1->droppedBytes(), dropped);
        QCOMPARE(closer.seen.size(), 0);
    }
};

QTEST_MAIN(FloodTest)
#include "tst_flood.moc"
