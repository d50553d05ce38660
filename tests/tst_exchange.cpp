// Data exchange against the real window and a pseudo-terminal board: sending
// the box's text, taking one character per click, the acknowledgement wait,
// a pulled cable, and a typical run end to end.
//
// The board's bytes are waited for with FIONREAD (PtyBoard::waitSlaveHas,
// PtyBoard::receive), never with sleeps; no Qt event loop runs between a
// handler and the check of what it put on the line unless a test says so.
#include "serial/MSComm.h"
#include "support/LampColours.h"
#include "support/PtyBoard.h"
#include "support/TestEnv.h"
#include "support/WindowChecks.h"
#include "ui/ProgressBar.h"
#include "ui/StatusBar.h"
#include "ui/frmMain.h"

#include <QAbstractEventDispatcher>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QtTest>

#include <poll.h>

#include <functional>
#include <memory>

using WindowChecks::clickKeepsRunning;
using WindowChecks::inkWidth;

namespace {

// The lamps of a row that are lit, as bit digits ("06" for code 65); a lamp
// neither red nor black shows as "?".
QString litBits(const frmMain& f, const char* prefix) {
    QString lit;
    for (int k = 0; k < 8; ++k) {
        const QRgb c = f.lampColor(QString::fromLatin1(prefix) + QString::number(k));
        if (c == Rgb::kRed)
            lit += QString::number(k);
        else if (c != Rgb::kBlack)
            lit += u'?';
    }
    return lit;
}

QString bitsOf(int code) {
    QString lit;
    for (int k = 0; k < 8; ++k)
        if ((code >> k) & 1) lit += QString::number(k);
    return lit;
}

QByteArray byte(int b) {
    return QByteArray(1, char(b));
}

// Printable form of bytes for failure messages.
QByteArray shown(const QByteArray& bytes) {
    return bytes.size() > 80
               ? bytes.left(40).toHex(' ') + " ... (" + QByteArray::number(bytes.size()) + " bytes)"
               : bytes.toHex(' ');
}

// Ends what the board is to check: the program's own bytes are followed by
// this marker, so "nothing else arrived" needs no waiting for silence.
const QByteArray kMarker = QByteArrayLiteral("#end#");

// Blocks until fd has bytes to read or timeoutMs passes; no event loop.
void waitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    ::poll(&p, 1, timeoutMs);
}

// Records what the progress bar shows during a wait: the bar's own integer
// (tenths) at every change, and the fractional value the wait handed it.
struct BarRecorder {
    QList<int> tenths;
    QList<float> values;
    std::function<void(int)> onChange;  // runs after each record
    QMetaObject::Connection connection;

    explicit BarRecorder(ProgressBar* bar) {
        connection = QObject::connect(bar, &QProgressBar::valueChanged, [this, bar](int v) {
            tenths << v;
            values << bar->fraction();
            if (onChange) onChange(v);
        });
    }
    ~BarRecorder() { QObject::disconnect(connection); }
};

// 1, 2, ..., n (the tenths after n failed reads), then 1000 when matched.
QList<int> failedThen(int failures, bool matched) {
    QList<int> seq;
    for (int k = 1; k <= failures; ++k) seq << k;
    if (matched && (seq.isEmpty() || seq.last() != 1000)) seq << 1000;
    return seq;
}
}  // namespace

class ExchangeTest : public QObject {
    Q_OBJECT
    std::unique_ptr<PluggedBoard> board;
    std::unique_ptr<frmMain> form;

    // A window started as the program starts it, on a board of its own.
    void startWindow() {
        board = std::make_unique<PluggedBoard>();
        form = WindowChecks::startWindow();
    }

    // The board sends bytes and the system has them before the program looks.
    void boardSends(const QByteArray& bytes) {
        board->send(bytes);
        QVERIFY2(board->waitSlaveHas(int(bytes.size())),
                 "the board's bytes did not reach the program's side");
    }

    // What the board received before the marker: sends the marker through
    // the component and reads the master up to it, with no event loop.
    QByteArray lineUpToMarker() {
        form->MSComm1->setOutput(QString::fromLatin1(kMarker));
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        while (!got.endsWith(kMarker) && clock.elapsed() < 5000) {
            const int waiting = board->pending();
            if (waiting > 0)
                got += board->receive(waiting);
            else
                waitReadable(board->masterFd(), 20);
        }
        return got.endsWith(kMarker) ? got.chopped(kMarker.size()) : "<no marker> " + got;
    }

    // Everything left in the component's receive buffer, leaving InputLen 1.
    QByteArray leftInBuffer() {
        form->MSComm1->setInputLen(0);
        const QString rest = form->MSComm1->Input();
        form->MSComm1->setInputLen(1);
        return rest.toLatin1();  // the tests leave only ASCII behind
    }

    // After a failure the user disconnects, plugs in another board and goes on.
    void stillWorksOnANewBoard() {
        form->Disconnect->click();
        QVERIFY(!form->MSComm1->PortOpen());
        QCOMPARE(form->MessageText->text(), QString(" COM1 disconnect "));
        board = std::make_unique<PluggedBoard>();
        form->Connect->click();
        QVERIFY(form->MSComm1->PortOpen());
        form->TransText->setText(QStringLiteral("ok"));
        form->Transmition->click();
        QCOMPARE(board->receive(2), QByteArray("ok"));
        boardSends("v");
        form->Receive->click();
        QCOMPARE(form->RexText->text(), QString("v"));
    }

private slots:
    void initTestCase() {
        TestEnv::isolateUserStore();
        TestEnv::setPortDevice(2, "/nonexistent/velmora-test-com2");
    }

    void init() {
        startWindow();
        form->Connect_Click();
        QVERIFY(form->MSComm1->PortOpen());
        QVERIFY(form->Transmition->isEnabled() && form->Receive->isEnabled());
    }

    void cleanup() {
        form.reset();  // releases the port before the board goes
        board.reset();
    }

    // Transmit --------------------------------------------------------------

    void transmit_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("txLamps");
        QTest::addColumn<QString>("message");
        auto row = [](const char* name, const QString& box, const QByteArray& line,
                      const char* lamps, const QString& shown) {
            QTest::newRow(name) << box << line << QString::fromLatin1(lamps)
                                << " Transmition <" + shown + "> finish";
        };
        row("A", "A", "A", "06", "A");
        row("blanks around A: row shows the blank", "  A ", "A", "5", "A");
        row("empty: nothing on the line", "", "", "", "");
        row("blanks only: nothing on the line", "   ", "", "5", "");
        row("AB in one go, row shows A", "AB", "AB", "06", "AB");
        row("inner blanks kept", " a  b ", "a  b", "5", "a  b");
        row("tabs are not trimmed", "\tA\t", "\tA\t", "03", "\tA\t");
        row("no-break space is not trimmed", QString(QChar(0xA0)) + "A ",
            QByteArray::fromHex("a041"), "57", QString(QChar(0xA0)) + "A");
        row("line end sent as is, nothing added", "A\n", "A\n", "06", "A\n");
        row("CR LF sent as is", "\r\nA", "\r\nA", "023", "\r\nA");
        row("NUL inside", QString::fromLatin1("A\0B", 3), QByteArray("A\0B", 3), "06",
            QString::fromLatin1("A\0B", 3));
        row("code page 1252", QString::fromUtf8("é€ÿ"), "\xE9\x80\xFF", "03567",
            QString::fromUtf8("é€ÿ"));
        row("outside the code page goes as ?", QString::fromUtf8("中x"), "?x", "012345",
            QString::fromUtf8("中x"));
        row("a character beyond U+FFFF goes as one ?", QString::fromUtf8("\U0001F600x"), "?x",
            "012345", QString::fromUtf8("\U0001F600x"));
        row("markup is text", "<b>A</b>", "<b>A</b>", "2345", "<b>A</b>");
    }
    void transmit() {
        QFETCH(QString, box);
        QFETCH(QByteArray, line);
        QFETCH(QString, txLamps);
        QFETCH(QString, message);
        form->UpdateLED(QStringLiteral("U"));  // the received row is not touched
        form->RexText->setText(QStringLiteral("r"));
        form->UpdateTLED(QString(QChar(0xFF)));  // every transmitted lamp is written
        form->TransText->setText(box);

        form->Transmition_Click();

        // The click itself puts the text on the line: read before any other
        // call into the component and with no event loop.
        if (!line.isEmpty()) QCOMPARE(shown(board->receive(int(line.size()))), shown(line));
        QCOMPARE(shown(lineUpToMarker()), shown(QByteArray()));  // and nothing else
        QCOMPARE(litBits(*form, "TLED"), txLamps);
        QCOMPARE(form->MessageText->text(), message);
        QCOMPARE(form->TransText->text(), box);  // read, never changed
        QCOMPARE(litBits(*form, "LED"), QString("0246"));
        QCOMPARE(form->RexText->text(), QString("r"));
        QVERIFY(form->MSComm1->PortOpen());
        QVERIFY(form->Transmition->isEnabled() && form->Receive->isEnabled());
    }

    void transmitTypedText() {
        // Typed into the box and clicked, as the user does.
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QTest::keyClicks(form->TransText, "  Hi there ");
        QTest::mouseClick(form->Transmition, Qt::LeftButton);
        QCOMPARE(shown(lineUpToMarker()), shown("Hi there"));
        QCOMPARE(form->MessageText->text(), QString(" Transmition <Hi there> finish"));
        QCOMPARE(litBits(*form, "TLED"), QString("5"));
    }

    void transmitLongText() {
        // Tens of kilobytes, beyond the line edit's default limit of 32767
        // and beyond what the system takes at once: the line gets all of it,
        // once, in order, while the event loop runs as it does in the program.
        QByteArray bytes;
        for (int i = 0; i < 50000; ++i) bytes.append(char('!' + (i * 7 + i / 94) % 94));
        bytes.replace(1000, 3, "   ");  // inner blanks stay
        const QString text = QString::fromLatin1(bytes);
        form->TransText->setText("  " + text + " ");
        QCOMPARE(form->TransText->text().size(), text.size() + 3);

        form->Transmition_Click();
        QCOMPARE(form->MessageText->text(), " Transmition <" + text + "> finish");
        QCOMPARE(litBits(*form, "TLED"), QString("5"));

        form->MSComm1->setOutput(QString::fromLatin1(kMarker));
        const qsizetype want = bytes.size() + kMarker.size();
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        while (got.size() < want && clock.elapsed() < 20000) {
            QCoreApplication::processEvents();
            got += board->receiveAll();
            if (got.size() < want) waitReadable(board->masterFd(), 10);
        }
        QCOMPARE(got.size(), want);
        QVERIFY2(got == bytes + kMarker, "the long text arrived altered");
    }

    void messageDrawnAsWritten() {
        // " Transmition <A> finish" holds what a rich-text label would take for
        // a tag; the line must show every character.
        form->resize(1000, 800);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        for (const QString& box : {QStringLiteral("A"), QStringLiteral("<b>W</b>&amp;")}) {
            form->TransText->setText(box);
            form->Transmition_Click();
            const QString shown = " Transmition <" + box + "> finish";
            QCOMPARE(form->MessageText->text(), shown);
            const int expected =
                form->MessageText->fontMetrics().horizontalAdvance(shown.trimmed());
            const int ink = inkWidth(form->MessageText);
            QVERIFY2(qAbs(ink - expected) <= 4,
                     qPrintable(QString("%1: ink %2, text %3").arg(box).arg(ink).arg(expected)));
        }
    }

    // Receive ---------------------------------------------------------------

    void receiveNothingWaiting() {
        form->RexText->setText(QStringLiteral("old"));
        form->UpdateLED(QString(QChar(0xFF)));
        form->UpdateTLED(QStringLiteral("A"));
        form->Receive_Click();
        QCOMPARE(form->RexText->text(), QString("NULL"));
        QCOMPARE(litBits(*form, "LED"), QString());
        QCOMPARE(form->MessageText->text(), QString(" Receive procedure ok "));
        QCOMPARE(litBits(*form, "TLED"), QString("06"));
        QCOMPARE(board->pending(), 0);  // reading sends nothing
    }

    void receiveU() {
        boardSends("U");
        form->Receive->click();
        QCOMPARE(form->RexText->text(), QString("U"));
        QCOMPARE(litBits(*form, "LED"), QString("0246"));
        QCOMPARE(form->MessageText->text(), QString(" Receive procedure ok "));
    }

    void receiveInOrderOnePerClick() {
        boardSends("XyZ");
        const QStringList expected = {"X", "y", "Z", "NULL", "NULL"};
        for (const QString& want : expected) {
            form->Receive_Click();
            QCOMPARE(form->RexText->text(), want);  // replaced, never appended
            QCOMPARE(litBits(*form, "LED"), want == "NULL" ? QString() : bitsOf(want[0].unicode()));
            QCOMPARE(form->MessageText->text(), QString(" Receive procedure ok "));
        }
    }

    void receiveSetsInputLenToOne() {
        form->MSComm1->setInputLen(0);  // a caller changed it; the command sets it again
        boardSends("PQR");
        form->Receive_Click();
        QCOMPARE(form->MSComm1->InputLen(), short(1));
        QCOMPARE(form->RexText->text(), QString("P"));
        QCOMPARE(leftInBuffer(), QByteArray("QR"));
    }

    void receiveEveryByte() {
        // All 256 byte values waiting at once: one per click, in order, each a
        // character of its own, and the lamps show the byte.
        QByteArray all;
        for (int b = 0; b < 256; ++b) all.append(char(b));
        boardSends(all);
        QSet<QString> distinct;
        QList<QString> texts;
        for (int b = 0; b < 256; ++b) {
            form->Receive_Click();
            const QString s = form->RexText->text();
            QVERIFY2(s.size() == 1,
                     qPrintable(QString("byte %1 gave %2 characters").arg(b).arg(s.size())));
            QVERIFY2(litBits(*form, "LED") == bitsOf(b),
                     qPrintable(QString("byte %1 lit %2").arg(b).arg(litBits(*form, "LED"))));
            distinct.insert(s);
            texts << s;
        }
        QCOMPARE(distinct.size(), 256);
        // A few fixed points of Windows-1252.
        QCOMPARE(texts[0], QString(QChar(0)));
        QCOMPARE(texts[0x55], QString("U"));
        QCOMPARE(texts[0x80], QString(QChar(0x20AC)));
        QCOMPARE(texts[0x81], QString(QChar(0x81)));
        QCOMPARE(texts[0x9F], QString(QChar(0x178)));
        QCOMPARE(texts[0xE9], QString(QChar(0xE9)));
        form->Receive_Click();
        QCOMPARE(form->RexText->text(), QString("NULL"));
    }

    void roundTripEveryByte() {
        // The board sends a byte, the user receives it, copies it to the box
        // and sends it back: the board gets the same byte. A lone blank is
        // trimmed away, as it should be, and nothing goes back for it.
        for (int b = 0; b < 256; ++b) {
            boardSends(byte(b));
            form->Receive->click();
            QCOMPARE(litBits(*form, "LED"), bitsOf(b));
            form->TransText->setText(form->RexText->text());
            form->Transmition->click();
            QCOMPARE(litBits(*form, "TLED"), bitsOf(b));
            const QByteArray back = b == ' ' ? QByteArray() : byte(b);
            QVERIFY2(lineUpToMarker() == back,
                     qPrintable(QString("byte %1 did not come back").arg(b)));
        }
    }

    // Acknowledgement wait --------------------------------------------------

    void queryAck_data() {
        QTest::addColumn<QByteArray>("waiting");
        QTest::addColumn<QString>("queryChar");
        QTest::addColumn<int>("loopCt");
        QTest::addColumn<bool>("matched");
        QTest::addColumn<QByteArray>("left");
        auto row = [](const char* name, const QByteArray& waiting, const QString& q, int ct,
                      bool matched, const QByteArray& left) {
            QTest::newRow(name) << waiting << q << ct << matched << left;
        };
        row("expected first", "K", "K", 0, true, "");
        row("expected first, rest stays", "KXY", "K", 0, true, "XY");
        row("two others before", "abK", "K", 2, true, "");
        row("two others before, rest stays", "abKcd", "K", 2, true, "cd");
        row("nothing arrives", "", "K", 1000, false, "");
        row("others only: all dropped", "abc", "K", 1000, false, "");
        row("empty, nothing waiting", "", "", 0, true, "");
        row("empty, characters waiting", "xyz", "", 3, true, "");
        row("two characters never match", "KK", "KK", 1000, false, "");
        row("two characters, first of them waiting", "K", "KA", 1000, false, "");
        row("case: lower does not match upper", "K", "k", 1000, false, "");
        row("case: upper then lower", "Kk", "k", 1, true, "");
        row("code page: e acute", "\xE9", QString(QChar(0xE9)), 0, true, "");
        row("code page: euro after A", "A\x80", QString(QChar(0x20AC)), 1, true, "");
    }
    void queryAck() {
        QFETCH(QByteArray, waiting);
        QFETCH(QString, queryChar);
        QFETCH(int, loopCt);
        QFETCH(bool, matched);
        QFETCH(QByteArray, left);
        if (!waiting.isEmpty()) boardSends(waiting);
        form->QueryLoopCt = 555;                 // overwritten from the first step
        form->ProgressBar1->setFraction(37.5f);  // not reset: first change is a wait's own
        BarRecorder bar(form->ProgressBar1);

        form->QueryAck(queryChar);

        QCOMPARE(int(form->QueryLoopCt), loopCt);
        QCOMPARE(bar.tenths, failedThen(loopCt, matched));
        QVERIFY(form->ProgressBar1->fraction() == 100.0f);
        // Exactly k / 1000 * 100 worked out in double and rounded once to single
        // (in single all the way, 242 of the 1000 values come out differently).
        for (int k = 1; k <= loopCt; ++k)
            QVERIFY2(bar.values[k - 1] == float(double(k) / 1000.0 * 100.0),
                     qPrintable(QString("after read %1 the bar holds %2")
                                    .arg(k)
                                    .arg(double(bar.values[k - 1]), 0, 'g', 9)));
        if (loopCt > 0) QVERIFY(bar.values[0] == 0.1f);
        QCOMPARE(leftInBuffer(), left);
        // Dropped characters reach neither the box nor the lamps.
        QCOMPARE(form->RexText->text(), QString());
        QCOMPARE(litBits(*form, "LED"), QString());
        QCOMPARE(board->pending(), 0);  // the wait sends nothing
    }

    void queryAckEmptyDropsAtMost1000() {
        // More than 1000 characters waiting and an empty expected text: the
        // wait runs out after 1000 reads and the rest stays, in order.
        QByteArray waiting;
        for (int i = 0; i < 1010; ++i) waiting.append(char('a' + i % 26));
        boardSends(waiting);
        BarRecorder bar(form->ProgressBar1);
        form->QueryAck(QString());
        QCOMPARE(int(form->QueryLoopCt), 1000);
        QCOMPARE(bar.tenths, failedThen(1000, false));
        QCOMPARE(leftInBuffer(), waiting.right(10));
    }

    void queryAckKeepsInputLen() {
        // The wait relies on the read length that is set; it does not set it.
        form->MSComm1->setInputLen(2);
        boardSends("abK");
        form->QueryAck(QStringLiteral("K"));
        QCOMPARE(int(form->QueryLoopCt), 1);  // "ab", then "K"
        QCOMPARE(form->MSComm1->InputLen(), short(2));
    }

    void queryAckHoldsTheThread() {
        // No event of the thread is handled during the wait: not a queued
        // call, not a timer tick, not a pass of the event dispatcher.
        bool queuedRan = false;
        QTimer::singleShot(0, form.get(), [&] { queuedRan = true; });
        int awakenings = 0;
        auto* dispatcher = QAbstractEventDispatcher::instance();
        const auto conn =
            connect(dispatcher, &QAbstractEventDispatcher::awake, [&] { ++awakenings; });
        bool queuedRanDuringWait = false;
        BarRecorder bar(form->ProgressBar1);
        bar.onChange = [&](int) { queuedRanDuringWait |= queuedRan; };
        const QString timerText = form->panelText(StatusPanel::Timer);

        form->QueryAck(QStringLiteral("K"));  // nothing arrives: all 1000 reads

        disconnect(conn);
        QCOMPARE(int(form->QueryLoopCt), 1000);
        QVERIFY(!queuedRanDuringWait);
        QVERIFY(!queuedRan);
        QCOMPARE(awakenings, 0);
        QCOMPARE(form->panelText(StatusPanel::Timer), timerText);
        QTRY_VERIFY(queuedRan);  // handled once the thread is given back
    }

    void sendThenQueryAckAtOnce() {
        // The typical acknowledged send: Transmition, then straight into the
        // wait, no program code and no event loop between. The text must be
        // on the line when the send returns: the board sees it and answers
        // before the wait starts, so the wait's first read finds the answer.
        form->TransText->setText(QStringLiteral("GO"));
        BarRecorder bar(form->ProgressBar1);

        form->Transmition_Click();
        const QByteArray seen = board->receive(2);  // the board, on the master: FIONREAD
        if (seen == "GO") boardSends("!");
        form->QueryAck(QStringLiteral("!"));

        QCOMPARE(seen, QByteArray("GO"));
        QCOMPARE(int(form->QueryLoopCt), 0);
        QCOMPARE(bar.tenths, QList<int>({1000}));
        QCOMPARE(lineUpToMarker(), QByteArray());  // the text went once
    }

    void queryAckReadErrors_data() {
        // When the read fails, and how: the wait ends there and the error
        // reaches the caller; counter and bar keep the last completed pass.
        QTest::addColumn<int>("failAfter");   // -1: the port is closed before the wait
        QTest::addColumn<bool>("pullCable");  // else the port is closed
        QTest::addColumn<int>("error");
        QTest::newRow("port closed before the wait") << -1 << false << 8012;
        QTest::newRow("port closed after 3 reads") << 3 << false << 8012;
        QTest::newRow("cable pulled after 3 reads") << 3 << true << 8020;
    }
    void queryAckReadErrors() {
        QFETCH(int, failAfter);
        QFETCH(bool, pullCable);
        QFETCH(int, error);
        if (failAfter < 0) form->Disconnect_Click();
        form->QueryLoopCt = 77;
        form->ProgressBar1->setFraction(42.5f);
        BarRecorder bar(form->ProgressBar1);
        bar.onChange = [&](int tenths) {
            if (tenths != failAfter) return;
            if (pullCable)
                board->hangUp();
            else
                form->MSComm1->setPortOpen(false);
        };

        int raised = 0;
        QString text;
        try {
            form->QueryAck(QStringLiteral("K"));
        } catch (const MSCommError& e) {
            raised = e.number();
            text = e.text();
        }

        QCOMPARE(raised, error);
        QVERIFY2(!text.trimmed().isEmpty(), "the error carries no text");
        const int passes = qMax(0, failAfter);
        QCOMPARE(int(form->QueryLoopCt), passes);
        QCOMPARE(bar.tenths, failedThen(passes, false));
        QVERIFY(form->ProgressBar1->fraction() ==
                (passes ? float(double(passes) / 1000.0 * 100.0) : 42.5f));
    }

    // Pulled cable ----------------------------------------------------------

    void pulledCableDuringSend_data() {
        // An empty text is handed to the component all the same, so it meets
        // the dead line too.
        QTest::addColumn<QString>("box");
        QTest::newRow("A") << "A";
        QTest::newRow("empty") << "";
        QTest::newRow("blanks only") << "   ";
    }
    void pulledCableDuringSend() {
        QFETCH(QString, box);
        form->TransText->setText(QStringLiteral("Z"));
        form->Transmition->click();
        QCOMPARE(board->receive(1), QByteArray("Z"));
        board->hangUp();

        form->TransText->setText(box);
        BoxCloser closer;
        QVERIFY2(clickKeepsRunning(form->Transmition), "the report ended the program");
        QCOMPARE(closer.seen.size(), 1);
        QCOMPARE(closer.seen[0].title, QString("Velmora"));
        QVERIFY2(closer.seen[0].text.contains("8021"), qPrintable(closer.seen[0].text));
        // The send failed: nothing after it was updated.
        QCOMPARE(litBits(*form, "TLED"), bitsOf('Z'));
        QCOMPARE(form->MessageText->text(), QString(" Transmition <Z> finish"));
        stillWorksOnANewBoard();
    }

    void pulledCableDuringReceive() {
        boardSends("U");
        form->Receive->click();
        QCOMPARE(form->RexText->text(), QString("U"));
        form->TransText->setText(QStringLiteral("Z"));
        form->Transmition->click();
        QCOMPARE(board->receive(1), QByteArray("Z"));
        board->hangUp();
        form->MSComm1->setInputLen(3);

        BoxCloser closer;
        QVERIFY2(clickKeepsRunning(form->Receive), "the report ended the program");
        QCOMPARE(closer.seen.size(), 1);
        QCOMPARE(closer.seen[0].title, QString("Velmora"));
        QVERIFY2(closer.seen[0].text.contains("8020"), qPrintable(closer.seen[0].text));
        // The read failed: the length set before it stays set, nothing after it
        // was updated.
        QCOMPARE(form->MSComm1->InputLen(), short(1));
        QCOMPARE(form->RexText->text(), QString("U"));
        QCOMPARE(litBits(*form, "LED"), QString("0246"));
        QCOMPARE(form->MessageText->text(), QString(" Transmition <Z> finish"));
        stillWorksOnANewBoard();
    }

    // Typical run -----------------------------------------------------------

    void typicalRun() {
        // A typical run, from a window that starts as the program
        // does, driven through its controls.
        form.reset();  // this run starts from a window that never connected
        board.reset();
        QFile::remove(TestEnv::placementFile());
        startWindow();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));

        // 1. Start-up.
        QCOMPARE(form->panelText(StatusPanel::Status), QString("Status:Disconnect"));
        QCOMPARE(form->panelText(StatusPanel::Settings), QString("Settings: 9600,n,8,1"));
        QCOMPARE(form->panelText(StatusPanel::Timer), QString("Timer:"));
        QVERIFY(!form->Transmition->isEnabled() && !form->Receive->isEnabled());

        // 2. Connect.
        QTest::mouseClick(form->Connect, Qt::LeftButton);
        QVERIFY(form->MSComm1->PortOpen());
        QCOMPARE(form->lampColor("ConnectState"), Rgb::kGreen);
        QCOMPARE(form->panelText(StatusPanel::Status), QString("Status:COM1"));
        QCOMPARE(form->panelText(StatusPanel::Settings), QString("Settings: 9600,n,8,1"));
        QVERIFY(form->Transmition->isEnabled() && form->Receive->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(form->panelText(StatusPanel::Timer).startsWith("Timer:0:0:"),
                                 2000);

        // 3. Type A and send it.
        QTest::keyClicks(form->TransText, "A");
        QTest::mouseClick(form->Transmition, Qt::LeftButton);
        QCOMPARE(board->receive(1), QByteArray("A"));
        QCOMPARE(litBits(*form, "TLED"), QString("06"));
        QCOMPARE(form->MessageText->text(), QString(" Transmition <A> finish"));

        // 4. The board sends U; receive it.
        boardSends("U");
        QTest::mouseClick(form->Receive, Qt::LeftButton);
        QCOMPARE(form->RexText->text(), QString("U"));
        QCOMPARE(litBits(*form, "LED"), QString("0246"));
        QCOMPARE(form->MessageText->text(), QString(" Receive procedure ok "));

        // 5. Disconnect.
        QTest::mouseClick(form->Disconnect, Qt::LeftButton);
        QVERIFY(!form->MSComm1->PortOpen());
        QCOMPARE(form->lampColor("ConnectState"), Rgb::kBlack);
        QCOMPARE(form->panelText(StatusPanel::Status), QString("Status:Disconnect"));
        QCOMPARE(form->panelText(StatusPanel::Timer), QString("Timer:"));
        QVERIFY(!form->Timer1->isActive());
        QVERIFY(!form->Transmition->isEnabled() && !form->Receive->isEnabled());
        QCOMPARE(form->MessageText->text(), QString(" COM1 disconnect "));
        QCOMPARE(board->pending(), 0);  // nothing but the A went out

        // 6. Close the window: the placement is written.
        QVERIFY(form->close());
        QSettings stored(TestEnv::placementFile(), QSettings::IniFormat);
        for (const char* key : {"MainLeft", "MainTop", "MainWidth", "MainHeight"})
            QVERIFY2(stored.contains(QString("Settings/") + key), key);
    }
};

QTEST_MAIN(ExchangeTest)
#include "tst_exchange.moc"
