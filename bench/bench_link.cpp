// The serial path measured inside one process, as the program uses it: the
// real window, loaded, shown and connected by a click of Connect to a board
// played by a pseudo-terminal. Prints one "name value" line per figure.
//   bench_link [--idle-s N]
#include "serial/CodePage.h"
#include "serial/MSComm.h"
#include "support/PtyBoard.h"
#include "support/TestEnv.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

[[noreturn]] void die(const char* why) {
    std::fprintf(stderr, "bench_link: %s\n", why);
    std::exit(1);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void runEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Connected, the timer ticking, nothing on the line: this process's share of
// one core while its event loop runs.
double connectedIdlePercent(frmMain& form, int seconds) {
    runEventLoop(1000);  // first paints and ticks out of the way
    const double cpu0 = processCpuSeconds();
    const auto start = Clock::now();
    runEventLoop(seconds * 1000);
    const double percent = (processCpuSeconds() - cpu0) / since(start) * 100;
    if (!form.Timer1->isActive()) die("the connection timer was not running");
    return percent;
}

double inputNothingWaitingMedianUs(frmMain& form, int reads) {
    std::vector<double> us;
    us.reserve(std::size_t(reads));
    for (int i = 0; i < reads; ++i) {
        const auto start = Clock::now();
        const QString got = form.MSComm1->Input();
        us.push_back(since(start) * 1e6);
        if (!got.isEmpty()) die("a read found a character though the board sent none");
    }
    return median(us);
}

double QueryAckMedianMs(frmMain& form, int waits) {
    std::vector<double> ms;
    for (int i = 0; i < waits; ++i) {
        const auto start = Clock::now();
        form.QueryAck(QStringLiteral("Z"));
        ms.push_back(since(start) * 1e3);
        if (form.QueryLoopCt != 1000) die("QueryAck ended before its 1000 reads");
    }
    return median(ms);
}

// The board writes one byte; once the system holds it (FIONREAD on the
// device), the very next Input must return it, with no event loop between.
int nextInputHits(frmMain& form, PtyBoard& board, int trials) {
    int hits = 0;
    for (int i = 0; i < trials; ++i) {
        const QByteArray byte(1, char(i % 256));
        const QString expected = CodePage::fromAnsi(byte);
        board.send(byte);
        if (!board.waitSlaveHas(1)) die("the system never held the board's byte");
        if (form.MSComm1->Input() == expected) {
            ++hits;
            continue;
        }
        // Missed: take the byte late so the next trial starts clean.
        QElapsedTimer late;
        late.start();
        while (form.MSComm1->Input().isEmpty())
            if (late.elapsed() > 5000) die("the board's byte never arrived");
    }
    return hits;
}

struct Delivery {
    qsizetype bytes;
    bool inOrder;
    double ms;
};

// A text of 64 KiB typed into the box and sent with Transmission; the board
// reads until it has all of it, the event loop running as in the program.
Delivery sendLongText(frmMain& form, PtyBoard& board) {
    QByteArray bytes(64 * 1024, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char(0x21 + (i * 7 + i / 223) % 223);  // '!' .. 0xFF, no blank at the ends
    const QString text = CodePage::fromAnsi(bytes);
    form.TransText->setText(text);
    if (form.TransText->text() != text) die("the box did not take the whole text");

    const auto start = Clock::now();
    form.Transmition->click();
    QByteArray got;
    while (got.size() < bytes.size() && since(start) < 30) {
        QCoreApplication::processEvents();
        got += board.receiveAll();
        pollfd p{board.masterFd(), POLLIN, 0};
        poll(&p, 1, 10);
    }
    return {got.size(), got == bytes, since(start) * 1e3};
}
}  // namespace

int main(int argc, char* argv[]) {
    int idleSeconds = 10;
    if (argc == 3 && QByteArray(argv[1]) == "--idle-s") idleSeconds = std::atoi(argv[2]);

    TestEnv::isolateUserStore();
    PtyBoard board;
    TestEnv::setPortDevice(1, board.slavePath());
    QApplication app(argc, argv);

    frmMain form;
    form.Form_Load();
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) die("the window was never shown");
    {
        BoxCloser boxes;  // its polling timer must not run while idle is measured
        form.Connect->click();
        if (!boxes.seen.isEmpty() || !form.MSComm1->PortOpen())
            die("Connect did not open the board");
    }

    std::printf("connected_idle_cpu_percent %.4f\n", connectedIdlePercent(form, idleSeconds));
    std::printf("input_empty_median_us %.3f\n", inputNothingWaitingMedianUs(form, 10000));
    std::printf("queryack_1000_median_ms %.3f\n", QueryAckMedianMs(form, 21));
    const int trials = 1000;
    std::printf("next_input_hits %d/%d\n", nextInputHits(form, board, trials), trials);
    const Delivery sent = sendLongText(form, board);
    std::printf("text_64k_received %lld\n", static_cast<long long>(sent.bytes));
    std::printf("text_64k_in_order %s\n", sent.inOrder ? "yes" : "no");
    std::printf("text_64k_ms %.1f\n", sent.ms);
    return 0;
}
