#include "app/Termination.h"

#include "serial/Line.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>

#include <atomic>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};
std::atomic<int> g_signals{0};

void onSignal(int signo) {
    if (g_signals.fetch_add(1) > 0) {
        Line::releaseAll();
        ::_exit(128 + signo);
    }
    const int saved = errno;
    const char byte = char(signo);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

namespace Termination {

void closeOnSignals(QWidget* window) {
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window,
                     [w = QPointer<QWidget>(window)] {
                         char byte;
                         while (::read(g_pipe[0], &byte, 1) == 1) {
                         }
                         if (w) w->close();
                     });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int signo : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(signo, &sa, nullptr);
}

}  // namespace Termination
