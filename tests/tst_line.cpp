// The serial line against other programs and on every way out: the three
// holding conventions (exclusive-use flag, flock, lock file), stale locks,
// release on Disconnect, a port switch, Exit, the signals and the process's
// end, closing with output pending, and which device COMn stands for.
#include "app/Termination.h"
#include "serial/LineLock.h"
#include "serial/MSComm.h"
#include "serial/PortOrder.h"
#include "support/ErrorOf.h"
#include "support/PtyBoard.h"
#include "support/TestEnv.h"
#include "support/WindowChecks.h"
#include "ui/frmMain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool exclusive(int fd) {
    int on = 0;
    return ::ioctl(fd, TIOCGEXCL, &on) == 0 && on != 0;
}

// True when someone holds an flock on the device.
bool flocked(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray asciiPid(qint64 pid) {
    return QByteArray::number(pid).rightJustified(10, ' ') + '\n';
}

// A PID that no process has now.
qint64 deadPid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

QString ownLock(const QString& dir, const QString& device) {
    return dir + u'/' + LineLock::fileName(device);
}

enum class Content {
    LiveAscii,
    LiveBinary,
    LiveQt,
    DeadAscii,
    OursNotHeld,
    Zero,
    Negative,
    BeyondPidMax,
    EmptyOld,
    EmptyFresh,
    Garbage,
    Huge,
    Directory,
    Symlink
};

// The child modes this binary runs in (argv[1] == "--child").
int runChild(int argc, char** argv) {
    if (argc < 4) return 2;
    const QByteArray mode = argv[2];
    LineLock::setDirectories({QString::fromLocal8Bit(argv[3])});
    if (mode == "open") {
        QCoreApplication app(argc, argv);
        MSComm comm;
        const int e = errorOf([&] { comm.setPortOpen(true); });
        std::printf(e == 0 ? "opened\n" : "error %d\n", e);
        return 0;
    }
    QApplication app(argc, argv);
    TestEnv::isolateUserStore();
    auto form = WindowChecks::startWindow();
    Termination::closeOnSignals(form.get());
    if (!WindowChecks::showAndConnect(*form)) return 3;
    QSocketNotifier go(0, QSocketNotifier::Read);
    QObject::connect(&go, &QSocketNotifier::activated, [&] {
        if (mode == "exit") form->Exit_Click();
        std::exit(0);  // as Qt's X11 plugin ends a broken connection
    });
    std::printf("connected\n");
    std::fflush(stdout);
    if (mode == "twice") {
        // The first signal's close must not run: block the event loop.
        ::pause();
        ::pause();
    }
    return QApplication::exec();
}

}  // namespace

Q_DECLARE_METATYPE(Content)
Q_DECLARE_METATYPE(PortOrder::Port)

class LineTest : public QObject {
    Q_OBJECT
    QTemporaryDir lockDir;

    // Runs this binary as a child in one of its child modes.
    QProcess* startChild(const QStringList& args, const QString& device,
                         const QStringList& prefix = {}) {
        auto* child = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VELMORA_COM1"), device);
        child->setProcessEnvironment(env);
        QStringList all = prefix;
        all << QCoreApplication::applicationFilePath() << QStringLiteral("--child") << args;
        child->start(all.takeFirst(), all);
        return child;
    }

    static bool waitLine(QProcess* p, const QByteArray& line, int ms = 20000) {
        QElapsedTimer t;
        t.start();
        QByteArray seen;
        while (t.elapsed() < ms) {
            if (p->canReadLine() || p->waitForReadyRead(100)) {
                while (p->canReadLine()) {
                    seen = p->readLine();
                    if (seen.trimmed() == line) return true;
                }
            }
            if (p->state() == QProcess::NotRunning && !p->canReadLine()) return false;
        }
        return false;
    }

private slots:
    void initTestCase() {
        TestEnv::isolateUserStore();
        QVERIFY(lockDir.isValid());
        LineLock::setDirectories({lockDir.path()});
    }
    void init() {
        LineLock::setDirectories({lockDir.path()});
        QDir dir(lockDir.path());
        for (const QFileInfo& f :
             dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)) {
            if (f.isDir() && !f.isSymLink())
                QDir(f.filePath()).removeRecursively();
            else
                QFile::remove(f.filePath());
        }
    }

    // The component's own hold: all three conventions while open, none after.
    void holdsByAllThreeAndReleases() {
        PluggedBoard board;
        MSComm comm;
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 0);
        const QString lock = ownLock(lockDir.path(), board.slavePath());
        QCOMPARE(readFile(lock), asciiPid(::getpid()));
        QVERIFY(exclusive(board.slaveFd()));
        QVERIFY(flocked(board.slavePath()));

        // A second component in this process is refused as any other program.
        MSComm second;
        QCOMPARE(errorOf([&] { second.setPortOpen(true); }), 8005);
        QVERIFY(QFile::exists(lock));

        comm.setPortOpen(false);
        QVERIFY(!exclusive(board.slaveFd()));
        QVERIFY(!flocked(board.slavePath()));
        QVERIFY(!QFile::exists(lock));
    }

    // Lock files as other programs (and accidents) leave them.
    void lockFiles_data() {
        QTest::addColumn<Content>("content");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<bool>("fileStays");  // the foreign file is still there afterwards
        QTest::newRow("live ASCII PID") << Content::LiveAscii << false << true;
        QTest::newRow("live binary PID") << Content::LiveBinary << false << true;
        QTest::newRow("live PID, Qt's form (name and host below)")
            << Content::LiveQt << false << true;
        QTest::newRow("dead PID: stale, removed") << Content::DeadAscii << true << false;
        QTest::newRow("our PID, not held here") << Content::OursNotHeld << true << false;
        QTest::newRow("PID 0") << Content::Zero << true << false;
        QTest::newRow("negative PID") << Content::Negative << true << false;
        QTest::newRow("beyond pid_max") << Content::BeyondPidMax << true << false;
        QTest::newRow("empty, old") << Content::EmptyOld << true << false;
        QTest::newRow("empty, being written") << Content::EmptyFresh << false << true;
        QTest::newRow("garbage") << Content::Garbage << true << false;
        QTest::newRow("huge") << Content::Huge << true << false;
        QTest::newRow("a directory: kept, no lock of ours") << Content::Directory << true << true;
        QTest::newRow("a symlink: the link goes, never its target")
            << Content::Symlink << true << false;
    }
    void lockFiles() {
        QFETCH(Content, content);
        QFETCH(bool, opens);
        QFETCH(bool, fileStays);
        PluggedBoard board;
        const QString lock = ownLock(lockDir.path(), board.slavePath());
        const QString target = lockDir.filePath(QStringLiteral("target"));
        QByteArray written;
        switch (content) {
            case Content::LiveAscii:
                written = asciiPid(1);
                break;
            case Content::LiveBinary: {
                const int pid = 1;
                written = QByteArray(reinterpret_cast<const char*>(&pid), sizeof pid);
                break;
            }
            case Content::LiveQt:
                written = "1\nminiterm\nbench\n";
                break;
            case Content::DeadAscii:
                written = asciiPid(deadPid());
                break;
            case Content::OursNotHeld:
                written = asciiPid(::getpid());
                break;
            case Content::Zero:
                written = asciiPid(0);
                break;
            case Content::Negative:
                written = "        -5\n";
                break;
            case Content::BeyondPidMax:
                written = asciiPid(99999999);
                break;
            case Content::EmptyOld:
            case Content::EmptyFresh:
                break;
            case Content::Garbage:
                written = "hello, world\n";
                break;
            case Content::Huge:
                written = QByteArray(1 << 20, '1');
                break;
            case Content::Directory:
                QVERIFY(QDir().mkdir(lock));
                break;
            case Content::Symlink:
                writeFile(target, asciiPid(1));
                QVERIFY(QFile::link(target, lock));
                break;
        }
        if (content != Content::Directory && content != Content::Symlink) writeFile(lock, written);
        if (content == Content::EmptyOld) {
            QFile f(lock);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                                  QFileDevice::FileModificationTime));
        }

        MSComm comm;
        const int e = errorOf([&] { comm.setPortOpen(true); });
        QCOMPARE(e, opens ? 0 : 8005);
        QCOMPARE(comm.PortOpen(), opens);
        if (fileStays) {
            const QFileInfo info(lock);
            QVERIFY(info.exists());
            if (content == Content::Directory)
                QVERIFY(info.isDir());
            else
                QCOMPARE(readFile(lock), written);
        } else if (opens) {
            QCOMPARE(readFile(lock), asciiPid(::getpid()));  // ours replaced it
            QVERIFY(!QFileInfo(lock).isSymLink());
        }
        if (content == Content::Symlink) QCOMPARE(readFile(target), asciiPid(1));
        comm.setPortOpen(false);
        if (opens && !fileStays) QVERIFY(!QFileInfo::exists(lock));
        if (fileStays) QVERIFY(QFileInfo::exists(lock));  // never ours to remove
    }

    // No lock folder at all, or one we may not write: the flag and flock still hold it.
    void lockFolderUnusable() {
        PluggedBoard board;
        LineLock::setDirectories({lockDir.filePath(QStringLiteral("missing"))});
        MSComm comm;
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 0);
        QVERIFY(exclusive(board.slaveFd()));
        QVERIFY(flocked(board.slavePath()));
        comm.setPortOpen(false);
        QVERIFY(!exclusive(board.slaveFd()));
    }

    // Another process holding the device by flock (as picocom does), or by
    // its exclusive-use flag: refused, and fine again once it lets go.
    void otherHolders() {
        PluggedBoard board;
        const QString flockTool = QStandardPaths::findExecutable(QStringLiteral("flock"));
        if (!flockTool.isEmpty()) {
            QProcess holder;
            holder.start(flockTool,
                         {QStringLiteral("--no-fork"), board.slavePath(), QStringLiteral("-c"),
                          QStringLiteral("echo held; exec sleep 30")});
            QVERIFY(waitLine(&holder, "held"));
            MSComm comm;
            QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 8005);
            holder.kill();
            holder.waitForFinished();
            QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 0);
            comm.setPortOpen(false);
        } else {
            qWarning("no flock tool: the flock case is not run");
        }

        const int other =
            ::open(QFile::encodeName(board.slavePath()).constData(), O_RDWR | O_NOCTTY);
        QVERIFY(other >= 0);
        QCOMPARE(::ioctl(other, TIOCEXCL), 0);
        MSComm comm;
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 8005);
        QCOMPARE(::ioctl(other, TIOCNXCL), 0);
        ::close(other);
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 0);
    }

    // Disconnect and a port switch in the window release the line they leave.
    void windowReleases() {
        PluggedBoard board1;
        PluggedBoard board2(2);
        auto form = WindowChecks::startWindow();
        QVERIFY(WindowChecks::showAndConnect(*form));
        QVERIFY(exclusive(board1.slaveFd()));
        form->COM2_Click();
        QVERIFY(!exclusive(board1.slaveFd()));
        QVERIFY(!QFileInfo::exists(ownLock(lockDir.path(), board1.slavePath())));
        QVERIFY(exclusive(board2.slaveFd()));
        QVERIFY(QFileInfo::exists(ownLock(lockDir.path(), board2.slavePath())));
        form->Disconnect_Click();
        QVERIFY(!exclusive(board2.slaveFd()));
        QVERIFY(!flocked(board2.slavePath()));
        QVERIFY(!QFileInfo::exists(ownLock(lockDir.path(), board2.slavePath())));
    }

    // Closing with the line full (the board reads nothing) discards the rest
    // of the text: afterwards no more of it reaches the board.
    void closeDiscardsUnsentOutput() {
        PluggedBoard board;
        MSComm comm;
        comm.setPortOpen(true);
        const QString text(256 * 1024, QLatin1Char('x'));
        comm.setOutput(text);
        // Until the line is full: the pseudo-terminal moves bytes to the
        // board's side a little later, so wait until that settles.
        int inDriver = -1;
        while (inDriver != board.pending()) {
            inDriver = board.pending();
            QTest::qWait(50);
        }
        QVERIFY2(inDriver < text.size(), "the line took everything: nothing to discard");
        QElapsedTimer t;
        t.start();
        comm.setPortOpen(false);
        qInfo("closing with %d bytes unsent took %lld ms", int(text.size()) - inDriver,
              t.elapsed());
        QTest::qWait(100);
        const QByteArray got = board.receiveAll();
        QTest::qWait(100);
        QVERIFY(board.receiveAll().isEmpty());
        QVERIFY2(got.size() <= inDriver, qPrintable(QString::number(got.size())));
        QCOMPARE(board.pending(), 0);
    }

    // Exit, each signal and the process's end release the line; the signals
    // close the window as its close box does (placement saved).
    void waysOut_data() {
        QTest::addColumn<QString>("way");
        QTest::addColumn<bool>("savesPlacement");
        QTest::newRow("Exit") << "exit" << false;
        QTest::newRow("SIGTERM") << "SIGTERM" << true;
        QTest::newRow("SIGHUP") << "SIGHUP" << true;
        QTest::newRow("SIGINT") << "SIGINT" << true;
        QTest::newRow("exit() as on a lost X connection") << "atexit" << false;
        QTest::newRow("second signal ends at once") << "twice" << false;
    }
    void waysOut() {
        QFETCH(QString, way);
        QFETCH(bool, savesPlacement);
        QFile::remove(TestEnv::placementFile());
        PtyBoard board;
        QProcess* child = startChild({way, lockDir.path()}, board.slavePath());
        QVERIFY2(waitLine(child, "connected"), child->readAllStandardError().constData());
        const QString lock = ownLock(lockDir.path(), board.slavePath());
        QVERIFY(exclusive(board.slaveFd()));
        QCOMPARE(readFile(lock), asciiPid(child->processId()));
        if (way.startsWith(QLatin1String("SIG")) || way == QLatin1String("twice")) {
            const int signo = way == QLatin1String("SIGHUP")   ? SIGHUP
                              : way == QLatin1String("SIGINT") ? SIGINT
                                                               : SIGTERM;
            ::kill(pid_t(child->processId()), signo);
            if (way == QLatin1String("twice")) {
                QTest::qWait(300);  // two pending signals of a kind would merge into one
                ::kill(pid_t(child->processId()), signo);
            }
        } else {
            child->write("go\n");
        }
        QVERIFY(child->waitForFinished(20000));
        QVERIFY(!exclusive(board.slaveFd()));
        QVERIFY(!flocked(board.slavePath()));
        QVERIFY(!QFileInfo::exists(lock));
        if (savesPlacement) {
            QCOMPARE(child->exitCode(), 0);
            QVERIFY(QFileInfo::exists(TestEnv::placementFile()));
        }
        if (way == QLatin1String("exit")) QVERIFY(!QFileInfo::exists(TestEnv::placementFile()));
    }

    // kill -9 releases nothing: the lock file stays, naming a dead process,
    // and the next open clears it as stale. (The exclusive-use flag stays on
    // a pseudo-terminal whose slave another process keeps open, here this
    // test; the kernel keeps refusing others until that side clears it.)
    void killNineLeavesStaleLock() {
        PtyBoard board;
        QProcess* child =
            startChild({QStringLiteral("SIGKILL"), lockDir.path()}, board.slavePath());
        QVERIFY(waitLine(child, "connected"));
        const QString lock = ownLock(lockDir.path(), board.slavePath());
        const qint64 pid = child->processId();
        ::kill(pid_t(pid), SIGKILL);
        QVERIFY(child->waitForFinished(20000));
        QCOMPARE(readFile(lock), asciiPid(pid));
        QVERIFY(exclusive(board.slaveFd()));
        MSComm comm;
        TestEnv::setPortDevice(1, board.slavePath());
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 8005);
        QCOMPARE(::ioctl(board.slaveFd(), TIOCNXCL), 0);
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), 0);
        QCOMPARE(readFile(lock), asciiPid(::getpid()));
    }

    // As an unprivileged user (root would pass the checks): a live program's
    // lock refuses and stays; a stale one root left in the sticky lock folder
    // cannot be removed and does not block; a lock folder we may not write in
    // does not block either (the flag and the flock still hold the port).
    void asNobody_data() {
        QTest::addColumn<QByteArray>("written");  // empty: no lock file there
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<QString>("expected");
        QTest::newRow("root's live lock") << asciiPid(1) << 01777 << "error 8005";
        QTest::newRow("root's stale lock") << asciiPid(deadPid()) << 01777 << "opened";
        QTest::newRow("read-only lock folder") << QByteArray() << 0755 << "opened";
    }
    void asNobody() {
        QFETCH(QByteArray, written);
        QFETCH(int, folderMode);
        QFETCH(QString, expected);
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        const passwd* nobody = ::getpwnam("nobody");
        if (::getuid() != 0 || setpriv.isEmpty() || !nobody)
            QSKIP("needs root, setpriv and the user nobody");
        QTemporaryDir folder;
        QCOMPARE(::chmod(QFile::encodeName(folder.path()).constData(), mode_t(folderMode)), 0);
        PtyBoard board;
        QCOMPARE(::chmod(QFile::encodeName(board.slavePath()).constData(), 0666), 0);
        const QString lock = ownLock(folder.path(), board.slavePath());
        if (!written.isEmpty()) writeFile(lock, written);
        QProcess* child = startChild(
            {QStringLiteral("open"), folder.path()}, board.slavePath(),
            {setpriv, QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
             QStringLiteral("--regid=%1").arg(nobody->pw_gid), QStringLiteral("--clear-groups")});
        QVERIFY(child->waitForFinished(20000));
        const QString out = QString::fromLocal8Bit(child->readAllStandardOutput()).trimmed();
        const QString err = QString::fromLocal8Bit(child->readAllStandardError());
        QVERIFY2(out == expected, qPrintable(out + " / " + err));
        if (written.isEmpty())
            QVERIFY2(!QFileInfo::exists(lock), "a lock file appeared in a read-only folder");
        else
            QCOMPARE(readFile(lock), written);  // never removed, never overwritten
        if (expected != u"opened")
            QVERIFY2(err.contains(QStringLiteral("locked by PID 1")), qPrintable(err));
        QVERIFY(!exclusive(board.slaveFd()));
        qInfo("%s", qPrintable(err.trimmed()));
    }

    // Which device COMn stands for without VELMORA_COMn.
    void portOrder_data() {
        QTest::addColumn<QList<PortOrder::Port>>("ports");
        QTest::addColumn<QStringList>("order");
        using P = PortOrder::Port;
        QTest::newRow("nothing") << QList<P>{} << QStringList{};
        QTest::newRow("UARTs by number, not by name")
            << QList<P>{{"/dev/ttyS10", ""}, {"/dev/ttyS2", ""}, {"/dev/ttyS0", ""}}
            << QStringList{"/dev/ttyS0", "/dev/ttyS2", "/dev/ttyS10"};
        QTest::newRow("UARTs, then adapters by bus place, then others")
            << QList<P>{{"/dev/ttyAMA0", ""},
                        {"/dev/ttyUSB0", "pci-0000:00:14.0-usb-0:3:1.0-port0"},
                        {"/dev/ttyACM0", "pci-0000:00:14.0-usb-0:1:1.0"},
                        {"/dev/ttyS1", ""}}
            << QStringList{"/dev/ttyS1", "/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyAMA0"};
        QTest::newRow("adapters without a bus place after those with one")
            << QList<P>{{"/dev/ttyUSB1", ""}, {"/dev/ttyUSB0", ""}, {"/dev/ttyUSB3", "pci-b"}}
            << QStringList{"/dev/ttyUSB3", "/dev/ttyUSB0", "/dev/ttyUSB1"};
        QTest::newRow("a port listed twice counts once")
            << QList<P>{{"/dev/ttyUSB0", "x"}, {"/dev/ttyUSB0", "x"}}
            << QStringList{"/dev/ttyUSB0"};
    }
    void portOrder() {
        QFETCH(QList<PortOrder::Port>, ports);
        QFETCH(QStringList, order);
        QCOMPARE(PortOrder::order(ports), order);
    }

    void devicePathFallsBackToTtyS() {
        qunsetenv("VELMORA_COM1");
        qunsetenv("VELMORA_COM2");
        const QStringList present = PortOrder::present();
        for (short n = 1; n <= 3; ++n)
            QCOMPARE(MSComm::devicePath(n), n <= present.size()
                                                ? present.at(n - 1)
                                                : QStringLiteral("/dev/ttyS%1").arg(n - 1));
    }
};

int main(int argc, char** argv) {
    if (argc >= 2 && qstrcmp(argv[1], "--child") == 0) return runChild(argc, argv);
    QApplication app(argc, argv);
    LineTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_line.moc"
