"""What the end-to-end suites share: the real program in a program folder of its own, a
private display (Xvfb) or compositor (Weston), a stand-in xdg-open that records what it is
given, the address the web system expects (computed here, independently of the program), the
program's message texts, the locales the tests speak and the ways a file can be broken.

Imported by launcher_test.py, tests/faults/run.py and tests/package/run.py. From a shell:

    python3 harness.py make-file KIND PATH [GOOD_FILE]   puts a broken file of KIND at PATH
    python3 harness.py file-kinds                        lists the kinds
    python3 harness.py edit-cases                        lists the changes in place (EDIT_CASES)
    python3 harness.py edit-case N DIR                   puts case N's files into DIR, prints how
                                                         to run it
    python3 harness.py edit-verify N FILE ADDRESS        what differs from what case N expects
"""

import atexit
import base64
import json
import os
import pwd
import random
import select
import shutil
import signal
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import time
import unittest

import accessibility

PROGRAM = os.environ.get("COMPANYMAIN", "")
# The launcher loads its window module from beside itself: an installation is the two.
MODULE = "CompanyMainWindow.so"
TOOL = "companymain-config"


def install_program(folder_fd: int):
    """Copies the program, its window module and the configuration tool into the folder open
    as folder_fd."""
    for source, name, mode in ((PROGRAM, "CompanyMain", 0o755),
                               (os.path.join(os.path.dirname(PROGRAM), MODULE), MODULE, 0o644),
                               (os.path.join(os.path.dirname(PROGRAM), TOOL), TOOL, 0o755)):
        with open(source, "rb") as f:
            data = f.read()
        out = os.open(name, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, mode, dir_fd=folder_fd)
        try:
            os.write(out, data)
        finally:
            os.close(out)


CAPTION = "提示"
RUNNING = "企业信息管理系统已经运行..."
NO_CONFIG = "配置文件不存在,无法启动软件"
NO_ADDRESS = "读取企业信息页面地址为空,无法启动软件"
NO_IDENTITY = "读取企业身份信息失败,无法启动软件"
NO_BROWSER = "无法启动浏览器,请检查系统的默认浏览器设置"
TITLE = "企业信息管理"
WAIT = 15  # seconds; generous, the machines running CI are slow and shared

# ---------------------------------------------------------------------------------------
# What the web system expects, computed independently of the program.

SAFE = set(b"!$'()*-.0123456789@ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz")


def b64(data: bytes) -> bytes:
    """Base64 with CR LF after every full line of 76 characters."""
    text = base64.b64encode(data)
    out = b""
    for i in range(0, len(text), 76):
        line = text[i:i + 76]
        out += line + (b"\r\n" if len(line) == 76 else b"")
    return out


def form(data: bytes) -> bytes:
    out = b""
    for c in data.split(b"\0")[0]:
        out += bytes([c]) if c in SAFE else b"+" if c == 0x20 else b"%%%02X" % c
    return out


def trim(data: bytes) -> bytes:
    start, end = 0, len(data)
    while start < end and data[start] <= 0x20:
        start += 1
    while end > start and data[end - 1] <= 0x20:
        end -= 1
    return data[start:end]


def address(url: bytes, num=b"", name=b"", kind=b"", device=b"", other=b"", upload=b"",
            codec="utf-8") -> bytes:
    if trim(kind) == b"R02":
        kind = b"R01"
        if len(upload) >= 13:
            num = upload[3:13]
    utf8 = lambda b: trim(b).decode(codec).encode("utf-8")
    # A blank name is sent as 无, in UTF-8 whatever the code page.
    name = "无".encode("utf-8") if not trim(name) else utf8(name)
    return trim(url + b"?Id=" + b64(trim(num)) + b"&Name=" + form(name) + b"&Type=" +
                b64(trim(kind)) + b"&DeviceId=" + b64(trim(device)) + b"&other=" +
                form(utf8(other)) + b"&Version=" + b64(b"5.0.0.0"))


def ini(section: str, values: dict, codec="utf-8") -> bytes:
    lines = [b"[" + section.encode() + b"]"]
    for key, value in values.items():
        lines.append(key.encode() + b"=" + (value if isinstance(value, bytes) else value.encode(codec)))
    return b"\r\n".join(lines) + b"\r\n"


def config(url: bytes) -> bytes:
    return ini("SysInfo", {"CompanyURL": base64.b64encode(url)})


# The forms a file announces with its byte order mark: the mark and the codec.
MARKS = {"UTF-8": (b"\xef\xbb\xbf", "utf-8"), "UTF-16LE": (b"\xff\xfe", "utf-16-le"),
         "UTF-16BE": (b"\xfe\xff", "utf-16-be")}


def with_mark(form: str, text: str) -> bytes:
    """text in this form (MARKS) behind its byte order mark, with Windows line ends."""
    mark, codec = MARKS[form]
    return mark + text.replace("\r\n", "\n").replace("\n", "\r\n").encode(codec)


PAGE = b"http://hotel.example.cn/Company/Info.aspx"


# ---------------------------------------------------------------------------------------
# A change of one value, made in place: the files as found, the command, and the changed
# file expected byte for byte, for the tool of every platform (tests/e2e/tool_test.py;
# tests/wine/tool.sh through edit-case). Each runs in a session of the code page that cannot
# hold what the files hold ("tool", per platform), and the launcher of the front desk's session
# ("desk") opens the page from the values "sent".

DESK_IDENTITY = (b"[Company]\r\nCompanyNum=1234567890\r\nCompanyType=R01\r\nCompanyName=Hotel\r\n"
                 b"DeviceId=D1\r\n")
_LATIN1 = {"linux": "en_US.ISO-8859-1", "wine": "en_US.UTF-8"}
_C = {"linux": "C", "wine": "en_US.UTF-8"}
_ZH = {"linux": "zh_CN.UTF-8", "wine": "zh_CN.UTF-8"}
_GBK_DESK = {"linux": "zh_CN.GBK", "wine": "zh_CN.UTF-8"}
_HAND = "; 前台的电脑\n[Company]\nCompanyNum=1\nCompanyType=R01\nCompanyName=某某酒店\nRoomCount=180\n" \
        "DeviceId=D1\n[Printer]\nName=HP\n"
_GBK = "[Company]\r\nCompanyNum=1\r\nCompanyType=R01\r\nCompanyName=酒店\r\nDeviceId=D1\r\n"


def _edit(name, tool, desk, text, form, args, change, sent, values=None):
    """A case: text in form (a MARKS form, "gbk", or None for ASCII), the change that makes the
    expected file of it (None: refused, the file as it was), the values the page receives."""
    mark, codec = MARKS.get(form, (b"", form or "ascii"))
    case = {"name": name, "file": "Config.ini" if args[0] == "set-address" else "Company.ini",
            "tool": tool, "desk": desk, "args": args, "before": mark + text.encode(codec),
            "after": None if change is None else mark + text.replace(*change).encode(codec),
            "sent": sent}
    if values:
        case["values"] = values
    return case


_ID1 = {"num": b"1", "kind": b"R01", "device": b"D1"}
EDIT_CASES = [_edit(*row) for row in [
    ("the address: another key and another section kept", _C, _ZH,
     "[SysInfo]\r\nServerIP=10.0.0.5\r\nCompanyURL=%s\r\nPort=8080\r\n\r\n[Upload]\r\nInterval=30\r\n"
     % base64.b64encode(PAGE).decode(), None, ["set-address", "--", "http://example.com/b"],
     (base64.b64encode(PAGE).decode(), base64.b64encode(b"http://example.com/b").decode()),
     {"url": b"http://example.com/b", "num": b"1234567890", "kind": b"R01", "name": b"Hotel",
      "device": b"D1"}),
    ("a comment, a key of its own and another section, LF: nothing added", _LATIN1, _ZH,
     "; front desk\n[Company]\nCompanyNum=1\nCompanyType=R01\nRoomCount=180\nDeviceId=D1\n"
     "[Printer]\nName=HP\n", None, ["set-company", "--device-id", "D2"],
     ("DeviceId=D1", "DeviceId=D2"), dict(_ID1, device=b"D2")),
    ("UTF-8 with its mark, changed from the C locale", _C, _ZH, _HAND, "UTF-8",
     ["set-company", "--device-id", "D2"], ("DeviceId=D1", "DeviceId=D2"),
     dict(_ID1, name="某某酒店".encode(), device=b"D2")),
    ("UTF-16 BE, a new key after the last key line", _C, _ZH, _HAND, "UTF-16BE",
     ["set-company", "--other", "note 2"], ("DeviceId=D1\n", "DeviceId=D1\nOtherInfo=note 2\n"),
     dict(_ID1, name="某某酒店".encode(), other=b"note 2")),
    ("CR alone", _LATIN1, _ZH, "[Company]\rCompanyNum=1\rCompanyType=R01\rDeviceId=D1\r[Other]\rX=1\r",
     None, ["set-company", "--name", "Inn"], ("DeviceId=D1\r", "DeviceId=D1\rCompanyName=Inn\r"),
     dict(_ID1, name=b"Inn")),
    ("mixed line ends and a last line without its end", _LATIN1, _ZH,
     "[Company]\r\nCompanyNum=1\nCompanyType=R01\rDeviceId=D1", None,
     ["set-company", "--device-id", "D2", "--name", "Inn"], ("D1", "D2\rCompanyName=Inn"),
     dict(_ID1, name=b"Inn", device=b"D2")),
    ("duplicate sections and keys: the first of each changes, as the reader reads it", _LATIN1, _ZH,
     "[Company]\r\nCompanyNum=1\r\nCompanyNum=2\r\nCompanyType=R01\r\nDeviceId=D1\r\n[company]\r\n"
     "DeviceId=D9\r\n", None, ["set-company", "--number", "7", "--device-id", "D2"],
     ("Num=1\r\nCompanyNum=2\r\nCompanyType=R01\r\nDeviceId=D1", "Num=7\r\nCompanyNum=2\r\nCompanyType=R01\r\nDeviceId=D2"),
     dict(_ID1, num=b"7", device=b"D2")),
    ("key = value with blanks", _LATIN1, _ZH,
     "[Company]\r\nCompanyNum = 1\r\n CompanyType =  R01 \r\nDeviceId\t=\tD1\r\n", None,
     ["set-company", "--type", "R02", "--upload-user", "ABC1234567890"],
     ("R01 \r\nDeviceId\t=\tD1\r\n", "R02 \r\nDeviceId\t=\tD1\r\nUploadUser=ABC1234567890\r\n"),
     dict(_ID1, kind=b"R02", upload=b"ABC1234567890")),
    ("GBK without a mark, an ASCII value from a session without Chinese", _C, _GBK_DESK, _GBK, "gbk",
     ["set-company", "--device-id", "D2"], ("DeviceId=D1", "DeviceId=D2"),
     dict(_ID1, name="酒店".encode(), device=b"D2")),
    # As text whatever the session (an argument in its encoding could not be Chinese).
    ("GBK without a mark, a Chinese value from a session without Chinese: refused", _LATIN1,
     _GBK_DESK, _GBK, "gbk", ["--values-from", "@values", "set-company"], None,
     dict(_ID1, name="酒店".encode()), {"name": "旅店"}),
]]


def edit_case_files(case: dict, config_dir: str):
    """Puts the case's files into a Config folder: the one it changes, and the other as the
    front desk's; its values for --values-from (@values in its arguments) beside the folder, in
    values.json."""
    os.makedirs(config_dir, exist_ok=True)
    if "values" in case:
        with open(os.path.join(os.path.dirname(config_dir), "values.json"), "w") as f:
            json.dump(case["values"], f)
    other = {"Config.ini": DESK_IDENTITY, "Company.ini": config(PAGE)}
    for name, data in ((case["file"], case["before"]),
                       ("Company.ini" if case["file"] == "Config.ini" else "Config.ini",
                        other[case["file"]])):
        with open(os.path.join(config_dir, name), "wb") as f:
            f.write(data)


def edit_case_address(case: dict) -> bytes:
    sent = dict(case["sent"])
    return address(sent.pop("url", PAGE), **sent)


# ---------------------------------------------------------------------------------------
# The machinery: a display, a program folder, a recording browser.

# Message texts are read through AT-SPI when the tests run inside a D-Bus session
# (dbus-run-session) on a machine with the accessibility bus; ctest runs them that way.
ACCESSIBILITY = accessibility.available()
_bus = None


def accessibility_bus():
    global _bus
    if ACCESSIBILITY and _bus is None:
        _bus = accessibility.start_bus()
        time.sleep(0.3)


def run(args, env, timeout=WAIT, check=True):
    return subprocess.run(args, env=env, timeout=timeout, check=check, capture_output=True)


def private_directory(uid=None) -> str:
    """Where the program keeps its lock: /run/user/<uid>/CompanyMain when both are real,
    private directories of the user, else the cache folder of the user's home when it has one,
    else /tmp/CompanyMain-<uid>."""
    uid = os.geteuid() if uid is None else uid
    runtime = "/run/user/%d" % uid

    def private(path):
        try:
            st = os.lstat(path)
        except OSError:
            return False
        return stat.S_ISDIR(st.st_mode) and st.st_uid == uid and stat.S_IMODE(st.st_mode) == 0o700

    mine = os.path.join(runtime, "CompanyMain")
    if private(runtime) and (not os.path.lexists(mine) or private(mine)):
        return mine
    try:
        cache = os.path.join(pwd.getpwuid(uid).pw_dir, ".cache", "CompanyMain")
    except KeyError:
        cache = None
    if cache is not None and private(cache):
        return cache
    return "/tmp/CompanyMain-%d" % uid


def changed(env: dict, **changes) -> dict:
    """env with some variables set, and those given as None removed."""
    result = dict(env)
    for name, value in changes.items():
        if value is None:
            result.pop(name, None)
        else:
            result[name] = value
    return result


def server_session(pid: int) -> str:
    """The session name of the display server with this process number: its number and its
    start time, as /proc tells them."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return "server-%d-%s" % (pid, fields[19])


def lock_prefix(server) -> str:
    """The beginning of the lock's file names for a display server (a Display, a Compositor)."""
    return "CompanyMain-%s." % server.session


def forget_lock(server, directory=None):
    """Removes the lock files of one display server, once its copies have ended."""
    directory = directory or private_directory()
    try:
        names = os.listdir(directory)
    except OSError:
        return
    for name in names:
        if name.startswith(lock_prefix(server)):
            try:
                os.unlink(os.path.join(directory, name))
            except OSError:
                pass


def resolves(host: str) -> bool:
    try:
        socket.getaddrinfo(host, None)
    except OSError:
        return False
    return True


def listening_tcp_ports() -> set:
    ports = set()
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as f:
                next(f)
                for line in f:
                    fields = line.split()
                    if fields[3] == "0A":  # LISTEN
                        ports.add(int(fields[1].rsplit(":", 1)[1], 16))
        except OSError:
            pass
    return ports


def free_display_number() -> int:
    """A display number nothing listens on, by socket or by TCP ("localhost:N" is port
    6000 + N), far above those Xvfb -displayfd hands out."""
    with open("/proc/net/unix") as f:
        taken = f.read()
    ports = listening_tcp_ports()
    for number in range(5731, 5831):
        path = "/tmp/.X11-unix/X%d" % number
        if path not in taken and not os.path.exists(path) and 6000 + number not in ports:
            return number
    raise RuntimeError("no free display number")


class Display:
    """A private Xvfb server; with tcp, one that takes TCP connections from this machine too."""

    def __init__(self, tcp=False):
        read_end, write_end = os.pipe()
        self.server = subprocess.Popen(
            # -noreset: a server that resets when its last client leaves refuses the programs
            # that connect meanwhile.
            ["Xvfb", "-displayfd", str(write_end), "-noreset", "-screen", "0", "1280x1024x24",
             "-listen" if tcp else "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        # A server that hangs before naming its display must not hang the test with it.
        # It writes the number and the line's end in separate writes.
        said, deadline = b"", time.monotonic() + WAIT
        while not said.endswith(b"\n") and select.select(
                [read_end], [], [], max(0.0, deadline - time.monotonic()))[0]:
            chunk = os.read(read_end, 32)
            if not chunk:
                break
            said += chunk
        os.close(read_end)
        number = said.decode().strip() if said.endswith(b"\n") else ""
        if not number:
            self.server.kill()
            self.server.wait(timeout=WAIT)
            raise RuntimeError("Xvfb did not name its display within %d s" % WAIT)
        self.name = ":" + number
        self.session = server_session(self.server.pid)

    def close(self):
        self.server.terminate()
        self.server.wait(timeout=WAIT)


def wayland_answers(path: str, deadline: float) -> bool:
    """Whether the compositor at path answers wl_display.sync with its callback's done event
    before the deadline (time.monotonic())."""
    try:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as connection:
            connection.settimeout(max(0.1, deadline - time.monotonic()))
            connection.connect(path)
            connection.sendall(struct.pack("=III", 1, 12 << 16, 2))
            while True:
                header = connection.recv(8, socket.MSG_WAITALL)
                if len(header) < 8:
                    return False
                sender, size_opcode = struct.unpack("=II", header)
                body = connection.recv((size_opcode >> 16) - 8, socket.MSG_WAITALL)
                if sender == 2 and size_opcode & 0xFFFF == 0:
                    return True
                if sender == 1 and size_opcode & 0xFFFF == 0:
                    return False
    except OSError:
        return False


class Compositor:
    """A private Weston on its headless back end, with XWayland started by Weston on the first
    X client, its sockets in a runtime directory of its own (the Wayland one is wayland-0).
    With seen_on (an X display), Weston runs as a 1024x768 window on that display instead: it
    draws, and a pointer moved on that display is Weston's pointer (click, screenshot)."""

    def __init__(self, xwayland=True, seen_on: "Display" = None):
        self.runtime = tempfile.mkdtemp(prefix="companymain-wayland-")
        os.chmod(self.runtime, 0o700)
        self.log = tempfile.NamedTemporaryFile(prefix="companymain-weston-", suffix=".log")
        self.seen_on = seen_on
        backend = ["--backend=headless-backend.so"] if seen_on is None else [
            "--backend=x11-backend.so", "--use-pixman", "--width=1024", "--height=768"]
        env = {"XDG_RUNTIME_DIR": self.runtime, "PATH": "/usr/bin:/bin", "HOME": self.runtime}
        if seen_on is not None:
            env["DISPLAY"] = seen_on.name
        self.server = subprocess.Popen(
            ["weston", *backend, "--socket=wayland-0", "--idle-time=0",
             "--log=" + self.log.name, *(["--xwayland"] if xwayland else [])],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.socket = os.path.join(self.runtime, "wayland-0")
        self.x_display = None
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline and self.server.poll() is None:
            with open(self.log.name, errors="replace") as f:
                log = f.read()
            listening = [line.split("display ")[1].strip() for line in log.splitlines()
                         if "xserver listening on display" in line]
            # Ready once it answers a round trip, not once its socket exists.
            if os.path.exists(self.socket) and (listening or not xwayland) and \
                    wayland_answers(self.socket, deadline):
                self.x_display = listening[0] if listening else None
                break
            time.sleep(0.05)
        else:
            self.close()
            raise RuntimeError("Weston did not start: " + open(self.log.name).read()[-500:])
        self.session = server_session(self.server.pid)

    def close(self):
        if self.server.poll() is None:
            self.server.terminate()
        self.server.wait(timeout=WAIT)
        shutil.rmtree(self.runtime, True)
        self.log.close()

    def click(self, x: int, y: int):
        """A left click at this point of Weston's output. Weston takes the pointer only once
        it has entered its window (one that starts inside gets no enter): the pointer leaves
        the window (1024x768 at the display's corner), comes back and moves there first."""
        env = {"DISPLAY": self.seen_on.name, "PATH": "/usr/bin:/bin"}
        for step in ((1100, 900), (x - 10, y - 10), (x, y)):
            run(["xdotool", "mousemove", str(step[0]), str(step[1])], env)
            time.sleep(0.3)
        for action in ("mousedown", "mouseup"):
            run(["xdotool", action, "1"], env)
            time.sleep(0.2)

    def screenshot(self, path: str) -> str:
        """Weston's output, below its panel (32 pixels, with a clock), as a PNG, once it has
        settled: two shots 0.3 s apart differ by no more than an animation's few pixels (the
        window may still be getting maximized and drawn). Fails the wait after WAIT seconds."""
        deadline = time.monotonic() + WAIT
        previous = path + ".previous.png"
        self._shoot(previous)
        while True:
            time.sleep(0.3)
            self._shoot(path)
            if Compositor.pixels_changed(previous, path) < 1000:
                os.remove(previous)
                return path
            if time.monotonic() > deadline:
                raise AssertionError("Weston's output kept changing for %d s: %s" % (WAIT, path))
            os.replace(path, previous)

    def _shoot(self, path: str):
        run(["import", "-window", "root", "-crop", "1024x736+0+32", "+repage", path],
            {"DISPLAY": self.seen_on.name, "PATH": "/usr/bin:/bin"})

    @staticmethod
    def pixels_changed(first: str, second: str) -> int:
        """How many pixels of two screenshots differ by more than a trace."""
        result = subprocess.run(["compare", "-metric", "AE", "-fuzz", "5%", first, second,
                                 "null:"], capture_output=True, timeout=WAIT)
        return int(float(result.stderr.split()[0]))


FAKE_XDG_OPEN = r"""#!/bin/sh
# Records each argument hex-encoded on a line of its own, and the descriptors it was given.
record="{dir}/call.$$"
for argument in "$@"; do printf '%s' "$argument" | od -An -v -tx1 | tr -d ' \n'; echo; done > "$record.part"
for fd in /proc/$$/fd/*; do echo "$fd $(readlink "$fd")"; done > "{dir}/fds.$$"
mv "$record.part" "$record"
sleep {sleep}
exit {code}
"""


def fake_xdg_open(bin_dir: str, calls: str, sleep=0, code=0):
    """The recording xdg-open in bin_dir; its calls land in the folder calls."""
    path = os.path.join(bin_dir, "xdg-open")
    with open(path, "w") as f:
        f.write(FAKE_XDG_OPEN.format(dir=calls, sleep=sleep, code=code))
    os.chmod(path, 0o755)


def recorded_calls(calls: str) -> list:
    """The argument lists the recording xdg-open was started with, as bytes."""
    result = []
    for name in sorted(os.listdir(calls)):
        if name.startswith("call.") and not name.endswith(".part"):
            with open(os.path.join(calls, name)) as f:
                result.append([bytes.fromhex(line) for line in f.read().split("\n")[:-1]])
    return result


class Sandbox:
    """A program folder with CompanyMain in it, a runtime directory and a recording xdg-open."""

    def __init__(self, test: unittest.TestCase, display: Display, browser_sleep=0, base=None,
                 browser_exit=0):
        self.test = test
        self.display = display
        self.root = tempfile.mkdtemp(prefix="companymain-e2e-", dir=base)
        test.addCleanup(shutil.rmtree, self.root, True)
        self.app = os.path.join(self.root, "app")
        self.config_dir = os.path.join(self.app, "Config")
        os.makedirs(self.config_dir)
        self.program = os.path.join(self.app, "CompanyMain")
        app_fd = os.open(self.app, os.O_RDONLY | os.O_DIRECTORY)
        try:
            install_program(app_fd)
        finally:
            os.close(app_fd)
        self.runtime = os.path.join(self.root, "run")
        os.mkdir(self.runtime, 0o700)
        self.bin = os.path.join(self.root, "bin")
        self.calls = os.path.join(self.root, "calls")
        os.mkdir(self.bin)
        os.mkdir(self.calls)
        fake_xdg_open(self.bin, self.calls, browser_sleep, browser_exit)
        self.env = {
            "PATH": self.bin + ":/usr/local/bin:/usr/bin:/bin",
            "HOME": self.root,
            "DISPLAY": display.name,
            "XDG_RUNTIME_DIR": self.runtime,
            "LANG": "C.UTF-8",
        }
        if ACCESSIBILITY:
            # Lets the tests read message texts the way a screen reader does.
            self.env.update(accessibility.ENV)
            self.env["DBUS_SESSION_BUS_ADDRESS"] = os.environ["DBUS_SESSION_BUS_ADDRESS"]
        # A sanitizer build reads its options from the environment the suite runs in.
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if name in os.environ:
                self.env[name] = os.environ[name]
        self.processes = []

    def write(self, name: str, content: bytes):
        with open(os.path.join(self.config_dir, name), "wb") as f:
            f.write(content)

    def path(self, name: str) -> str:
        return os.path.join(self.config_dir, name)

    def make(self, name: str, kind: str, good: bytes = b""):
        """A broken file of this kind (FILE_KINDS) in the file's place."""
        make_file(kind, self.path(name), good)

    def start(self, args=(), env=None, cwd=None, wrapper=()) -> subprocess.Popen:
        # A file, not a pipe: the browser inherits stderr and may outlive us by far.
        log = open(os.path.join(self.root, "stderr.%d" % len(self.processes)), "w+b")
        self.test.addCleanup(log.close)
        process = subprocess.Popen([*wrapper, self.program, *args], env=env or self.env,
                                   cwd=cwd or "/", stdout=subprocess.DEVNULL, stderr=log)
        process.log = log
        self.processes.append(process)
        self.test.addCleanup(self._reap, process)
        return process

    @staticmethod
    def _reap(process):
        if process.poll() is None:
            process.kill()
        process.wait(timeout=WAIT)

    def finish(self, process, timeout=WAIT) -> int:
        """Waits for the program to end; fails on a hang."""
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.test.fail("CompanyMain did not end; message boxes on screen: %s" % self.boxes())

    def opened(self) -> list:
        """The argument lists xdg-open was started with, as bytes."""
        return recorded_calls(self.calls)

    def end_browsers(self):
        """Ends the stand-in browsers of this sandbox and the children they noted (child.*),
        by number."""
        for name in os.listdir(self.calls):
            pid = name.split(".")[1] if name.startswith("call.") else None
            if name.startswith("child."):
                with open(os.path.join(self.calls, name)) as f:
                    pid = f.read().strip()
            try:
                os.kill(int(pid), signal.SIGKILL)
            except (TypeError, ProcessLookupError, ValueError):
                pass

    def wait_opened(self, count: int) -> list:
        deadline = time.monotonic() + WAIT
        while len(self.opened()) < count and time.monotonic() < deadline:
            time.sleep(0.05)
        return self.opened()

    def inherited_descriptors(self) -> list:
        result = []
        for name in os.listdir(self.calls):
            if name.startswith("fds."):
                with open(os.path.join(self.calls, name)) as f:
                    result += f.read().splitlines()
        return result

    # --- windows ---------------------------------------------------------------------

    def xenv(self):
        return {"DISPLAY": self.display.name, "PATH": "/usr/bin:/bin", "LC_ALL": "C.UTF-8"}

    def windows(self, *search) -> list:
        found = run(["xdotool", "search", *search], self.xenv(), check=False)
        return found.stdout.decode().split()

    def prop(self, window: str, name: str) -> str:
        return run(["xprop", "-id", window, name], self.xenv(), check=False).stdout.decode()

    def pid_of(self, window: str) -> int:
        text = self.prop(window, "_NET_WM_PID")
        return int(text.split("=")[1]) if "=" in text else -1

    def windows_of(self, process, *search, count=1, besides=()) -> list:
        """The windows of the process that the xdotool search finds (but those in besides),
        searched again until there are count of them: a window is found a moment before its
        properties are all set. After WAIT seconds, the last ones found."""
        deadline = time.monotonic() + WAIT
        while True:
            found = [w for w in self.windows(*search)
                     if w not in besides and self.pid_of(w) == process.pid]
            if len(found) == count or time.monotonic() >= deadline:
                return found
            time.sleep(0.05)

    def wait_prop(self, window: str, name: str, holds: str, *options) -> str:
        """xprop's line for the window's property (with xprop's options before its name), read
        again until it holds this text; after WAIT seconds, the last one read."""
        deadline = time.monotonic() + WAIT
        while True:
            text = run(["xprop", "-id", window, *options, name], self.xenv(),
                       check=False).stdout.decode()
            if holds in text or time.monotonic() >= deadline:
                return text
            time.sleep(0.05)

    def boxes(self, pid=None) -> list:
        found = self.windows("--onlyvisible", "--name", "^%s$" % CAPTION)
        return [w for w in found if pid is None or self.pid_of(w) == pid]

    def wait_box(self, process) -> str:
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            found = self.boxes(process.pid)
            if found:
                return found[0]
            if process.poll() is not None:
                process.log.seek(0)
                self.test.fail("CompanyMain ended (code %s) without showing a message: %s"
                               % (process.returncode,
                                  process.log.read()[-2000:].decode(errors="replace")))
            time.sleep(0.05)
        self.test.fail("no message box captioned %s appeared" % CAPTION)

    def dismiss(self, box: str):
        run(["xdotool", "windowfocus", "--sync", box], self.xenv())
        run(["xdotool", "key", "Return"], self.xenv())
        run(["xdotool", "keyup", "Return"], self.xenv())


SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ICONS = os.path.join(SOURCE, "src", "app", "launcher", "res", "icons")


def desktop_entry(key: str) -> str:
    """A key of the menu entry the package installs."""
    with open(os.path.join(SOURCE, "data", "companymain.desktop"), encoding="utf-8") as f:
        for line in f:
            if line.startswith(key + "="):
                return line.rstrip("\n").split("=", 1)[1]
    raise KeyError(key)


def png_pixels(path: str) -> list:
    """A PNG file's pixels as (alpha, red, green, blue), row by row."""
    rgba = run(["convert", path, "-depth", "8", "rgba:-"], {"PATH": "/usr/bin:/bin"}).stdout
    return [(rgba[i + 3], rgba[i], rgba[i + 1], rgba[i + 2]) for i in range(0, len(rgba), 4)]


def premultiplied(argb) -> tuple:
    """A pixel as it is seen, its colour weighted by its alpha (which Qt's round trip through
    premultiplied pixels may round differently)."""
    a = argb[0]
    return (a, *(c * a // 255 for c in argb[1:]))


QT_PLATFORMS = "/usr/lib/%s/qt6/plugins/platforms" % (
    subprocess.run(["dpkg-architecture", "-qDEB_HOST_MULTIARCH"], capture_output=True,
                   text=True).stdout.strip() or "x86_64-linux-gnu")


# ---------------------------------------------------------------------------------------
# Locales: the code pages the tests speak, made for the tests alone (LOCPATH).

_locales = None


def locales(*names: str) -> str:
    """A folder for LOCPATH holding the named locales ("zh_CN.GBK", "en_US.ISO-8859-1"), each
    made with localedef the first time it is asked for; one folder for the whole run, open to
    other users (some cases run as one), removed at its end. Skips the test (unittest.SkipTest)
    where localedef is not installed."""
    global _locales
    if shutil.which("localedef") is None:
        raise unittest.SkipTest("localedef (package locales) is not installed")
    if _locales is None:
        _locales = tempfile.mkdtemp(prefix="companymain-locales-")
        os.chmod(_locales, 0o755)
        atexit.register(shutil.rmtree, _locales, True)
    for name in names:
        path = os.path.join(_locales, name)
        if not os.path.isdir(path):
            language, charmap = name.split(".", 1)
            subprocess.run(["localedef", "-i", language, "-f", charmap, path],
                           check=True, capture_output=True, timeout=120)
    return _locales


# ---------------------------------------------------------------------------------------
# The ways a configuration or identity file is broken, for every suite that feeds them to the
# program (tests/faults/run.py, MessageTest, tests/wine/faults.sh through make-file).

_rng = random.Random(20261208)
RANDOM = bytes(_rng.getrandbits(8) for _ in range(64 * 1024))


def _contents(data: bytes):
    def put(path, good):
        with open(path, "wb") as f:
            f.write(data)
    return put


def _unreadable(path, good):
    with open(path, "wb") as f:
        f.write(good)
    os.chmod(path, 0)


FILE_KINDS = {
    "empty": _contents(b""),
    **{"bom-" + form: _contents(mark) for form, (mark, _) in MARKS.items()},  # the mark alone
    "random": _contents(RANDOM),  # 64 KiB, the same bytes every run
    # A good file nobody may read (as root it is read all the same).
    "unreadable": _unreadable,
    "directory": lambda path, good: os.mkdir(path),
    "dangling-symlink": lambda path, good: os.symlink(path + ".nowhere", path),
    "symlink-loop": lambda path, good: os.symlink(path, path),
    "fifo": lambda path, good: os.mkfifo(path),  # nobody writes to it
    # A device reads for ever.
    "device-link": lambda path, good: os.symlink("/dev/zero", path),
}


def make_file(kind: str, path: str, good: bytes = b""):
    """Puts a broken file of this kind at path; good is what a readable one would hold."""
    FILE_KINDS[kind](path, good)


def main(argv) -> int:
    if len(argv) in (3, 4) and argv[0] == "make-file" and argv[1] in FILE_KINDS:
        good = b""
        if len(argv) == 4:
            with open(argv[3], "rb") as f:
                good = f.read()
        make_file(argv[1], argv[2], good)
        return 0
    if len(argv) == 3 and argv[0] == "edit-case":
        # edit-case N DIR: the files into the Config folder DIR; the command, the sessions
        # (Windows') and the file to compare on standard output, a line each
        case = EDIT_CASES[int(argv[1])]
        edit_case_files(case, argv[2])
        print("\t".join(case["args"]))
        print(case["tool"]["wine"], case["desk"]["wine"], case["file"],
              2 if case["after"] is None else 0, sep="\n")
        return 0
    if len(argv) == 4 and argv[0] == "edit-verify":
        # edit-verify N FILE ADDRESS: what differs from the expected file and address, if anything
        case = EDIT_CASES[int(argv[1])]
        expected = case["before"] if case["after"] is None else case["after"]
        problems = []
        with open(argv[2], "rb") as f:
            got = f.read()
        if got != expected:
            problems.append("%s: %r, expected %r" % (case["file"], got[:200], expected[:200]))
        with open(argv[3], "rb") as f:
            opened = f.read()
        if opened != edit_case_address(case):
            problems.append("the launcher opened %r, expected %r" % (opened, edit_case_address(case)))
        print("; ".join(problems))
        return 0
    if argv == ["edit-cases"]:
        print("\n".join(case["name"] for case in EDIT_CASES))
        return 0
    if argv == ["file-kinds"]:
        print("\n".join(FILE_KINDS))
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
