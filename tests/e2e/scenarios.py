"""End-to-end runs of Velmora against the emulated board (firmware/board.c in
s51): the typical run with the placement kept between two starts, a speed
change on the open link, a port another Velmora holds, and a board that dies
while the window is open.

    scenarios.py typical_run|speed_change|busy_port|board_dies|screenshot

VELMORA_BUILD names the build folder (velmora, firmware/board-9600.ihx).
"""

import os
import re
import shutil
import signal
import sys
import tempfile
import termios
import time

from desktop import (BLACK, BOARD, GREEN, TWIPS_PER_PIXEL, Atspi, Control, DescriptionChanges,
                     Failure, Velmora, alive, children, descendants, do_action, expect, find_node,
                     main, node, read_placement, region_pixels, run, tree_nodes, wait_for,
                     write_placement)

BUILD = os.environ.get("VELMORA_BUILD", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
PROGRAM = os.path.join(BUILD, "velmora")
WORK = tempfile.mkdtemp(prefix="velmora-e2e.")
TRANSMIT_BUTTONS = ["Transmission", "Receive"]


def on_board(config_home, log):
    """Velmora started the way the README runs it: the emulated board's
    command mode, which stops the board when the program ends."""
    return Velmora([BOARD, "--firmware-dir", os.path.join(BUILD, "firmware"), "--", PROGRAM],
                   {"XDG_CONFIG_HOME": config_home}, os.path.join(WORK, log))


def home(name, left_twips):
    """A per-user settings folder whose window shows the whole layout."""
    path = os.path.join(WORK, name)
    write_placement(path, left_twips, 1200, 7200, 9300)
    return path


def com1_path(app):
    with open(f"/proc/{app.pid}/environ", "rb") as f:
        env = dict(v.split(b"=", 1) for v in f.read().split(b"\0") if b"=" in v)
    return env[b"VELMORA_COM1"].decode()


def connect(app):
    app["Connect"].click()
    app.wait_lamp("ConnectState", GREEN)
    app.wait_text("Status", "Status:COM1")
    app.wait_enabled(TRANSMIT_BUTTONS, True)


def send(app, text):
    app.type_into("TransText", text)
    app["Transmission"].click()
    app.wait_text("MessageText", f" Transmition <{text}> finish")


def receive(app, want, lit):
    app["Receive"].click()
    app.wait_text("RexText", want)
    app.wait_lamps("LED", lit)
    app.wait_text("MessageText", " Receive procedure ok ")


def placed_at(app, twips):
    """Waits until the window manager has framed the window with its outer
    frame at the stored placement."""
    want = tuple(v // TWIPS_PER_PIXEL for v in twips)
    seen = None

    def there():
        nonlocal seen
        seen = app.outer_frame()
        return seen == want

    try:
        wait_for("window at its stored place", there, timeout=5)
    except Failure:
        raise Failure(f"outer frame (pixels): wanted {want} from {twips} twips, got {seen}") from None
    print(f"ok - outer frame at {want} (pixels), as stored", flush=True)


def close_and_check_board_stops(app):
    """Closes the window as its close box does; the run command must then end
    with the program's status and leave no simulator or line behind."""
    board = app.board_pids()
    expect("board processes while the window is open", len(board), 2)
    app.close_by_window_manager()
    expect("exit status of the run command after closing the window", app.wait_exit(), 0)
    left = [p for p in board if alive(p)]
    expect("s51 and socat left after the run command ended", left, [])


def typical_run():
    config = home("user", 1500)
    app = on_board(config, "first.log")
    placed_at(app, read_placement(config))
    app.wait_text("Status", "Status:Disconnect")
    app.wait_text("Settings", "Settings: 9600,n,8,1")
    app.wait_text("Timer", "Timer:")
    app.wait_lamp("ConnectState", BLACK)
    app.wait_enabled(TRANSMIT_BUTTONS, False)

    connect(app)
    app.wait_text("Settings", "Settings: 9600,n,8,1")
    app.wait_text("Timer", re.compile(r"Timer:0:0:[1-9]\d*"), timeout=5)

    send(app, "A")
    app.wait_lamps("TLED", {0, 6})
    receive(app, "U", {0, 2, 4, 6})  # the board's greeting
    receive(app, "A", {0, 6})  # the echo of what was sent

    app["Disconnect"].click()
    app.wait_lamp("ConnectState", BLACK)
    app.wait_text("Status", "Status:Disconnect")
    app.wait_text("Timer", "Timer:")
    app.wait_text("MessageText", " COM1 disconnect ")
    app.wait_enabled(TRANSMIT_BUTTONS, False)

    # The user moves and resizes the window before closing it.
    before = app.outer_frame()
    run("wmctrl", "-i", "-r", hex(app.window), "-e", "0,180,140,520,640")
    frame = wait_for("window moved", lambda: app.outer_frame() != before and app.outer_frame())
    close_and_check_board_stops(app)
    stored = read_placement(config)
    expect("stored placement (twips) = outer frame at closing (pixels) x 15", stored,
           tuple(v * TWIPS_PER_PIXEL for v in frame))

    again = on_board(config, "second.log")
    placed_at(again, stored)
    close_and_check_board_stops(again)
    expect("placement stored after an unmoved second run", read_placement(config), stored)


def line_speed(path):
    """The speed the terminal line is set to, or None when this user may not
    open a line that another program holds exclusively (only root may)."""
    try:
        fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    except OSError as error:
        print(f"# line speed not probed: {path}: {error.strerror}", flush=True)
        return None
    try:
        return termios.tcgetattr(fd)[5]
    finally:
        os.close(fd)


def speed_change():
    app = on_board(home("user", 1500), "speed.log")
    connect(app)
    path = com1_path(app)
    for button, speed in (("4800", termios.B4800), ("9600", termios.B9600)):
        app[button].click()
        app.wait_text("Settings", f"Settings: {button},n,8,1")
        app.wait_text("Status", "Status:COM1")
        app.wait_lamp("ConnectState", GREEN)
        got = line_speed(path)
        if got is not None:
            expect(f"line speed after {button}", got, speed)
    app["14400"].click()
    app.wait_text("Settings", "Settings: 14400,n,8,1")
    app.wait_enabled(TRANSMIT_BUTTONS, True)

    # The link still carries both ways after the changes.
    send(app, "?")
    receive(app, "U", {0, 2, 4, 6})
    receive(app, "?", {0, 1, 2, 3, 4, 5})
    receive(app, "K", {0, 1, 3, 6})
    close_and_check_board_stops(app)


def message_box(app):
    """The program's open message box, or None."""
    for acc in descendants(app.app):
        if acc.get_role() in (Atspi.Role.ALERT, Atspi.Role.DIALOG):
            return acc
    return None


def busy_port():
    first = on_board(home("first", 1500), "first.log")
    connect(first)
    second = Velmora([PROGRAM], {"XDG_CONFIG_HOME": home("second", 9600),
                                 "VELMORA_COM1": com1_path(first)},
                     os.path.join(WORK, "second.log"))
    second["Connect"].click()
    box = wait_for("message box of the second window", lambda: message_box(second))
    expect("message box title", box.get_name(), "Error Message")
    expect("message box modal", "modal" in node(box)["states"], True)
    expect("message box description", box.get_description(), " COM1 has been useing !")
    texts = [c.get_name() for c in descendants(box) if c.get_role() == Atspi.Role.LABEL]
    expect("message box text", " COM1 has been useing !" in texts, True)
    second.wait_text("MessageText", " COM1 already open ")
    buttons = [c for c in descendants(box) if c.get_role() == Atspi.Role.PUSH_BUTTON]
    expect("message box buttons", [b.get_name() for b in buttons], ["OK"])
    Control(buttons[0]).click()
    wait_for("message box closed", lambda: message_box(second) is None)
    second.wait_lamp("ConnectState", BLACK)
    second.wait_text("Status", "Status:Disconnect")
    second.wait_enabled(TRANSMIT_BUTTONS, False)

    # The first window keeps the line.
    first.wait_lamp("ConnectState", GREEN)
    send(first, "B")
    receive(first, "U", {0, 2, 4, 6})
    receive(first, "B", {1, 6})

    second.close_by_window_manager()
    expect("second window's exit status", second.wait_exit(), 0)
    close_and_check_board_stops(first)


def board_dies():
    app = on_board(home("user", 1500), "dies.log")
    connect(app)
    simulator = children(app.proc.pid, "s51")
    expect("simulators running", len(simulator), 1)
    os.kill(simulator[0], signal.SIGKILL)
    said = "the emulated board stopped: the simulator s51 was killed by signal SIGKILL"
    wait_for("the run command's message about the board", lambda: said in app.output(), timeout=5)
    print(f"ok - the run command says: {said}", flush=True)

    # The window stays usable; closing it ends the run and the line.
    app["Disconnect"].click()
    app.wait_text("MessageText", " COM1 disconnect ")
    line = children(app.proc.pid, "socat")
    app.close_by_window_manager()
    expect("exit status of the run command", app.wait_exit(), 0)
    expect("socat left after the run command ended", [p for p in line if alive(p)], [])


def screenshot():
    """Not a check: the README's picture of the window talking to the board,
    written to VELMORA_SCREENSHOT (scripts/screenshot.sh). With VELMORA_XFT_DPI
    the X resource Xft.dpi is set first (Qt reads it for its logical DPI) and
    the window keeps its default size."""
    dpi = os.environ.get("VELMORA_XFT_DPI")
    if dpi:
        run("xprop", "-root", "-f", "RESOURCE_MANAGER", "8s", "-set", "RESOURCE_MANAGER",
            f"Xft.dpi:\t{dpi}\n")
    app = on_board(os.path.join(WORK, "fresh") if dpi else home("user", 1500), "shot.log")
    if dpi:
        # At the default size the bar covers the received lamps, and at a
        # scale factor the places read over AT-SPI are not screen pixels:
        # the buttons are pressed through their accessible actions.
        do_action(app["Connect"].acc, "Press")
        app.wait_text("Status", "Status:COM1")
        Atspi.EditableText.set_text_contents(app["TransText"].acc, "A")
        do_action(app["Transmission"].acc, "Press")
        app.wait_text("MessageText", " Transmition <A> finish")
        do_action(app["Receive"].acc, "Press")
        app.wait_text("RexText", "U")
    else:
        connect(app)
        send(app, "A")
        receive(app, "U", {0, 2, 4, 6})
    app.wait_text("Timer", re.compile(r"Timer:0:0:[1-9]\d*"), timeout=5)
    run("xdotool", "mousemove", "0", "0")  # no hover highlight in the picture
    x, y, w, h = app.outer_frame()
    run("import", "-silent", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", "+repage",
        os.environ["VELMORA_SCREENSHOT"])
    close_and_check_board_stops(app)


# The tree a screen reader receives, as (role, name, description) for the
# nodes the program names itself; the descriptions follow the link and the
# codes last shown.
def expected_tree(connection, sent, received):
    def code(c):
        v = ord(c) if c else 0
        return f"code {v}, 0x{v:02X}, {v:08b}"

    def bits(row, c):
        v = ord(c) if c else 0
        return [("image", f"{row} bit {k}" + {0: " (LSB)", 7: " (MSB)"}.get(k, ""),
                 "lit" if v >> k & 1 else "dark") for k in range(8)]

    return ([("frame", "Velmora", ""),
             ("text", "Transmition string :", ""),
             ("text", "Receive string :", ""),
             ("image", "Connection", connection),
             ("panel", "Transmission LED Status", code(sent)),
             ("panel", "Receive LED Status", code(received))]
            + bits("Transmitted", sent) + bits("Received", received))


def check_tree(app, connection, sent, received):
    seen = [node(acc) for acc in tree_nodes(app)]
    got = {(n["role"], n["name"]): n["description"] for n in seen}
    for role, name, description in expected_tree(connection, sent, received):
        expect(f"{role} {name!r} described", got.get((role, name)), description)
    roles = [n["role"] for n in seen]
    expect("one status bar in the tree", roles.count("status bar"), 1)
    expect("no filler left in the tree", roles.count("filler"), 0)


def status_bar(app):
    bar = Control(find_node(app, "status bar"))
    panels = [Control(bar.acc.get_child_at_index(i)) for i in range(bar.acc.get_child_count())]
    return bar, [p.text() for p in panels]


def accessible_run():
    """The tree before and after Connect, sending "A" and receiving "U"; the
    progress bar's range; the status bar's pixels at the default size and at
    355 pixels high."""
    app = on_board(os.path.join(WORK, "fresh"), "tree.log")  # no placement: the default size
    app.wait_text("Status", "Status:Disconnect")
    check_tree(app, "not connected", "", "")
    bar = find_node(app, "progress bar")
    expect("progress bar value and range", (Atspi.Value.get_current_value(bar),
                                            Atspi.Value.get_minimum_value(bar),
                                            Atspi.Value.get_maximum_value(bar)), (0.0, 0.0, 100.0))
    expect("status bar panels", status_bar(app)[1],
           ["Status:Disconnect", "Settings: 9600,n,8,1", "Timer:"])

    changes = DescriptionChanges()
    connect(app)
    send(app, "A")
    # At this size the bar covers the received lamps: the tree tells them.
    app["Receive"].click()
    app.wait_text("RexText", "U")
    wait_for("tree after the exchange", lambda: check_tree_quietly(app, "connected", "A", "U"))
    check_tree(app, "connected", "A", "U")
    # Each change is announced once, and only the changes.
    expect("description changes announced", sorted(changes.take()), sorted(
        [("Connection", "connected"), ("Transmission LED Status", "code 65, 0x41, 01000001"),
         ("Receive LED Status", "code 85, 0x55, 01010101")]
        + [(f"Transmitted bit {k}" + {0: " (LSB)"}.get(k, ""), "lit") for k in (0, 6)]
        + [(f"Received bit {k}" + {0: " (LSB)"}.get(k, ""), "lit") for k in (0, 2, 4, 6)]))

    app["Disconnect"].click()
    app.wait_text("Timer", "Timer:")
    check_tree(app, "not connected", "A", "U")

    # The bar must look the same whatever lies under it: nothing in a tall
    # window, the received row's labels at the default size, the received
    # lamps (lit on bits 0, 2, 4, 6) a little lower, buttons at 355 pixels.
    run("xdotool", "mousemove", "0", "0")
    default = status_bar(app)[0].rect()
    client = client_height(app)
    top = default[1] + default[3] - client  # the client area's top on screen
    lamp = app["LED0"].rect()

    def bar_at(height):
        run("xdotool", "windowsize", str(app.window), str(default[2]), str(height))
        wait_for(f"window {height} pixels high", lambda: client_height(app) == height
                 and status_bar(app)[0].rect() == (default[0], top + height - default[3],
                                                   default[2], default[3]))
        time.sleep(0.3)  # drawn at the new size
        return region_pixels(status_bar(app)[0].rect())

    at_default = region_pixels(default)
    reference = bar_at(client + 200)
    same_pixels("status bar at the default size, against a tall window", at_default, reference)
    over_lamps = bar_at(lamp[1] + lamp[3] - top + 2)
    expect("lamp pixels inside the status bar over the lit lamps",
           sum(px == (255, 0, 0) for row in over_lamps for px in row), 0)
    same_pixels("status bar over the lamps, against a tall window", over_lamps, reference)
    same_pixels("status bar at 355 pixels high, against a tall window", bar_at(355), reference)
    close_and_check_board_stops(app)


def same_pixels(what, got, want):
    differ = sum(a != b for g, w in zip(got, want) for a, b in zip(g, w))
    expect(f"{what}: pixels that differ", differ, 0)


def client_height(app):
    return int(re.search(r"^\s*Height:\s*(\d+)$", run("xwininfo", "-id", str(app.window)), re.M)[1])


def check_tree_quietly(app, *args):
    try:
        seen = {(n["role"], n["name"]): n["description"] for n in map(node, tree_nodes(app))}
        return all(seen.get((r, n)) == d for r, n, d in expected_tree(*args))
    except Failure:
        return False


def keyboard_and_toggle():
    """Tab into the speed group lands on 9600; Return on a focused Connect
    connects; the Toggle action on COM2 moves the link to the board on COM2
    (a pseudo-terminal this script plays)."""
    master, slave = os.openpty()
    tty = termios.tcgetattr(slave)
    tty[3] &= ~(termios.ECHO | termios.ICANON)
    tty[1] &= ~termios.OPOST
    termios.tcsetattr(slave, termios.TCSANOW, tty)
    app = Velmora([BOARD, "--firmware-dir", os.path.join(BUILD, "firmware"), "--", PROGRAM],
                  {"XDG_CONFIG_HOME": home("user", 1500), "VELMORA_COM2": os.ttyname(slave)},
                  os.path.join(WORK, "keys.log"))
    app.wait_text("Status", "Status:Disconnect")
    app["RexText"].click()
    run("xdotool", "key", "Tab")
    nine = find_node(app, "radio button", "9600")
    wait_for("9600 focused", lambda: "focused" in node(nine)["states"])
    print("ok - Tab into the speed group focuses 9600", flush=True)
    expect("9600 checked", "checked" in node(nine)["states"], True)
    run("xdotool", "key", "Tab")
    button = find_node(app, "push button", "Connect")
    wait_for("Connect focused", lambda: "focused" in node(button)["states"])
    run("xdotool", "key", "Return")
    app.wait_lamp("ConnectState", GREEN)
    app.wait_text("Status", "Status:COM1")

    do_action(find_node(app, "radio button", "COM2"), "Toggle")
    app.wait_text("Status", "Status:COM2")
    checked = [name for name in ("COM1", "COM2")
               if "checked" in node(find_node(app, "radio button", name))["states"]]
    expect("port options checked", checked, ["COM2"])
    app.type_into("TransText", "K")
    app["Transmission"].click()
    got = b""

    def heard():
        nonlocal got
        os.set_blocking(master, False)
        try:
            got += os.read(master, 64)
        except BlockingIOError:
            pass
        return b"K" in got

    wait_for("the board on COM2 receiving the text", heard)
    print(f"ok - the board on COM2 received {got!r}", flush=True)

    do_action(find_node(app, "radio button", "4800"), "Toggle")
    app.wait_text("Settings", "Settings: 4800,n,8,1")
    expect("COM2 line speed", termios.tcgetattr(slave)[5], termios.B4800)
    close_and_check_board_stops(app)
    os.close(master)
    os.close(slave)


from desktop import line_exclusive, lock_file_of  # noqa: E402


def x_server_goes():
    """The program's X connection ends under a connected window (the server
    closes it, as when the server goes away): the program ends and the line
    is free again (no exclusive-use flag, no lock file)."""
    master, slave = os.openpty()
    device = os.ttyname(slave)
    app = Velmora([PROGRAM], {"XDG_CONFIG_HOME": home("user", 1500), "VELMORA_COM1": device},
                  os.path.join(WORK, "xgoes.log"))
    connect(app)
    expect("exclusive-use flag while connected", line_exclusive(slave), True)
    expect("lock file while connected", os.path.exists(lock_file_of(device)), True)
    run("xdotool", "windowkill", str(app.window))  # XKillClient: the server drops the client
    expect("exit status after the X connection ended", app.wait_exit() != 0, True)
    expect("exclusive-use flag after the X connection ended", line_exclusive(slave), False)
    expect("lock file after the X connection ended", os.path.exists(lock_file_of(device)), False)
    os.close(master)
    os.close(slave)


if __name__ == "__main__":
    try:
        status = main({"typical_run": typical_run, "speed_change": speed_change,
                       "busy_port": busy_port, "board_dies": board_dies,
                       "screenshot": screenshot, "accessible_run": accessible_run,
                       "keyboard_and_toggle": keyboard_and_toggle,
                       "x_server_goes": x_server_goes})
    finally:
        shutil.rmtree(WORK, ignore_errors=True)
    sys.exit(status)
