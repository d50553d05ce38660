"""Drives the real Velmora program in an X session the way a user does.

Input goes in as X events (xdotool: mouse clicks at a control's place, typed
keys); a window is closed through the window manager (openbox), which sends it
WM_DELETE_WINDOW as its close button does. What the window shows is read from
outside: texts, places and enabled states through the accessibility bus
(AT-SPI, as screen readers read them), lamp colours from the screen's pixels.

Runs inside `dbus-run-session -- xvfb-run -a` (see run.sh).
"""

import os
import re
import signal
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BOARD = os.path.join(REPO, "scripts", "emulated-board")
TWIPS_PER_PIXEL = 15  # the X server's 96 DPI
BLACK, RED, GREEN = (0, 0, 0), (255, 0, 0), (0, 255, 0)


class Failure(Exception):
    pass


def wait_for(what, probe, timeout=10.0):
    """Polls probe() until it returns something true; fails naming what and
    the last value seen."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"{what}: not seen within {timeout:.0f} s (last: {value!r})")
        time.sleep(0.05)


def expect(what, got, want):
    if got != want:
        raise Failure(f"{what}: wanted {want!r}, got {got!r}")
    print(f"ok - {what}", flush=True)


def run(*argv):
    return subprocess.run(argv, check=True, capture_output=True, text=True, timeout=20).stdout


def children(pid, name):
    """Ids of the processes called name whose parent is pid."""
    out = subprocess.run(["pgrep", "-P", str(pid), "-x", name], capture_output=True, text=True)
    return [int(p) for p in out.stdout.split()]


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    # A zombie has ended; only its parent has not collected it yet.
    with open(f"/proc/{pid}/stat") as stat:
        return stat.read().rsplit(")", 1)[1].split()[0] != "Z"


def write_placement(config_home, left, top, width, height):
    os.makedirs(os.path.join(config_home, "Velmora"), exist_ok=True)
    with open(placement_file(config_home), "w") as f:
        f.write(f"[Settings]\nMainLeft={left}\nMainTop={top}\nMainWidth={width}\nMainHeight={height}\n")


def placement_file(config_home):
    return os.path.join(config_home, "Velmora", "Velmora.conf")


def read_placement(config_home):
    """The stored placement as (left, top, width, height) in twips."""
    with open(placement_file(config_home)) as f:
        values = dict(re.findall(r"^(Main\w+)=(\S+)$", f.read(), re.M))
    return tuple(int(values[k]) for k in ("MainLeft", "MainTop", "MainWidth", "MainHeight"))


def screen_pixels():
    """The whole screen as (width, RGB bytes)."""
    width = int(run("xdotool", "getdisplaygeometry").split()[0])
    shot = subprocess.run(["import", "-silent", "-window", "root", "-depth", "8", "rgb:-"],
                          check=True, capture_output=True, timeout=20).stdout
    return width, shot


class Desktop:
    """The window manager and the accessibility bus of the test's X display."""

    def __init__(self):
        # Touching the desktop starts the accessibility bus and its registry,
        # so both are up before any program looks for them.
        Atspi.get_desktop(0).get_child_count()
        self.wm = subprocess.Popen(["openbox", "--sm-disable"], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        wait_for("openbox managing the screen",
                 lambda: subprocess.run(["wmctrl", "-m"], capture_output=True).returncode == 0)

    def close(self):
        self.wm.terminate()
        self.wm.wait(timeout=10)


class Control:
    def __init__(self, accessible):
        self.acc = accessible

    def text(self):
        self.acc.clear_cache()
        if self.acc.get_role() == Atspi.Role.TEXT:
            return Atspi.Text.get_text(self.acc, 0, -1)
        return self.acc.get_name()

    def enabled(self):
        self.acc.clear_cache()
        return self.acc.get_state_set().contains(Atspi.StateType.ENABLED)

    def rect(self):
        e = self.acc.get_extents(Atspi.CoordType.SCREEN)
        return e.x, e.y, e.width, e.height

    def centre(self):
        x, y, w, h = self.rect()
        return x + w // 2, y + h // 2

    def click(self):
        x, y = self.centre()
        run("xdotool", "mousemove", str(x), str(y), "click", "1")


def descendants(acc):
    for i in range(acc.get_child_count()):
        child = acc.get_child_at_index(i)
        yield child
        yield from descendants(child)


class Velmora:
    """One running Velmora: the process (started directly or through the
    emulated board), its X window and its controls."""

    started = []  # every one, for main() to stop whatever a scenario left

    def __init__(self, argv, env, log):
        self.on_board = argv[0] == BOARD
        self.env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", **env)
        self.log_path = log
        self.log = open(log, "w")
        # A process group of its own, so the clean-up reaches the board too.
        self.proc = subprocess.Popen(argv, env=self.env, stdin=subprocess.DEVNULL,
                                     stdout=self.log, stderr=subprocess.STDOUT,
                                     start_new_session=True)
        Velmora.started.append(self)
        self.pid = wait_for("velmora process", self.program_pid)
        self.window = wait_for("Velmora window", self.find_window, timeout=30)
        self.app = wait_for("Velmora on the accessibility bus", self.find_app)
        self.controls = wait_for("the window's controls", self.find_controls)

    def program_pid(self):
        if not self.on_board:
            return self.proc.pid
        pids = children(self.proc.pid, "velmora")
        return pids[0] if pids else None

    def board_pids(self):
        """The simulator and the line the emulated board runs, while it runs."""
        return children(self.proc.pid, "s51") + children(self.proc.pid, "socat")

    def output(self):
        with open(self.log_path) as f:
            return f.read()

    def find_window(self):
        out = subprocess.run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(self.pid),
                              "--name", "^Velmora$"], capture_output=True, text=True).stdout
        return int(out.split()[0]) if out.split() else None

    def find_app(self):
        desktop = Atspi.get_desktop(0)
        desktop.clear_cache()  # its list of programs is cached, and may miss one that came late
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app and app.get_process_id() == self.pid:
                return app
        return None

    def find_controls(self):
        """Controls by what a user sees: buttons and options by caption, text
        boxes by the label on their row, lamps by their row's frame (bit 0 at
        the right), status panels left to right."""
        found = {}
        labels, boxes, panels = [], [], []
        for acc in descendants(self.app):
            role, name = acc.get_role(), acc.get_name()
            if role in (Atspi.Role.PUSH_BUTTON, Atspi.Role.RADIO_BUTTON):
                found.setdefault(name, Control(acc))
            elif role == Atspi.Role.TEXT:
                boxes.append(Control(acc))
            elif role == Atspi.Role.LABEL:
                labels.append(Control(acc))
            elif role == Atspi.Role.PANEL:
                panels.append(acc)
        for panel in panels:
            name = panel.get_name()
            shapes = [Control(c) for c in descendants(panel) if c.get_role() == Atspi.Role.IMAGE]
            shapes.sort(key=lambda c: -c.rect()[0])
            if name in ("Transmission LED Status", "Receive LED Status") and len(shapes) == 8:
                prefix = "TLED" if name.startswith("Transmission") else "LED"
                found.update({f"{prefix}{k}": shape for k, shape in enumerate(shapes)})
            elif name == "Communication status" and shapes:
                found["ConnectState"] = shapes[0]
            elif name == "Message list":
                found["MessageText"] = Control(panel.get_child_at_index(0))
        for label in labels:
            for caption, box in (("Transmition string :", "TransText"), ("Receive string :", "RexText")):
                if label.text() == caption:
                    row = label.centre()[1]
                    found[box] = min(boxes, key=lambda b: abs(b.centre()[1] - row))
        bar = [lab for lab in labels if lab.acc.get_parent().get_role() == Atspi.Role.STATUS_BAR]
        bar.sort(key=lambda lab: lab.rect()[0])
        if len(bar) == 3:
            found.update(zip(("Status", "Settings", "Timer"), bar))
        wanted = ["Connect", "Disconnect", "COM1", "COM2", "4800", "9600", "14400", "Transmission",
                  "Receive", "Exit", "TransText", "RexText", "MessageText", "ConnectState",
                  "Status", "Settings", "Timer"] + [f"{p}{k}" for p in ("LED", "TLED") for k in range(8)]
        return found if all(k in found for k in wanted) else None

    def __getitem__(self, name):
        return self.controls[name]

    # --- What the window shows ---------------------------------------------

    def wait_text(self, name, want, timeout=10.0):
        """Waits until control name reads want (a string, or a compiled pattern)."""
        def matches():
            got = self[name].text()
            ok = got == want if isinstance(want, str) else want.fullmatch(got or "")
            return ok or None

        try:
            wait_for(name, matches, timeout)
        except Failure:
            raise Failure(f"{name}: wanted {getattr(want, 'pattern', want)!r}, "
                          f"shows {self[name].text()!r}") from None
        print(f"ok - {name} reads {self[name].text()!r}", flush=True)

    def colours(self, names):
        width, shot = screen_pixels()
        result = {}
        for name in names:
            x, y = self[name].centre()
            i = (y * width + x) * 3
            result[name] = tuple(shot[i:i + 3])
        return result

    def wait_lamps(self, row, lit, timeout=10.0):
        """Waits until exactly the lamps of row ("LED" or "TLED") whose bits
        are in lit are red and the others black."""
        names = [f"{row}{k}" for k in range(8)]
        want = {f"{row}{k}": RED if k in lit else BLACK for k in range(8)}
        seen = {}

        def same():
            nonlocal seen
            seen = self.colours(names)
            return seen == want

        try:
            wait_for(row, same, timeout)
        except Failure:
            raise Failure(f"{row} lamps: wanted bits {sorted(lit)} red, saw {seen}") from None
        print(f"ok - {row} lamps lit: bits {sorted(lit)}", flush=True)

    def wait_lamp(self, name, colour, timeout=10.0):
        seen = {}

        def same():
            nonlocal seen
            seen = self.colours([name])
            return seen[name] == colour

        try:
            wait_for(name, same, timeout)
        except Failure:
            raise Failure(f"{name}: wanted colour {colour}, saw {seen.get(name)}") from None
        print(f"ok - {name} is {colour}", flush=True)

    def wait_enabled(self, names, enabled):
        for name in names:
            wait_for(f"{name} {'enabled' if enabled else 'disabled'}",
                     lambda n=name: self[n].enabled() == enabled)
        print(f"ok - {', '.join(names)} {'enabled' if enabled else 'disabled'}", flush=True)

    def outer_frame(self):
        """The window's outer frame on screen, in pixels: its client area
        widened by the frame the window manager drew around it."""
        # xwininfo, not xdotool getwindowgeometry: the latter counts the
        # frame's offset twice once the window manager has reparented the window.
        info = dict(re.findall(r"^\s*(Absolute upper-left [XY]|Width|Height):\s*(-?\d+)$",
                               run("xwininfo", "-id", str(self.window)), re.M))
        extents = run("xprop", "-id", str(self.window), "_NET_FRAME_EXTENTS")
        left, right, top, bottom = (int(v) for v in re.findall(r"\d+", extents.split("=", 1)[1]))
        return (int(info["Absolute upper-left X"]) - left, int(info["Absolute upper-left Y"]) - top,
                int(info["Width"]) + left + right, int(info["Height"]) + top + bottom)

    # --- What the user does --------------------------------------------------

    def type_into(self, name, text):
        self[name].click()
        run("xdotool", "key", "--clearmodifiers", "ctrl+a", "BackSpace")
        run("xdotool", "type", "--delay", "30", text)
        wait_for(f"{name} holding {text!r}", lambda: self[name].text() == text)

    def close_by_window_manager(self):
        """Asks the window manager to close the window (_NET_CLOSE_WINDOW);
        openbox sends it WM_DELETE_WINDOW, as its close button does."""
        run("wmctrl", "-i", "-c", hex(self.window))

    def wait_exit(self, timeout=15.0):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the program did not end within {timeout:.0f} s") from None

    def stop(self):
        """Ends whatever of this run is left: the program, the board, and
        anything they started (TERM, then KILL for what did not listen)."""
        for sig in (signal.SIGTERM, signal.SIGKILL):
            try:
                os.killpg(self.proc.pid, sig)
            except ProcessLookupError:
                break  # the whole group has ended
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                pass
        self.log.close()


def main(scenarios):
    """Runs the scenario named by argv[1]; exit 0 when it passes."""
    if len(sys.argv) != 2 or sys.argv[1] not in scenarios:
        print(f"usage: {sys.argv[0]} {'|'.join(scenarios)}", file=sys.stderr)
        return 2
    desktop = None
    try:
        desktop = Desktop()
        scenarios[sys.argv[1]]()
    except (Failure, subprocess.SubprocessError, OSError) as failure:
        print(f"not ok - {failure}", flush=True)
        return 1
    finally:
        for app in Velmora.started:
            app.stop()
        if desktop:
            desktop.close()
    print(f"{sys.argv[1]}: passed", flush=True)
    return 0


# --- What a screen reader receives ---------------------------------------------

def node(acc):
    """One accessible as a screen reader gets it: role, name, description,
    the states that matter here."""
    acc.clear_cache()
    states = acc.get_state_set()
    wanted = {"checked": Atspi.StateType.CHECKED, "focused": Atspi.StateType.FOCUSED,
              "modal": Atspi.StateType.MODAL}
    return {"role": acc.get_role_name(), "name": acc.get_name(),
            "description": acc.get_description(),
            "states": {k for k, v in wanted.items() if states.contains(v)}}


def tree_nodes(app):
    """Every node of the program's tree, the window first."""
    window = app.app.get_child_at_index(0)
    return [window] + list(descendants(window))


def find_node(app, role, name=None):
    for acc in tree_nodes(app):
        if acc.get_role_name() == role and (name is None or acc.get_name() == name):
            return acc
    raise Failure(f"no {role} named {name!r} in the accessible tree")


def do_action(acc, action):
    """Runs an accessible action (AT-SPI Action interface), as a screen reader does."""
    names = [Atspi.Action.get_action_name(acc, i) for i in range(Atspi.Action.get_n_actions(acc))]
    if action not in names:
        raise Failure(f"{acc.get_name()!r} has no action {action!r} (has {names})")
    Atspi.Action.do_action(acc, names.index(action))


def region_pixels(rect):
    """The screen's pixels inside rect (x, y, w, h), row by row, as RGB triples."""
    width, shot = screen_pixels()
    x, y, w, h = rect
    return [[tuple(shot[((y + j) * width + x + i) * 3:((y + j) * width + x + i) * 3 + 3])
             for i in range(w)] for j in range(h)]


class DescriptionChanges:
    """The description changes the program announces over AT-SPI, as
    (name, description) pairs, from when this is made."""

    def __init__(self):
        self.seen = []
        self.listener = Atspi.EventListener.new(
            lambda e: self.seen.append((e.source.get_name(), e.source.get_description())))
        self.listener.register("object:property-change:accessible-description")

    def take(self, settle=1.0):
        """What arrived so far, after settle seconds of delivering events."""
        from gi.repository import GLib
        end = time.monotonic() + settle
        while time.monotonic() < end:
            GLib.MainContext.default().iteration(False)
            time.sleep(0.01)
        seen, self.seen = self.seen, []
        return seen


def line_exclusive(fd):
    """True while the terminal behind fd has its exclusive-use flag set (TIOCGEXCL)."""
    import fcntl
    import struct
    got = fcntl.ioctl(fd, 0x80045440, struct.pack("i", 0))
    return struct.unpack("i", got)[0] != 0


def lock_file_of(device):
    """The lock file serial tools write for device, in the system's lock folder."""
    return os.path.join("/run/lock", "LCK.." + os.path.basename(device))
