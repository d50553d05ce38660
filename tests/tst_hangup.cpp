// The cable pulled while the port is open, seen from the window: the board's
// pseudo-terminal master closes under a connected window with its connection
// timer running. The program stays idle and quiet, each later command reports
// the error once and the program goes on, Disconnect closes the dead port, and
// Connect works again once a board is back.
#include "serial/MSComm.h"
#include "support/LampColours.h"
#include "support/PtyBoard.h"
#include "support/TestEnv.h"
#include "support/TickRecorder.h"
#include "support/WindowChecks.h"
#include "ui/StatusBar.h"
#include "ui/frmMain.h"

#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include <sys/resource.h>

#include <memory>

using WindowChecks::clickKeepsRunning;

namespace {

double cpuMs() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000.0 +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000.0;
}

}  // namespace

class HangUpTest : public QObject {
    Q_OBJECT
    std::unique_ptr<PluggedBoard> board;
    std::unique_ptr<frmMain> form;

    void plugInBoard() { board = std::make_unique<PluggedBoard>(); }

    // The pulled cable has been seen by the program's own event loop.
    void pullCableAndIdle() {
        board->hangUp();
        QTest::qWait(200);
    }

    // After the failure the user disconnects, the board comes back and the
    // link works both ways again; no box on the way.
    void disconnectAndReconnect(const BoxCloser& closer) {
        const qsizetype boxes = closer.seen.size();
        QVERIFY2(clickKeepsRunning(form->Disconnect), "Disconnect ended the program");
        QCOMPARE(closer.seen.size(), boxes);
        QCOMPARE(form->MessageText->text(), QString(" COM1 disconnect "));
        QVERIFY(!form->MSComm1->PortOpen());
        QCOMPARE(form->lampColor("ConnectState"), Rgb::kBlack);
        QCOMPARE(form->panelText(StatusPanel::Status), QString("Status:Disconnect"));
        QVERIFY(!form->Timer1->isActive());
        QVERIFY(!form->Transmition->isEnabled() && !form->Receive->isEnabled());

        plugInBoard();
        QVERIFY2(clickKeepsRunning(form->Connect), "Connect ended the program");
        QCOMPARE(closer.seen.size(), boxes);
        QVERIFY(form->MSComm1->PortOpen());
        QCOMPARE(form->lampColor("ConnectState"), Rgb::kGreen);
        QCOMPARE(form->panelText(StatusPanel::Status), QString("Status:COM1"));
        QVERIFY(form->Transmition->isEnabled() && form->Receive->isEnabled());

        form->TransText->setText(QStringLiteral("ok"));
        QVERIFY(clickKeepsRunning(form->Transmition));
        QCOMPARE(board->receive(2), QByteArray("ok"));
        board->send("v");
        QVERIFY(board->waitSlaveHas(1));
        QVERIFY(clickKeepsRunning(form->Receive));
        QCOMPARE(form->RexText->text(), QString("v"));
        QCOMPARE(closer.seen.size(), boxes);
    }

private slots:
    void initTestCase() {
        TestEnv::isolateUserStore();
        TestEnv::setPortDevice(2, "/nonexistent/velmora-test-com2");
    }

    void init() {
        plugInBoard();
        form = WindowChecks::startWindow();
        QVERIFY(WindowChecks::showAndConnect(*form));
        QVERIFY(form->Timer1->isActive());
    }

    void cleanup() {
        form.reset();
        board.reset();
    }

    // Nobody clicks after the cable is pulled: no busy loop, no box, and the
    // connection timer keeps ticking. Until a command uses the line the
    // window goes on showing the link as it was.
    void idleAfterPulledCable_data() {
        QTest::addColumn<QByteArray>("unread");  // the board's bytes nobody took
        QTest::addColumn<int>("sending");        // length of a send still going out
        QTest::newRow("idle line") << QByteArray() << 0;
        QTest::newRow("board's bytes unread") << QByteArray("hello") << 0;
        // Far more than the system takes at once: most of it still waits in
        // the program when the cable goes.
        QTest::newRow("send still going") << QByteArray() << 200000;
    }
    void idleAfterPulledCable() {
        QFETCH(QByteArray, unread);
        QFETCH(int, sending);
        if (!unread.isEmpty()) {
            board->send(unread);
            QVERIFY(board->waitSlaveHas(int(unread.size())));
        }
        if (sending > 0) {
            form->TransText->setText(QString(sending, u'x'));
            form->Transmition->click();
            // The window draws the long message line now, not in the measured
            // time. The board reads nothing, so most of the text stays queued
            // in the program.
            QTest::qWait(100);
            QVERIFY(board->pending() < sending);
        }

        board->hangUp();
        BoxCloser closer;
        TickRecorder ticks(form->Timer1);
        QElapsedTimer wall;
        wall.start();
        const double cpuBefore = cpuMs();
        QTest::qWait(600);
        const double used = cpuMs() - cpuBefore;
        const qint64 elapsed = wall.elapsed();

        qInfo("after the hang-up: %.1f ms CPU in %lld ms, %lld tick(s)", used, elapsed,
              qint64(ticks.count()));
        QVERIFY2(used < 0.15 * double(elapsed),
                 qPrintable(
                     QString("busy after the hang-up: %1 ms CPU in %2 ms").arg(used).arg(elapsed)));
        QCOMPARE(closer.seen.size(), 0);
        QVERIFY(ticks.count() >= 1);
        QVERIFY2(ticks.largestGapMs() < 1500,
                 qPrintable(QString("no tick for %1 ms").arg(ticks.largestGapMs())));
        QVERIFY(form->MSComm1->PortOpen());
        QCOMPARE(form->lampColor("ConnectState"), Rgb::kGreen);
        QCOMPARE(form->panelText(StatusPanel::Status), QString("Status:COM1"));
        QVERIFY(form->Transmition->isEnabled() && form->Receive->isEnabled());
    }

    // Each command that uses the dead line reports its error in the standard
    // report, once per click, and the program goes on.
    void commandAfterPulledCable_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("error");
        QTest::newRow("Transmition") << "Transmition" << 8021;
        QTest::newRow("Receive") << "Receive" << 8020;
        QTest::newRow("speed change") << "BaoudRate4800" << 8020;
    }
    void commandAfterPulledCable() {
        QFETCH(QString, control);
        QFETCH(int, error);
        auto* button = form->findChild<QAbstractButton*>(control);
        QVERIFY(button);
        form->TransText->setText(QStringLiteral("A"));
        pullCableAndIdle();

        BoxCloser closer;
        for (int click = 1; click <= 2; ++click) {
            QVERIFY2(clickKeepsRunning(button), "the report ended the program");
            QCOMPARE(closer.seen.size(), click);
            QCOMPARE(closer.seen.last().title, QString("Velmora"));
            QVERIFY2(closer.seen.last().text.contains(QString::number(error)),
                     qPrintable(closer.seen.last().text));
        }

        // Still running: the timer ticks on and no further box comes by itself.
        TickRecorder ticks(form->Timer1);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 2, 3000);
        QCOMPARE(closer.seen.size(), 2);

        disconnectAndReconnect(closer);
    }

    // A caller's acknowledgement wait on the dead line ends at its first read
    // with the error; nothing is shown.
    void queryAckAfterPulledCable() {
        pullCableAndIdle();
        BoxCloser closer;
        form->QueryLoopCt = 55;
        int raised = 0;
        try {
            form->QueryAck(QStringLiteral("K"));
        } catch (const MSCommError& e) {
            raised = e.number();
        }
        QCOMPARE(raised, 8020);
        QCOMPARE(int(form->QueryLoopCt), 0);
        QCOMPARE(closer.seen.size(), 0);

        disconnectAndReconnect(closer);
    }
};

QTEST_MAIN(HangUpTest)
#include "tst_hangup.moc"
