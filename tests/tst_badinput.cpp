// Bad input from outside the program, at the window: a settings file edited
// by hand, odd text pasted into the box and sent, and port devices that are
// no serial line or may not be used.
#include "serial/MSComm.h"
#include "support/LampColours.h"
#include "support/PtyBoard.h"
#include "support/TestEnv.h"
#include "support/WindowChecks.h"
#include "ui/StatusBar.h"
#include "ui/Twips.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

namespace {

// Descriptors this process holds on a path.
qsizetype descriptorsOn(const QString& path) {
    qsizetype held = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(entry.path(), ec) == path.toStdString()) ++held;
    }
    return held;
}

// What a device path is, as far as the program could change it.
QString snapshot(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return QStringLiteral("(gone)");
    QString shot = QStringLiteral("mode %1 size %2 mtime %3.%4")
                       .arg(st.st_mode, 0, 8)
                       .arg(st.st_size)
                       .arg(st.st_mtim.tv_sec)
                       .arg(st.st_mtim.tv_nsec);
    if (S_ISDIR(st.st_mode))
        shot += " entries " + QDir(path)
                                  .entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                             QDir::Hidden | QDir::System)
                                  .join(u',');
    return shot;
}

// The text a user might paste, piece by piece with the bytes each piece
// must become on the line (Windows-1252, one '?' per character outside it).
struct Piece {
    QString text;
    QByteArray line;
};
QList<Piece> oddPieces() {
    return {
        {QString(QChar(0x20AC)), "\x80"},  // euro sign, in the page
        {QStringLiteral("Ab1"), "Ab1"},
        {QString(QChar(0xE9)), "\xE9"},                // e acute
        {QString(QChar(0x4E2D)), "?"},                 // CJK, outside the page
        {QString::fromUtf8("\xF0\x9F\x98\x80"), "?"},  // emoji: a surrogate pair, one '?'
        {QString(QChar(0xDC00)), "?"},                 // a lone surrogate
        {QStringLiteral("\t"), "\t"},
        {QStringLiteral("\r\n"), "\r\n"},
        {QString(QChar(0)), QByteArray(1, '\0')},
        {QStringLiteral("\x1b[2J"), "\x1b[2J"},  // an escape sequence
        {QStringLiteral("\x7f"), "\x7f"},
        {QString(QChar(0x81)), "\x81"},                    // unassigned in the page
        {QStringLiteral(" in between "), " in between "},  // inner blanks stay
        {QString(QChar(0xFEFF)), "?"},                     // zero-width no-break space
    };
}

// Everything the board gets while the event loop runs, until n bytes came or
// timeoutMs passed.
QByteArray collectFromLine(PtyBoard& board, qsizetype n, int timeoutMs) {
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (got.size() < n && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        got += board.receiveAll();
        if (got.size() < n) {
            pollfd p{board.masterFd(), POLLIN, 0};
            ::poll(&p, 1, 5);
        }
    }
    return got;
}

enum class Refused { Directory, RegularFile, NoPermission };
// Names the device a child run as another user is to try.
constexpr char kLockedDeviceVariable[] = "VELMORA_TEST_LOCKED_DEVICE";
}  // namespace

Q_DECLARE_METATYPE(Refused)

class BadInputTest : public QObject {
    Q_OBJECT
    std::unique_ptr<frmMain> form;
    qint64 storeWrites = 0;

    // Starts the window as the program does: load, then show.
    void start() {
        form = WindowChecks::startWindow();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }

    // Writes the store file as a user's editor would. Each file gets a date of
    // its own: the settings cache keeps what it read last and reads a file
    // again only when its size or date changed.
    void writeStore(const QByteArray& contents) {
        QDir().mkpath(QFileInfo(TestEnv::placementFile()).path());
        QFile file(TestEnv::placementFile());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(contents), contents.size());
        QVERIFY(file.setFileTime(QDateTime::fromSecsSinceEpoch(++storeWrites * 3600),
                                 QFileDevice::FileModificationTime));
    }

    // Runs this row as the user nobody in a child process, against a device
    // only root may open.
    void runRowAsNobody(const QString& lockedDevice) {
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        const passwd* nobody = ::getpwnam("nobody");
        if (setpriv.isEmpty() || !nobody)
            QSKIP("running as root, and no setpriv or no user nobody to drop the rights to");
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("VELMORA_TEST_STORE"));  // the child's store is its own
        env.insert(QStringLiteral("TMPDIR"), QStringLiteral("/tmp"));
        env.insert(QStringLiteral("HOME"), QStringLiteral("/tmp"));
        env.insert(QString::fromLatin1(kLockedDeviceVariable), lockedDevice);
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        const QString tag = QString::fromUtf8(QTest::currentDataTag());
        child.start(setpriv, {QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                              QStringLiteral("--regid=%1").arg(nobody->pw_gid), "--clear-groups",
                              QCoreApplication::applicationFilePath(), "refusedDevice:" + tag});
        QVERIFY(child.waitForFinished(60000));
        const QString output = QString::fromLocal8Bit(child.readAll());
        if (child.exitCode() != 0 && !output.contains(QStringLiteral("Totals:")))
            QSKIP(qPrintable("the test cannot run as nobody here: " + output.trimmed()));
        QVERIFY2(child.exitCode() == 0 &&
                     output.contains("PASS   : BadInputTest::refusedDevice(" + tag + ")"),
                 qPrintable(output));
    }

private slots:
    void initTestCase() {
        TestEnv::isolateUserStore();
        TestEnv::setPortDevice(1, "/nonexistent/velmora-test-com1");
        TestEnv::setPortDevice(2, "/nonexistent/velmora-test-com2");
    }

    void cleanup() { form.reset(); }

    // Stored settings ---------------------------------------------------------

    // A settings file written by hand: a value that does not convert never
    // stops start-up and counts as absent, in whichever key it stands; a
    // valid one is applied. Closing writes plain numbers over the bad ones.
    void storedPlacement_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QRect>("twips");  // left, top, width, height applied
        auto row = [](const char* name, const char* left, const char* top, const char* width,
                      const char* height, QRect twips) {
            QTest::newRow(name) << QByteArray("[Settings]\nMainLeft=") + left + "\nMainTop=" + top +
                                       "\nMainWidth=" + width + "\nMainHeight=" + height + "\n"
                                << twips;
        };
        const QRect defaults(1000, 1000, 6500, 6500);
        row("not a number, empty, beyond single, nan", "abc", "", "1e39", "nan", defaults);
        row("inf and huge negatives", "inf", "-1e30", "-inf", "-3.4e38", defaults);
        row("valid forms in every key", "-0", "+12.5e1", "1.5E3", "+4.5E3",
            QRect(0, 125, 1500, 4500));
        row("valid and bad side by side", "1.5E3", "abc", "", "7000",
            QRect(1500, 1000, 6500, 7000));
        row("decimal comma, exponent only, hex", "1,5", "e5", "0x1F40", "1e5000", defaults);
        row("tiny is zero, not absent", "1e-50", "-0.0", "4000.", ".5e4", QRect(0, 0, 4000, 5000));
        QTest::newRow("a line without '=' in the section")
            << QByteArray(
                   "[Settings]\nMainLeft 1950\nMainTop=300\nMainWidth=5000\nMainHeight=5000\n")
            << QRect(1000, 300, 5000, 5000);
        QTest::newRow("a stray line above the section")
            << QByteArray(
                   "note to self\n[Settings]\nMainLeft=1950\nMainTop=300\nMainWidth=5000\n"
                   "MainHeight=5000\n")
            << QRect(1950, 300, 5000, 5000);
        static const char garbage[] = "\xff\xfe\x00garbage\n[Settings\nMainLeft\n=\n\x01\x02";
        QTest::newRow("not a settings file at all")
            << QByteArray(garbage, sizeof garbage - 1) << defaults;
    }
    void storedPlacement() {
        QFETCH(QByteArray, file);
        QFETCH(QRect, twips);
        writeStore(file);
        start();
        if (QTest::currentTestFailed()) return;

        const double dpi = Twips::dpi(form.get());
        const QRect expected(Twips::toPixels(twips.x(), dpi), Twips::toPixels(twips.y(), dpi),
                             Twips::toPixels(twips.width(), dpi),
                             Twips::toPixels(twips.height(), dpi));
        QCOMPARE(form->frameGeometry(), expected);
        QCOMPARE(form->panelText(StatusPanel::Status), QString("Status:Disconnect"));
        QCOMPARE(form->panelText(StatusPanel::Settings), QString("Settings: 9600,n,8,1"));

        BoxCloser closer;
        QVERIFY(form->close());
        // A format error met while reading the file is no failed write.
        QCOMPARE(closer.seen.size(), 0);
        QSettings stored(TestEnv::placementFile(), QSettings::IniFormat);
        const QRegularExpression wholeNumber(QStringLiteral("^-?\\d+$"));
        for (const char* key : {"MainLeft", "MainTop", "MainWidth", "MainHeight"}) {
            const QString value = stored.value(QStringLiteral("Settings/") + key).toString();
            QVERIFY2(wholeNumber.match(value).hasMatch(), qPrintable(key + (": " + value)));
        }
        start();  // and the next start comes back where this one was
        QCOMPARE(form->frameGeometry(), expected);
    }

    // Odd text ----------------------------------------------------------------

    // 100,000 characters pasted into the box: the box keeps all of them, and
    // the line gets each in the line's code page, in order, once; characters
    // outside the page go as one '?' each, control characters as their bytes.
    void oddTextPastedAndSent() {
        PluggedBoard board;
        start();
        form->Connect->click();
        QVERIFY(form->MSComm1->PortOpen());

        QString text;
        QByteArray line;
        const QList<Piece> pieces = oddPieces();
        for (qsizetype i = 0; text.size() < 100000; ++i) {
            const Piece& piece = pieces[i % pieces.size()];
            text += piece.text;
            line += piece.line;
        }
        QApplication::clipboard()->setText(text);
        QCOMPARE(QApplication::clipboard()->text(), text);
        form->TransText->setFocus();
        form->TransText->paste();
        QCOMPARE(form->TransText->text().size(), text.size());
        QVERIFY(form->TransText->text() == text);

        BoxCloser closer;
        form->Transmition->click();
        QVERIFY(form->MessageText->text() == " Transmition <" + text + "> finish");
        QCOMPARE(form->lampColor("TLED7"), Rgb::kRed);  // the euro sign, code 128
        QCOMPARE(form->lampColor("TLED0"), Rgb::kBlack);

        // A second send ends what the board checks, so nothing extra can hide.
        const QByteArray marker("#end#");
        form->TransText->setText(QString::fromLatin1(marker));
        form->Transmition->click();
        const QByteArray got = collectFromLine(board, line.size() + marker.size(), 20000);
        QCOMPARE(got.size(), line.size() + marker.size());
        QVERIFY2(got == line + marker, "the text arrived altered");
        QCOMPARE(closer.seen.size(), 0);
        QVERIFY(form->MSComm1->PortOpen());
    }

    // Refused devices ---------------------------------------------------------

    // A port whose device is no serial line, or one the user may not open, is
    // refused through the port error box; nothing else changes, the device is
    // left as it was, and a working device opens afterwards.
    void refusedDevice_data() {
        QTest::addColumn<Refused>("refused");
        QTest::addColumn<bool>("whileOpen");  // COM2 clicked while COM1 is open, else Connect
        const struct {
            const char* name;
            Refused refused;
        } kinds[] = {{"directory", Refused::Directory},
                     {"regular file", Refused::RegularFile},
                     {"no permission", Refused::NoPermission}};
        for (const auto& k : kinds) {
            QTest::addRow("%s, Connect", k.name) << k.refused << false;
            QTest::addRow("%s, switch from an open port", k.name) << k.refused << true;
        }
    }
    void refusedDevice() {
        QFETCH(Refused, refused);
        QFETCH(bool, whileOpen);
        QTemporaryDir dir;
        QTemporaryFile file;
        std::unique_ptr<PtyBoard> locked;
        QString path;
        switch (refused) {
            case Refused::Directory:
                path = dir.path();
                break;
            case Refused::RegularFile:
                QVERIFY(file.open());
                file.write("not a serial line\n");
                file.flush();
                path = file.fileName();
                break;
            case Refused::NoPermission:
                path = qEnvironmentVariable(kLockedDeviceVariable);
                if (!path.isEmpty()) break;  // the child, handed root's device
                locked = std::make_unique<PtyBoard>();
                path = locked->slavePath();
                // Root may open anything: a user without rights tries it instead.
                if (::geteuid() == 0) {
                    QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0600), 0);
                    runRowAsNobody(path);
                    return;
                }
                QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0), 0);
                break;
        }
        PluggedBoard com1;
        TestEnv::setPortDevice(2, path);
        start();
        if (whileOpen) {
            form->Connect->click();
            QVERIFY(form->MSComm1->PortOpen());
        }
        const QString before = snapshot(path);
        const qsizetype heldBefore = descriptorsOn(path);

        QString messageAtBox;
        BoxCloser closer([&] { messageAtBox = form->MessageText->text(); });
        form->COM2->click();
        if (!whileOpen) form->Connect->click();

        QCOMPARE(closer.seen.size(), 1);
        QCOMPARE(closer.seen[0].title, QString("Error Message"));
        QCOMPARE(closer.seen[0].text, QString(" COM2 has been useing !"));
        QCOMPARE(closer.seen[0].icon, QMessageBox::Warning);
        QCOMPARE(closer.seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(form->MessageText->text(), QString(" COM2 already open "));
        // Connect writes the message line before its box, a port button after.
        QCOMPARE(messageAtBox, whileOpen ? QString() : QString(" COM2 already open "));
        QVERIFY(!form->MSComm1->PortOpen());
        QCOMPARE(form->MSComm1->CommPort(), short(2));
        QCOMPARE(form->lampColor("ConnectState"), whileOpen ? Rgb::kRed : Rgb::kBlack);
        QCOMPARE(form->panelText(StatusPanel::Status),
                 QString(whileOpen ? "Status:COM1" : "Status:COM2"));
        QCOMPARE(form->panelText(StatusPanel::Settings), QString("Settings: 9600,n,8,1"));
        QVERIFY(!form->Transmition->isEnabled() && !form->Receive->isEnabled());
        QVERIFY(!form->Timer1->isActive());
        QCOMPARE(form->panelText(StatusPanel::Timer), QString("Timer:"));
        QCOMPARE(snapshot(path), before);
        QCOMPARE(descriptorsOn(path), heldBefore);
        QCOMPARE(descriptorsOn(com1.slavePath()), qsizetype(1));  // the board's own

        // A working device on the same port opens at the next Connect.
        PluggedBoard good(2);
        form->Connect->click();
        QCOMPARE(closer.seen.size(), 1);
        QVERIFY(form->MSComm1->PortOpen());
        QCOMPARE(form->lampColor("ConnectState"), Rgb::kGreen);
        QCOMPARE(form->panelText(StatusPanel::Status), QString("Status:COM2"));
        form->TransText->setText(QStringLiteral("ok"));
        form->Transmition->click();
        QCOMPARE(good.receive(2), QByteArray("ok"));
    }
};

QTEST_MAIN(BadInputTest)
#include "tst_badinput.moc"
