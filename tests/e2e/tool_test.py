"""End-to-end tests of companymain-config: the real program, run from the build folder (where it
finds its message catalog) on installation folders of its own.

    COMPANYMAIN=/path/to/build/CompanyMain python3 tool_test.py [TestClass]

The tool is taken from beside the launcher. Cases that need another user run only as root.
"""

import json
import os
import resource
import select
import shutil
import stat
import subprocess
import tempfile
import time
import unittest

from harness import EDIT_CASES, edit_case_address, edit_case_files, locales

PROGRAM = os.environ.get("COMPANYMAIN", "")
TOOL = os.path.join(os.path.dirname(PROGRAM), "companymain-config")
WAIT = 30  # seconds; the machines running CI are slow and shared
NOBODY = 65534
IDENTITY = ["--number", "1234567890", "--type", "R01", "--name", "某某酒店", "--device-id", "D1"]
LOCK = ".companymain-config.lock"


def nobody():
    os.setgroups([])
    os.setgid(NOBODY)
    os.setuid(NOBODY)


class ToolTest(unittest.TestCase):
    def setUp(self):
        if not PROGRAM:
            self.skipTest("COMPANYMAIN is not set")
        self.root = tempfile.mkdtemp(prefix="companymain-tool-e2e-")
        self.addCleanup(shutil.rmtree, self.root, True)
        os.chmod(self.root, 0o755)  # as an installation folder is
        self.config = os.path.join(self.root, "Config")

    def tool(self, *args, lang="C.UTF-8", folder=None, tool=TOOL, preexec=None, expect=None,
             env=None, input=None) -> subprocess.CompletedProcess:
        encoding = "gbk" if lang.endswith("GBK") else "utf-8"
        argv = [tool] + ([] if folder == "" else ["--dir", folder or self.root])  # "": none
        argv += [a.encode(encoding) if isinstance(a, str) else a for a in args]
        env = {"PATH": "/usr/bin:/bin", "LANG": lang, "HOME": self.root, **(env or {}),
               "LOCPATH": locales("zh_CN.UTF-8", "zh_CN.GBK", "en_US.ISO-8859-1")}
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if name in os.environ:
                env[name] = os.environ[name]
        done = subprocess.run(argv, env=env, capture_output=True, timeout=WAIT, cwd="/",
                              preexec_fn=preexec, input=input)
        if expect is not None:
            self.assertEqual(done.returncode, expect, (done.stdout + done.stderr).decode(encoding))
        return done

    def start(self, *args) -> subprocess.Popen:
        env = {"PATH": "/usr/bin:/bin", "LANG": "C.UTF-8", "HOME": self.root}
        return subprocess.Popen([TOOL, "--dir", self.root, *args], env=env, cwd="/",
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def read(self, name: str) -> bytes:
        with open(os.path.join(self.config, name), "rb") as f:
            return f.read()

    def tool_for_all(self) -> str:
        """The tool and its catalog copied where every user may run them: self.root/libexec."""
        programs = os.path.join(self.root, "libexec")
        os.makedirs(os.path.join(programs, "locale"), exist_ok=True)
        shutil.copy(TOOL, programs)
        catalogs = os.path.join(os.path.dirname(TOOL), "locale")
        if os.path.isdir(catalogs):  # a missing catalog fails a Chinese message, not this
            shutil.copytree(catalogs, os.path.join(programs, "locale"), dirs_exist_ok=True)
        return os.path.join(programs, "companymain-config")

    def hold(self, path: str, preexec=None):
        """A process (of the user preexec makes it) holding a flock on the file."""
        code = ("import fcntl, os, sys, time; fcntl.flock(os.open(sys.argv[1], os.O_RDONLY), "
                "fcntl.LOCK_EX); print('held', flush=True); time.sleep(600)")
        holder = subprocess.Popen(["/usr/bin/python3", "-c", code, path], stdout=subprocess.PIPE,
                                  preexec_fn=preexec)
        self.addCleanup(holder.wait, WAIT)  # last: cleanups run from the last added
        for cleanup in (holder.kill, holder.stdout.close):
            self.addCleanup(cleanup)
        ready, _, _ = select.select([holder.stdout], [], [], WAIT)
        self.assertTrue(ready and holder.stdout.readline() == b"held\n", "the holder never held")

    def shown(self) -> dict:
        return json.loads(self.tool("--json", "show", expect=0).stdout)


class WritingTest(ToolTest):
    def test_new_folders_and_files_are_open_to_all_whatever_the_umask(self):
        self.tool("set-address", "http://example.com/", preexec=lambda: os.umask(0o077), expect=0)
        self.tool("set-company", *IDENTITY, preexec=lambda: os.umask(0o077), expect=0)
        self.assertEqual(stat.S_IMODE(os.stat(self.config).st_mode), 0o755)
        for name in ("Config.ini", "Company.ini"):
            self.assertEqual(stat.S_IMODE(os.stat(os.path.join(self.config, name)).st_mode),
                             0o644, name)
        done = self.tool("--json", "check", expect=0)
        self.assertTrue(json.loads(done.stdout)["ok"])

    def test_a_write_failing_after_the_open_leaves_the_old_file(self):
        self.tool("set-company", *IDENTITY, expect=0)
        kept = self.read("Company.ini")
        # RLIMIT_FSIZE makes write() fail with EFBIG, for root too.
        limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE,
                                           (0, resource.getrlimit(resource.RLIMIT_FSIZE)[1]))
        done = self.tool("set-company", *IDENTITY[:-1], "D2", preexec=limit, expect=3)
        self.assertIn(b"File too large. Nothing was changed.", done.stderr)
        self.assertEqual(self.read("Company.ini"), kept)
        self.assertEqual(sorted(os.listdir(self.config)), ["Company.ini"])

    def test_the_largest_file_changes_in_a_few_times_its_size_of_memory_or_not_at_all(self):
        with open(TOOL, "rb") as f:
            if b"__asan_init" in f.read():
                self.skipTest("a sanitizer build needs far more address space than it limits")
        # 64 MiB, the most the tool changes, of UTF-16 comment lines with LF ends.
        identity = "[Company]\nCompanyNum=1\nCompanyType=R01\nDeviceId=D1\n"
        text = ";\n" * (((64 << 19) - 1 - len(identity)) // 2) + identity
        os.mkdir(self.config)
        with open(os.path.join(self.config, "Company.ini"), "wb") as f:
            f.write(b"\xff\xfe" + text.encode("utf-16-le"))
        kept = self.read("Company.ini")
        for times, code in ((1.5, 3), (3, 0)):
            limit = lambda: resource.setrlimit(resource.RLIMIT_AS, (
                int(times * len(kept)), resource.getrlimit(resource.RLIMIT_AS)[1]))
            done = self.tool("set-company", "--device-id", "D2", preexec=limit, expect=code)
            if code:
                self.assertEqual(done.stderr, b"Error: Not enough memory to change the files. "
                                              b"Nothing was changed.\n")
                self.assertEqual(self.read("Company.ini"), kept)
                self.assertEqual(sorted(os.listdir(self.config)), ["Company.ini"])
        self.assertEqual(self.read("Company.ini"), kept[:-6] + "D2\n".encode("utf-16-le"))

    def test_a_value_changes_alone_and_the_same_values_are_not_written_again(self):
        self.tool("set-address", "http://example.com/p", expect=0)
        self.tool("set-company", *IDENTITY, "--upload-user", "ABC1234567890", "--other", "x",
                  expect=0)
        files = {name: os.stat(os.path.join(self.config, name)) for name in os.listdir(self.config)}
        for args in (["set-address", "http://example.com/p"], ["set-company", *IDENTITY],
                     ["set-company", "--other", "x"]):
            with self.subTest(args[0]):
                done = self.tool("--json", *args, expect=0)
                self.assertFalse(json.loads(done.stdout)["changed"])
                done = self.tool(*args, expect=0)
                self.assertTrue(done.stdout.endswith(b"already holds these values: nothing "
                                                     b"changed.\n"), done.stdout)
        for name, before in files.items():
            after = os.stat(os.path.join(self.config, name))
            self.assertEqual((after.st_ino, after.st_mtime_ns), (before.st_ino, before.st_mtime_ns))

        done = json.loads(self.tool("--json", "set-company", "--device-id", "D2", expect=0).stdout)
        self.assertEqual((done["changed"], done["fields"]), (True, ["DeviceId"]))
        self.assertEqual(self.shown(), {
            "command": "show", "url": "http://example.com/p", "number": "1234567890",
            "type": "R01", "name": "某某酒店", "device-id": "D2", "upload-user": "ABC1234567890",
            "other": "x"})
        self.tool("set-company", "--number", " ", expect=2)
        self.assertEqual(self.shown()["number"], "1234567890")

    def test_folders_named_in_bytes_of_another_locale(self):
        # Each locale with a name that is no text in it, beside the folder that a conversion to
        # text and back would name.
        for lang, name, decoy in (("C.UTF-8", b"inst\xc4\xe3", "inst\ufffd\ufffd".encode()),
                                  ("zh_CN.GBK", b"inst\xff", b"inst?")):
            with self.subTest(lang):
                folder = os.path.join(self.root.encode(), name)
                os.mkdir(folder)
                os.mkdir(os.path.join(self.root.encode(), decoy))
                self.tool("set-address", "http://example.com/", folder=folder, lang=lang, expect=0)
                self.assertTrue(os.path.isfile(os.path.join(folder, b"Config", b"Config.ini")))
                self.assertEqual(os.listdir(os.path.join(self.root.encode(), decoy)), [])
                # And shown as its bytes, where it is no text.
                done = self.tool("check", folder=folder, lang=lang, expect=1)
                self.assertIn(b"inst\\x", done.stdout)


    def test_a_change_rewrites_one_line_and_keeps_every_other_byte(self):
        for n, case in enumerate(EDIT_CASES):
            with self.subTest(case["name"]):
                shutil.rmtree(self.config, ignore_errors=True)
                edit_case_files(case, self.config)
                args = [os.path.join(self.root, "values.json") if a == "@values" else a
                        for a in case["args"]]
                self.tool(*args, lang=case["tool"]["linux"],
                          expect=2 if case["after"] is None else 0)
                expected = case["before"] if case["after"] is None else case["after"]
                self.assertEqual(self.read(case["file"]), expected)
                done = self.tool("--json", "check", lang=case["desk"]["linux"], expect=0)
                self.assertEqual(bytes.fromhex(json.loads(done.stdout)["addressBytes"]),
                                 edit_case_address(case))

    def test_writers_at_once_lose_no_change(self):
        # Three: a writer that locked a file the one before had already removed would write
        # beside the one that made the next.
        self.tool("set-company", *IDENTITY, expect=0)
        for round in range(100):
            device, name, other = f"D{round}", f"Inn {round}", f"note {round}"
            writers = [self.start("--json", "set-company", "--device-id", device),
                       self.start("--json", "set-company", "--name", name),
                       self.start("--json", "set-company", "--other", other)]
            reports = []
            for writer in writers:
                out, err = writer.communicate(timeout=WAIT)
                self.assertEqual(writer.returncode, 0, err)
                reports.append(json.loads(out))
            shown = self.shown()
            self.assertTrue(all(report["changed"] for report in reports), reports)
            self.assertEqual((shown["device-id"], shown["name"], shown["other"]),
                             (device, name, other), round)
        self.assertEqual(sorted(os.listdir(self.config)), ["Company.ini"])

    def test_a_writer_that_finds_the_lock_held_gives_up_after_the_wait(self):
        self.tool("set-address", "http://a.example/", expect=0)
        kept = self.read("Config.ini")
        lock = os.path.join(self.config, LOCK)
        os.close(os.open(lock, os.O_CREAT | os.O_RDWR, 0o600))  # a writer's, as the tool makes it
        self.hold(lock)
        start = time.monotonic()
        done = self.tool("set-address", "http://b.example/", expect=3)
        waited = time.monotonic() - start
        self.assertIn(b"busy for 10 seconds. Nothing was changed", done.stderr)
        self.assertGreaterEqual(waited, 10)
        self.assertLess(waited, 12.5)
        self.assertEqual(self.read("Config.ini"), kept)

    def test_a_lock_left_or_held_by_others_never_blocks(self):
        if os.geteuid() != 0:
            self.skipTest("needs root and another user")
        tool, own = self.tool_for_all(), os.path.join(self.root, "own")  # nobody's installation
        os.makedirs(os.path.join(own, "Config"))
        for path in (own, os.path.join(own, "Config")):
            os.chown(path, NOBODY, NOBODY)
        self.tool("set-address", "http://a.example/", expect=0)
        # Root's lock as a killed write left it: an earlier version's, open to all, that any
        # user could hold for good; root's, that blocked the owner of an installation for good.
        for i, (folder, mode, holder, user) in enumerate(((self.root, 0o644, nobody, None),
                                                          (own, 0o644, None, nobody),
                                                          (own, 0o600, None, nobody))):
            with self.subTest(folder=folder, mode=oct(mode)):
                lock = os.path.join(folder, "Config", LOCK)
                os.close(os.open(lock, os.O_CREAT | os.O_RDWR, mode))
                os.chmod(lock, mode)
                if holder:
                    self.hold(lock, preexec=holder)
                start = time.monotonic()
                self.tool("set-address", f"http://b{i}.example/", folder=folder, tool=tool,
                          preexec=user, expect=0)
                self.assertLess(time.monotonic() - start, 5)
                self.assertEqual(os.listdir(os.path.join(folder, "Config")), ["Config.ini"])
        # A root:nogroup file that nobody's write would make nobody's: refused, kept, also where
        # every user may read it.
        company = os.path.join(own, "Config", "Company.ini")
        self.tool("set-company", *IDENTITY, folder=own, env={"SUDO_UID": str(NOBODY)}, expect=0)
        os.chown(company, 0, NOBODY)
        for mode in (0o640, 0o644):
            os.chmod(company, mode)
            kept = os.stat(company).st_ino
            done = self.tool("set-company", "--device-id", "D2", folder=own, tool=tool,
                             preexec=nobody, expect=3)
            self.assertIn(b"its owner and group cannot be kept", done.stderr)
            self.assertEqual(os.stat(company).st_ino, kept)

    def test_a_writer_never_goes_where_another_user_points_it(self):
        if os.geteuid() != 0:
            self.skipTest("needs root and other users")
        # nobody's installation by hand, its Company.ini a link of nobody's to a file of root's
        # (/etc/shadow in life); a Config folder open to all, of daemon's (uid 1), for nobody.
        own, shared, secret = (os.path.join(self.root, n) for n in ("own", "shared", "secret"))
        link = os.path.join(own, "Config", "Company.ini")
        for folder in (own, shared):
            os.makedirs(os.path.join(folder, "Config"), mode=0o777)
        with open(secret, "wb") as f:
            f.write(b"root:x\n")
        os.symlink(secret, link)
        for path in (own, os.path.join(own, "Config"), link):
            os.lchown(path, NOBODY, NOBODY)
        os.chmod(shared, 0o777)
        os.chown(os.path.join(shared, "Config"), 1, 1)
        for folder, refused, sudo_uid, user in ((own, own, None, None), (own, link, NOBODY, None),
                                                (shared, shared + "/Config", None, nobody)):
            with self.subTest(refused=refused, sudo_uid=sudo_uid):
                sudo = {"SUDO_UID": str(sudo_uid)} if sudo_uid else {}  # root, by sudo
                done = self.tool("set-company", *IDENTITY, folder=folder, env=sudo,
                                 tool=self.tool_for_all(), preexec=user, expect=3)
                owner = "daemon" if folder == shared else "nobody"
                self.assertIn(f": {refused} belongs to {owner}, ".encode(), done.stderr)
                self.assertIn(f"Run companymain-config as {owner} ".encode(), done.stderr)
        with open(secret, "rb") as f:
            self.assertEqual(f.read(), b"root:x\n")
        self.assertEqual(os.listdir(os.path.join(shared, "Config")), [])

    def test_a_set_killed_between_its_files_is_finished_by_the_next_run(self):
        self.tool("set-address", "http://a.example/", expect=0)
        self.tool("set-company", *IDENTITY, expect=0)
        values = os.path.join(self.root, "values.json")
        with open(values, "w") as f:
            json.dump({"url": "http://b.example/", "device-id": "D2"}, f)
        # Killed as it is about to rename the identity into place, the address already there.
        gdb = ["gdb", "-batch", "-nx", "-ex", "set breakpoint pending on", "-ex",
               'break renameat if $_streq((char*)$rcx, "Company.ini")', "-ex", "run", "-ex",
               "kill", "--args", TOOL, "--dir", self.root, "--values-from", values, "set"]
        subprocess.run(gdb, capture_output=True, timeout=WAIT, check=True, cwd="/")
        self.assertEqual(self.shown()["device-id"], "D1")
        done = self.tool("--json", "check", expect=0)
        self.assertIn("cut short", json.loads(done.stdout)["warnings"][-1]["message"])
        done = self.tool("set-company", "--other", "x", expect=0)
        self.assertIn(b"was killed before", done.stderr)
        self.assertEqual({k: self.shown()[k] for k in ("url", "device-id", "other")},
                         {"url": "http://b.example/", "device-id": "D2", "other": "x"})
        self.assertEqual(sorted(os.listdir(self.config)), ["Company.ini", "Config.ini"])

    def test_under_pkexec_only_the_installation_beside_the_tool_is_written(self):
        # As pkexec starts it: as root, PKEXEC_UID naming the user who asked.
        tool, elsewhere = self.tool_for_all(), tempfile.mkdtemp(dir=self.root)
        values, pkexec = json.dumps({"url": "http://example.com/"}).encode(), {"PKEXEC_UID": "1000"}
        for args, says in ((["--dir", elsewhere, "--json", "--values-from", "-", "set"], "--dir is"),
                           (["--values-from", "/dev/stdin", "set"], "standard input only")):
            with self.subTest(says):
                done = self.tool(*args, tool=tool, folder="", env=pkexec, input=values, expect=2)
                self.assertIn(says, done.stderr.decode())
        self.assertEqual(os.listdir(elsewhere), [])
        self.assertFalse(os.path.exists(os.path.join(os.path.dirname(tool), "Config")))
        self.tool("--json", "--values-from", "-", "set", tool=tool, folder="", env=pkexec,
                  input=values, expect=0)
        done = self.tool("show", folder=os.path.dirname(tool), expect=0)
        self.assertIn(b"url=http://example.com/\n", done.stdout)


class LanguageTest(ToolTest):
    def test_the_tool_speaks_the_users_language(self):
        cases = [("C.UTF-8", "utf-8", "Wrote ", "Error: The page address is empty.", "Usage:"),
                 ("zh_CN.UTF-8", "utf-8", "已写入 ", "错误: 页面地址为空。", "用法:"),
                 ("zh_CN.GBK", "gbk", "已写入 ", "错误: 页面地址为空。", "用法:")]
        for lang, encoding, wrote, refused, usage in cases:
            with self.subTest(lang):
                shutil.rmtree(self.config, True)
                done = self.tool("set-address", "http://example.com/", lang=lang, expect=0)
                self.assertTrue(done.stdout.decode(encoding).startswith(wrote), done.stdout)
                done = self.tool("set-address", " ", lang=lang, expect=2)
                self.assertEqual(done.stderr.decode(encoding), refused + "\n")
                text = self.tool("--help", lang=lang, expect=0).stdout.decode(encoding)
                self.assertTrue(text.startswith(usage), text)
                # Example values, the type codes and what the page receives as Version.
                for said in ("http://example.com/company/info.aspx", "1234567890", "R01", "R02",
                             "Version=5.0.0.0", "1.0.0"):
                    self.assertIn(said, text)
                # Linux has no registry for an installer to hand values over in.
                self.assertNotIn("--from-registry", text)

    def test_a_user_without_rights_is_told_why_and_what_to_do(self):
        if os.geteuid() != 0:
            self.skipTest("runs the tool as another user")
        # An installation as the package makes it: Config is a link to a folder only root may
        # write; the tool and its catalog are where everyone may run them.
        tool = self.tool_for_all()
        programs = os.path.dirname(tool)
        etc = os.path.join(self.root, "etc", "companymain")
        os.makedirs(etc)
        os.symlink(etc, os.path.join(programs, "Config"))

        cases = [("C.UTF-8", "Error: Cannot write %s/Config.ini: Permission denied. Nothing was "
                  "changed. Run companymain-config as root, for example with sudo.\n"),
                 ("zh_CN.UTF-8", "错误: 无法写入 %s/Config.ini: 权限不够。原文件未改动。 请以 root "
                  "身份运行 companymain-config, 例如用 sudo。\n")]
        for lang, message in cases:
            with self.subTest(lang):
                done = self.tool("set-address", "http://example.com/", lang=lang, folder=programs,
                                 tool=tool, preexec=nobody, expect=3)
                self.assertEqual(done.stderr.decode(), message % etc)
                self.assertEqual(os.listdir(etc), [])


if __name__ == "__main__":
    unittest.main()
