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

from desktop import (BLACK, BOARD, GREEN, TWIPS_PER_PIXEL, Atspi, Control, Failure, Velmora, alive,
                     children, descendants, expect, main, read_placement, run, wait_for,
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
    written to VELMORA_SCREENSHOT (scripts/screenshot.sh)."""
    app = on_board(home("user", 1500), "shot.log")
    connect(app)
    send(app, "A")
    receive(app, "U", {0, 2, 4, 6})
    app.wait_text("Timer", re.compile(r"Timer:0:0:[1-9]\d*"), timeout=5)
    run("xdotool", "mousemove", "0", "0")  # no hover highlight in the picture
    x, y, w, h = app.outer_frame()
    run("import", "-silent", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", "+repage",
        os.environ["VELMORA_SCREENSHOT"])
    close_and_check_board_stops(app)


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
                       "screenshot": screenshot, "x_server_goes": x_server_goes})
    finally:
        shutil.rmtree(WORK, ignore_errors=True)
    sys.exit(status)
