#!/usr/bin/env python3
"""Bad input, faults and load against the real Linux CompanyMain.

    run.py matrix PROGRAM       every bad-input and concurrency case (run as an ordinary user
                                inside a D-Bus session; messages are read through AT-SPI)
    run.py users PROGRAM OTHER  cases between two users (run as root; OTHER is a second user)

Prints one line per case and a closing line "N passed, N failed"; exits non-zero on a failure.
"""

import base64
import os
import pwd
import signal
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))

import accessibility as a11y  # noqa: E402
import harness as e2e  # noqa: E402
from harness import (PAGE, RUNNING, NO_CONFIG, NO_ADDRESS, NO_IDENTITY, address, config,  # noqa: E402
                     ini, with_mark)

BOUND = 20  # seconds a run may take before it counts as a hang
COMPANY = ini("Company", {"CompanyNum": "1234567890", "CompanyType": "R01",
                         "CompanyName": "无", "DeviceId": "D1"})
OPENED = address(PAGE, num=b"1234567890", name="无".encode(), kind=b"R01", device=b"D1")


def sandbox(case, display, **kw):
    # The Sandbox reads messages through AT-SPI already (main checks it is there).
    box = e2e.Sandbox(case, display, **kw)
    box.env.setdefault("ASAN_OPTIONS", "detect_leaks=0")
    return box


def snapshot(folder):
    """Everything under the program folder, to show that nothing is written there."""
    found = {}
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(root, name)
            st = os.lstat(path)
            found[os.path.relpath(path, folder)] = (st.st_mode, st.st_size, st.st_mtime_ns)
    return found


def run_once(box, env=None, answer=True, expected=None):
    """Runs the program to its end, answering every message; returns (code, texts, opened).
    A message is answered once it shows the caption and the expected text (when given), read
    again until it does; at the bound, what it last showed is taken."""
    process = box.start(env=env)
    texts = []
    deadline = time.monotonic() + BOUND
    while process.poll() is None:
        if time.monotonic() > deadline:
            process.kill()
            raise AssertionError("did not end within %d s; messages %r" % (BOUND, texts))
        if answer and any(m[0] is not None and m[2] is not None
                          for m in a11y.messages(process.pid)):
            shown = a11y.wait_message(process.pid, max(0.0, deadline - time.monotonic()),
                                      text=expected, caption=e2e.CAPTION)
            if shown is not None:
                text, caption, ok = shown
                if caption != e2e.CAPTION:
                    raise AssertionError("message captioned %r" % caption)
                texts.append(text)
                a11y.press(ok)
                gone_by = time.monotonic() + 5
                while (process.poll() is None and time.monotonic() < gone_by
                       and any(m[2] is not None for m in a11y.messages(process.pid))):
                    time.sleep(0.05)
        time.sleep(0.05)
    code = process.wait()
    if texts:
        time.sleep(0.3)  # a browser started by mistake would have recorded itself by now
        opened = box.opened()
    else:
        opened = box.wait_opened(1)
    return code, texts, opened


def expect(box, outcome, env=None):
    before = snapshot(box.app)
    expected = outcome[1] if outcome[0] == "message" else None
    code, texts, opened = run_once(box, env, expected=expected)
    if code != 0:
        raise AssertionError("exit code %d" % code)
    kind, value = outcome
    if kind == "message":
        if texts != [value] or opened:
            raise AssertionError("wanted message %r, got messages %r, opened %r"
                                 % (value, texts, opened))
    else:
        if texts or opened != [[value]]:
            raise AssertionError("wanted %r opened, got messages %r, opened %r"
                                 % (value[:120], texts, [[a[:120] for a in o] for o in opened]))
    after = snapshot(box.app)
    if after != before:
        changed = sorted(set(after.items()) ^ set(before.items()))
        raise AssertionError("the program folder changed: %r" % changed[:5])


# ---------------------------------------------------------------------------------------
# Bad input: each case writes one file (or puts something in its place) and names the
# outcome: the message the user must see, or the address the browser must get.

def sparse(head: bytes, size=1 << 30):
    """head, then zeros up to size bytes as a hole: a 1 GiB file that takes no disk."""
    def put(box, name):
        with open(box.path(name), "wb") as f:
            f.write(head)
            f.truncate(size)
    return put


def make(kind):
    """A broken file of this kind (harness.FILE_KINDS) in the file's place."""
    def put(box, name):
        box.make(name, kind, COMPANY if name == "Company.ini" else config(PAGE))
    return put


def url_value(length):
    """A CompanyURL value of the given length: the page, then characters the decoder skips,
    with "/x" in base64 placed after the 2047th character, where the reader must cut."""
    head = base64.b64encode(PAGE)
    value = head + b"*" * (2047 - len(head))
    value += base64.b64encode(b"/x")
    value += b"*" * max(0, length - len(value))
    return value[:length] if length <= 2047 else value


FILLER = b"".join(b";%06d filler line of a large file\r\n" % i for i in range(300000))  # ~10 MiB


def config_cases():
    msg = lambda text: ("message", text)
    opens = lambda addr: ("open", addr)
    return [
        ("empty", make("empty"), msg(NO_ADDRESS)),
        ("byte order mark alone", make("bom-UTF-8"), msg(NO_ADDRESS)),
        ("64 KiB of random bytes", make("random"), msg(NO_ADDRESS)),
        ("NUL inside the value ends it",
         b"[SysInfo]\r\nCompanyURL=" + base64.b64encode(PAGE) + b"\0" + base64.b64encode(b"/x"),
         opens(OPENED)),
        ("10 MiB before the section", FILLER + config(PAGE), opens(OPENED)),
        ("one 1 MiB line", b"[SysInfo]\r\nCompanyURL=" + url_value(1 << 20) + b"\r\n",
         opens(OPENED)),
        ("value of 2046 characters", ini("SysInfo", {"CompanyURL": url_value(2046)}), opens(OPENED)),
        ("value of 2047 characters", ini("SysInfo", {"CompanyURL": url_value(2047)}), opens(OPENED)),
        ("value of 4096 characters is cut at 2047",
         ini("SysInfo", {"CompanyURL": url_value(4096)}), opens(OPENED)),
        ("UTF-16 LE with its mark",
         with_mark("UTF-16LE", "[SysInfo]\nCompanyURL=%s\n" % base64.b64encode(PAGE).decode()), opens(OPENED)),
        ("UTF-16 BE with its mark",
         with_mark("UTF-16BE", "[SysInfo]\nCompanyURL=%s\n" % base64.b64encode(PAGE).decode()), opens(OPENED)),
        ("UTF-8 with its mark",
         with_mark("UTF-8", "[SysInfo]\nCompanyURL=%s\n" % base64.b64encode(PAGE).decode()), opens(OPENED)),
        ("1 GiB, the section at the top", sparse(config(PAGE)), opens(OPENED)),
        ("CR-only line ends", b"[Other]\rx=1\r[SysInfo]\rCompanyURL=" + base64.b64encode(PAGE) +
         b"\r", opens(OPENED)),
        ("duplicate sections and keys: the first wins",
         config(PAGE) + config(b"http://wrong.example/") +
         b"[SysInfo]\r\nCompanyURL=" + base64.b64encode(b"http://wrong2.example/") + b"\r\n",
         opens(OPENED)),
        ("quoted value", b"[SysInfo]\r\nCompanyURL=\"" + base64.b64encode(PAGE) + b"\"\r\n",
         opens(OPENED)),
        ("base64 of blanks", ini("SysInfo", {"CompanyURL": base64.b64encode(b" \t ")}),
         msg(NO_ADDRESS)),
        ("a directory", make("directory"), msg(NO_CONFIG)),
        ("a dangling symlink", make("dangling-symlink"), msg(NO_CONFIG)),
        ("a symlink loop", make("symlink-loop"), msg(NO_CONFIG)),
        ("a FIFO nobody writes to", make("fifo"), msg(NO_ADDRESS)),
        ("unreadable", make("unreadable"), msg(NO_ADDRESS)),
    ]


def company_cases():
    msg = lambda text: ("message", text)
    opens = lambda **kw: ("open", address(PAGE, **kw))
    long = lambda n: ini("Company", {"CompanyNum": "7" * n, "OtherInfo": "o" * n})
    return [
        ("empty: no identity", make("empty"), msg(NO_IDENTITY)),
        ("byte order mark alone: no identity", make("bom-UTF-8"), msg(NO_IDENTITY)),
        ("64 KiB of random bytes: no identity", make("random"), msg(NO_IDENTITY)),
        ("a misspelt section: no identity", ini("Compnay", {"CompanyNum": "1"}), msg(NO_IDENTITY)),
        ("UTF-16 without its mark: no identity",
         "[Company]\r\nCompanyNum=1\r\n".encode("utf-16-le"), msg(NO_IDENTITY)),
        ("the section with nothing in it", b"[Company]\r\n", opens()),
        ("NUL inside a value ends it", b"[Company]\r\nCompanyName=AB\0CD\r\nDeviceId=D\0\r\n",
         opens(name=b"AB", device=b"D")),
        ("10 MiB before the section", FILLER + COMPANY, ("open", OPENED)),
        ("one 1 MiB line", b"[Company]\r\nOtherInfo=" + b"x" * (1 << 20) + b"\r\n",
         opens(other=b"x" * 2047)),
        ("values of 2046 characters", long(2046),
         opens(num=b"7" * 2046, other=b"o" * 2046)),
        ("values of 2047 characters", long(2047),
         opens(num=b"7" * 2047, other=b"o" * 2047)),
        ("values of 2048 characters are cut", long(2048),
         opens(num=b"7" * 2047, other=b"o" * 2047)),
        ("values of 4096 characters are cut", long(4096),
         opens(num=b"7" * 2047, other=b"o" * 2047)),
        ("UTF-16 LE with its mark", with_mark("UTF-16LE", "[Company]\nCompanyName=中文 酒店\nCompanyNum=9\n"),
         opens(num=b"9", name="中文 酒店".encode())),
        ("UTF-16 BE with its mark", with_mark("UTF-16BE", "[Company]\nCompanyName=中文 酒店\nCompanyNum=9\n"),
         opens(num=b"9", name="中文 酒店".encode())),
        ("UTF-8 with its mark", with_mark("UTF-8", "[Company]\nCompanyName=中文 酒店\nCompanyNum=9\n"),
         opens(num=b"9", name="中文 酒店".encode())),
        ("a value cut inside a character loses it whole",
         ini("Company", {"OtherInfo": "o" * 2045 + "中文"}), opens(other=b"o" * 2045)),
        ("1 GiB, the section at the top", sparse(COMPANY), ("open", OPENED)),
        ("1 GiB, keys missing from the section at the top",
         sparse(ini("Company", {"CompanyNum": "1"})), opens(num=b"1")),
        ("CR-only line ends", b"[Company]\rCompanyNum=5\rCompanyType=R01\r",
         opens(num=b"5", kind=b"R01")),
        ("duplicate sections and keys: the first wins",
         b"[Company]\r\nCompanyNum=1\r\nCompanyNum=2\r\n[Company]\r\nCompanyNum=3\r\nDeviceId=X\r\n",
         opens(num=b"1")),
        ("quoted values keep inner blanks", b"[Company]\r\nCompanyName=\"  Inn  \"\r\n",
         opens(name=b"  Inn  ")),
        ("bytes invalid in UTF-8 become U+FFFD",
         b"[Company]\r\nCompanyName=A\xff\xfeB\r\nOtherInfo=\xe4\xb8\r\n",
         ("open", PAGE + b"?Id=&Name=A%EF%BF%BD%EF%BF%BDB&Type=&DeviceId=&other=%EF%BF%BD"
                         b"&Version=NS4wLjAuMA==")),
        ("values of blanks only", b"[Company]\r\nCompanyNum=   \r\nCompanyName=\" \t \"\r\n"
         b"CompanyType=\"  \"\r\n", opens()),
        ("a directory", make("directory"), msg(NO_IDENTITY)),
        ("a dangling symlink", make("dangling-symlink"), msg(NO_IDENTITY)),
        ("a symlink loop", make("symlink-loop"), msg(NO_IDENTITY)),
        ("a FIFO nobody writes to", make("fifo"), msg(NO_IDENTITY)),
        ("unreadable", make("unreadable"), msg(NO_IDENTITY)),
    ]


# ---------------------------------------------------------------------------------------

class Report:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def case(self, name, function, *args):
        case = unittest.TestCase()  # for the Sandbox: its cleanups and failures
        started = time.monotonic()
        try:
            function(case, *args)
        except Exception as error:  # noqa: BLE001  (every failure is a finding)
            self.failed += 1
            print("FAIL %s: %s" % (name, error), flush=True)
        else:
            self.passed += 1
            print("ok   %s (%.1f s)" % (name, time.monotonic() - started), flush=True)
        finally:
            case.doCleanups()


def bad_input(case, display, file, content, outcome):
    box = sandbox(case, display)
    other_file = "Config.ini" if file == "Company.ini" else "Company.ini"
    box.write(other_file, config(PAGE) if other_file == "Config.ini" else COMPANY)
    if callable(content):
        content(box, file)
    else:
        box.write(file, content)
    expect(box, outcome)


def odd_program_folder(case, display):
    box = sandbox(case, display)
    odd = os.path.join(box.root, "前台 程序", "Company Main 企业")
    os.makedirs(os.path.dirname(odd))
    os.rename(box.app, odd)
    box.app, box.config_dir = odd, os.path.join(odd, "Config")
    box.program = os.path.join(odd, "CompanyMain")
    box.write("Config.ini", config(PAGE))
    box.write("Company.ini", COMPANY)
    expect(box, ("open", OPENED))


def simultaneous_copies(case, display, count=20):
    """Copies started at the same moment: one opens the page, every other one is refused."""
    box = sandbox(case, display)
    box.write("Config.ini", config(PAGE))
    box.write("Company.ini", COMPANY)
    # Each copy waits in a shell for its line on a shared pipe, then becomes CompanyMain; one
    # write releases them all at once.
    gate_read, gate_write = os.pipe()
    processes = []
    for i in range(count):
        log = open(os.path.join(box.root, "stderr.%d" % i), "wb")
        case.addCleanup(log.close)
        process = subprocess.Popen(["/bin/sh", "-c", 'read -r gate; exec "$0"', box.program],
                                   env=box.env, cwd="/", stdin=gate_read,
                                   stdout=subprocess.DEVNULL, stderr=log)
        case.addCleanup(lambda p=process: (p.poll() is None and p.kill(), p.wait()))
        processes.append(process)
    os.close(gate_read)
    time.sleep(0.5)  # every shell is waiting at its read
    os.write(gate_write, b"go\n" * count)
    os.close(gate_write)
    texts = {}
    deadline = time.monotonic() + BOUND * 3
    while any(p.poll() is None for p in processes):
        if time.monotonic() > deadline:
            raise AssertionError("copies still running: %d"
                                 % sum(p.poll() is None for p in processes))
        for process in processes:
            if process.poll() is None and process.pid not in texts and a11y.messages(process.pid):
                # Its text read again until it is the refusal (at the bound: what it last said).
                shown = a11y.wait_message(process.pid, max(0.0, deadline - time.monotonic()),
                                          text=RUNNING)
                if shown is not None:
                    texts[process.pid] = shown[0]
                    a11y.press(shown[2])
        time.sleep(0.05)
    codes = [p.wait() for p in processes]
    opened = box.wait_opened(1)
    if any(codes):
        raise AssertionError("exit codes %r" % codes)
    if opened != [[OPENED]]:
        raise AssertionError("opened %d times" % len(opened))
    if sorted(texts.values()) != [RUNNING] * (count - 1):
        raise AssertionError("messages %r" % sorted(texts.values()))


def killed_copy(case, display, stage):
    """A copy killed with SIGKILL never leaves the next start refused."""
    box = sandbox(case, display)
    box.write("Company.ini", COMPANY)
    victims = []
    if stage.startswith("at once"):
        box.write("Config.ini", config(PAGE))
        process = box.start()
        time.sleep(float(stage.split()[-1].rstrip("ms")) / 1000)
        victims.append(process)
    elif stage == "while it shows a message":
        process = box.start()  # no configuration: it stops at its message
        if a11y.wait_message(process.pid) is None:
            raise AssertionError("no message")
        victims.append(process)
    elif stage == "refused copy while it waits for OK":
        first = box.start()
        if a11y.wait_message(first.pid) is None:
            raise AssertionError("no message from the first copy")
        second = box.start()
        if a11y.wait_message(second.pid) is None:
            raise AssertionError("no message from the second copy")
        victims += [first, second]
    for process in victims:
        process.send_signal(signal.SIGKILL)
        process.wait(timeout=BOUND)
    # A victim killed just after it started the browser leaves it running on: its page must not
    # count as the next start's, so what the victims started (the browser, or a child not yet
    # turned into it) is waited for first, within the bound.
    deadline = time.monotonic() + BOUND
    while running_from(box.root) and time.monotonic() < deadline:
        time.sleep(0.05)
    for file in os.listdir(box.calls):
        if file.startswith("call."):
            os.unlink(os.path.join(box.calls, file))  # a page the victim may have opened
    box.write("Config.ini", config(PAGE))
    expect(box, ("open", OPENED))


def running_from(folder):
    """Whether a process runs a program of the folder or names it on its command line."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                if folder.encode() in f.read():
                    return True
        except OSError:
            continue
    return False


def holders_of(path_part):
    """Processes with a descriptor on a file whose path contains path_part."""
    found = set()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            for fd in os.listdir("/proc/%s/fd" % pid):
                if path_part in os.readlink("/proc/%s/fd/%s" % (pid, fd)):
                    found.add(int(pid))
        except OSError:
            continue
    return found


def browser_holds_nothing(case, display):
    """The browser, and what it starts, hold neither the lock nor the socket."""
    box = sandbox(case, display, browser_sleep=30)
    box.write("Config.ini", config(PAGE))
    box.write("Company.ini", COMPANY)
    # The browser starts a child of its own that outlives it, as real browsers do; both note
    # their process numbers so that exactly they are ended afterwards.
    script = os.path.join(box.bin, "xdg-open")
    with open(script) as f:
        text = f.read()
    with open(script, "w") as f:
        f.write(text.replace("sleep", 'sleep 30 & echo $! > "%s/child.$$"; sleep' % box.calls, 1))
    case.addCleanup(box.end_browsers)
    expect(box, ("open", OPENED))
    holders = holders_of(os.path.join(e2e.private_directory(), e2e.lock_prefix(display)))
    if holders:
        raise AssertionError("processes %r still hold the private files" % sorted(holders))
    code, texts, _ = run_once(box)
    opened = box.wait_opened(2)
    if code or texts or len(opened) != 2:
        raise AssertionError("the next start was refused: %r %r" % (texts, len(opened)))


NO_DISPLAY = b"CompanyMain: no display to show the window on ("


def no_display(case, display, changes):
    """Nothing to show a window on: exit code 1 and one line on stderr; nothing opened,
    nothing changed."""
    box = sandbox(case, display)
    box.write("Config.ini", config(PAGE))
    box.write("Company.ini", COMPANY)
    before = snapshot(box.app)
    process = box.start(env=e2e.changed(box.env, **changes))
    try:
        code = process.wait(timeout=BOUND)
    except subprocess.TimeoutExpired:
        raise AssertionError("did not end within %d s" % BOUND)
    process.log.seek(0)
    err = process.log.read()
    if code != 1:
        raise AssertionError("exit code %d: %r" % (code, err[-300:]))
    if len(err.splitlines()) != 1 or not err.startswith(NO_DISPLAY):
        raise AssertionError("stderr %r" % err[-300:])
    time.sleep(0.3)  # a browser started by mistake would have recorded itself by now
    if box.opened():
        raise AssertionError("opened %r" % box.opened())
    if snapshot(box.app) != before:
        raise AssertionError("the program folder changed")


def display_lost(case):
    """The display goes away while a message is shown: the program ends by itself."""
    display = e2e.Display()
    case.addCleanup(display.close)
    case.addCleanup(e2e.forget_lock, display)
    box = sandbox(case, display)
    box.write("Company.ini", COMPANY)  # no configuration: it stops at its message
    process = box.start()
    if a11y.wait_message(process.pid) is None:
        raise AssertionError("no message")
    display.server.kill()
    display.server.wait(timeout=BOUND)
    try:
        code = process.wait(timeout=BOUND)
    except subprocess.TimeoutExpired:
        raise AssertionError("still running %d s after its display went away" % BOUND)
    if code != 1:
        raise AssertionError("exit code %d" % code)
    if box.opened():
        raise AssertionError("opened %r" % box.opened())


def matrix(program):
    e2e.PROGRAM = program
    report = Report()
    display = e2e.Display()
    bus = a11y.start_bus()
    time.sleep(0.5)
    try:
        for name, content, outcome in config_cases():
            report.case("Config.ini: " + name, bad_input, display, "Config.ini", content, outcome)
        for name, content, outcome in company_cases():
            report.case("Company.ini: " + name, bad_input, display, "Company.ini", content, outcome)
        report.case("program folder with blanks and Chinese characters", odd_program_folder,
                    display)
        report.case("20 copies at once: one opens, 19 are refused", simultaneous_copies, display)
        for stage in ("at once 0ms", "at once 30ms", "at once 80ms", "while it shows a message",
                      "refused copy while it waits for OK"):
            report.case("SIGKILL " + stage + ": the next start works", killed_copy, display, stage)
        report.case("the browser and its children hold no lock", browser_holds_nothing, display)
        free = ":%d" % e2e.free_display_number()
        for name, changes in (("DISPLAY unset", dict(DISPLAY=None)),
                              ("DISPLAY empty", dict(DISPLAY="")),
                              ("DISPLAY names no server", dict(DISPLAY=free)),
                              ("WAYLAND_DISPLAY names no socket, DISPLAY unset",
                               dict(DISPLAY=None, WAYLAND_DISPLAY="wayland-companymain-none"))):
            report.case("no display, " + name + ": exit code 1, one line", no_display, display,
                        changes)
        report.case("the display goes away while a message is shown: it ends by itself",
                    display_lost)
    finally:
        bus.terminate()
        e2e.forget_lock(display)
        display.close()
    return report


# ---------------------------------------------------------------------------------------
# Two users on one machine (run as root).

def as_user(user, args, env, **kw):
    return subprocess.Popen(["runuser", "-u", user, "--", "env", "-i",
                             *("%s=%s" % kv for kv in env.items()), *args],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)


def users(program, me, other):
    report = Report()
    display = e2e.Display()
    mine, theirs = pwd.getpwnam(me), pwd.getpwnam(other)

    def setup(case, user):
        root = subprocess.run(["runuser", "-u", user, "--", "mktemp", "-d"], check=True,
                              capture_output=True, text=True).stdout.strip()
        case.addCleanup(subprocess.run, ["rm", "-rf", root])
        run = os.path.join(root, "run")
        app = os.path.join(root, "app")
        calls = os.path.join(root, "calls")
        for path in (run, app, os.path.join(app, "Config"), os.path.join(root, "bin"), calls):
            subprocess.run(["runuser", "-u", user, "--", "mkdir", "-p", "-m", "700", path],
                           check=True)
        return root, run, app, calls

    def place(user, root, app, config_text):
        files = {os.path.join(app, "Config", "Company.ini"): COMPANY,
                 os.path.join(root, "bin", "xdg-open"):
                     e2e.FAKE_XDG_OPEN.format(dir=os.path.join(root, "calls"), sleep=0,
                                              code=0).encode()}
        if config_text is not None:
            files[os.path.join(app, "Config", "Config.ini")] = config_text
        for path, content in files.items():
            subprocess.run(["runuser", "-u", user, "--", "tee", path], input=content, check=True,
                           stdout=subprocess.DEVNULL)
        subprocess.run(["runuser", "-u", user, "--", "cp", program, os.path.join(app, "CompanyMain")],
                       check=True)
        subprocess.run(["runuser", "-u", user, "--", "cp",
                        os.path.join(os.path.dirname(program), e2e.MODULE), app], check=True)
        subprocess.run(["chmod", "755", os.path.join(root, "bin", "xdg-open")], check=True)

    def env(root, run):
        values = {"PATH": os.path.join(root, "bin") + ":/usr/bin:/bin", "HOME": root,
                  "DISPLAY": display.name, "LANG": "C.UTF-8", "ASAN_OPTIONS": "detect_leaks=0"}
        if run:
            values["XDG_RUNTIME_DIR"] = run
        return values

    def opened_by(root):
        return [n for n in os.listdir(os.path.join(root, "calls")) if n.startswith("call.")]

    def wait_end(process):
        try:
            return process.wait(timeout=BOUND)
        except subprocess.TimeoutExpired:
            process.kill()
            raise AssertionError("did not end")

    def neighbour_cannot_reach(case):
        root, run, app, _ = setup(case, me)
        place(me, root, app, None)  # no configuration: it waits at its message, lock held
        holder = as_user(me, [os.path.join(app, "CompanyMain")], env(root, run))
        case.addCleanup(lambda: (holder.kill(), holder.wait()))
        deadline = time.monotonic() + BOUND
        private = e2e.private_directory(mine.pw_uid)
        prefix = e2e.lock_prefix(display)

        def ours():
            found = os.listdir(private) if os.path.isdir(private) else []
            return [n for n in found if n.startswith(prefix)]

        while prefix + "socket" not in ours():
            if time.monotonic() > deadline:
                raise AssertionError("the lock and socket never appeared in %s" % private)
            time.sleep(0.05)
        names = ours()
        probe = (
            "import os, socket, sys, fcntl\n"
            "failures = []\n"
            "for name in sys.argv[2:]:\n"
            "    path = os.path.join(sys.argv[1], name)\n"
            "    try:\n"
            "        if name.endswith('.socket'):\n"
            "            s = socket.socket(socket.AF_UNIX); s.connect(path); failures.append(name)\n"
            "        else:\n"
            "            fd = os.open(path, os.O_RDWR); fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)\n"
            "            failures.append(name)\n"
            "    except OSError:\n"
            "        pass\n"
            "print(' '.join(failures))\n")
        result = subprocess.run(["runuser", "-u", other, "--", "/usr/bin/python3", "-c", probe,
                                 private, *names], capture_output=True, text=True, timeout=BOUND)
        if result.stdout.strip():
            raise AssertionError("the other user reached %s" % result.stdout.strip())
        if holder.poll() is not None:
            raise AssertionError("the holder ended")

    def foreign_fallback(case, kind):
        # Our /tmp fallback made in advance by somebody else, or as a link: never used, and the
        # copies still guard each other, in the cache folder of our home.
        fallback = "/tmp/CompanyMain-%d" % mine.pw_uid
        cache = os.path.join(mine.pw_dir, ".cache", "CompanyMain")
        subprocess.run(["rm", "-rf", fallback, cache], check=True)
        case.addCleanup(subprocess.run, ["rm", "-rf", fallback, cache])
        bait = subprocess.run(["runuser", "-u", other, "--", "mktemp", "-d"], check=True,
                              capture_output=True, text=True).stdout.strip()
        case.addCleanup(subprocess.run, ["rm", "-rf", bait])
        subprocess.run(["chmod", "777", bait], check=True)
        if kind == "owned by another user":
            subprocess.run(["runuser", "-u", other, "--", "mkdir", "-m", "777", fallback],
                           check=True)
            watched = fallback
        else:
            subprocess.run(["runuser", "-u", other, "--", "ln", "-s", bait, fallback], check=True)
            watched = bait
        if e2e.private_directory(mine.pw_uid) != fallback:
            raise AssertionError("the user has a runtime directory: /tmp is not in play")
        root, _, app, _ = setup(case, me)
        place(me, root, app, None)  # no configuration: it waits at its message, lock held
        holder = as_user(me, [os.path.join(app, "CompanyMain")], env(root, None))
        case.addCleanup(lambda: (holder.poll() is None and holder.kill(), holder.wait()))
        deadline = time.monotonic() + BOUND
        while not (os.path.isdir(cache) and any(n.endswith(".socket") for n in os.listdir(cache))):
            if time.monotonic() > deadline or holder.poll() is not None:
                raise AssertionError("the lock never appeared in %s" % cache)
            time.sleep(0.05)
        subprocess.run(["runuser", "-u", me, "--", "tee", os.path.join(app, "Config", "Config.ini")],
                       input=config(PAGE), check=True, stdout=subprocess.DEVNULL)
        second = as_user(me, [os.path.join(app, "CompanyMain")], env(root, None))
        case.addCleanup(lambda: (second.poll() is None and second.kill(), second.wait()))
        time.sleep(1.5)  # a copy that were not refused would have opened the page by now
        if opened_by(root):
            raise AssertionError("a second copy opened the page: the guard is off")
        if second.poll() is not None:
            raise AssertionError("the second copy ended (code %d) instead of saying it is refused"
                                 % second.returncode)
        if os.listdir(watched):
            raise AssertionError("it wrote into %s: %r" % (watched, os.listdir(watched)))

    def separate_users(case):
        # Another user's running copy does not refuse ours, even on the same display.
        root_a, run_a, app_a, _ = setup(case, me)
        place(me, root_a, app_a, None)
        holder = as_user(me, [os.path.join(app_a, "CompanyMain")], env(root_a, run_a))
        case.addCleanup(lambda: (holder.kill(), holder.wait()))
        time.sleep(1.0)
        root_b, _, app_b, _ = setup(case, other)
        place(other, root_b, app_b, config(PAGE))
        process = as_user(other, [os.path.join(app_b, "CompanyMain")], env(root_b, None))
        if wait_end(process) != 0 or len(opened_by(root_b)) != 1:
            raise AssertionError("the other user's copy was refused or failed")

    try:
        report.case("another user can neither take our lock nor reach our socket",
                    neighbour_cannot_reach)
        report.case("a /tmp fallback owned by another user is never used; the guard holds",
                    foreign_fallback, "owned by another user")
        report.case("a /tmp fallback that is a symlink is never used; the guard holds",
                    foreign_fallback, "a symlink")
        report.case("another user's running copy does not refuse ours", separate_users)
    finally:
        for uid in (mine.pw_uid, theirs.pw_uid):
            e2e.forget_lock(display, e2e.private_directory(uid))
        display.close()
    return report


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("matrix", "users"):
        print(__doc__)
        return 2
    if sys.argv[1] == "matrix":
        if not a11y.available():
            print("AT-SPI is not available: run inside dbus-run-session with python3-pyatspi")
            return 2
        report = matrix(os.path.abspath(sys.argv[2]))
    else:
        me = pwd.getpwuid(os.getuid()).pw_name if len(sys.argv) < 5 else sys.argv[4]
        report = users(os.path.abspath(sys.argv[2]), me, sys.argv[3])
    print("%d passed, %d failed" % (report.passed, report.failed), flush=True)
    return 0 if report.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
