// Starts a program on the X display and measures it from outside: the time
// from process start until the server maps the program's first top-level
// window, then, once it has settled, its resident size and, over an idle
// stretch, the share of one core it uses (all its threads).
//   window_probe [--settle-ms N] [--idle-s N] -- program [arguments...]
// Prints "mapped_ms", "rss_kib" and, with --idle-s, "cpu_percent", one
// "name value" line each.
//
// The map is seen as the server's MapNotify on the root window (selected
// before the program starts, so none is missed), taken for the program's
// once the window's _NET_WM_PID names it. No polling, no window manager.
#include <xcb/xcb.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

extern char** environ;

namespace {
using Clock = std::chrono::steady_clock;

[[noreturn]] void die(const std::string& why) {
    std::fprintf(stderr, "window_probe: %s\n", why.c_str());
    std::exit(1);
}

template <typename Reply>
using Owned = std::unique_ptr<Reply, decltype(&std::free)>;

xcb_atom_t atom(xcb_connection_t* x, const char* name) {
    Owned<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, uint16_t(std::strlen(name)), name), nullptr),
        &std::free);
    if (!reply) die(std::string("no atom ") + name);
    return reply->atom;
}

pid_t windowPid(xcb_connection_t* x, xcb_window_t window, xcb_atom_t netWmPid) {
    Owned<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(x, xcb_get_property(x, 0, window, netWmPid, XCB_ATOM_CARDINAL, 0, 1),
                               nullptr),
        &std::free);
    if (!reply || xcb_get_property_value_length(reply.get()) != 4) return -1;
    return pid_t(*static_cast<uint32_t*>(xcb_get_property_value(reply.get())));
}

// Waits for the map of a top-level window of pid; the time it arrived.
Clock::time_point waitForMap(xcb_connection_t* x, pid_t pid, xcb_atom_t netWmPid) {
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < deadline) {
        while (xcb_generic_event_t* raw = xcb_poll_for_event(x)) {
            Owned<xcb_generic_event_t> event(raw, &std::free);
            const auto when = Clock::now();
            if ((event->response_type & 0x7f) != XCB_MAP_NOTIFY) continue;
            const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event.get());
            if (!map->override_redirect && windowPid(x, map->window, netWmPid) == pid) return when;
        }
        if (xcb_connection_has_error(x)) die("lost the X connection");
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            die("the program ended before it showed a window");
        pollfd p{xcb_get_file_descriptor(x), POLLIN, 0};
        poll(&p, 1, 100);
    }
    die("no window within 60 s");
}

long residentKib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    die("no VmRSS");
}

double cpuSeconds(clockid_t clock) {
    timespec t{};
    if (clock_gettime(clock, &t) != 0) die("cannot read the program's CPU clock");
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}
}  // namespace

int main(int argc, char* argv[]) {
    int settleMs = 1000, idleS = 0, first = 1;
    for (; first < argc; ++first) {
        const std::string arg = argv[first];
        if (arg == "--" || first + 1 >= argc) break;
        if (arg == "--settle-ms")
            settleMs = std::atoi(argv[++first]);
        else if (arg == "--idle-s")
            idleS = std::atoi(argv[++first]);
        else
            die("unknown option " + arg);
    }
    if (first >= argc - 1 || std::string(argv[first]) != "--")
        die("usage: window_probe [--settle-ms N] [--idle-s N] -- program [arguments...]");
    char** program = argv + first + 1;

    int screenNumber = 0;
    xcb_connection_t* x = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(x)) die("cannot open the X display");
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(x));
    for (int i = 0; i < screenNumber; ++i) xcb_screen_next(&screens);
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    if (xcb_generic_error_t* error =
            xcb_request_check(x, xcb_change_window_attributes_checked(x, screens.data->root,
                                                                      XCB_CW_EVENT_MASK, &mask))) {
        std::free(error);
        die("cannot watch the root window");
    }
    const xcb_atom_t netWmPid = atom(x, "_NET_WM_PID");

    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, program[0], nullptr, nullptr, program, environ) != 0)
        die(std::string("cannot start ") + program[0]);
    const auto mapped = waitForMap(x, pid, netWmPid);
    std::printf("mapped_ms %.2f\n", seconds(mapped - start) * 1e3);

    std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
    if (idleS > 0) {
        clockid_t cpu{};
        if (clock_getcpuclockid(pid, &cpu) != 0) die("no CPU clock for the program");
        const double cpu0 = cpuSeconds(cpu);
        const auto wall0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(idleS));
        const double cpu1 = cpuSeconds(cpu);
        std::printf("cpu_percent %.4f\n", (cpu1 - cpu0) / seconds(Clock::now() - wall0) * 100);
    }
    std::printf("rss_kib %ld\n", residentKib(pid));

    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    xcb_disconnect(x);
    return 0;
}
