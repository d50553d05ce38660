// The acknowledgement wait against the real firmware in the emulated board
// (scripts/emulated-board --print-path): the window sends the trigger "?"
// through its own controls, the board answers "?K", and QueryAck finds the
// "K" once the line holds it.
//
// Exit status 77 (a skip for CTest) when s51 or socat is missing, unless CI=true.
#include "serial/MSComm.h"
#include "support/TestEnv.h"
#include "support/WindowChecks.h"
#include "ui/ProgressBar.h"
#include "ui/StatusBar.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

namespace {
// The board for one test: started in the constructor, stopped (TERM, then
// KILL) in the destructor, s51 and socat with it.
class EmulatedBoard {
public:
    EmulatedBoard() {
        m_process.start(QStringLiteral(VELMORA_SOURCE_DIR "/scripts/emulated-board"),
                        {QStringLiteral("--firmware-dir"), QStringLiteral(VELMORA_FIRMWARE_DIR),
                         QStringLiteral("--print-path")});
        // Only --print-path's one line arrives on standard output.
        if (m_process.waitForStarted(5000))
            while (!m_process.canReadLine() && m_process.state() == QProcess::Running)
                if (!m_process.waitForReadyRead(30000)) break;
        m_path = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }
    ~EmulatedBoard() {
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) m_process.kill();
        m_process.waitForFinished(5000);
    }
    EmulatedBoard(const EmulatedBoard&) = delete;
    EmulatedBoard& operator=(const EmulatedBoard&) = delete;

    QString path() const { return m_path; }
    QString errors() { return QString::fromLocal8Bit(m_process.readAllStandardError()); }

private:
    QProcess m_process;
    QString m_path;
};
}  // namespace

class BoardAckTest : public QObject {
    Q_OBJECT

    std::unique_ptr<EmulatedBoard> board;
    std::unique_ptr<frmMain> form;

    // Waits, running the event loop, until the component holds n characters.
    bool waitInBuffer(int n) {
        QElapsedTimer clock;
        clock.start();
        while (form->MSComm1->InBufferCount() < n) {
            if (clock.hasExpired(10000)) return false;
            QTest::qWait(10);
        }
        return form->MSComm1->InBufferCount() == n;
    }

    void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

private slots:
    void initTestCase() { TestEnv::isolateUserStore(); }

    // Connected, with the board's greeting taken as the user's first Receive takes it.
    void init() {
        board = std::make_unique<EmulatedBoard>();
        QVERIFY2(board->path().startsWith(QStringLiteral("/dev/")),
                 qPrintable("the emulated board did not start: " + board->errors()));
        TestEnv::setPortDevice(1, board->path());
        form = WindowChecks::startWindow();
        click(form->Connect);
        QCOMPARE(form->panelText(StatusPanel::Status), QStringLiteral("Status:COM1"));
        QVERIFY2(waitInBuffer(1), "the board's greeting did not arrive");
        click(form->Receive);
        QCOMPARE(form->RexText->text(), QStringLiteral("U"));
    }

    void cleanup() {
        form.reset();  // releases the port before the board goes
        board.reset();
    }

    void queryAck_data() {
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QByteArray>("answer");  // what the board sends back
        QTest::addColumn<bool>("takeEcho");      // one Receive before the wait
        QTest::addColumn<int>("loopCt");
        // The acknowledgement is next in line: found by the first read.
        QTest::newRow("trigger, echo taken") << "?" << QByteArray("?K") << true << 0;
        // The echo comes first: read and dropped, then the acknowledgement.
        QTest::newRow("trigger, echo left") << "?" << QByteArray("?K") << false << 1;
        // No trigger, no acknowledgement: the wait runs all 1000 reads.
        QTest::newRow("no trigger") << "A" << QByteArray("A") << true << 1000;
    }
    void queryAck() {
        QFETCH(QString, sent);
        QFETCH(QByteArray, answer);
        QFETCH(bool, takeEcho);
        QFETCH(int, loopCt);
        QTest::keyClicks(form->TransText, sent);
        click(form->Transmition);
        QVERIFY2(waitInBuffer(int(answer.size())), "the board's answer did not arrive");
        if (takeEcho) {
            click(form->Receive);
            QCOMPARE(form->RexText->text(), sent);
        }

        form->QueryAck(QStringLiteral("K"));

        QCOMPARE(int(form->QueryLoopCt), loopCt);
        QVERIFY(form->ProgressBar1->fraction() == 100.0f);
        QCOMPARE(form->MSComm1->InBufferCount(), 0);
    }
};

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QStringList missing;
    for (const char* tool : {"s51", "socat"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            missing << QString::fromLatin1(tool);
    if (!missing.isEmpty()) {
        qWarning("missing: %s (apt-get install sdcc-ucsim socat)", qPrintable(missing.join(", ")));
        return qEnvironmentVariable("CI") == QStringLiteral("true") ? 1 : 77;
    }
    BoardAckTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_board_ack.moc"
