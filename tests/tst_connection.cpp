// The serial link as the user drives it: Connect, Disconnect, the port
// buttons COM1 and COM2 and the three speed buttons, clicked on the real
// window with two pseudo-terminal boards as COM1 and COM2. A port is made
// busy by a second QSerialPort holding it (its lock), absent by pointing the
// port at a device that does not exist.
#include "serial/MSComm.h"
#include "support/FakeClock.h"
#include "support/LampColours.h"
#include "support/LineProbe.h"
#include "support/PtyBoard.h"
#include "support/TestEnv.h"
#include "support/frmMainProbe.h"
#include "ui/ResumeNext.h"
#include "ui/StatusBar.h"
#include "ui/frmMain.h"

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPort>
#include <QTimer>
#include <QtTest>

#include <fcntl.h>

#include <array>
#include <filesystem>
#include <memory>

namespace {

// Written to the message line before the event under test, so a case can
// tell "not written" from "written with the same text".
const QString kUntouched = QStringLiteral("(before the click)");

// The three states of the link; a closed port is Closed or Switch failed,
// told apart by the lamp.
enum class Link { Closed, Open, SwitchFailed };

// How the test leaves the window before the event of a case.
enum class From {
    Closed1,             // start-up
    Closed2,             // start-up, then COM2
    Closed1AfterUse,     // Connect, Disconnect
    Open1,               // Connect
    Open2,               // COM2, Connect
    SwitchFailed2From1,  // Connect, COM2 while COM2 is busy
    SwitchFailed1From2,  // COM2, Connect, COM1 while COM1 is busy
};

// What a device is like while the event of a case runs.
enum class Device { Free, Busy, Absent };

struct Expected {
    Link link;
    short port;
    QString status;
};

Expected stateOf(From from) {
    switch (from) {
        case From::Closed1:
            return {Link::Closed, 1, "Status:Disconnect"};
        case From::Closed2:
            return {Link::Closed, 2, "Status:COM2"};
        case From::Closed1AfterUse:
            return {Link::Closed, 1, "Status:Disconnect"};
        case From::Open1:
            return {Link::Open, 1, "Status:COM1"};
        case From::Open2:
            return {Link::Open, 2, "Status:COM2"};
        case From::SwitchFailed2From1:
            return {Link::SwitchFailed, 2, "Status:COM1"};
        case From::SwitchFailed1From2:
            return {Link::SwitchFailed, 1, "Status:COM2"};
    }
    return {};
}

// Descriptors this process holds on a device: the board keeps one open on
// its slave, the component one more while the port is open.
QList<int> descriptorsOn(const QString& device) {
    QList<int> fds;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(entry.path(), ec) == device.toStdString())
            fds << QString::fromStdString(entry.path().filename().string()).toInt();
    }
    return fds;
}

// The line as the kernel holds it, in the form of a settings string; in and
// out speeds are both shown when they differ.
QString lineOf(int fd) {
    LineProbe::State line;
    if (!LineProbe::read(fd, &line)) return QStringLiteral("(unreadable)");
    const QString speed = line.inputSpeed == line.outputSpeed
                              ? QString::number(line.outputSpeed)
                              : QStringLiteral("%1/%2").arg(line.inputSpeed).arg(line.outputSpeed);
    return QStringLiteral("%1,%2,%3,%4")
        .arg(speed)
        .arg(QLatin1Char(line.parity))
        .arg(line.dataBits)
        .arg(line.twoStopBits ? 2 : 1);
}

QString portBoxText(int port) {
    return QStringLiteral(" COM%1 has been useing !").arg(port);
}
}  // namespace

Q_DECLARE_METATYPE(Link)
Q_DECLARE_METATYPE(From)
Q_DECLARE_METATYPE(Device)

class ConnectionTest : public QObject {
    Q_OBJECT

    std::array<std::unique_ptr<PluggedBoard>, 2> boards;
    std::array<std::unique_ptr<QSerialPort>, 2> holders;  // a second program holding a port
    std::unique_ptr<frmMain> form;
    FakeClock clock;
    QDateTime started;  // when the case's setup connected

    PtyBoard& board(int port) { return *boards[port - 1]; }

    void click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    QAbstractButton* control(const QString& name) {
        return form->findChild<QAbstractButton*>(name);
    }

    bool hold(int port) {
        auto holder = std::make_unique<QSerialPort>(board(port).slavePath());
        if (!holder->open(QIODevice::ReadWrite)) return false;
        holders[port - 1] = std::move(holder);
        return true;
    }
    void release(int port) { holders[port - 1].reset(); }
    void setDevice(int port, Device device) {
        release(port);
        TestEnv::setPortDevice(port, device == Device::Absent
                                         ? QStringLiteral("/nonexistent/velmora-com%1").arg(port)
                                         : board(port).slavePath());
        if (device == Device::Busy) QVERIFY2(hold(port), "the holder could not open the board");
    }

    // Every indicator that follows the link's state, and what the component
    // and the system say about the devices.
    void verifyLink(const Expected& e) {
        frmMain& f = *form;
        const bool open = e.link == Link::Open;
        QCOMPARE(f.MSComm1->PortOpen(), open);
        QCOMPARE(f.MSComm1->CommPort(), e.port);
        QCOMPARE(f.COM1->isChecked(), e.port == 1);  // the selected button names the port
        QCOMPARE(f.COM2->isChecked(), e.port == 2);
        const QRgb lamp = e.link == Link::Open     ? Rgb::kGreen
                          : e.link == Link::Closed ? Rgb::kBlack
                                                   : Rgb::kRed;
        QCOMPARE(f.lampColor("ConnectState"), lamp);
        QCOMPARE(f.panelText(StatusPanel::Status), e.status);
        QCOMPARE(f.Transmition->isEnabled(), open);
        QCOMPARE(f.Receive->isEnabled(), open);
        QCOMPARE(f.Timer1->isActive(), open);
        if (!open) QCOMPARE(f.panelText(StatusPanel::Timer), QString("Timer:"));
        QVERIFY(f.Connect->isEnabled() && f.Disconnect->isEnabled());
        for (int port : {1, 2}) {
            const qsizetype expected =
                1 + (holders[port - 1] ? 1 : 0) + (open && e.port == port ? 1 : 0);
            const qsizetype held = descriptorsOn(board(port).slavePath()).size();
            QVERIFY2(
                held == expected,
                qPrintable(
                    QString("COM%1 held %2 times, expected %3").arg(port).arg(held).arg(expected)));
        }
    }

    void reach(From from) {
        BoxCloser closer;
        switch (from) {
            case From::Closed1:
                break;
            case From::Closed2:
                click(form->COM2);
                break;
            case From::Closed1AfterUse:
                click(form->Connect);
                click(form->Disconnect);
                break;
            case From::Open1:
                click(form->Connect);
                break;
            case From::Open2:
                click(form->COM2);
                click(form->Connect);
                break;
            case From::SwitchFailed2From1:
                click(form->Connect);
                QVERIFY(hold(2));
                click(form->COM2);
                release(2);
                break;
            case From::SwitchFailed1From2:
                click(form->COM2);
                click(form->Connect);
                QVERIFY(hold(1));
                click(form->COM1);
                release(1);
                break;
        }
        const int failures =
            from == From::SwitchFailed2From1 || from == From::SwitchFailed1From2 ? 1 : 0;
        QCOMPARE(closer.seen.size(), failures);
        verifyLink(stateOf(from));
    }

    // The connection time as the next tick shows it.
    QString timeAtNextTick() {
        QMetaObject::invokeMethod(form->Timer1, "timeout");
        return form->panelText(StatusPanel::Timer);
    }

private slots:
    void initTestCase() { TestEnv::isolateUserStore(); }

    void init() {
        for (int port = 1; port <= 2; ++port)
            boards[port - 1] = std::make_unique<PluggedBoard>(port);
        clock = FakeClock();
        started = clock.now;
        form = std::make_unique<frmMain>();
        form->setClock(clock.fn());
        form->Form_Load();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }

    void cleanup() {
        form.reset();
        for (auto& h : holders) h.reset();
        for (auto& b : boards) b.reset();
    }

    // From each state, each event: what the window shows, the component
    // holds and the user is told, and in which order.
    void stateTable_data() {
        QTest::addColumn<From>("from");
        QTest::addColumn<QString>("event");  // the control clicked
        QTest::addColumn<int>("port");       // the port whose device the case sets up
        QTest::addColumn<Device>("device");
        QTest::addColumn<Link>("link");  // afterwards
        QTest::addColumn<int>("commPort");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("box");         // empty: no box
        QTest::addColumn<bool>("timeRestarted");  // the connection time counts from the click

        const QString none;
        auto row = [](const char* name) -> QTestData& { return QTest::newRow(name); };
        using enum Link;
        using enum From;
        using enum Device;

        // Closed: Connect opens or reports; a port click only renames; Disconnect does nothing.
        row("Closed COM1, Connect") << Closed1 << "Connect" << 1 << Free << Open << 1
                                    << "Status:COM1" << kUntouched << none << true;
        row("Closed COM1, Connect, COM1 busy")
            << Closed1 << "Connect" << 1 << Busy << Closed << 1 << "Status:Disconnect"
            << " COM1 already open " << portBoxText(1) << false;
        row("Closed COM1, Connect, COM1 absent")
            << Closed1 << "Connect" << 1 << Absent << Closed << 1 << "Status:Disconnect"
            << " COM1 already open " << portBoxText(1) << false;
        row("Closed COM1, COM1") << Closed1 << "COM1" << 1 << Free << Closed << 1 << "Status:COM1"
                                 << kUntouched << none << false;
        row("Closed COM1, COM2") << Closed1 << "COM2" << 2 << Free << Closed << 2 << "Status:COM2"
                                 << kUntouched << none << false;
        row("Closed COM1, COM2, COM2 busy") << Closed1 << "COM2" << 2 << Busy << Closed << 2
                                            << "Status:COM2" << kUntouched << none << false;
        row("Closed COM1, Disconnect") << Closed1 << "Disconnect" << 1 << Free << Closed << 1
                                       << "Status:Disconnect" << kUntouched << none << false;
        row("Closed COM2, Connect") << Closed2 << "Connect" << 2 << Free << Open << 2
                                    << "Status:COM2" << kUntouched << none << true;
        row("Closed COM2, Connect, COM2 busy")
            << Closed2 << "Connect" << 2 << Busy << Closed << 2 << "Status:COM2"
            << " COM2 already open " << portBoxText(2) << false;
        row("Closed COM2, COM1") << Closed2 << "COM1" << 1 << Free << Closed << 1 << "Status:COM1"
                                 << kUntouched << none << false;
        row("Closed COM2, Disconnect") << Closed2 << "Disconnect" << 2 << Free << Closed << 2
                                       << "Status:COM2" << kUntouched << none << false;
        row("Closed after use, Connect") << Closed1AfterUse << "Connect" << 1 << Free << Open << 1
                                         << "Status:COM1" << kUntouched << none << true;
        row("Closed after use, COM2") << Closed1AfterUse << "COM2" << 2 << Free << Closed << 2
                                      << "Status:COM2" << kUntouched << none << false;
        row("Closed after use, Disconnect")
            << Closed1AfterUse << "Disconnect" << 1 << Free << Closed << 1 << "Status:Disconnect"
            << kUntouched << none << false;

        // Open: Disconnect closes; Connect does nothing; a port click reopens.
        row("Open COM1, Disconnect")
            << Open1 << "Disconnect" << 1 << Free << Closed << 1 << "Status:Disconnect"
            << " COM1 disconnect " << none << false;
        row("Open COM1, Connect") << Open1 << "Connect" << 1 << Free << Open << 1 << "Status:COM1"
                                  << kUntouched << none << false;
        row("Open COM1, COM1 (the port in use)") << Open1 << "COM1" << 1 << Free << Open << 1
                                                 << "Status:COM1" << kUntouched << none << true;
        row("Open COM1, COM2") << Open1 << "COM2" << 2 << Free << Open << 2 << "Status:COM2"
                               << kUntouched << none << true;
        row("Open COM1, COM2, COM2 busy")
            << Open1 << "COM2" << 2 << Busy << SwitchFailed << 2 << "Status:COM1"
            << " COM2 already open " << portBoxText(2) << false;
        row("Open COM1, COM2, COM2 absent")
            << Open1 << "COM2" << 2 << Absent << SwitchFailed << 2 << "Status:COM1"
            << " COM2 already open " << portBoxText(2) << false;
        row("Open COM1, COM1, COM1 gone")
            << Open1 << "COM1" << 1 << Absent << SwitchFailed << 1 << "Status:COM1"
            << " COM1 already open " << portBoxText(1) << false;
        row("Open COM2, COM1") << Open2 << "COM1" << 1 << Free << Open << 1 << "Status:COM1"
                               << kUntouched << none << true;
        row("Open COM2, COM2 (the port in use)") << Open2 << "COM2" << 2 << Free << Open << 2
                                                 << "Status:COM2" << kUntouched << none << true;
        row("Open COM2, COM1, COM1 busy")
            << Open2 << "COM1" << 1 << Busy << SwitchFailed << 1 << "Status:COM2"
            << " COM1 already open " << portBoxText(1) << false;
        row("Open COM2, Connect") << Open2 << "Connect" << 2 << Free << Open << 2 << "Status:COM2"
                                  << kUntouched << none << false;
        row("Open COM2, Disconnect")
            << Open2 << "Disconnect" << 2 << Free << Closed << 2 << "Status:Disconnect"
            << " COM2 disconnect " << none << false;

        // Switch failed: closed on the new port, red; Connect tries that port again.
        row("Switch failed COM2, Connect") << SwitchFailed2From1 << "Connect" << 2 << Free << Open
                                           << 2 << "Status:COM2" << kUntouched << none << true;
        row("Switch failed COM2, Connect, COM2 busy")
            << SwitchFailed2From1 << "Connect" << 2 << Busy << SwitchFailed << 2 << "Status:COM1"
            << " COM2 already open " << portBoxText(2) << false;
        row("Switch failed COM2, COM1") << SwitchFailed2From1 << "COM1" << 1 << Free << SwitchFailed
                                        << 1 << "Status:COM1" << kUntouched << none << false;
        row("Switch failed COM2, COM2") << SwitchFailed2From1 << "COM2" << 2 << Free << SwitchFailed
                                        << 2 << "Status:COM2" << kUntouched << none << false;
        row("Switch failed COM2, Disconnect")
            << SwitchFailed2From1 << "Disconnect" << 2 << Free << SwitchFailed << 2 << "Status:COM1"
            << kUntouched << none << false;
        row("Switch failed COM1, Connect") << SwitchFailed1From2 << "Connect" << 1 << Free << Open
                                           << 1 << "Status:COM1" << kUntouched << none << true;
        row("Switch failed COM1, Connect, COM1 absent")
            << SwitchFailed1From2 << "Connect" << 1 << Absent << SwitchFailed << 1 << "Status:COM2"
            << " COM1 already open " << portBoxText(1) << false;
        row("Switch failed COM1, COM2") << SwitchFailed1From2 << "COM2" << 2 << Free << SwitchFailed
                                        << 2 << "Status:COM2" << kUntouched << none << false;
        row("Switch failed COM1, Disconnect")
            << SwitchFailed1From2 << "Disconnect" << 1 << Free << SwitchFailed << 1 << "Status:COM2"
            << kUntouched << none << false;
    }
    void stateTable() {
        QFETCH(From, from);
        QFETCH(QString, event);
        QFETCH(int, port);
        QFETCH(Device, device);
        QFETCH(Link, link);
        QFETCH(int, commPort);
        QFETCH(QString, status);
        QFETCH(QString, message);
        QFETCH(QString, box);
        QFETCH(bool, timeRestarted);

        reach(from);
        if (QTest::currentTestFailed()) return;
        setDevice(port, device);
        if (QTest::currentTestFailed()) return;
        frmMainProbe::ShowMessage(*form, kUntouched);
        clock.now = started.addSecs(100);

        QStringList messageWhileBoxUp;
        BoxCloser closer([&] { messageWhileBoxUp << form->MessageText->text(); });
        click(control(event));

        QCOMPARE(closer.seen.size(), box.isEmpty() ? 0 : 1);
        if (!box.isEmpty()) {
            QCOMPARE(closer.seen[0].title, QString("Error Message"));
            QCOMPARE(closer.seen[0].text, box);
            QCOMPARE(closer.seen[0].icon, QMessageBox::Warning);
            QCOMPARE(closer.seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
            // Connect writes the message line before the box, a port button after it.
            QCOMPARE(messageWhileBoxUp, QStringList{event == "Connect" ? message : kUntouched});
        }
        QCOMPARE(form->MessageText->text(), message);
        verifyLink({link, short(commPort), status});
        QCOMPARE(form->panelText(StatusPanel::Settings), QString("Settings: 9600,n,8,1"));
        if (link == Link::Open) {
            QCOMPARE(timeAtNextTick(), QString(timeRestarted ? "Timer:0:0:0" : "Timer:0:1:40"));
            QCOMPARE(lineOf(board(commPort).masterFd()), QString("9600,n,8,1"));
        }
    }

    // A failed switch reports in a box while the link still runs: the lamp
    // stays green, the old message stays and the connection timer ticks on;
    // only after the box is closed does the window show the failure.
    void switchFailureBoxComesFirst() {
        click(form->Connect);
        QVERIFY(hold(2));
        frmMainProbe::ShowMessage(*form, kUntouched);

        struct {
            QString message, status;
            QRgb lamp = 0;
            bool buttonsEnabled = false, timerRunning = false, ticked = false;
        } atBox;
        BoxCloser closer([&] {
            atBox.message = form->MessageText->text();
            atBox.status = form->panelText(StatusPanel::Status);
            atBox.lamp = form->lampColor("ConnectState");
            atBox.buttonsEnabled = form->Transmition->isEnabled() && form->Receive->isEnabled();
            atBox.timerRunning = form->Timer1->isActive();
            // Only a tick while the box is up can show this time.
            clock.now = started.addSecs(42);
            atBox.ticked = QTest::qWaitFor(
                [&] { return form->panelText(StatusPanel::Timer) == "Timer:0:0:42"; }, 3000);
        });
        click(form->COM2);

        QCOMPARE(closer.seen.size(), 1);
        QCOMPARE(atBox.message, kUntouched);
        QCOMPARE(atBox.status, QString("Status:COM1"));
        QCOMPARE(atBox.lamp, Rgb::kGreen);
        QVERIFY(atBox.buttonsEnabled);
        QVERIFY(atBox.timerRunning);
        QVERIFY2(atBox.ticked, "the connection timer did not tick while the box was open");

        QCOMPARE(form->MessageText->text(), QString(" COM2 already open "));
        verifyLink({Link::SwitchFailed, 2, "Status:COM1"});
    }

    // A failed Connect writes the message line first; nothing else moves.
    void connectFailureMessageComesFirst() {
        click(form->COM2);
        QVERIFY(hold(2));
        QString messageAtBox, statusAtBox;
        BoxCloser closer([&] {
            messageAtBox = form->MessageText->text();
            statusAtBox = form->panelText(StatusPanel::Status);
        });
        click(form->Connect);
        QCOMPARE(closer.seen.size(), 1);
        QCOMPARE(closer.seen[0].text, QString(" COM2 has been useing !"));
        QCOMPARE(messageAtBox, QString(" COM2 already open "));
        QCOMPARE(statusAtBox, QString("Status:COM2"));
        verifyLink({Link::Closed, 2, "Status:COM2"});

        // The holder lets go: the same click now opens port 2.
        release(2);
        click(form->Connect);
        verifyLink({Link::Open, 2, "Status:COM2"});
    }

    // Arrow keys in the port group click the next button, so the handler runs
    // and the selected button keeps naming the port.
    void keyboardChoiceRunsTheHandler() {
        click(form->Connect);
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        form->COM1->setFocus();
        QVERIFY(form->COM1->hasFocus());
        QTest::keyClick(form->COM1, Qt::Key_Down);
        verifyLink({Link::Open, 2, "Status:COM2"});
        QTest::keyClick(form->COM2, Qt::Key_Up);
        verifyLink({Link::Open, 1, "Status:COM1"});
    }

    // A board that hangs up leaves the port to be closed by Disconnect, which
    // cannot fail.
    void disconnectAfterHangUp() {
        click(form->Connect);
        board(1).hangUp();
        BoxCloser closer;
        click(form->Disconnect);
        QCOMPARE(closer.seen.size(), 0);
        QCOMPARE(form->MessageText->text(), QString(" COM1 disconnect "));
        QCOMPARE(form->MSComm1->PortOpen(), false);
        QCOMPARE(form->lampColor("ConnectState"), Rgb::kBlack);
        QCOMPARE(form->panelText(StatusPanel::Status), QString("Status:Disconnect"));
    }

    // The error state of the skip-and-continue handlers: any failure is kept,
    // whatever was thrown, and later steps still run.
    void skipAndContinue() {
        ResumeNext err;
        QStringList ran;
        err.attempt([&] { ran << "first"; });
        QVERIFY(!err.failed());
        err.attempt([&] { throw MSCommError(8005, "Port already open"); });
        err.attempt([&] { ran << "after"; });
        QVERIFY(err.failed());
        QCOMPARE(ran, QStringList({"first", "after"}));

        ResumeNext other;
        other.attempt([] { throw 7; });
        QVERIFY(other.failed());
    }

    // Speed --------------------------------------------------------------------

    void speed_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("open");
        QTest::addColumn<QString>("settings");
        const struct {
            const char* button;
            const char* settings;
        } speeds[] = {{"BaoudRate4800", "4800,n,8,1"},
                      {"BaoudRate9600", "9600,n,8,1"},
                      {"BaoudRate144000", "14400,n,8,1"}};
        for (const auto& s : speeds)
            for (bool open : {false, true})
                QTest::addRow("%s, port %s", s.button, open ? "open" : "closed")
                    << QString(s.button) << open << QString(s.settings);
    }
    void speed() {
        QFETCH(QString, button);
        QFETCH(bool, open);
        QFETCH(QString, settings);

        const QString device = board(1).slavePath();
        const QList<int> boardOwn = descriptorsOn(device);
        int componentFd = -1;
        if (open) {
            click(form->Connect);
            const QList<int> now = descriptorsOn(device);
            for (int fd : now)
                if (!boardOwn.contains(fd)) componentFd = fd;
            QVERIFY(componentFd >= 0);
            // Marks the component's open file description: a reopened port
            // would come without the mark.
            QVERIFY(::fcntl(componentFd, F_SETFL, ::fcntl(componentFd, F_GETFL) | O_APPEND) == 0);
            board(1).send("AB");
            QVERIFY(board(1).waitSlaveHas(2));
        }
        const Expected before = {open ? Link::Open : Link::Closed, 1,
                                 open ? "Status:COM1" : "Status:Disconnect"};
        frmMainProbe::ShowMessage(*form, kUntouched);
        // A stale panel shows that a click on the selected button runs too.
        form->sbStatusBar->setPanelText(panelKey(StatusPanel::Settings), "Settings:");
        clock.now = started.addSecs(100);

        BoxCloser closer;
        click(control(button));

        QCOMPARE(closer.seen.size(), 0);
        QCOMPARE(form->panelText(StatusPanel::Settings), "Settings: " + settings);
        QCOMPARE(form->MSComm1->Settings(), settings);
        QVERIFY(control(button)->isChecked());
        QCOMPARE(form->MessageText->text(), kUntouched);
        verifyLink(before);
        if (open) {
            QCOMPARE(lineOf(board(1).masterFd()), settings);
            QCOMPARE(timeAtNextTick(), QString("Timer:0:1:40"));
            // Not closed and reopened: the same open description, and what the
            // board sent before is still there to read.
            QCOMPARE(descriptorsOn(device).size(), boardOwn.size() + 1);
            QVERIFY(descriptorsOn(device).contains(componentFd));
            QVERIFY(::fcntl(componentFd, F_GETFL) & O_APPEND);
            QCOMPARE(form->MSComm1->Input(), QString("A"));
            QCOMPARE(form->MSComm1->Input(), QString("B"));
        } else {
            click(form->Connect);
            QCOMPARE(form->panelText(StatusPanel::Settings), "Settings: " + settings);
            QCOMPARE(lineOf(board(1).masterFd()), settings);
        }
    }

    // Speed changes follow each other on the open line and go with it to the
    // other port.
    void speedAcrossSwitches() {
        click(form->BaoudRate144000);
        click(form->Connect);
        QCOMPARE(lineOf(board(1).masterFd()), QString("14400,n,8,1"));
        click(form->BaoudRate4800);
        QCOMPARE(lineOf(board(1).masterFd()), QString("4800,n,8,1"));
        click(form->COM2);
        QCOMPARE(lineOf(board(2).masterFd()), QString("4800,n,8,1"));
        click(form->BaoudRate9600);
        QCOMPARE(lineOf(board(2).masterFd()), QString("9600,n,8,1"));
        QCOMPARE(form->panelText(StatusPanel::Settings), QString("Settings: 9600,n,8,1"));
        QCOMPARE(form->panelText(StatusPanel::Status), QString("Status:COM2"));
    }

    // A speed change the line refuses is reported by the standard report and
    // the program goes on; the buttons and the panel show the speed the line
    // kept.
    void refusedSpeedChange() {
        click(form->Connect);
        board(1).hangUp();
        BoxCloser closer;
        click(form->BaoudRate4800);
        QCOMPARE(closer.seen.size(), 1);
        QCOMPARE(closer.seen[0].title, QString("Velmora"));
        QVERIFY2(closer.seen[0].text.contains("8020"), qPrintable(closer.seen[0].text));
        QVERIFY(form->BaoudRate9600->isChecked());
        QVERIFY(!form->BaoudRate4800->isChecked());
        QCOMPARE(form->MSComm1->Settings(), QString("9600,n,8,1"));
        QCOMPARE(form->panelText(StatusPanel::Settings), QString("Settings: 9600,n,8,1"));

        click(form->Disconnect);  // still running
        QCOMPARE(form->MessageText->text(), QString(" COM1 disconnect "));
        QCOMPARE(closer.seen.size(), 1);
    }
};

QTEST_MAIN(ConnectionTest)
#include "tst_connection.moc"
