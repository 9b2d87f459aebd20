"""End-to-end tests of the Linux CompanyMain.

Each test runs the real program, copied into a fresh program folder, under its own Xvfb
display and its own XDG_RUNTIME_DIR, with a stand-in xdg-open first on PATH that records
its arguments byte for byte. Message boxes are found by their caption and dismissed with
Return, as a user would.

The lock lives in the user's real private directory (/run/user/<uid>/CompanyMain or
/tmp/CompanyMain-<uid>), named after the display: tests on different displays never meet
there, and each test removes only what its own displays left. Tests that need that
directory in a particular state run the program in a mount namespace of their own.

The machinery (displays, program folders, the address the web system expects) is in
harness.py.

    COMPANYMAIN=/path/to/CompanyMain python3 launcher_test.py [TestClass]
"""

import base64
import fcntl
import itertools
import json
import os
import pwd
import random
import shutil
import signal
import socket
import stat
import subprocess
import tempfile
import termios
import threading
import time
import unittest

import accessibility
from harness import (ACCESSIBILITY, CAPTION, ICONS, MODULE, NO_ADDRESS, NO_BROWSER, NO_CONFIG,
                     NO_IDENTITY, PAGE, PROGRAM, QT_PLATFORMS, RUNNING, TITLE, TOOL, WAIT,
                     Compositor, Display, Sandbox, accessibility_bus, address, b64, changed,
                     config, desktop_entry, forget_lock, form, free_display_number, ini,
                     install_program, lock_prefix, locales, MARKS, with_mark, png_pixels, premultiplied,
                     private_directory, resolves, run, trim)


class E2ETest(unittest.TestCase):
    browser_sleep = 0

    def setUp(self):
        if not PROGRAM:
            self.skipTest("COMPANYMAIN is not set")
        self.display = self.own_display()
        accessibility_bus()
        self.box = Sandbox(self, self.display, self.browser_sleep)

    def own_display(self, tcp=False) -> Display:
        """A display for this test; its lock files go once its copies have ended."""
        display = Display(tcp)
        self.addCleanup(display.close)
        self.addCleanup(forget_lock, display)
        return display

    def fresh(self, browser_sleep=0, browser_exit=0) -> Sandbox:
        """Another program folder and runtime directory on the same display."""
        return Sandbox(self, self.display, browser_sleep, browser_exit=browser_exit)

    def launch_ok(self, sandbox: Sandbox, args=(), env=None, cwd=None) -> list:
        """Runs the program where it must open the page; returns the one argument list."""
        process = sandbox.start(args, env, cwd)
        code = sandbox.finish(process)
        if code != 0:
            process.log.seek(0)
            self.fail("exit code %d: %s" % (code, process.log.read().decode(errors="replace")))
        calls = sandbox.wait_opened(1)
        self.assertEqual(len(calls), 1, "xdg-open must be started exactly once")
        return calls[0]

    def assert_message_path(self, sandbox: Sandbox, env=None, text=None):
        """One message (with this text), dismissed; exit code 0 and nothing opened."""
        process = sandbox.start(env=env)
        box = sandbox.wait_box(process)
        if text is not None:
            found = accessibility.wait_message(process.pid, WAIT, text=text, caption=CAPTION)
            self.assertIsNotNone(found, "the message has no accessible text")
            self.assertEqual((found[0], found[1]), (text, CAPTION))
        sandbox.dismiss(box)
        self.assertEqual(sandbox.finish(process), 0)
        self.assertEqual(sandbox.opened(), [])



class AddressTest(E2ETest):
    """The argument xdg-open receives is the page address, byte for byte."""

    def test_published_example(self):
        self.box.write("Config.ini", config(PAGE))
        self.box.write("Company.ini", ini("Company", {
            "CompanyNum": "1234567890", "CompanyType": "R01", "CompanyName": "无",
            "DeviceId": "D1", "OtherInfo": ""}))
        self.assertEqual(self.launch_ok(self.box), [
            PAGE + b"?Id=MTIzNDU2Nzg5MA==&Name=%E6%97%A0&Type=UjAx&DeviceId=RDE=&other="
            b"&Version=NS4wLjAuMA=="])

    def test_identities_in_a_utf8_locale(self):
        long_number = b"9" * 60
        cases = [
            # (name, url, Company.ini values, expected keyword arguments of address())
            ("R02 takes its number from the upload account",
             PAGE, {"CompanyNum": "555", "CompanyType": '" R02 "', "UploadUser": "ABC1234567890XYZ",
                    "CompanyName": "Grand  Hotel", "DeviceId": "PC-7"},
             dict(num=b"1234567890", kind=b"R01", name=b"Grand  Hotel", device=b"PC-7")),
            ("short upload account keeps the number; r02 is no R02",
             PAGE, {"CompanyNum": "777", "CompanyType": "R02", "UploadUser": "ABC123456789"},
             dict(num=b"777", kind=b"R01")),
            ("lower-case type stays",
             PAGE, {"CompanyNum": "777", "CompanyType": "r02", "UploadUser": "ABC1234567890XYZ"},
             dict(num=b"777", kind=b"r02")),
            ("blank name becomes the placeholder; other text is form-encoded",
             PAGE, {"CompanyName": '"   "', "OtherInfo": "a b~/:?&=+%中"},
             dict(other="a b~/:?&=+%中".encode())),
            ("a long number carries CR LF inside the address",
             PAGE, {"CompanyNum": long_number.decode(), "CompanyType": "R01"},
             dict(num=long_number, kind=b"R01")),
            ("blanks at the end of the page stay in front of the query",
             b"  http://h.example/p?x=1  ", {"CompanyNum": "1"}, dict(num=b"1")),
            ("missing keys give empty values",
             PAGE, {}, {}),
            ("invalid UTF-8 in a name becomes U+FFFD",
             PAGE, {"CompanyName": b"A\xffB"}, "A%EF%BF%BDB"),
        ]
        for name, url, values, expected in cases:
            with self.subTest(name):
                sandbox = self.fresh()
                sandbox.write("Config.ini", config(url))
                sandbox.write("Company.ini", ini("Company", values))
                [argument] = self.launch_ok(sandbox)
                if isinstance(expected, str):
                    self.assertIn(b"&Name=" + expected.encode() + b"&Type=", argument)
                else:
                    self.assertEqual(argument, address(url, **expected))
        self.assertIn(b"?Id=" + b64(long_number)[:76] + b"\r\n", address(PAGE, num=long_number))

    def test_file_forms_and_start_conditions(self):
        utf16 = lambda text: with_mark("UTF-16LE", text)
        company = "[Company]\nCompanyNum=42\nCompanyName=中文 酒店\nOtherInfo=x\n"
        url = base64.b64encode(PAGE).decode()
        cases = [
            ("UTF-16 LE files with their byte order mark",
             utf16("[SysInfo]\nCompanyURL=%s\n" % url), utf16(company)),
            ("UTF-8 byte order mark, odd case, blanks and junk inside the base64",
             b"\xef\xbb\xbf[sysinfo]\r\ncompanyurl = " + b" * ".join(
                 base64.b64encode(PAGE)[i:i + 5] for i in range(0, len(url), 5)) + b"\r\n",
             company.encode()),
        ]
        for name, config_text, company_text in cases:
            with self.subTest(name):
                sandbox = self.fresh()
                sandbox.write("Config.ini", config_text)
                sandbox.write("Company.ini", company_text)
                self.assertEqual(self.launch_ok(sandbox), [
                    address(PAGE, num=b"42", name="中文 酒店".encode(), other=b"x")])

        with self.subTest("arguments are ignored and the working directory does not matter"):
            sandbox = self.fresh()
            sandbox.write("Config.ini", config(PAGE))
            sandbox.write("Company.ini", company.encode())
            os.mkdir(os.path.join(sandbox.root, "elsewhere"))
            # Were Qt to see these, it would take them for its own options.
            self.assertEqual(
                self.launch_ok(sandbox, ["-platform", "offscreen", "-display", ":4242", "x"],
                               cwd=os.path.join(sandbox.root, "elsewhere")),
                [address(PAGE, num=b"42", name="中文 酒店".encode(), other=b"x")])


class LocalesTest(E2ETest):
    """Tests in locales built for them (LOCPATH): GBK, GB18030, Big5 and Latin-1."""

    @classmethod
    def setUpClass(cls):
        cls.locales = locales("zh_CN.GBK", "zh_CN.GB18030", "zh_TW.BIG5", "en_US.ISO-8859-1")


class CodePageTest(LocalesTest):
    """ANSI text in the GB family of code pages, through locales built for the test."""

    def launch_in(self, locale: str, config_text: bytes, company_text: bytes) -> bytes:
        sandbox = self.fresh()
        sandbox.write("Config.ini", config_text)
        sandbox.write("Company.ini", company_text)
        env = dict(sandbox.env, LOCPATH=self.locales, LANG=locale)
        [argument] = self.launch_ok(sandbox, env=env)
        return argument

    def test_gbk(self):
        page = "http://酒店.example/信息.aspx".encode("gbk")
        cases = [
            ("names in GBK", {"CompanyName": "无锡 大酒店".encode("gbk"), "OtherInfo": b"\x80"},
             dict(name="无锡 大酒店", other="€")),
            ("blank name: the placeholder is stored in GBK too", {"CompanyName": b""},
             dict(name="无", other="")),
            ("a bad byte becomes ?, the rest is kept", {"OtherInfo": b"\xff\xa1\xa1x"},
             dict(name="无", other="?\u3000x")),
            ("user-defined area maps into the Private Use Area", {"OtherInfo": b"\xaa\xa1"},
             dict(name="无", other="\ue000")),
        ]
        for name, values, expected in cases:
            with self.subTest(name):
                argument = self.launch_in("zh_CN.GBK", config(page), ini("Company", values))
                # The page address keeps its GBK bytes: only the query values are UTF-8.
                self.assertEqual(argument, trim(
                    page + b"?Id=&Name=" + form(expected["name"].encode()) + b"&Type=&DeviceId=" +
                    b"&other=" + form(expected["other"].encode()) + b"&Version=NS4wLjAuMA=="))

        with self.subTest("a UTF-16 file is read in the ANSI code page; ? for what GBK lacks"):
            company = with_mark("UTF-16LE", "[Company]\nCompanyName=中文한\n")
            argument = self.launch_in("zh_CN.GBK", config(page), company)
            self.assertIn(b"&Name=" + form("中文?".encode()) + b"&Type=", argument)

    def test_files_marked_with_their_encoding_read_as_gbk(self):
        # Notepad's "UTF-8 with BOM", and UTF-16 in both byte orders, in a GBK locale: the
        # values reach the page as if the files had been saved in GBK.
        page = "http://酒店.example/信息.aspx"
        name, other = "无锡 湖畔大酒店", "楼层 1-12"
        company = "[Company]\r\nCompanyNum=42\r\nCompanyName=%s\r\nOtherInfo=%s\r\n" % (name, other)
        conf = "[SysInfo]\r\nCompanyURL=%s\r\n" % base64.b64encode(page.encode("gbk")).decode()
        expected = address(page.encode("gbk"), num=b"42", name=name.encode("gbk"),
                           other=other.encode("gbk"), codec="gbk")
        for mark in MARKS:
            with self.subTest(mark):
                self.assertEqual(self.launch_in("zh_CN.GBK", with_mark(mark, conf),
                                                with_mark(mark, company)), expected)

    def test_blank_name_is_always_sent_as_wu(self):
        # Code pages without "无" (Big5, Latin-1, the C locale's ASCII) still send it in UTF-8.
        for locale in ("zh_TW.BIG5", "en_US.ISO-8859-1", "C", "zh_CN.GBK"):
            with self.subTest(locale):
                argument = self.launch_in(locale, config(PAGE),
                                          ini("Company", {"CompanyNum": "7", "CompanyName": "  "}))
                self.assertEqual(argument, address(PAGE, num=b"7"))

    def test_a_cut_value_never_ends_in_half_a_character(self):
        # The 2047-byte cut falls inside a GBK character: its lead byte goes with it.
        cases = [("the cut splits 中", b"o" * 2046 + "中文".encode("gbk"), b"o" * 2046),
                 ("the cut follows 中", b"o" * 2045 + "中文".encode("gbk"),
                  b"o" * 2045 + "中".encode("gbk"))]
        for name, value, kept in cases:
            with self.subTest(name):
                argument = self.launch_in("zh_CN.GBK", config(PAGE),
                                          ini("Company", {"OtherInfo": value}))
                self.assertEqual(argument, address(PAGE, other=kept, codec="gbk"))

    def test_the_locale_variables_in_their_order(self):
        # LC_ALL before LC_CTYPE before LANG, each only when set and not empty: a GBK name in
        # the file reads as GBK exactly where the first of them names a GBK locale.
        company = ini("Company", {"CompanyName": "无锡酒店".encode("gbk")})
        gbk = address(PAGE, name="无锡酒店".encode("gbk"), codec="gbk")
        # Read as UTF-8 the same bytes are mostly invalid: U+FFFD per maximal bad sequence.
        as_utf8 = address(PAGE, name="无锡酒店".encode("gbk").decode("utf-8", "replace").encode())
        cases = [
            ("LC_ALL GBK over LANG UTF-8", dict(LC_ALL="zh_CN.GBK", LANG="C.UTF-8"), gbk),
            ("LC_CTYPE GBK over LANG UTF-8", dict(LC_CTYPE="zh_CN.GBK", LANG="C.UTF-8"), gbk),
            ("LC_ALL UTF-8 over LC_CTYPE GBK", dict(LC_ALL="C.UTF-8", LC_CTYPE="zh_CN.GBK"),
             as_utf8),
            ("an empty LC_ALL does not count", dict(LC_ALL="", LC_CTYPE="zh_CN.GBK",
                                                    LANG="C.UTF-8"), gbk),
            ("LANG GBK under LC_CTYPE UTF-8", dict(LC_CTYPE="C.UTF-8", LANG="zh_CN.GBK"), as_utf8),
        ]
        for name, variables, expected in cases:
            with self.subTest(name):
                sandbox = self.fresh()
                sandbox.write("Config.ini", config(PAGE))
                sandbox.write("Company.ini", company)
                env = changed(changed(sandbox.env, LANG=None, LOCPATH=self.locales), **variables)
                [argument] = self.launch_ok(sandbox, env=env)
                self.assertEqual(argument, expected)

    def test_gb18030_outside_the_basic_plane(self):
        name = "\U00020000酒店"
        argument = self.launch_in("zh_CN.GB18030", config(PAGE),
                                  ini("Company", {"CompanyName": name.encode("gb18030")}))
        self.assertIn(b"&Name=%F0%A0%80%80%E9%85%92%E5%BA%97&Type=", argument)


class MessageTest(E2ETest):
    """Every message path: one box captioned 提示 with its text, exit code 0, nothing opened."""

    def setUp(self):
        super().setUp()
        if not ACCESSIBILITY:
            self.fail("message texts are read through AT-SPI: run inside dbus-run-session, "
                      "with at-spi2-core and python3-pyatspi installed")

    def test_message_paths(self):
        good_config = config(PAGE)
        good_company = ini("Company", {"CompanyNum": "1"})
        # A file's content as bytes, a broken file by its kind (FILE_KINDS), or None for none.
        cases = [
            ("configuration file missing", good_company, None, None, NO_CONFIG),
            ("configuration file is a directory", good_company, "directory", None, NO_CONFIG),
            ("configuration file is a FIFO nobody writes to", good_company, "fifo", None,
             NO_ADDRESS),
            ("address key missing", good_company, ini("SysInfo", {"Other": "x"}), None, NO_ADDRESS),
            ("address is base64 of blanks", good_company, ini("SysInfo", {"CompanyURL": "ICAJ"}),
             None, NO_ADDRESS),
            ("identity file missing", None, good_config, None, NO_IDENTITY),
            ("identity file is a FIFO", "fifo", good_config, None, NO_IDENTITY),
            ("identity file is a directory", "directory", good_config, None, NO_IDENTITY),
            ("identity file is empty", "empty", good_config, None, NO_IDENTITY),
            ("identity file is a byte order mark alone", "bom-UTF-8", good_config, None,
             NO_IDENTITY),
            ("identity section misspelt", ini("Compnay", {"CompanyNum": "1"}), good_config, None,
             NO_IDENTITY),
            ("identity file in UTF-16 without its mark",
             "[Company]\r\nCompanyNum=1\r\n".encode("utf-16-le"), good_config, None, NO_IDENTITY),
            ("xdg-open cannot be found", good_company, good_config, "/nonexistent", NO_BROWSER),
            # A device reads for ever: it is not read at all, and the message comes at once.
            ("configuration file is a link to a character device", good_company, "device-link",
             None, NO_ADDRESS),
            ("identity file is a link to a character device", "device-link", good_config, None,
             NO_IDENTITY),
        ]
        for name, company, config_text, path, text in cases:
            with self.subTest(name):
                sandbox = self.fresh()
                for file, content in (("Company.ini", company), ("Config.ini", config_text)):
                    if isinstance(content, str):
                        sandbox.make(file, content)
                    elif content is not None:
                        sandbox.write(file, content)
                env = dict(sandbox.env, PATH=path) if path else None
                self.assert_message_path(sandbox, env, text)


class ConfigToolTest(LocalesTest):
    """companymain-config writes what the launcher reads, and its check shows exactly what the
    launcher does: for random identities and addresses in several code pages, the address the
    check prints is byte for byte the one the launcher hands to xdg-open."""

    # Characters each code page holds (and that its converters agree on).
    CODECS = {"C.UTF-8": ("utf-8", "无锡湖畔大酒店中文名称宾館旅社前台é€"),
              "zh_CN.GBK": ("gbk", "无锡湖畔大酒店中文名称宾馆旅社前台"),
              "zh_CN.GB18030": ("gb18030", "无锡湖畔大酒店中文名称宾馆旅社前台"),
              "zh_TW.BIG5": ("big5", "無錫湖畔大酒店中文名稱賓館旅社前台"),
              "en_US.ISO-8859-1": ("latin-1", "éàüößñçÉÀÜ")}

    def fresh(self, browser_sleep=0) -> Sandbox:
        # Open to other users, as an installation is: check reports a folder closed to them.
        sandbox = super().fresh(browser_sleep)
        os.chmod(sandbox.root, 0o755)
        return sandbox

    def tool(self, sandbox, env, *args):
        codec = self.codec_of(env)
        return subprocess.run([os.path.join(sandbox.app, TOOL),
                               *[a.encode(codec) if isinstance(a, str) else a for a in args]],
                              env=env, capture_output=True, timeout=WAIT)

    def codec_of(self, env):
        return self.CODECS[env["LANG"]][0]

    def random_case(self, rng, locale):
        codec, extra = self.CODECS[locale]
        ascii_pool = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_.~!*'() "
        def text(low, high, pool=ascii_pool + extra):
            return "".join(rng.choice(pool) for _ in range(rng.randint(low, high)))
        return {
            "url": "http://%s.example/%s?q=%s" % (text(1, 8, "abcxyz" + extra), text(0, 12),
                                                  text(0, 5, "abc123")),
            "number": text(1, 70, "0123456789 "),
            "type": rng.choice(["R01", "R02", " R02 ", "r02", "X9"]),
            "name": rng.choice([text(0, 20), "   ", ""]),
            "device": text(1, 12, "ABCDEF0123456789-"),
            "upload": rng.choice(["", "ABC1234567890XYZ", "ABC12345678", text(0, 20)]),
            "other": text(0, 30),
        }

    def test_check_and_the_launcher_agree_byte_for_byte(self):
        rng = random.Random(20261208)
        for locale in self.CODECS:
            for number in range(6):
                case = self.random_case(rng, locale)
                with self.subTest(locale=locale, case=number):
                    sandbox = self.fresh()
                    env = dict(sandbox.env, LOCPATH=self.locales, LANG=locale)
                    done = self.tool(sandbox, env, "set-address", case["url"])
                    self.assertEqual(done.returncode, 0, done.stderr.decode(errors="replace"))
                    done = self.tool(sandbox, env, "set-company", "--number", case["number"],
                                     "--type", case["type"], "--name", case["name"],
                                     "--device-id", case["device"], "--upload-user",
                                     case["upload"], "--other", case["other"])
                    self.assertEqual(done.returncode, 0, done.stderr.decode(errors="replace"))
                    checked = self.tool(sandbox, env, "check", "--json")
                    self.assertEqual(checked.returncode, 0, checked.stdout)
                    report = json.loads(checked.stdout)
                    from_check = bytes.fromhex(report["addressBytes"])
                    [launched] = self.launch_ok(sandbox, env=env)
                    self.assertEqual(from_check, launched)
                    # And both are what the web system expects, computed here on our own.
                    codec = self.codec_of(env)
                    self.assertEqual(launched, address(
                        case["url"].encode(codec), num=case["number"].encode(codec),
                        name=case["name"].encode(codec), kind=case["type"].encode(codec),
                        device=case["device"].encode(codec), other=case["other"].encode(codec),
                        upload=case["upload"].encode(codec), codec=codec))
                    # The plain report ends with the same bytes, as a terminal shows them.
                    plain = self.tool(sandbox, env, "check")
                    self.assertTrue(plain.stdout.endswith(b"\n" + launched + b"\n"))

    def test_check_says_the_launchers_message(self):
        if not ACCESSIBILITY:
            self.skipTest("message texts are read through AT-SPI")
        cases = [("no configuration", None, ini("Company", {"CompanyNum": "1"}), NO_CONFIG),
                 ("blank address", ini("SysInfo", {"CompanyURL": "ICAg"}),
                  ini("Company", {"CompanyNum": "1"}), NO_ADDRESS),
                 ("no identity section", config(PAGE), ini("Compnay", {"CompanyNum": "1"}),
                  NO_IDENTITY)]
        for name, config_text, company_text, text in cases:
            with self.subTest(name):
                sandbox = self.fresh()
                for file, content in (("Config.ini", config_text), ("Company.ini", company_text)):
                    if content is not None:
                        sandbox.write(file, content)
                checked = self.tool(sandbox, dict(sandbox.env, LANG="C.UTF-8"), "check", "--json")
                self.assertEqual(checked.returncode, 1, checked.stdout)
                self.assertEqual(json.loads(checked.stdout)["message"], text)
                self.assert_message_path(sandbox, text=text)


class LongFolderTest(E2ETest):
    """Program folders as long as the system lets a program be started from."""

    def deep_sandbox(self, length: int):
        """A sandbox whose program folder path is length bytes long (made one folder at a
        time: no single call takes a path that long)."""
        sandbox = self.fresh()
        folder = sandbox.app
        fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
        while len(folder) < length:
            name = "f" * min(200, length - len(folder) - 1)
            if length - len(folder) - 1 - len(name) == 1:
                name = name[:-1]  # never leave one byte for a last folder of no name
            os.mkdir(name, dir_fd=fd)
            inner = os.open(name, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
            os.close(fd)
            fd, folder = inner, folder + "/" + name
        self.assertEqual(len(folder.encode()), length)
        os.mkdir("Config", dir_fd=fd)
        config_fd = os.open("Config", os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
        for name, content in (("Config.ini", config(PAGE)),
                              ("Company.ini", ini("Company", {"CompanyNum": "1234567890"}))):
            out = os.open(name, os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=config_fd)
            os.write(out, content)
            os.close(out)
        install_program(fd)
        os.close(config_fd)
        self.addCleanup(os.close, fd)
        return sandbox, fd

    def test_deep_folders(self):
        # Below PATH_MAX for the program itself, but its Config files lie beyond it.
        for length in (4000, 4077, 4080, 4083):
            with self.subTest(length=length):
                sandbox, fd = self.deep_sandbox(length)
                process = subprocess.Popen(["./CompanyMain"], env=sandbox.env,
                                           preexec_fn=lambda: os.fchdir(fd),
                                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                _, err = process.communicate(timeout=WAIT)
                self.assertEqual(process.returncode, 0, err.decode(errors="replace"))
                self.assertEqual(sandbox.wait_opened(1), [[address(PAGE, num=b"1234567890")]])

    def test_folder_the_system_cannot_name(self):
        # Deeper than the system can tell a program its own file name: the identity cannot be
        # read, and the user is told so; nothing is opened with an empty identity.
        if not ACCESSIBILITY:
            self.skipTest("message texts are read through AT-SPI")
        sandbox, fd = self.deep_sandbox(4090)
        process = subprocess.Popen(["./CompanyMain"], env=sandbox.env,
                                   preexec_fn=lambda: os.fchdir(fd),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(Sandbox._reap, process)
        found = accessibility.wait_message(process.pid, WAIT, text=NO_IDENTITY, caption=CAPTION)
        self.assertIsNotNone(found, "no message")
        self.assertEqual((found[0], found[1]), (NO_IDENTITY, CAPTION))
        accessibility.press(found[2])
        self.assertEqual(process.wait(timeout=WAIT), 0)
        self.assertEqual(sandbox.opened(), [])


class WindowModuleTest(E2ETest):
    """The launcher decides and starts the browser without the GUI toolkit; the window and the
    messages come from the module it loads afterwards."""

    def test_the_launcher_links_no_toolkit(self):
        needed = run(["readelf", "-d", PROGRAM], {"PATH": "/usr/bin:/bin"}).stdout.decode()
        libraries = [line.split("[")[1].rstrip("]") for line in needed.splitlines()
                     if "(NEEDED)" in line]
        self.assertTrue(libraries, needed)
        self.assertFalse([name for name in libraries if "Qt" in name or "stdc++" in name],
                         libraries)

    def without_module(self):
        sandbox = self.fresh()
        os.unlink(os.path.join(sandbox.app, MODULE))
        return sandbox

    def test_the_browser_does_not_wait_for_the_window_module(self):
        # With the module gone the page still opens: nothing before the browser needs it. The
        # window cannot be shown then, which is said on standard error, with exit code 1.
        sandbox = self.without_module()
        sandbox.write("Config.ini", config(PAGE))
        sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
        process = sandbox.start()
        self.assertEqual(sandbox.finish(process), 1)
        self.assertEqual(sandbox.wait_opened(1), [[address(PAGE, num=b"1")]])
        process.log.seek(0)
        self.assertIn(("cannot load its window module").encode(), process.log.read())

    def test_a_message_without_the_window_module_goes_to_standard_error(self):
        sandbox = self.without_module()
        sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
        process = sandbox.start()
        self.assertEqual(sandbox.finish(process), 1)
        process.log.seek(0)
        err = process.log.read().decode()
        self.assertIn("CompanyMain: " + NO_CONFIG, err.splitlines())
        self.assertEqual(sandbox.opened(), [])


    def test_a_toolkit_that_crashes_or_gives_up_ends_with_code_1(self):
        # A crash or an abort in the toolkit (here signalled while a message waits for the
        # user) ends the program with its line on standard error and exit code 1, the message
        # it was showing with it.
        for sent, says in ((signal.SIGSEGV, "the toolkit crashed"),
                           (signal.SIGABRT, "the toolkit gave up")):
            with self.subTest(says):
                sandbox = self.fresh()
                sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
                # The program's own handlers are what is tested: a sanitizer's would take the
                # signals for itself.
                asan = ":".join(filter(None, [sandbox.env.get("ASAN_OPTIONS"),
                                              "handle_segv=0:handle_abort=0"]))
                process = sandbox.start(env=dict(sandbox.env, ASAN_OPTIONS=asan))
                sandbox.wait_box(process)
                process.send_signal(sent)
                self.assertEqual(sandbox.finish(process), 1)
                process.log.seek(0)
                err = process.log.read().decode()
                self.assertIn("CompanyMain: cannot show its window (%s)" % says, err.splitlines())
                self.assertIn("CompanyMain: " + NO_CONFIG, err.splitlines())

    def test_a_broken_module_is_refused_before_it_is_read(self):
        # An interrupted copy: mapped as it is, the first touch of a missing page would end the
        # program with SIGBUS, its message lost. Something other than a file in its place is not
        # read at all: opened as a file, a FIFO nobody writes to would hold the program, and its
        # lock, for ever. Each is refused as a broken module is, within the window's bound of
        # 10 s, and the next start with the module back in place works.
        bound = 10
        module = os.path.join(os.path.dirname(PROGRAM), MODULE)
        with open(module, "rb") as f:
            whole = f.read()

        def cut(size):
            def put(path):
                with open(path, "wb") as f:
                    f.write(whole[:size])
            return put

        def bound_socket(path):
            listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            self.addCleanup(listener.close)
            listener.bind(path)

        def device(path):
            # A node of its own where nodes may be made (as root), else a link to one.
            try:
                os.mknod(path, 0o644 | stat.S_IFCHR, os.stat("/dev/zero").st_rdev)
            except PermissionError:
                os.symlink("/dev/zero", path)

        rows = [("cut in half", cut(len(whole) // 2), "an incomplete copy"),
                ("its last bytes missing", cut(len(whole) - 64), "an incomplete copy"),
                ("a FIFO nobody writes to", os.mkfifo, "a FIFO, not a file"),
                ("a socket", bound_socket, "a socket, not a file"),
                ("a device", device, "a device, not a file")]
        for name, make, says in rows:
            for path in ("browser", "message"):
                with self.subTest(name, path=path):
                    sandbox = self.fresh()
                    placed = os.path.join(sandbox.app, MODULE)
                    os.unlink(placed)
                    make(placed)
                    sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
                    if path == "browser":
                        sandbox.write("Config.ini", config(PAGE))
                    started = time.monotonic()
                    process = sandbox.start()
                    self.assertEqual(sandbox.finish(process), 1)
                    self.assertLess(time.monotonic() - started, bound)
                    process.log.seek(0)
                    err = process.log.read().decode(errors="replace")
                    self.assertIn("cannot load its window module (", err)
                    self.assertIn(says, err)
                    if path == "browser":
                        self.assertEqual(sandbox.wait_opened(1), [[address(PAGE, num=b"1")]])
                    else:
                        self.assertIn("CompanyMain: " + NO_CONFIG, err.splitlines())
                        self.assertEqual(sandbox.opened(), [])
                    os.unlink(placed)
                    shutil.copy(module, placed)
                    sandbox.write("Config.ini", config(PAGE))
                    opened = len(sandbox.opened())
                    self.assertEqual(sandbox.finish(sandbox.start()), 0)
                    self.assertEqual(len(sandbox.wait_opened(opened + 1)), opened + 1)

    def test_an_address_space_limit_never_leaves_a_launcher_running(self):
        # Short of address space the toolkit fails in many ways: libraries that cannot be
        # mapped, a platform plugin that cannot load, threads that cannot start (where Qt waits
        # for ever), allocations that fail. Each ends the program with its line on standard
        # error and exit code 1, or the program gets through with code 0 and no such line; the
        # lock never outlives it.
        with open(PROGRAM, "rb") as f:
            if b"__asan_init" in f.read():
                self.skipTest("a sanitizer build needs far more address space than it limits")
        for megabytes in (60, 85, 95, 105, 115, 200):
            with self.subTest(megabytes=megabytes):
                sandbox = self.fresh()
                sandbox.write("Config.ini", config(PAGE))
                sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
                limit = ["prlimit", "--as=%d" % (megabytes << 20), "--"]
                process = sandbox.start(wrapper=self.own_font_cache(sandbox) + limit)
                # A toolkit that hangs is given up after 10 s in each of its two stages.
                code = sandbox.finish(process, timeout=2 * WAIT)
                process.log.seek(0)
                err = process.log.read().decode(errors="replace")
                said = "CompanyMain: cannot " in err
                self.assertEqual(code, 1 if said else 0, err)
                self.assertEqual(len(sandbox.wait_opened(1)), 1)
                # The next start is not refused.
                again = sandbox.start()
                self.assertEqual(sandbox.finish(again), 0)
                self.assertEqual(len(sandbox.wait_opened(2)), 2)


    @staticmethod
    def own_font_cache(sandbox) -> list:
        """Short of address space, fontconfig cannot map its cache nor the large CJK fonts; it
        then scans again, finds no fonts, and as root writes that into the machine's cache,
        where every later program of the machine takes it as valid (no Chinese glyphs). The
        limited program gets a copy of the cache in a mount namespace of its own."""
        system = "/var/cache/fontconfig"
        if os.geteuid() != 0 or not os.path.isdir(system):
            return []  # nobody else could write the machine's cache
        copy = os.path.join(sandbox.root, "fontconfig-cache")
        shutil.rmtree(copy, ignore_errors=True)
        shutil.copytree(system, copy)
        return ["unshare", "--mount", "--propagation", "private", "sh", "-c",
                'mount --bind "$1" %s && shift && exec "$@"' % system, "sh", copy]


class BrowserTest(E2ETest):
    """xdg-open is watched for a moment while the window is up: a quick failure is told, and
    neither it nor the browser is ever waited for beyond that moment."""

    def test_what_xdg_open_says(self):
        if not ACCESSIBILITY:
            self.fail("message texts are read through AT-SPI: run inside dbus-run-session, "
                      "with at-spi2-core and python3-pyatspi installed")
        # (case, seconds xdg-open takes, its exit code, the message)
        cases = [("no method available", 0, 3, NO_BROWSER),
                 ("the browser refuses to start", 0.5, 4, NO_BROWSER),
                 ("a syntax error, as xdg-open reports it", 0, 1, NO_BROWSER),
                 ("the page went to the browser", 0.5, 0, None)]
        for name, seconds, code, text in cases:
            with self.subTest(name):
                sandbox = self.fresh(browser_sleep=seconds, browser_exit=code)
                sandbox.write("Config.ini", config(PAGE))
                sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
                process = sandbox.start()
                if text is not None:
                    found = accessibility.wait_message(process.pid, WAIT, text=text,
                                                       caption=CAPTION)
                    self.assertIsNotNone(found, "no message")
                    self.assertEqual((found[0], found[1]), (text, CAPTION))
                    accessibility.press(found[2])
                # Without a message to answer it ends by itself; with one, once it is answered.
                self.assertEqual(sandbox.finish(process), 0)
                self.assertEqual(sandbox.wait_opened(1), [[address(PAGE, num=b"1")]])

    def test_an_xdg_open_that_keeps_running_is_not_waited_for(self):
        sandbox = self.fresh(browser_sleep=60)
        self.addCleanup(sandbox.end_browsers)
        sandbox.write("Config.ini", config(PAGE))
        sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
        process = sandbox.start()
        self.assertEqual(sandbox.finish(process), 0)
        self.assertEqual(len(sandbox.wait_opened(1)), 1)
        browser = int([n for n in os.listdir(sandbox.calls) if n.startswith("call.")][0][5:])
        os.kill(browser, 0)  # still running: the launcher did not wait for it

    def test_the_browser_outlives_the_terminal_it_was_started_from(self):
        # Started from a terminal that then closes (the session's leader ends), everything in
        # the terminal's foreground gets SIGHUP: the browser, in a session of its own, does not.
        # Nor does it inherit the launcher's blocked or ignored signals.
        sandbox = self.fresh(browser_sleep=30)
        self.addCleanup(sandbox.end_browsers)
        sandbox.write("Config.ini", config(PAGE))
        sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
        master, slave = os.openpty()
        self.addCleanup(os.close, master)

        def terminal():
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)
            signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGUSR1, signal.SIGTERM})

        process = subprocess.Popen([sandbox.program], env=sandbox.env, cwd="/", stdin=slave,
                                   stdout=slave, stderr=subprocess.DEVNULL,
                                   start_new_session=True, preexec_fn=terminal,
                                   restore_signals=False)  # SIGPIPE stays ignored, as Python has it
        os.close(slave)
        self.addCleanup(Sandbox._reap, process)
        self.assertEqual(process.wait(timeout=WAIT), 0)
        self.assertEqual(len(sandbox.wait_opened(1)), 1)
        browser = int([n for n in os.listdir(sandbox.calls) if n.startswith("call.")][0][5:])
        time.sleep(0.5)
        with open("/proc/%d/stat" % browser) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        self.assertNotEqual(fields[0], "Z", "the browser ended with its terminal")
        self.assertEqual(int(fields[3]), browser, "the browser leads no session of its own")
        with open("/proc/%d/status" % browser) as f:
            status = dict(line.split(":\t", 1) for line in f.read().splitlines() if ":\t" in line)
        self.assertEqual(int(status["SigBlk"], 16), 0)
        self.assertEqual(int(status["SigIgn"], 16) & (1 << (signal.SIGPIPE - 1)), 0)


class WindowTest(E2ETest):

    def test_window_identity_exists_while_creation_shows_a_message(self):
        # With the configuration missing, creation stops at its message: the main window
        # already exists, hidden, and carries the class and caption a copy looks for.
        self.box.write("Company.ini", ini("Company", {}))
        process = self.box.start()
        message = self.box.wait_box(process)
        mine = self.box.windows_of(process, "--class", "^TFrm_CompanyMain$", besides=(message,))
        self.assertEqual(len(mine), 1)
        wm_class = '"CompanyMain", "TFrm_CompanyMain"'
        self.assertIn(wm_class, self.box.wait_prop(mine[0], "WM_CLASS", wm_class))
        self.assertIn('"%s"' % TITLE, self.box.wait_prop(mine[0], "_NET_WM_NAME", '"%s"' % TITLE))
        self.assertIn("IsUnMapped", run(["xwininfo", "-id", mine[0]], self.box.xenv()).stdout.decode())
        self.assertIn(wm_class, self.box.wait_prop(message, "WM_CLASS", wm_class))
        self.box.dismiss(message)
        self.assertEqual(self.box.finish(process), 0)
        self.assertEqual(self.box.opened(), [])


class DesktopTest(E2ETest):
    """What the desktop shows of the program besides its own texts: Qt's texts in the user's
    language, the program's icon on every window, the class its menu entry names."""

    @classmethod
    def setUpClass(cls):
        cls.locales = locales("zh_CN.UTF-8", "en_US.UTF-8")

    def creation_message(self, env_changes=None):
        """A copy that shows the missing configuration's message: its process and box."""
        sandbox = self.fresh()
        sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
        process = sandbox.start(env=dict(sandbox.env, LOCPATH=self.locales, **(env_changes or {})))
        return sandbox, process, sandbox.wait_box(process)

    def screenshot(self, sandbox, name: str) -> str:
        """The whole screen as a PNG; kept in COMPANYMAIN_SCREENSHOTS when that names a folder."""
        folder = os.environ.get("COMPANYMAIN_SCREENSHOTS") or sandbox.root
        path = os.path.join(folder, name)
        run(["import", "-window", "root", path], sandbox.xenv())
        return path

    def test_the_ok_button_speaks_the_users_language(self):
        if not ACCESSIBILITY:
            self.fail("button texts are read through AT-SPI: run inside dbus-run-session, "
                      "with at-spi2-core and python3-pyatspi installed")
        cases = [("zh_CN.UTF-8", {"LANG": "zh_CN.UTF-8"}, "确定"),
                 ("zh_CN.UTF-8 for messages alone", {"LANG": "C.UTF-8", "LC_MESSAGES": "zh_CN.UTF-8"}, "确定"),
                 ("en_US.UTF-8", {"LANG": "en_US.UTF-8"}, "OK"),
                 ("C.UTF-8", {"LANG": "C.UTF-8"}, "OK")]
        for name, env_changes, label in cases:
            with self.subTest(name):
                sandbox, process, box = self.creation_message(env_changes)
                try:
                    found = accessibility.wait_message(process.pid, WAIT, text=NO_CONFIG,
                                                       caption=CAPTION, button=label)
                    self.assertIsNotNone(found, "the message has no accessible text")
                    self.assertEqual((found[0], found[1], found[2].name),
                                     (NO_CONFIG, CAPTION, label))
                    if label == "确定":
                        self.assert_box_on_screen(sandbox, box, "message-zh_CN.png")
                    sandbox.dismiss(box)
                    self.assertEqual(sandbox.finish(process), 0)
                finally:
                    Sandbox._reap(process)  # left on screen, it would refuse the next cases

    def assert_box_on_screen(self, sandbox, box: str, name: str):
        """The box is mapped, and the screenshot shows something drawn where it is: its
        picture, text and button, not a blank rectangle."""
        info = run(["xwininfo", "-id", box], sandbox.xenv()).stdout.decode()
        self.assertIn("IsViewable", info)
        field = lambda label: int(info.split(label + ":")[1].split()[0])
        x, y = field("Absolute upper-left X"), field("Absolute upper-left Y")
        width, height = field("Width"), field("Height")
        # Drawn a moment after it is mapped: looked at again until it is, up to WAIT seconds.
        deadline = time.monotonic() + WAIT
        while True:
            shot = self.screenshot(sandbox, name)
            colours = int(run(["convert", shot, "-crop", "%dx%d+%d+%d" % (width, height, x, y),
                               "-format", "%k", "info:"], sandbox.xenv()).stdout)
            if colours > 16 or time.monotonic() >= deadline:
                break
            time.sleep(0.2)
        self.assertGreater(colours, 16, "the box on %s looks blank" % shot)

    def test_every_window_carries_the_program_icon(self):
        sandbox, process, box = self.creation_message()
        main = sandbox.windows_of(process, "--class", "^TFrm_CompanyMain$", besides=(box,))
        self.assertEqual(len(main), 1)
        smallest = [premultiplied(p) for p in png_pixels(os.path.join(ICONS, "companymain-16.png"))]
        for name, window in (("main window", main[0]), ("message box", box)):
            with self.subTest(name):
                text = sandbox.wait_prop(window, "_NET_WM_ICON", " = ", "-notype", "-f",
                                         "_NET_WM_ICON", "32c")
                self.assertIn(" = ", text, "no _NET_WM_ICON: " + text)
                values = [int(v) for v in text.split(" = ", 1)[1].split(",")]
                sizes, at = [], 0
                while at < len(values):
                    width, height = values[at], values[at + 1]
                    sizes.append((width, height))
                    if width == 16:
                        shown = [premultiplied((v >> 24, (v >> 16) & 255, (v >> 8) & 255, v & 255))
                                 for v in values[at + 2:at + 2 + 16 * 16]]
                        self.assertEqual(len(shown), len(smallest))
                        differences = [max(abs(x - y) for x, y in zip(p, q))
                                       for p, q in zip(shown, smallest)]
                        self.assertLessEqual(max(differences), 2, "not the program's icon")
                    at += 2 + width * height
                self.assertEqual(sizes, [(s, s) for s in (16, 24, 32, 48, 64)])
        sandbox.dismiss(box)
        self.assertEqual(sandbox.finish(process), 0)

    def test_windows_are_of_the_class_the_menu_entry_names(self):
        # On X11 a dock ties a window to its menu entry by StartupWMClass. (The desktop file
        # name the module sets reaches Wayland compositors as the application id; Qt's X11
        # plugin publishes no property for it.)
        sandbox, process, box = self.creation_message()
        wm_class = '"%s"' % desktop_entry("StartupWMClass")
        windows = sandbox.windows_of(process, "--class", ".", count=2)
        self.assertEqual(len(windows), 2)  # the main window, hidden, and the box
        for window in windows:
            self.assertTrue(sandbox.wait_prop(window, "WM_CLASS", ", " + wm_class).rstrip()
                            .endswith(", " + wm_class))
        sandbox.dismiss(box)
        self.assertEqual(sandbox.finish(process), 0)


class SettingsWindowTest(E2ETest):
    """companymain-settings in English and Chinese: the stored values, a refusal naming its field
    (the focus on it), a change saved through a pkexec stand-in at /usr/bin/pkexec that records
    how it is run and runs it, the address shown, the question before edits are dropped."""

    PKEXEC = "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" >{0}/args\ncat >{0}/in\nPKEXEC_UID=0 exec \"$@\" <{0}/in\n"

    @classmethod
    def setUpClass(cls):
        cls.locales = locales("zh_CN.UTF-8", "en_US.UTF-8")

    def test_a_change_saved_through_pkexec(self):
        if not ACCESSIBILITY:
            self.fail("the window is driven through AT-SPI: run inside dbus-run-session, with "
                      "at-spi2-core and python3-pyatspi installed")
        for words in (("en_US.UTF-8", "CompanyMain Settings", "Save", "Close", "Company number",
                       "Device ID", "The address the launcher opens:",
                       "Company number must not be blank", "Saved: Device ID.", "Discard"),
                      ("zh_CN.UTF-8", "企业信息管理 设置", "保存(S)", "关闭", "企业编号", "设备编号",
                       "启动程序打开的地址:", "企业编号不能为空", "已保存: 设备编号。", "丢弃")):
            with self.subTest(words[0]):
                self.drive(*words)

    def drive(self, lang, title, save, close, number, device, opens, refused, saved, discard):
        sandbox = self.fresh()
        os.chmod(sandbox.root, 0o755)  # as an installation's folders are
        build = os.path.dirname(PROGRAM)
        shutil.copy(os.path.join(build, "companymain-settings"), sandbox.app)
        os.symlink(os.path.join(build, "locale"), os.path.join(sandbox.app, "locale"))
        sandbox.write("Config.ini", config(PAGE))
        sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1234567890",
                                                    "CompanyType": "R01", "DeviceId": "D1"}))
        # The stand-in laid over /usr/bin in a mount namespace of the window's own (whether or
        # not the machine has pkexec), and first on PATH, where it must not be taken from.
        upper, work = tempfile.mkdtemp(dir=sandbox.root), tempfile.mkdtemp(dir=sandbox.root)
        for folder in (sandbox.bin, upper):
            with open(os.open(os.path.join(folder, "pkexec"), os.O_WRONLY | os.O_CREAT, 0o755), "w") as f:
                f.write(self.PKEXEC.format(sandbox.root))
        wrapper = ["unshare", "--mount", "--propagation", "private",
                   *([] if os.geteuid() == 0 else ["--map-current-user"]), "--", "/bin/sh", "-c",
                   'mount -t overlay overlay -o "lowerdir=/usr/bin,upperdir=$1,workdir=$2" '
                   '/usr/bin && shift 2 && exec "$@"', "sh", upper, work]
        process = subprocess.Popen([*wrapper, os.path.join(sandbox.app, "companymain-settings")],
                                   cwd="/", env=dict(sandbox.env, LANG=lang, LOCPATH=self.locales))
        field = lambda name: accessibility.find(process.pid, "text", name, WAIT)
        press = lambda name: accessibility.press(accessibility.find(process.pid, "push button", name, WAIT))
        shoot = lambda name: run(["import", "-window", "root", "%s/%s-%s.png" % (
            os.environ.get("COMPANYMAIN_SCREENSHOTS") or sandbox.root, name, lang[:2])], sandbox.xenv())

        def until(condition):
            deadline = time.monotonic() + WAIT
            while not condition() and time.monotonic() < deadline:
                time.sleep(0.05)
            return condition()

        def answer(expected, shot, button=None):
            found = accessibility.wait_message(process.pid, WAIT, holds=expected)
            self.assertIn(expected, found[0] if found else "(no message box)")
            shoot(shot)
            self.assertTrue(press(button) if button else accessibility.press(found[2]))
            until(lambda: not accessibility.messages(process.pid))

        try:
            self.assertEqual(accessibility.wait_text(lambda: field(number), "1234567890", WAIT),
                             "1234567890")
            shoot("settings")
            # Refused before any password is asked for: the field named, the focus on it once the
            # window has the display's (no window manager gives it back here).
            accessibility.set_text(field(number), "")
            press(save)
            answer(refused, "refusal")
            run(["xdotool", "windowfocus", "--sync", sandbox.windows(
                "--pid", str(process.pid), "--name", "^%s$" % title)[0]], sandbox.xenv())
            self.assertTrue(until(lambda: accessibility.focused(field(number))))
            self.assertFalse(os.path.exists(os.path.join(sandbox.root, "args")))

            accessibility.set_text(field(number), "1234567890")
            accessibility.set_text(field(device), "D2")
            press(save)
            answer(saved, "confirmed")
            expected = address(PAGE, num=b"1234567890", kind=b"R01", device=b"D2").decode()
            self.assertTrue(until(lambda: accessibility.text_of(field(opens)) == expected))
            shoot("saved")
            # /usr/bin/pkexec of the tool beside the window, the edited value alone on its stdin.
            with open(os.path.join(sandbox.root, "args")) as f, open(os.path.join(sandbox.root, "in")) as i:
                self.assertEqual((f.read(), i.read()), ("/usr/bin/pkexec\n%s/%s\n--json\n--values-from\n-\nset\n"
                                                        % (sandbox.app, TOOL), '{"device-id":"D2"}'))
            with open(sandbox.path("Config.ini"), "rb") as f:
                self.assertEqual(f.read(), config(PAGE))

            # Closed with an edit not saved: asked first, and the edit dropped.
            accessibility.set_text(field(device), "D3")
            press(close)
            answer(device, "question", discard)
            self.assertEqual(process.wait(WAIT), 0)
            shown = run([os.path.join(sandbox.app, TOOL), "--json", "show"], sandbox.env).stdout
            self.assertEqual(json.loads(shown)["device-id"], "D2")
        finally:
            Sandbox._reap(process)  # left on screen, it would cover the next language's window


class SingleInstanceTest(E2ETest):

    def first_copy_waiting(self, sandbox=None):
        """A copy that holds the lock while it shows its creation message."""
        sandbox = sandbox or self.box
        sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
        process = sandbox.start()
        return process, sandbox.wait_box(process)

    def test_second_copy_is_refused_without_a_window(self):
        first, first_box = self.first_copy_waiting()
        self.box.write("Config.ini", config(PAGE))  # the second copy would open the page
        second = self.box.start()
        second_box = self.box.wait_box(second)
        if ACCESSIBILITY:
            found = accessibility.wait_message(second.pid, WAIT, text=RUNNING)
            self.assertEqual(found[0] if found else None, RUNNING)
        self.assertEqual([w for w in self.box.windows("--name", "^%s$" % TITLE)
                          if self.box.pid_of(w) == second.pid], [])
        self.box.dismiss(second_box)
        self.assertEqual(self.box.finish(second), 0)
        # The first copy took the request and ignored it while it was being created.
        self.assertIsNone(first.poll())
        self.box.dismiss(first_box)
        self.assertEqual(self.box.finish(first), 0)
        self.assertEqual(self.box.opened(), [])

    def test_third_copy_is_refused_while_a_refused_copy_shows_its_message(self):
        first, first_box = self.first_copy_waiting()
        second = self.box.start()
        second_box = self.box.wait_box(second)
        self.box.dismiss(first_box)
        self.assertEqual(self.box.finish(first), 0)

        self.box.write("Config.ini", config(PAGE))
        third = self.box.start()
        self.box.dismiss(self.box.wait_box(third))
        self.assertEqual(self.box.finish(third), 0)
        self.box.dismiss(second_box)
        self.assertEqual(self.box.finish(second), 0)
        self.assertEqual(self.box.opened(), [])
        # With every holder gone, the next copy runs.
        self.assertEqual(self.launch_ok(self.box), [address(PAGE, num=b"1")])

    def test_copy_killed_with_sigkill_leaves_no_lock(self):
        first, _ = self.first_copy_waiting()
        first.send_signal(signal.SIGKILL)
        first.wait(timeout=WAIT)
        self.box.write("Config.ini", config(PAGE))
        self.assertEqual(self.launch_ok(self.box), [address(PAGE, num=b"1")])

    def test_browser_does_not_inherit_the_lock(self):
        sandbox = self.fresh(browser_sleep=30)
        sandbox.write("Config.ini", config(PAGE))
        sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
        self.launch_ok(sandbox)
        self.addCleanup(sandbox.end_browsers)
        # The first browser still runs; a second start is not refused.
        process = sandbox.start()
        self.assertEqual(sandbox.finish(process), 0)
        self.assertEqual(len(sandbox.wait_opened(2)), 2)
        inherited = "\n".join(sandbox.inherited_descriptors())
        self.assertNotIn("CompanyMain", inherited)
        self.assertNotIn("socket:", inherited)

    def assert_refused(self, first_env: dict, second_env: dict, sandbox=None):
        """A copy started with first_env waits at its message; one started with second_env
        is refused with the running message and opens nothing."""
        sandbox = sandbox or self.fresh()
        sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
        first = sandbox.start(env=first_env)
        first_box = sandbox.wait_box(first)
        sandbox.write("Config.ini", config(PAGE))  # were it not refused, it would open the page
        second = sandbox.start(env=second_env)
        second_box = sandbox.wait_box(second)
        if ACCESSIBILITY:
            found = accessibility.wait_message(second.pid, WAIT, text=RUNNING)
            self.assertIsNotNone(found, "the second copy's message has no accessible text")
            self.assertEqual(found[0], RUNNING)
        sandbox.dismiss(second_box)
        self.assertEqual(sandbox.finish(second), 0)
        sandbox.dismiss(first_box)
        self.assertEqual(sandbox.finish(first), 0)
        self.assertEqual(sandbox.opened(), [])

    def test_every_spelling_of_the_display_is_one_session(self):
        display = self.own_display(tcp=True)
        n = display.name.lstrip(":")
        host = socket.gethostname()
        pairs = [
            (":%s" % n, ":%s.0" % n),
            (":%s" % n, "unix:%s" % n),
            ("unix:%s.0" % n, ":%s" % n),
            (":%s.0" % n, "localhost:%s" % n),
            ("127.0.0.1:%s" % n, "unix:%s.0" % n),
            (":%s" % n, "%s:%s" % (host, n)),
            ("%s:%s.0" % (host.upper(), n), "localhost:%s.0" % n),
        ]
        for first, second in pairs:
            with self.subTest("%s then %s" % (first, second)):
                named = {first.split(":")[0].lower(), second.split(":")[0].lower()}
                if host.lower() in named and not resolves(host):
                    self.skipTest("this machine's name %r does not resolve" % host)
                sandbox = Sandbox(self, display)
                self.assert_refused(changed(sandbox.env, DISPLAY=first),
                                    changed(sandbox.env, DISPLAY=second), sandbox)

        # A copy started from a terminal and one started by a service may differ in the log-on
        # session they were given; the display is what they share.
        for first, second in (("3", "c7"), ("3", None), (None, "3")):
            with self.subTest("XDG_SESSION_ID %s then %s" % (first, second)):
                sandbox = Sandbox(self, display)
                self.assert_refused(changed(sandbox.env, XDG_SESSION_ID=first),
                                    changed(sandbox.env, XDG_SESSION_ID=second), sandbox)

    def test_runtime_directory_in_the_environment_does_not_matter(self):
        # A copy started from the menu and one started from a terminal or autostart may see
        # different XDG_RUNTIME_DIR values, or none.
        other = tempfile.mkdtemp(prefix="companymain-run-")
        self.addCleanup(shutil.rmtree, other, True)
        os.chmod(other, 0o700)
        for first, second in (("sandbox", None), (None, "sandbox"), ("sandbox", other)):
            with self.subTest("XDG_RUNTIME_DIR %s then %s" % (first, second)):
                sandbox = self.fresh()
                value = lambda v: sandbox.runtime if v == "sandbox" else v
                self.assert_refused(changed(sandbox.env, XDG_RUNTIME_DIR=value(first)),
                                    changed(sandbox.env, XDG_RUNTIME_DIR=value(second)),
                                    sandbox)

    def test_another_display_is_another_session(self):
        first, first_box = self.first_copy_waiting()
        other = self.own_display()
        sandbox = Sandbox(self, other)
        sandbox.write("Config.ini", config(PAGE))
        sandbox.write("Company.ini", ini("Company", {}))
        self.assertEqual(self.launch_ok(sandbox), [address(PAGE)])
        self.box.dismiss(first_box)
        self.assertEqual(self.box.finish(first), 0)

    def test_private_directory(self):
        """Which directory holds the lock, with /tmp, /run/user and the home folder replaced for
        the program alone (a mount namespace), so that the real ones other copies use stay as
        they are. The program runs with umask 0: the rights of what it makes are its own."""
        if not os.path.isdir("/run/user") or shutil.which("unshare") is None:
            self.skipTest("needs /run/user and unshare")
        root = os.geteuid() == 0
        uid = os.geteuid() if root else 0  # without root, a user namespace maps us to 0

        def private(path):
            os.mkdir(path, 0o700)

        def open_to_others(path):
            os.mkdir(path, 0o700)
            os.chmod(path, 0o777)

        def symlink(path):
            target = path + ".target"
            os.mkdir(target, 0o700)
            os.symlink(target, path)

        def foreign(path):
            os.mkdir(path, 0o700)
            os.chown(path, 4242, 4242)

        runtime = lambda d: os.path.join(d["run"], str(uid))
        mine = lambda d: os.path.join(runtime(d), "CompanyMain")
        fallback = lambda d: os.path.join(d["tmp"], "CompanyMain-%d" % uid)
        dot_cache = lambda d: os.path.join(d["home"], ".cache")
        cache = lambda d: os.path.join(dot_cache(d), "CompanyMain")
        # (case, preparation, where the lock must be: "runtime", "fallback", "cache", or None
        # for a copy that says it cannot tell and opens nothing; the directories that must stay
        # empty, whether it needs root)
        cases = [
            ("the user's runtime directory holds it", [(runtime, private)], "runtime", [], False),
            ("no runtime directory: /tmp", [], "fallback", [], False),
            ("a runtime directory open to others is not used",
             [(runtime, open_to_others)], "fallback", [runtime], False),
            ("a runtime directory that is a symbolic link is not followed",
             [(runtime, symlink)], "fallback", [lambda d: runtime(d) + ".target"], False),
            ("a runtime directory of another user is not used",
             [(runtime, foreign)], "fallback", [runtime], True),
            ("its folder open to others is not used",
             [(runtime, private), (mine, open_to_others)], "fallback", [mine], False),
            ("its folder as a symbolic link is not followed",
             [(runtime, private), (mine, symlink)], "fallback", [lambda d: mine(d) + ".target"],
             False),
            ("/tmp/CompanyMain-<uid> open to others: the cache folder",
             [(fallback, open_to_others)], "cache", [fallback], False),
            ("/tmp/CompanyMain-<uid> as a symbolic link: the cache folder",
             [(fallback, symlink)], "cache", [lambda d: fallback(d) + ".target"], False),
            ("/tmp/CompanyMain-<uid> of another user: the cache folder",
             [(fallback, foreign)], "cache", [fallback], True),
            ("a cache folder that holds the lock keeps it, whoever gives /tmp back",
             [(dot_cache, private), (cache, private)], "cache", [], False),
            ("neither /tmp nor the cache folder: said, nothing opened",
             [(fallback, open_to_others), (dot_cache, open_to_others)], None,
             [fallback, dot_cache], False),
            ("neither /tmp nor a cache folder that is a symbolic link: said, nothing opened",
             [(fallback, symlink), (dot_cache, symlink)], None,
             [lambda d: fallback(d) + ".target", lambda d: dot_cache(d) + ".target"], False),
        ]
        for name, preparation, where, untouched, needs_root in cases:
            with self.subTest(name):
                if needs_root and not root:
                    self.skipTest("changing an owner needs root")
                sandbox, dirs, wrapper, env = self.isolated(uid)
                for path, make in preparation:
                    make(path(dirs))
                if where is None:
                    # Everything is there to open the page: a message can only be the lock's.
                    sandbox.write("Config.ini", config(PAGE))
                    sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
                    first = sandbox.start(env=env, wrapper=wrapper)
                    sandbox.dismiss(sandbox.wait_box(first))
                    self.assertEqual(sandbox.finish(first), 0)
                    self.assertEqual(sandbox.opened(), [])
                    for path in untouched:
                        self.assertEqual(os.listdir(path(dirs)), [])
                    continue
                sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
                first = sandbox.start(env=env, wrapper=wrapper)
                first_box = sandbox.wait_box(first)
                lock = lock_prefix(self.display) + "presence"
                holders = [d for d in (mine(dirs), fallback(dirs), cache(dirs))
                           if os.path.isdir(d) and not os.path.islink(d) and lock in os.listdir(d)]
                expected = {"runtime": mine(dirs), "fallback": fallback(dirs),
                            "cache": cache(dirs)}[where]
                self.assertEqual(holders, [expected])
                # Closed to everybody else, whatever the umask.
                self.assertEqual(stat.S_IMODE(os.stat(expected).st_mode), 0o700)
                socket_file = os.path.join(expected, lock_prefix(self.display) + "socket")
                self.assertEqual(stat.S_IMODE(os.stat(socket_file).st_mode), 0o600)
                for path in untouched:
                    self.assertEqual(os.listdir(path(dirs)), [])
                if where == "cache" and os.path.lexists(fallback(dirs)):
                    # Whoever took /tmp gives it back: the copies still find one another.
                    target = os.path.realpath(fallback(dirs))
                    os.unlink(fallback(dirs)) if os.path.islink(fallback(dirs)) else os.rmdir(
                        fallback(dirs))
                    if target != fallback(dirs):
                        os.rmdir(target)

                sandbox.write("Config.ini", config(PAGE))
                second = sandbox.start(env=env, wrapper=wrapper)
                # With a valid configuration the only message left is the refusal.
                sandbox.dismiss(sandbox.wait_box(second))
                self.assertEqual(sandbox.finish(second), 0)
                self.assertEqual(sandbox.opened(), [])
                sandbox.dismiss(first_box)
                self.assertEqual(sandbox.finish(first), 0)

        with self.subTest("with and without XDG_RUNTIME_DIR=/run/user/<uid>"):
            sandbox, dirs, wrapper, env = self.isolated(uid)
            private(runtime(dirs))
            inside = "/run/user/%d" % uid
            sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
            first = sandbox.start(env=changed(env, XDG_RUNTIME_DIR=inside), wrapper=wrapper)
            first_box = sandbox.wait_box(first)
            sandbox.write("Config.ini", config(PAGE))
            second = sandbox.start(env=changed(env, XDG_RUNTIME_DIR=None), wrapper=wrapper)
            sandbox.dismiss(sandbox.wait_box(second))
            self.assertEqual(sandbox.finish(second), 0)
            sandbox.dismiss(first_box)
            self.assertEqual(sandbox.finish(first), 0)
            self.assertEqual(sandbox.opened(), [])
            self.assertIn(lock_prefix(self.display) + "presence", os.listdir(mine(dirs)))

    def isolated(self, uid):
        """A sandbox outside /tmp, with stand-ins for /tmp, /run/user and the home folder of the
        user the program runs as (uid), and the wrapper that puts them in place for the program
        alone, with umask 0. No D-Bus or accessibility: their sockets live in the real /tmp."""
        sandbox = Sandbox(self, self.display, base="/var/tmp")
        dirs = {"tmp": os.path.join(sandbox.root, "tmp"), "run": os.path.join(sandbox.root, "run-user"),
                "home": os.path.join(sandbox.root, "home")}
        os.mkdir(dirs["tmp"])
        os.chmod(dirs["tmp"], 0o1777)
        os.mkdir(dirs["run"], 0o755)
        os.mkdir(dirs["home"], 0o755)
        script = ('umask 0 && mount --bind "$1" /tmp && mount --bind "$2" /run/user && '
                  'mount --bind "$3" "$4" && shift 4 && exec "$@"')
        wrapper = ["unshare", "--mount", "--propagation", "private",
                   *([] if os.geteuid() == 0 else ["--map-root-user"]),
                   "--", "/bin/sh", "-c", script, "sh", dirs["tmp"], dirs["run"], dirs["home"],
                   pwd.getpwuid(uid).pw_dir]
        env = {k: v for k, v in sandbox.env.items()
               if k not in accessibility.ENV and k != "DBUS_SESSION_BUS_ADDRESS"}
        return sandbox, dirs, wrapper, env



class WaylandTest(E2ETest):
    """A Wayland desktop with XWayland: Weston on its headless back end. Windows on Wayland are
    not X windows: messages are found and answered through AT-SPI."""

    def setUp(self):
        super().setUp()
        if shutil.which("weston") is None:
            self.skipTest("weston is not installed (scripts/install-deps.sh installs it)")
        if not ACCESSIBILITY:
            self.fail("Wayland windows are read through AT-SPI: run inside dbus-run-session, "
                      "with at-spi2-core and python3-pyatspi installed")

    def compositor(self, xwayland=True, seen_on=None) -> Compositor:
        compositor = Compositor(xwayland, seen_on)
        self.addCleanup(compositor.close)
        self.addCleanup(forget_lock, compositor)
        return compositor

    def wayland_env(self, sandbox, compositor, **variables) -> dict:
        """The sandbox's environment in the compositor's session, with only the display
        variables given."""
        env = changed(sandbox.env, DISPLAY=None, WAYLAND_DISPLAY=None,
                      XDG_RUNTIME_DIR=compositor.runtime)
        return changed(env, **variables)

    def message_of(self, process, text=None):
        """The text of the process's message box (waited for until it is text, when given,
        and captioned), and its OK button."""
        found = accessibility.wait_message(process.pid, WAIT, text=text, caption=CAPTION)
        if found is None:
            process.log.seek(0)
            self.fail("no message (exit code %s): %s" % (
                process.poll(), process.log.read()[-1000:].decode(errors="replace")))
        self.assertEqual(found[1], CAPTION)
        return found[0], found[2]

    def answer(self, sandbox, process, ok):
        accessibility.press(ok)
        self.assertEqual(sandbox.finish(process), 0)

    def test_copies_in_one_session_refuse_each_other_whatever_they_see(self):
        compositor = self.compositor()
        x = compositor.x_display
        variants = [("DISPLAY and WAYLAND_DISPLAY", dict(DISPLAY=x, WAYLAND_DISPLAY="wayland-0")),
                    ("WAYLAND_DISPLAY alone", dict(WAYLAND_DISPLAY="wayland-0")),
                    ("DISPLAY alone, on XWayland", dict(DISPLAY=x)),
                    ("neither, in a Wayland session: Qt's wayland-0",
                     dict(XDG_SESSION_TYPE="wayland"))]
        for (first_name, first), (second_name, second) in itertools.combinations(variants, 2):
            with self.subTest("%s, then %s" % (first_name, second_name)):
                sandbox = self.fresh()
                sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
                holder = sandbox.start(env=self.wayland_env(sandbox, compositor, **first))
                text, holder_ok = self.message_of(holder, NO_CONFIG)
                self.assertEqual(text, NO_CONFIG)
                sandbox.write("Config.ini", config(PAGE))  # were it not refused, it would open
                refused = sandbox.start(env=self.wayland_env(sandbox, compositor, **second))
                text, refused_ok = self.message_of(refused, RUNNING)
                self.assertEqual(text, RUNNING)
                self.answer(sandbox, refused, refused_ok)
                self.answer(sandbox, holder, holder_ok)
                self.assertEqual(sandbox.opened(), [])

    def test_a_message_stays_above_the_window_after_a_click_on_it(self):
        # The browser fails while the maximized window is up: the box belongs to the window, so
        # a click on the window leaves the box in front. Screenshots kept as in DesktopTest.
        compositor = self.compositor(xwayland=False, seen_on=self.own_display())
        sandbox = self.fresh(browser_exit=3)
        sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
        sandbox.write("Config.ini", config(PAGE))
        process = sandbox.start(env=self.wayland_env(sandbox, compositor,
                                                     WAYLAND_DISPLAY="wayland-0"))
        text, ok = self.message_of(process, NO_BROWSER)
        self.assertEqual(text, NO_BROWSER)
        folder = os.environ.get("COMPANYMAIN_SCREENSHOTS") or sandbox.root
        before = compositor.screenshot(os.path.join(folder, "wayland-message-before-click.png"))
        compositor.click(900, 700)  # the window's lower right, away from the box
        after = compositor.screenshot(os.path.join(folder, "wayland-message-after-click.png"))
        # The pointer and the loading picture change a few hundred pixels; a box gone behind
        # the window changes tens of thousands.
        self.assertLess(Compositor.pixels_changed(before, after), 5000,
                        "the message box left the front: %s, %s" % (before, after))
        self.answer(sandbox, process, ok)

    def test_other_sessions_never_refuse(self):
        # Another compositor, and an X server of its own: each is a session of its own.
        compositor = self.compositor(xwayland=False)
        sandbox = self.fresh()
        sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
        holder = sandbox.start(env=self.wayland_env(sandbox, compositor, WAYLAND_DISPLAY="wayland-0"))
        _, holder_ok = self.message_of(holder)
        sandbox.write("Config.ini", config(PAGE))
        other = self.compositor(xwayland=False)
        for name, env in (("another compositor",
                           self.wayland_env(sandbox, other, WAYLAND_DISPLAY="wayland-0")),
                          ("an X server", sandbox.env)):
            with self.subTest(name):
                before = len(sandbox.opened())
                process = sandbox.start(env=env)
                code = sandbox.finish(process)
                process.log.seek(0)
                self.assertEqual(code, 0, process.log.read().decode(errors="replace"))
                self.assertEqual(len(sandbox.wait_opened(before + 1)), before + 1)
        self.answer(sandbox, holder, holder_ok)

    def test_a_wayland_only_desktop_without_qts_wayland_plugin(self):
        # As where qt6-wayland is not installed: the plugins folder without it, for the program
        # alone (a mount namespace). The display is there, so the page is opened; the window
        # cannot be, which is said on standard error with exit code 1.
        if shutil.which("unshare") is None:
            self.skipTest("needs unshare")
        compositor = self.compositor(xwayland=False)
        hidden = tempfile.mkdtemp(prefix="companymain-platforms-")
        self.addCleanup(shutil.rmtree, hidden, True)
        for name in os.listdir(QT_PLATFORMS):
            if "wayland" not in name:
                shutil.copy(os.path.join(QT_PLATFORMS, name), hidden)
        wrapper = ["unshare", "--mount", "--propagation", "private",
                   *([] if os.geteuid() == 0 else ["--map-current-user"]), "--", "/bin/sh", "-c",
                   'mount --bind "$1" "$2" && shift 2 && exec "$@"', "sh", hidden, QT_PLATFORMS]
        for path in ("browser", "message"):
            with self.subTest(path):
                sandbox = self.fresh()
                sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
                if path == "browser":
                    sandbox.write("Config.ini", config(PAGE))
                process = sandbox.start(
                    env=self.wayland_env(sandbox, compositor, WAYLAND_DISPLAY="wayland-0"),
                    wrapper=wrapper)
                self.assertEqual(sandbox.finish(process), 1)
                process.log.seek(0)
                err = process.log.read().decode(errors="replace").splitlines()
                self.assertIn("CompanyMain: cannot show its window (Qt has no Wayland platform "
                              "plugin here; DISPLAY is not set)", err)
                if path == "browser":
                    self.assertEqual(sandbox.wait_opened(1), [[address(PAGE, num=b"1")]])
                else:
                    self.assertIn("CompanyMain: " + NO_CONFIG, err)
                    self.assertEqual(sandbox.opened(), [])


class NoDisplayTest(E2ETest):
    """Nothing to show a window on: one line on stderr, exit code 1, nothing opened."""

    PREFIX = b"CompanyMain: no display to show the window on ("

    def run_without(self, sandbox, env):
        process = sandbox.start(env=env)
        code = sandbox.finish(process)
        process.log.seek(0)
        return code, process.log.read()

    def test_no_display(self):
        free = ":%d" % free_display_number()
        cases = [
            ("DISPLAY unset", dict(DISPLAY=None)),
            ("DISPLAY empty", dict(DISPLAY="")),
            ("DISPLAY names no server", dict(DISPLAY=free)),
            ("DISPLAY of a forwarding that is gone", dict(DISPLAY="localhost" + free)),
            ("a screen the server does not have", dict(DISPLAY=self.display.name + ".1")),
            ("DISPLAY unset, WAYLAND_DISPLAY names no socket",
             dict(DISPLAY=None, WAYLAND_DISPLAY="wayland-companymain-none")),
            ("no server, WAYLAND_DISPLAY a path to nothing",
             dict(DISPLAY=free, WAYLAND_DISPLAY="/nonexistent/wayland-0")),
            ("a Wayland session without its compositor",
             dict(DISPLAY=None, XDG_SESSION_TYPE="wayland", XDG_RUNTIME_DIR="/nonexistent")),
        ]
        for name, changes in cases:
            with self.subTest(name):
                sandbox = self.fresh()
                sandbox.write("Config.ini", config(PAGE))
                sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
                code, err = self.run_without(sandbox, changed(sandbox.env, **changes))
                self.assertEqual(code, 1, err)
                lines = err.splitlines()
                self.assertEqual(len(lines), 1, err)
                self.assertTrue(lines[0].startswith(self.PREFIX) and lines[0].endswith(b")"), err)
                time.sleep(0.2)
                self.assertEqual(sandbox.opened(), [])

        with self.subTest("nothing of the lock is made for a display that is not there"):
            self.assertFalse([n for n in os.listdir(private_directory())
                              if n.startswith("CompanyMain-x11-%s." % free.lstrip(":"))])

    def test_a_wayland_socket_qt_cannot_use(self):
        # The socket answers, so the check lets Qt try; Qt then finds no platform it can use
        # (no Wayland plugin, or no compositor behind the socket) and would abort.
        sandbox = self.fresh()
        sandbox.write("Config.ini", config(PAGE))
        sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
        path = os.path.join(sandbox.root, "wayland-fake")
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        listener.bind(path)
        listener.listen(8)
        self.addCleanup(listener.close)

        def hang_up():
            while True:
                try:
                    connection, _ = listener.accept()
                except OSError:
                    return
                connection.close()

        threading.Thread(target=hang_up, daemon=True).start()
        code, err = self.run_without(sandbox, changed(
            sandbox.env, DISPLAY=None, WAYLAND_DISPLAY=path))
        self.assertEqual(code, 1, err)
        self.assertEqual(len(err.splitlines()), 1, err)
        self.assertTrue(err.startswith(self.PREFIX), err)
        time.sleep(0.2)
        self.assertEqual(sandbox.opened(), [])

    def test_a_tcp_display_that_never_answers(self):
        # A host that drops the packets: here a port on the loopback device whose queue of
        # connections is full, so that the kernel drops every further SYN. A blocking connect()
        # would wait about two minutes; the check gives up within its few seconds.
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.addCleanup(listener.close)
        for number in range(5731, 5931):
            try:
                listener.bind(("127.0.0.1", 6000 + number))
                break
            except OSError:
                continue
        else:
            self.fail("no free port for a display")
        listener.listen(0)
        fillers = []
        for _ in range(3):
            filler = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            self.addCleanup(filler.close)
            filler.setblocking(False)
            filler.connect_ex(("127.0.0.1", 6000 + number))
            fillers.append(filler)
            time.sleep(0.05)
        probe = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.addCleanup(probe.close)
        probe.settimeout(1)
        with self.assertRaises(socket.timeout, msg="the queue does not drop connections here"):
            probe.connect(("127.0.0.1", 6000 + number))

        sandbox = self.fresh()
        sandbox.write("Config.ini", config(PAGE))
        sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
        started = time.monotonic()
        code, err = self.run_without(sandbox, changed(sandbox.env, DISPLAY="127.0.0.1:%d" % number))
        self.assertEqual(code, 1, err)
        self.assertEqual(len(err.splitlines()), 1, err)
        self.assertTrue(err.startswith(self.PREFIX), err)
        self.assertLess(time.monotonic() - started, 10, "the check waited past its bound")
        self.assertEqual(sandbox.opened(), [])

    def test_display_going_away_while_a_message_is_shown(self):
        display = self.own_display()
        sandbox = Sandbox(self, display)
        sandbox.write("Company.ini", ini("Company", {"CompanyNum": "1"}))
        process = sandbox.start()
        sandbox.wait_box(process)
        display.server.kill()
        display.server.wait(timeout=WAIT)
        # Qt notices the broken connection and ends the process itself: no signal, no hang.
        code = sandbox.finish(process)
        process.log.seek(0)
        self.assertEqual(code, 1, process.log.read())
        self.assertEqual(sandbox.opened(), [])


if __name__ == "__main__":
    unittest.main()
