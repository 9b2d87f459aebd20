"""Reads and answers CompanyMain's message boxes through the accessibility bus (AT-SPI).

This is how a screen reader sees the program: the text of each message, its caption and its
OK button. It needs a D-Bus session with the AT-SPI bus (start_bus) and Qt's bridge switched
on in the program's environment (ENV).
"""

import atexit
import os
import shutil
import subprocess
import tempfile
import time

ENV = {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "QT_ACCESSIBILITY": "1"}
BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"


def available() -> bool:
    if not os.environ.get("DBUS_SESSION_BUS_ADDRESS") or not os.path.exists(BUS_LAUNCHER):
        return False
    try:
        import pyatspi  # noqa: F401  (Debian's python3-pyatspi)
    except ImportError:
        return False
    return True


def start_bus() -> subprocess.Popen:
    """Starts the AT-SPI bus for this D-Bus session.

    Without a display: the launcher would end with the first display that closes, and
    programs find the bus through the session bus anyway."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    # Its socket lives in the cache folder; one of our own keeps sessions that run side by side
    # apart (programs learn the address from the session bus).
    env["XDG_CACHE_HOME"] = tempfile.mkdtemp(prefix="companymain-atspi-")
    atexit.register(shutil.rmtree, env["XDG_CACHE_HOME"], True)
    launcher = subprocess.Popen([BUS_LAUNCHER, "--launch-immediately"], env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # The first AT-SPI call of a client aborts it when the bus is not up yet: wait for it. Its
    # name is asked for only once ours holds it: asking earlier makes D-Bus start the system's
    # own launcher, whose socket in the shared cache folder other sessions use and remove too.
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        owned = subprocess.run(["dbus-send", "--session", "--print-reply=literal",
                                "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                                "org.freedesktop.DBus.NameHasOwner", "string:org.a11y.Bus"],
                               capture_output=True, text=True)
        if owned.stdout.split()[-1:] != ["true"]:
            if launcher.poll() is not None:
                raise RuntimeError("the AT-SPI bus launcher ended with %d" % launcher.returncode)
            time.sleep(0.1)
            continue
        asked = subprocess.run(["dbus-send", "--session", "--print-reply=literal",
                                "--dest=org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
                               capture_output=True, text=True)
        address = asked.stdout.strip()
        if asked.returncode == 0 and address and subprocess.run(
                ["dbus-send", "--bus=" + address, "--print-reply", "--dest=org.freedesktop.DBus",
                 "/org/freedesktop/DBus", "org.freedesktop.DBus.ListNames"],
                capture_output=True).returncode == 0:
            break
        time.sleep(0.1)
    else:
        raise RuntimeError("the AT-SPI bus did not come up")
    # The registry daemon starts at the first call that names it. A client's own first call
    # waits for it with a short timeout of its own and aborts the client when that passes (a
    # loaded machine starts the daemon slowly): start it here, with all the patience it needs.
    deadline = time.monotonic() + 120
    while True:
        pinged = subprocess.run(
            ["dbus-send", "--bus=" + address, "--print-reply", "--reply-timeout=120000",
             "--dest=org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
             "org.freedesktop.DBus.Peer.Ping"], capture_output=True, text=True)
        if pinged.returncode == 0:
            return launcher
        if time.monotonic() > deadline:
            raise RuntimeError("the AT-SPI registry did not start: " + pinged.stderr.strip())
        time.sleep(0.1)  # its bus may still be handing out its first names


def _walk(node, depth=0):
    yield node
    if depth > 8:
        return
    try:
        count = node.childCount
    except Exception:
        return
    for i in range(count):
        try:
            child = node.getChildAtIndex(i)
        except Exception:
            continue
        if child is not None:
            yield from _walk(child, depth + 1)


def _apps(pid):
    import pyatspi
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        try:
            app = desktop.getChildAtIndex(i)
            if app is not None and (pid is None or app.get_process_id() == pid):
                yield app
        except Exception:
            continue


def messages(pid=None) -> list:
    """(text, caption, ok button) of every message box the process shows."""
    found = []
    for app in _apps(pid):
        for node in _walk(app):
            try:
                if node.getRoleName() != "alert":
                    continue
                caption = node.name
                text, ok = None, None
                for part in _walk(node):
                    role = part.getRoleName()
                    if role == "label" and part.name and text is None:
                        text = part.name
                    elif role == "push button" and ok is None:
                        ok = part
                found.append((text, caption, ok))
            except Exception:
                continue
    return found


def find(pid, role, name=None, timeout=15.0):
    """The process's first widget of this role (and name: its label's text) once it is there."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for app in _apps(pid):
            for node in _walk(app):
                try:
                    if node.getRoleName() == role and name in (None, node.name):
                        return node
                except Exception:
                    continue
        time.sleep(0.05)


def text_of(node) -> str:
    return node.queryText().getText(0, -1)


def set_text(node, text: str) -> bool:
    return node.queryEditableText().setTextContents(text)


def focused(node) -> bool:
    import pyatspi
    return node.getState().contains(pyatspi.STATE_FOCUSED)


def wait_message(pid, timeout=15.0, text=None, caption=None, holds=None, button=None):
    """A message box of the process (text, caption, OK button) once it shows this text
    (exactly), this caption, a text that holds this part and a button of this name, whichever
    are given, all at once: each is read again until they match, as a box is on the bus a
    moment before its caption and text are. Without them, the first box with a text and a
    button. After the timeout, the last box seen (so that a failing check shows it), or None
    when there was none."""
    deadline = time.monotonic() + timeout
    last = None
    while True:
        for found in messages(pid):
            if found[0] is None or found[2] is None:
                continue
            last = found
            if ((text is None or found[0] == text) and (caption is None or found[1] == caption)
                    and (holds is None or holds in found[0])
                    and (button is None or _name(found[2]) == button)):
                return found
        if time.monotonic() >= deadline:
            return last
        time.sleep(0.05)


def _name(node):
    try:
        return node.name
    except Exception:
        return None


def wait_text(find_node, expected: str, timeout=15.0) -> str:
    """The text of the widget find_node() gives, read again until it is expected; after the
    timeout, the last text read ("" when there was no widget to read)."""
    deadline = time.monotonic() + timeout
    while True:
        node = find_node()
        try:
            seen = text_of(node) if node is not None else ""
        except Exception:
            seen = ""
        if seen == expected or time.monotonic() >= deadline:
            return seen
        time.sleep(0.05)


def press(button) -> bool:
    """Presses the button as a screen reader user would."""
    try:
        action = button.queryAction()
        for i in range(action.nActions):
            if action.getName(i) in ("Press", "press", "click", "SetFocus") or i == 0:
                return action.doAction(i)
    except Exception:
        return False
    return False
