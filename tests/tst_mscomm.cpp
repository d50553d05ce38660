// The serial component MSComm on its own, against a pseudo-terminal playing
// the board. Between a board send and a read of Input the event loop is held
// (as the window's acknowledgement wait holds it): the tests wait on the
// device itself (PtyBoard::waitSlaveHas), never with QTest::qWait.
#include "serial/CodePage.h"
#include "serial/MSComm.h"
#include "serial/SerialSettings.h"
#include "support/ErrorOf.h"
#include "support/LineProbe.h"
#include "support/OpenCom1.h"
#include "support/PtyBoard.h"
#include "support/TestEnv.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <memory>

namespace {

double cpuMs() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000.0 +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000.0;
}

QByteArray allBytes() {
    QByteArray all;
    for (int b = 0; b < 256; ++b) all.append(char(b));
    return all;
}

// A text whose code-page bytes cycle through every value, n bytes long.
QByteArray pattern(int n, int step = 7) {
    QByteArray bytes(n, '\0');
    for (int i = 0; i < n; ++i) bytes[i] = char((i * step + i / 256) & 0xFF);
    return bytes;
}

// Runs the event loop while collecting what reaches the board, until n bytes
// have come or timeoutMs passes.
QByteArray collectWithEventLoop(PtyBoard& board, QByteArray got, int n, int timeoutMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (got.size() < n && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        got += board.receiveAll();
        if (got.size() < n) QThread::usleep(500);
    }
    return got;
}

LineProbe::State lineOf(const PtyBoard& board) {
    LineProbe::State s;
    if (!LineProbe::read(board.masterFd(), &s)) qWarning("TCGETS2 failed");
    return s;
}

}  // namespace

class MSCommTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        qunsetenv("VELMORA_COM1");
        qunsetenv("VELMORA_COM2");
    }

    void creationValues() {
        MSComm comm;
        QCOMPARE(comm.CommPort(), short(1));
        QCOMPARE(comm.Settings(), QStringLiteral("9600,n,8,1"));
        QCOMPARE(comm.PortOpen(), false);
        QCOMPARE(comm.InputLen(), short(0));
        QCOMPARE(comm.InputMode(), short(MSComm::comInputModeText));
        QCOMPARE(comm.droppedBytes(), quint64(0));
        QCOMPARE(MSComm::InBufferSize, 1024);
        QCOMPARE(MSComm::OutBufferSize, 512);
    }

    void devicePathFollowsEnvironment() {
        // Without VELMORA_COMn: the ports present, then /dev/ttyS(n-1) (tst_line
        // covers the order); a machine has fewer than 16 of them.
        QCOMPARE(MSComm::devicePath(16), QStringLiteral("/dev/ttyS15"));
        const QString first = MSComm::devicePath(1);
        const QString second = MSComm::devicePath(2);
        QVERIFY(MSComm::devicePath(0).isEmpty());
        QVERIFY(MSComm::devicePath(17).isEmpty());

        TestEnv::setPortDevice(1, QStringLiteral("/dev/pts/77"));
        QCOMPARE(MSComm::devicePath(1), QStringLiteral("/dev/pts/77"));
        QCOMPARE(MSComm::devicePath(2), second);
        TestEnv::setPortDevice(2, QStringLiteral("/dev/pts/78"));
        QCOMPARE(MSComm::devicePath(2), QStringLiteral("/dev/pts/78"));
        qputenv("VELMORA_COM1", "");
        QCOMPARE(MSComm::devicePath(1), first);
    }

    void propertyRanges() {
        MSComm comm;
        QCOMPARE(errorOf([&] { comm.setCommPort(0); }), 380);
        QCOMPARE(errorOf([&] { comm.setCommPort(17); }), 380);
        QCOMPARE(errorOf([&] { comm.setCommPort(-1); }), 380);
        QCOMPARE(comm.CommPort(), short(1));
        QCOMPARE(errorOf([&] { comm.setCommPort(2); }), 0);
        QCOMPARE(comm.CommPort(), short(2));
        QCOMPARE(errorOf([&] { comm.setCommPort(16); }), 0);
        QCOMPARE(errorOf([&] { comm.setCommPort(1); }), 0);

        QCOMPARE(errorOf([&] { comm.setInputLen(-1); }), 380);
        QCOMPARE(comm.InputLen(), short(0));
        QCOMPARE(errorOf([&] { comm.setInputLen(1); }), 0);
        QCOMPARE(comm.InputLen(), short(1));

        QCOMPARE(errorOf([&] { comm.setInputMode(2); }), 380);
        QCOMPARE(errorOf([&] { comm.setInputMode(-1); }), 380);
        QCOMPARE(comm.InputMode(), short(0));
        QCOMPARE(errorOf([&] { comm.setInputMode(MSComm::comInputModeBinary); }), 0);
        QCOMPARE(comm.InputMode(), short(1));
    }

    void settingsParseAndFormat_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("canonical");
        QTest::newRow("9600") << "9600,n,8,1"
                              << "9600,n,8,1";
        QTest::newRow("4800") << "4800,n,8,1"
                              << "4800,n,8,1";
        QTest::newRow("14400") << "14400,n,8,1"
                               << "14400,n,8,1";
        QTest::newRow("upper parity") << "9600,N,8,1"
                                      << "9600,n,8,1";
        QTest::newRow("even 7 2") << "115200,e,7,2"
                                  << "115200,e,7,2";
        QTest::newRow("odd 5 1.5") << "300,O,5,1.5"
                                   << "300,o,5,1.5";
        QTest::newRow("mark 6") << "19200,M,6,1"
                                << "19200,m,6,1";
        QTest::newRow("space") << "1200,s,8,2"
                               << "1200,s,8,2";
        QTest::newRow("blanks around fields") << " 9600 , n , 8 , 1 "
                                              << "9600,n,8,1";
        QTest::newRow("leading zeros") << "009600,n,8,1"
                                       << "9600,n,8,1";
        QTest::newRow("lowest speed") << "1,n,8,1"
                                      << "1,n,8,1";
        QTest::newRow("highest speed") << "4000000,n,8,1"
                                       << "4000000,n,8,1";
    }

    void settingsParseAndFormat() {
        QFETCH(QString, text);
        QFETCH(QString, canonical);

        const auto parsed = SerialSettings::parse(text);
        QVERIFY(parsed.has_value());
        QCOMPARE(SerialSettings::format(*parsed), canonical);
        QCOMPARE(SerialSettings::parse(canonical), parsed);

        MSComm comm;
        QCOMPARE(errorOf([&] { comm.setSettings(text); }), 0);
        QCOMPARE(comm.Settings(), canonical);
    }

    void invalidSettings_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("speed only") << "9600";
        QTest::newRow("three fields") << "9600,n,8";
        QTest::newRow("five fields") << "9600,n,8,1,1";
        QTest::newRow("trailing comma") << "9600,n,8,1,";
        QTest::newRow("bad parity") << "9600,x,8,1";
        QTest::newRow("empty parity") << "9600,,8,1";
        QTest::newRow("two parity letters") << "9600,nn,8,1";
        QTest::newRow("parity word") << "9600,none,8,1";
        QTest::newRow("9 data bits") << "9600,n,9,1";
        QTest::newRow("4 data bits") << "9600,n,4,1";
        QTest::newRow("3 stop bits") << "9600,n,8,3";
        QTest::newRow("0 stop bits") << "9600,n,8,0";
        QTest::newRow("stop 1.0") << "9600,n,8,1.0";
        QTest::newRow("stop 1.5.") << "9600,n,8,1.5.";
        QTest::newRow("letters for speed") << "abc,n,8,1";
        QTest::newRow("negative speed") << "-9600,n,8,1";
        QTest::newRow("plus sign") << "+9600,n,8,1";
        QTest::newRow("zero speed") << "0,n,8,1";
        QTest::newRow("too fast") << "4000001,n,8,1";
        QTest::newRow("overflowing speed") << "99999999999999999999,n,8,1";
        QTest::newRow("blank inside speed") << "9 600,n,8,1";
        QTest::newRow("decimal speed") << "9600.0,n,8,1";
        QTest::newRow("semicolons") << "9600;n;8;1";
        QTest::newRow("Arabic-Indic digits") << QString::fromUtf8("\u0669\u0666\u0660\u0660,n,8,1");
        QTest::newRow("full-width digit bits") << QString::fromUtf8("9600,n,\uFF18,1");
    }

    void invalidSettings() {
        QFETCH(QString, text);
        QVERIFY(!SerialSettings::parse(text).has_value());

        MSComm comm;
        comm.setSettings(QStringLiteral("4800,e,7,2"));
        QCOMPARE(errorOf([&] { comm.setSettings(text); }), 380);
        QCOMPARE(comm.Settings(), QStringLiteral("4800,e,7,2"));
    }

    void openAndClose() {
        PluggedBoard board;
        MSComm comm;
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 0);
        QVERIFY(comm.PortOpen());
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 0);  // already open: nothing happens
        QVERIFY(comm.PortOpen());

        QCOMPARE(errorOf([&] { comm.setCommPort(2); }), 8000);
        QCOMPARE(comm.CommPort(), short(1));

        QCOMPARE(errorOf([&] { comm.setPortOpen(false); }), 0);
        QVERIFY(!comm.PortOpen());
        QCOMPARE(errorOf([&] { comm.setPortOpen(false); }), 0);  // closing a closed port

        // Open again, and on the other port.
        PluggedBoard board2(2);
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 0);
        QCOMPARE(errorOf([&] { comm.setPortOpen(false); }), 0);
        comm.setCommPort(2);
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 0);
        comm.setOutput(QStringLiteral("2"));
        QCOMPARE(board2.receive(1), QByteArray("2"));
        QCOMPARE(board.pending(), 0);
        comm.setPortOpen(false);
    }

    void busyPort() {
        PluggedBoard board;

        // Another program's exclusive-use flag on the device.
        const int holder =
            ::open(QFile::encodeName(board.slavePath()).constData(), O_RDWR | O_NOCTTY);
        QVERIFY(holder >= 0);
        QCOMPARE(::ioctl(holder, TIOCEXCL), 0);

        MSComm comm;
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 8005);
        QVERIFY(!comm.PortOpen());
        QCOMPARE(errorOf([&] { comm.Input(); }), 8012);

        QCOMPARE(::ioctl(holder, TIOCNXCL), 0);
        ::close(holder);
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 0);
        QVERIFY(comm.PortOpen());

        // Now the component holds it: a second opener is refused.
        MSComm second;
        QCOMPARE(errorOf([&] { second.setPortOpen(true); }), 8005);
    }

    void absentPort() {
        QTemporaryDir dir;
        MSComm comm;
        TestEnv::setPortDevice(1, dir.filePath(QStringLiteral("no-such-device")));
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 8002);
        QVERIFY(!comm.PortOpen());

        TestEnv::setPortDevice(1, dir.filePath(QStringLiteral("missing-dir/ttyX")));
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 8002);
        QVERIFY(!comm.PortOpen());

        // COM2 with no override is /dev/ttyS1: absent or not usable here, but
        // never a success that leaves the port half open.
        comm.setCommPort(2);
        const int e = errorOf([&] { comm.setPortOpen(true); });
        if (e == 0) {
            comm.setPortOpen(false);
        } else {
            QVERIFY2(e == 8002 || e == 8005 || e == 8010, qPrintable(QString::number(e)));
            QVERIFY(!comm.PortOpen());
        }
    }

    void notASerialDevice() {
        QTemporaryDir dir;
        MSComm comm;
        TestEnv::setPortDevice(1, dir.path());
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 8010);
        QVERIFY(!comm.PortOpen());

        QTemporaryFile file;
        QVERIFY(file.open());
        file.write("not a tty");
        file.flush();
        TestEnv::setPortDevice(1, file.fileName());
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 8010);
        QVERIFY(!comm.PortOpen());

        // A character device that is no terminal.
        TestEnv::setPortDevice(1, QStringLiteral("/dev/null"));
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 8010);
        QVERIFY(!comm.PortOpen());

        // And a working device still opens afterwards.
        PluggedBoard board;
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 0);
    }

    void closedPortUse() {
        MSComm comm;
        QCOMPARE(errorOf([&] { comm.Input(); }), 8012);
        QCOMPARE(errorOf([&] { comm.setOutput(QStringLiteral("A")); }), 8012);
        QCOMPARE(errorOf([&] { comm.setOutput(QString()); }), 8012);
        QCOMPARE(errorOf([&] { comm.InBufferCount(); }), 8012);
        // Settings, port, length and mode may be set while closed.
        QCOMPARE(errorOf([&] { comm.setSettings(QStringLiteral("4800,n,8,1")); }), 0);
        QCOMPARE(comm.Settings(), QStringLiteral("4800,n,8,1"));
    }

    void speedChangeOnOpenPort() {
        OpenCom1 com1;
        QCOMPARE(lineOf(com1.board).outputSpeed, 9600u);
        QCOMPARE(lineOf(com1.board).dataBits, 8);
        QCOMPARE(lineOf(com1.board).parity, 'n');
        QCOMPARE(lineOf(com1.board).twoStopBits, false);

        const struct {
            const char* text;
            unsigned speed;
        } steps[] = {{"4800,n,8,1", 4800},   {"9600,n,8,1", 9600}, {"14400,n,8,1", 14400},
                     {"14400,n,8,1", 14400}, {"4800,n,8,1", 4800}, {"9600,n,8,1", 9600}};
        for (const auto& step : steps) {
            QCOMPARE(errorOf([&] { com1.comm.setSettings(QString::fromLatin1(step.text)); }), 0);
            QVERIFY(com1.comm.PortOpen());  // applied without closing
            QCOMPARE(com1.comm.Settings(), QString::fromLatin1(step.text));
            const LineProbe::State line = lineOf(com1.board);
            QCOMPARE(line.outputSpeed, step.speed);
            QCOMPARE(line.inputSpeed, step.speed);
            QCOMPARE(line.dataBits, 8);
            QCOMPARE(line.parity, 'n');
        }

        // Still the same open link: data flows both ways at the new speed.
        com1.comm.setSettings(QStringLiteral("14400,n,8,1"));
        com1.comm.setOutput(QStringLiteral("ok"));
        QCOMPARE(com1.board.receive(2), QByteArray("ok"));
        com1.board.send("U");
        QVERIFY(com1.board.waitSlaveHas(1));
        com1.comm.setInputLen(1);
        QCOMPARE(com1.comm.Input(), QStringLiteral("U"));
    }

    void openAtChosenSpeed() {
        OpenCom1 com1(QStringLiteral("14400,n,8,1"));
        QCOMPARE(lineOf(com1.board).outputSpeed, 14400u);
        QCOMPARE(com1.comm.Settings(), QStringLiteral("14400,n,8,1"));
        com1.comm.setPortOpen(false);

        com1.comm.setSettings(QStringLiteral("4800,n,8,1"));
        com1.comm.setPortOpen(true);
        QCOMPARE(lineOf(com1.board).outputSpeed, 4800u);
    }

    void otherLineFields() {
        OpenCom1 com1;

        com1.comm.setSettings(QStringLiteral("19200,N,8,2"));
        QCOMPARE(com1.comm.Settings(), QStringLiteral("19200,n,8,2"));
        LineProbe::State line = lineOf(com1.board);
        QCOMPARE(line.outputSpeed, 19200u);
        QCOMPARE(line.dataBits, 8);
        QCOMPARE(line.parity, 'n');
        QCOMPARE(line.twoStopBits, true);

        com1.comm.setSettings(QStringLiteral("9600,n,8,1"));
        line = lineOf(com1.board);
        QCOMPARE(line.outputSpeed, 9600u);
        QCOMPARE(line.twoStopBits, false);

        // An invalid string on an open port changes nothing, on the line either.
        com1.comm.setSettings(QStringLiteral("4800,n,8,1"));
        QCOMPARE(errorOf([&] { com1.comm.setSettings(QStringLiteral("14400,q,8,1")); }), 380);
        QCOMPARE(com1.comm.Settings(), QStringLiteral("4800,n,8,1"));
        QCOMPARE(lineOf(com1.board).outputSpeed, 4800u);
        QVERIFY(com1.comm.PortOpen());
    }

    void refusedSettings() {
        OpenCom1 com1(QStringLiteral("4800,n,8,1"));

        // A terminal line has no 1.5 stop bits: refused before the line is touched.
        QCOMPARE(errorOf([&] { com1.comm.setSettings(QStringLiteral("9600,n,5,1.5")); }), 8015);
        QVERIFY(com1.comm.PortOpen());
        QCOMPARE(com1.comm.Settings(), QStringLiteral("4800,n,8,1"));
        QCOMPARE(lineOf(com1.board).outputSpeed, 4800u);
        QCOMPARE(lineOf(com1.board).dataBits, 8);
        // The port still works.
        com1.comm.setOutput(QStringLiteral("x"));
        QCOMPARE(com1.board.receive(1), QByteArray("x"));

        // A pseudo-terminal keeps 8 data bits and no parity whatever it is told
        // (Linux pty_set_termios): the component reports what the line really has.
        QCOMPARE(errorOf([&] { com1.comm.setSettings(QStringLiteral("19200,e,7,2")); }), 8015);
        LineProbe::State line = lineOf(com1.board);
        QCOMPARE(line.dataBits, 8);
        QCOMPARE(line.parity, 'n');
        QCOMPARE(com1.comm.Settings(),
                 QStringLiteral("%1,n,8,%2").arg(line.outputSpeed).arg(line.twoStopBits ? 2 : 1));
        QVERIFY(com1.comm.PortOpen());
        QCOMPARE(errorOf([&] { com1.comm.setSettings(QStringLiteral("9600,m,8,1")); }), 8015);
        QCOMPARE(com1.comm.Settings().section(QLatin1Char(','), 1), QStringLiteral("n,8,1"));
        QCOMPARE(errorOf([&] { com1.comm.setSettings(QStringLiteral("9600,n,8,1")); }), 0);
        QCOMPARE(com1.comm.Settings(), QStringLiteral("9600,n,8,1"));

        // Chosen while closed, a setting is kept; opening then fails and the
        // port stays closed.
        com1.comm.setPortOpen(false);
        QCOMPARE(errorOf([&] { com1.comm.setSettings(QStringLiteral("9600,n,8,1.5")); }), 0);
        QCOMPARE(com1.comm.Settings(), QStringLiteral("9600,n,8,1.5"));
        QCOMPARE(errorOf([&] { com1.comm.setPortOpen(true); }), 8015);
        QVERIFY(!com1.comm.PortOpen());
        com1.comm.setSettings(QStringLiteral("9600,o,8,1"));
        QCOMPARE(errorOf([&] { com1.comm.setPortOpen(true); }), 8015);
        QVERIFY(!com1.comm.PortOpen());
        QCOMPARE(com1.comm.Settings(), QStringLiteral("9600,o,8,1"));
        com1.comm.setSettings(QStringLiteral("9600,n,8,1"));
        QCOMPARE(errorOf([&] { com1.comm.setPortOpen(true); }), 0);
        com1.comm.setOutput(QStringLiteral("y"));
        QCOMPARE(com1.board.receive(1), QByteArray("y"));
    }

    void inputEmptyAndOneCharacter() {
        OpenCom1 com1;
        com1.comm.setInputLen(1);

        QCOMPARE(com1.comm.Input(), QString());
        QCOMPARE(com1.comm.InBufferCount(), 0);
        com1.board.send("U");
        QVERIFY(com1.board.waitSlaveHas(1));
        const QString s = com1.comm.Input();
        QCOMPARE(s, QStringLiteral("U"));
        QCOMPARE(com1.comm.Input(), QString());
        QCOMPARE(com1.comm.Input(), QString());
    }

    void inputArrivalOrder() {
        OpenCom1 com1;
        com1.comm.setInputLen(1);

        com1.board.send("ABC");
        QVERIFY(com1.board.waitSlaveHas(3));
        QCOMPARE(com1.comm.Input(), QStringLiteral("A"));
        com1.board.send("D");
        QVERIFY(com1.board.waitSlaveHas(1));
        QCOMPARE(com1.comm.Input(), QStringLiteral("B"));
        QCOMPARE(com1.comm.Input(), QStringLiteral("C"));
        QCOMPARE(com1.comm.Input(), QStringLiteral("D"));
        QCOMPARE(com1.comm.Input(), QString());

        com1.comm.setInputLen(2);
        com1.board.send("WXYZV");
        QVERIFY(com1.board.waitSlaveHas(5));
        QCOMPARE(com1.comm.InBufferCount(), 5);
        QCOMPARE(com1.comm.Input(), QStringLiteral("WX"));
        QCOMPARE(com1.comm.Input(), QStringLiteral("YZ"));
        QCOMPARE(com1.comm.Input(), QStringLiteral("V"));
        QCOMPARE(com1.comm.Input(), QString());

        com1.comm.setInputLen(0);
        com1.board.send("hello");
        QVERIFY(com1.board.waitSlaveHas(5));
        QCOMPARE(com1.comm.Input(), QStringLiteral("hello"));
        QCOMPARE(com1.comm.Input(), QString());

        // Bytes already taken from the event loop come before later ones.
        com1.board.send("12");
        QVERIFY(com1.board.waitSlaveHas(2));
        QTest::qWait(50);  // the event loop drains them into the buffer
        com1.board.send("34");
        QVERIFY(com1.board.waitSlaveHas(2));
        QCOMPARE(com1.comm.Input(), QStringLiteral("1234"));
    }

    void everyByteBoardToInput() {
        OpenCom1 com1;

        const QByteArray all = allBytes();
        com1.board.send(all);
        QVERIFY(com1.board.waitSlaveHas(256));
        const QString text = com1.comm.Input();
        QCOMPARE(text.size(), qsizetype(256));
        QCOMPARE(text, CodePage::fromAnsi(all));
        QCOMPARE(CodePage::toAnsi(text), all);

        // One at a time, each byte is one character.
        com1.comm.setInputLen(1);
        com1.board.send(all);
        QVERIFY(com1.board.waitSlaveHas(256));
        for (int b = 0; b < 256; ++b) {
            const QString c = com1.comm.Input();
            QCOMPARE(c.size(), qsizetype(1));
            QCOMPARE(CodePage::firstCharCode(c), b);
        }
        QCOMPARE(com1.comm.Input(), QString());
    }

    void everyByteOutputToBoard() {
        OpenCom1 com1;

        const QByteArray all = allBytes();
        com1.comm.setOutput(CodePage::fromAnsi(all));
        QCOMPARE(com1.board.receive(256), all);

        // Characters outside the page go as one '?' each; an empty text sends nothing.
        com1.comm.setOutput(QString::fromUcs4(U"\u20AC\u03B1\U0001F600z"));
        QCOMPARE(com1.board.receive(4), QByteArray("\x80??z"));
        com1.comm.setOutput(QString());
        QTest::qWait(20);
        QCOMPARE(com1.board.receiveAll(), QByteArray());
    }

    void inputBinaryMode() {
        OpenCom1 com1;
        com1.comm.setInputMode(MSComm::comInputModeBinary);
        com1.board.send(
            "\x80\xff"
            "A");
        QVERIFY(com1.board.waitSlaveHas(3));
        const QString s = com1.comm.Input();
        QCOMPARE(s.size(), qsizetype(3));
        QCOMPARE(s.at(0).unicode(), char16_t(0x80));  // the byte value itself
        QCOMPARE(s.at(1).unicode(), char16_t(0xFF));
        QCOMPARE(s.at(2), QLatin1Char('A'));
    }

    void longOutputWholeAndInOrder() {
        OpenCom1 com1;

        const QByteArray big = pattern(64 * 1024);
        const QByteArray tail("<end of text>");
        com1.comm.setOutput(CodePage::fromAnsi(big));  // far more than the 512-byte transmit buffer
        com1.comm.setOutput(CodePage::fromAnsi(tail));  // queued behind the rest

        // Without the event loop the system already has the first part.
        QByteArray got = com1.board.receive(1024, 2000);
        QCOMPARE(got.size(), qsizetype(1024));
        QThread::msleep(50);
        got += com1.board.receiveAll();
        const qsizetype withoutLoop = got.size();
        QVERIFY(withoutLoop < big.size() + tail.size());  // the remainder waits for the loop

        got = collectWithEventLoop(com1.board, got, int(big.size() + tail.size()));
        QCOMPARE(got.size(), big.size() + tail.size());
        QVERIFY(got == big + tail);
        QCOMPARE(com1.board.receive(1, 100), QByteArray());  // nothing more
    }

    void outputFlushesWhileCallerPollsInput() {
        OpenCom1 com1;
        com1.comm.setInputLen(1);

        const QByteArray big = pattern(48 * 1024, 13);
        com1.comm.setOutput(CodePage::fromAnsi(big));
        // The caller holds the thread and only polls Input (an acknowledgement
        // wait); the board reads meanwhile. Everything still goes out.
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        while (got.size() < big.size() && clock.elapsed() < 10000) {
            QCOMPARE(com1.comm.Input(), QString());
            got += com1.board.receiveAll();
        }
        QVERIFY(got == big);
    }

    void receiveBufferKeepsOldest() {
        OpenCom1 com1;

        const QByteArray sent = pattern(3000, 11);
        com1.board.send(sent);
        QVERIFY(com1.board.waitSlaveHas(3000));
        QCOMPARE(com1.comm.InBufferCount(), 1024);
        QCOMPARE(com1.comm.droppedBytes(), quint64(3000 - 1024));
        const QString text = com1.comm.Input();
        QCOMPARE(text, CodePage::fromAnsi(sent.left(1024)));
        QCOMPARE(com1.comm.Input(), QString());

        // Room again: new bytes are kept.
        com1.board.send("xyz");
        QVERIFY(com1.board.waitSlaveHas(3));
        QCOMPARE(com1.comm.Input(), QStringLiteral("xyz"));
        QCOMPARE(com1.comm.droppedBytes(), quint64(3000 - 1024));

        // A partly full buffer takes what fits, oldest first.
        com1.board.send(pattern(1000, 3));
        QVERIFY(com1.board.waitSlaveHas(1000));
        QCOMPARE(com1.comm.InBufferCount(), 1000);
        com1.board.send(pattern(100, 5));
        QVERIFY(com1.board.waitSlaveHas(100));
        QCOMPARE(com1.comm.InBufferCount(), 1024);
        QCOMPARE(com1.comm.droppedBytes(), quint64(3000 - 1024 + 76));
        QCOMPARE(com1.comm.Input(), CodePage::fromAnsi(pattern(1000, 3) + pattern(24, 5)));
    }

    void receiveBufferDrainedFromEventLoop() {
        OpenCom1 com1;
        const QByteArray sent = pattern(3000, 11);
        com1.board.send(sent);
        // Nobody reads Input: the component keeps draining the system from the
        // event loop, keeps the oldest 1024 bytes and counts the rest.
        QElapsedTimer clock;
        clock.start();
        while (com1.comm.droppedBytes() < quint64(3000 - 1024) && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCOMPARE(com1.comm.droppedBytes(), quint64(3000 - 1024));
        QCOMPARE(com1.comm.Input(), CodePage::fromAnsi(sent.left(1024)));

        // A steady stream: memory stays bounded, the newest bytes are dropped.
        for (int i = 0; i < 20; ++i) {
            com1.board.send(pattern(2000, 7));
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QVERIFY(com1.comm.InBufferCount() <= MSComm::InBufferSize);
        }
        QTest::qWait(50);
        QCOMPARE(com1.comm.InBufferCount(), 1024);
        QCOMPARE(com1.comm.droppedBytes(), quint64(3000 - 1024 + 20 * 2000 - 1024));
        QCOMPARE(com1.comm.Input(), CodePage::fromAnsi(pattern(1024, 7)));
    }

    void notifierRaceIsNoHangUp() {
        // Another event handler (here: a pipe's, registered first) takes the
        // bytes through Input in the same loop pass in which QSerialPort's read
        // notifier fires; QSerialPort then finds nothing to read and reports an
        // error. That must not pass for a hang-up.
        int pipeFds[2];
        QCOMPARE(::pipe(pipeFds), 0);
        QSocketNotifier pipeNotifier(pipeFds[0], QSocketNotifier::Read);

        OpenCom1 com1;
        QString got;
        connect(&pipeNotifier, &QSocketNotifier::activated, &com1.comm, [&] {
            char c;
            if (::read(pipeFds[0], &c, 1) != 1) return;
            try {
                got += com1.comm.Input();
            } catch (const MSCommError& e) {
                got += QStringLiteral("<error %1>").arg(e.number());
            }
        });

        for (int round = 0; round < 5; ++round) {
            const QByteArray chunk = QByteArray::number(round) + "abc";
            com1.board.send(chunk);
            QVERIFY(com1.board.waitSlaveHas(int(chunk.size())));
            QCOMPARE(::write(pipeFds[1], "x", 1), ssize_t(1));
            QTest::qWait(30);
        }
        QCOMPARE(got, QStringLiteral("0abc1abc2abc3abc4abc"));
        QVERIFY(com1.comm.PortOpen());
        QCOMPARE(errorOf([&] { com1.comm.Input(); }), 0);
        QCOMPARE(errorOf([&] { com1.comm.setOutput(QStringLiteral("k")); }), 0);
        QCOMPARE(com1.board.receive(1), QByteArray("k"));

        // And the event loop still drains the line by itself afterwards.
        const quint64 before = com1.comm.droppedBytes();
        com1.board.send(pattern(3000));
        QElapsedTimer clock;
        clock.start();
        while (com1.comm.droppedBytes() < before + 3000 - 1024 && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCOMPARE(com1.comm.droppedBytes(), before + 3000 - 1024);

        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
    }

    void hangUpStaysQuiet() {
        auto board = std::make_unique<PluggedBoard>();
        MSComm comm;
        comm.setInputLen(1);
        comm.setPortOpen(true);
        board->send("AB");
        QVERIFY(board->waitSlaveHas(2));

        board->hangUp();  // the cable is pulled
        const double cpuBefore = cpuMs();
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(300);
        const double used = cpuMs() - cpuBefore;
        qInfo("CPU used during 300 ms after the hang-up: %.1f ms", used);
        QVERIFY2(used < 50.0, qPrintable(QStringLiteral("busy loop: %1 ms CPU").arg(used)));

        QVERIFY(comm.PortOpen());  // until the user closes it
        QCOMPARE(errorOf([&] { comm.Input(); }), 8020);
        QCOMPARE(errorOf([&] { comm.Input(); }), 8020);
        QCOMPARE(errorOf([&] { comm.setOutput(QStringLiteral("A")); }), 8021);
        QCOMPARE(errorOf([&] { comm.setSettings(QStringLiteral("4800,n,8,1")); }), 8020);
        QCOMPARE(comm.Settings(), QStringLiteral("9600,n,8,1"));
        QCOMPARE(errorOf([&] { comm.setSettings(QStringLiteral("bad")); }), 380);
        QCOMPARE(errorOf([&] { comm.InBufferCount(); }), 8020);
        QCOMPARE(errorOf([&] { comm.setCommPort(2); }), 8000);
        QVERIFY(comm.PortOpen());

        // Still quiet after the errors.
        const double cpuAgain = cpuMs();
        QTest::qWait(100);
        QVERIFY(cpuMs() - cpuAgain < 30.0);

        QCOMPARE(errorOf([&] { comm.setPortOpen(false); }), 0);
        QVERIFY(!comm.PortOpen());
        QCOMPARE(errorOf([&] { comm.Input(); }), 8012);

        // The device is back (a new board as COM1): opening works again.
        board = std::make_unique<PluggedBoard>();
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 0);
        QVERIFY(comm.PortOpen());
        board->send("Z");
        QVERIFY(board->waitSlaveHas(1));
        QCOMPARE(comm.Input(), QStringLiteral("Z"));
        comm.setOutput(QStringLiteral("ok"));
        QCOMPARE(board->receive(2), QByteArray("ok"));
    }

    void hangUpSeenByInputAtOnce() {
        OpenCom1 com1;
        com1.board.hangUp();
        // No event loop in between: the read itself finds the line gone.
        QCOMPARE(errorOf([&] { com1.comm.Input(); }), 8020);
        QCOMPARE(errorOf([&] { com1.comm.setOutput(QStringLiteral("A")); }), 8021);
        QVERIFY(com1.comm.PortOpen());

        const double cpuBefore = cpuMs();
        QTest::qWait(300);
        QVERIFY(cpuMs() - cpuBefore < 50.0);
        QCOMPARE(errorOf([&] { com1.comm.setPortOpen(false); }), 0);
        QVERIFY(!com1.comm.PortOpen());
    }

    void hangUpSeenByOutputAtOnce() {
        OpenCom1 com1;
        com1.board.hangUp();
        QCOMPARE(errorOf([&] { com1.comm.setOutput(QStringLiteral("A")); }), 8021);
        QCOMPARE(errorOf([&] { com1.comm.Input(); }), 8020);

        PluggedBoard board2;
        QCOMPARE(errorOf([&] { com1.comm.setPortOpen(false); }), 0);
        QCOMPARE(errorOf([&] { com1.comm.setPortOpen(true); }), 0);
        com1.comm.setOutput(QStringLiteral("B"));
        QCOMPARE(board2.receive(1), QByteArray("B"));
    }

    void hangUpWithOutputPending() {
        OpenCom1 com1;
        com1.comm.setOutput(CodePage::fromAnsi(pattern(128 * 1024)));  // much left for the loop
        com1.board.hangUp();

        const double cpuBefore = cpuMs();
        QTest::qWait(300);
        const double used = cpuMs() - cpuBefore;
        QVERIFY2(used < 50.0, qPrintable(QStringLiteral("busy loop: %1 ms CPU").arg(used)));
        QVERIFY(com1.comm.PortOpen());
        QCOMPARE(errorOf([&] { com1.comm.setOutput(QStringLiteral("A")); }), 8021);
        QCOMPARE(errorOf([&] { com1.comm.setPortOpen(false); }), 0);
    }

    void reopenAfterHangUpWithoutClosing() {
        auto board = std::make_unique<PluggedBoard>();
        MSComm comm;
        comm.setPortOpen(true);
        board->hangUp();
        QTest::qWait(50);
        QCOMPARE(errorOf([&] { comm.Input(); }), 8020);

        // Setting PortOpen true again drops the dead line and opens anew.
        board = std::make_unique<PluggedBoard>();
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 0);
        QVERIFY(comm.PortOpen());
        board->send("Q");
        QVERIFY(board->waitSlaveHas(1));
        QCOMPARE(comm.Input(), QStringLiteral("Q"));
    }

    void destructorReleasesPort() {
        PluggedBoard board;
        {
            MSComm comm;
            comm.setPortOpen(true);
            comm.setOutput(CodePage::fromAnsi(pattern(64 * 1024)));  // still sending
        }
        // Nothing holds it any more: no exclusive-use flag, no flock.
        int exclusive = 1;
        QCOMPARE(::ioctl(board.slaveFd(), TIOCGEXCL, &exclusive), 0);
        QCOMPARE(exclusive, 0);
        const int other =
            ::open(QFile::encodeName(board.slavePath()).constData(), O_RDWR | O_NOCTTY);
        QVERIFY(other >= 0);
        QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), 0);
        ::close(other);

        MSComm again;
        QCOMPARE(errorOf([&] { again.setPortOpen(true); }), 0);
    }
};

QTEST_GUILESS_MAIN(MSCommTest)
#include "tst_mscomm.moc"
