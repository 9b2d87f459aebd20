"""The Debian package's life on this machine: build, lint, install, configure, start from the
menu entry, upgrade, remove, purge. Run by run.sh, as root, inside a D-Bus session.

Each step prints one line; the run ends with "N passed, N failed". A failed step ends the run
(the later ones would only fail after it), and the package is purged whatever happened.
"""

import glob
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))

import accessibility  # noqa: E402
from harness import (NO_ADDRESS, NO_IDENTITY, CAPTION, Display, address,  # noqa: E402
                     config, fake_xdg_open, forget_lock, locales, recorded_calls)

PACKAGE = "companymain"
PROGRAMS = "/usr/libexec/companymain"
CONFIG = "/etc/companymain"
DESKTOP_FILE = "/usr/share/applications/companymain.desktop"
WAIT = 30
PAGE = b"https://hotel.example.cn/Company/Info.aspx?from=desk"
IDENTITY = {"CompanyNum": "1234567890", "CompanyType": "R02", "CompanyName": "某某酒店 北楼",
            "DeviceId": "PC-7", "UploadUser": "ABC9876543210XYZ", "OtherInfo": "前台 1"}
EXPECTED = address(PAGE, num=b"1234567890", kind=b"R02", name="某某酒店 北楼".encode(),
                   device=b"PC-7", upload=b"ABC9876543210XYZ", other="前台 1".encode())
# The Ansible role (deploy/ansible) configures another page and identity.
ROLES = os.path.join(SOURCE, "deploy", "ansible", "roles")
FLEET_PAGE = "http://fleet.example.cn/desk/info.aspx?chain=7"
FLEET_HOST = {"companymain_address": FLEET_PAGE, "companymain_number": "9876543210",
              "companymain_type": "R01", "companymain_name": "连锁酒店 南店",
              "companymain_device_id": "DESK-1", "companymain_upload_user": "",
              "companymain_other": "前台 2"}
# An account kept in Ansible Vault: written as it holds ({{ }} not rendered), never shown.
SECRET = "vault-acct $HOME {{ b }} 账户"
# The role's own traces on the machine, which the test removes at its end.
ROLE_CACHE = "/var/cache/companymain"
# What debconf last applied (the postinst's); debconf's questions by the tool's names of the values.
DEBCONF_STATE = "/var/lib/companymain"
QUESTIONS = ["url", "number", "type", "name", "device-id", "upload-user", "other"]


def fleet_address(host: dict) -> bytes:
    return address(host["companymain_address"].encode(), num=host["companymain_number"].encode(),
                   kind=host["companymain_type"].encode(),
                   name=host["companymain_name"].encode(),
                   device=host["companymain_device_id"].encode(),
                   upload=host["companymain_upload_user"].encode(),
                   other=host["companymain_other"].encode())


# What the package installs besides its programs and configuration; none may outlive a purge.
SETTINGS_FILE = "/usr/share/applications/companymain-settings.desktop"
POLICY = "/usr/share/polkit-1/actions/io.github.companymain.CompanyMain.policy"
INSTALLED = ["/usr/bin/companymain", "/usr/bin/companymain-config", "/usr/bin/companymain-settings",
             DESKTOP_FILE, SETTINGS_FILE, POLICY,
             "/usr/share/metainfo/io.github.companymain.CompanyMain.metainfo.xml",
             *["/usr/share/man/%s/%s.1.gz" % (folder, name) for folder in ("man1", "zh_CN/man1")
               for name in ("companymain", "companymain-config", "companymain-settings")],
             "/usr/share/locale/zh_CN/LC_MESSAGES/companymain-config.mo",
             *["/usr/share/icons/hicolor/%dx%d/apps/%s.png" % (s, s, name) for s in (16, 24, 32, 48, 64, 128, 256)
               for name in ("companymain", "companymain-settings")]]


class StepFailed(Exception):
    pass


def check(condition, what):
    if not condition:
        raise StepFailed(what)


def sh(*args, cwd=None, env=None, timeout=600, input=None) -> subprocess.CompletedProcess:
    """Runs a command; a non-zero exit fails the step with the end of its output."""
    done = subprocess.run(args, cwd=cwd, env=env, timeout=timeout, capture_output=True,
                          input=input)
    if done.returncode != 0:
        tail = (done.stdout + done.stderr).decode(errors="replace")[-3000:]
        raise StepFailed("%s exited with %d:\n%s" % (" ".join(args), done.returncode, tail))
    return done


def installed_version():
    done = subprocess.run(["dpkg-query", "-W", "-f=${Status} ${Version}", PACKAGE],
                          capture_output=True, text=True)
    return done.stdout if done.returncode == 0 else ""


class Lifecycle:
    def __init__(self, work: str, keep: str = ""):
        self.work = work
        self.keep = keep
        self.passed = 0
        self.failed = 0
        self.debs = {}
        self.display = None
        self.fleet = {}

    def step(self, name, action) -> bool:
        started = time.monotonic()
        try:
            action()
        except (StepFailed, subprocess.TimeoutExpired, OSError) as error:
            self.failed += 1
            print("FAIL  %s (%.1f s)\n      %s" % (name, time.monotonic() - started,
                                                 str(error).replace("\n", "\n      ")))
            return False
        self.passed += 1
        print("ok    %s (%.1f s)" % (name, time.monotonic() - started))
        return True

    # --- building ---------------------------------------------------------------------

    def source_copy(self, version: str) -> str:
        """The source tree as the repository has it (untracked files that are not ignored
        included), in a folder of its own; the working tree is never built in."""
        tree = os.path.join(self.work, "src-" + version, PACKAGE)
        os.makedirs(tree)
        listed = sh("git", "ls-files", "-z", "--cached", "--others", "--exclude-standard",
                    cwd=SOURCE).stdout.split(b"\0")
        for name in filter(None, listed):
            source = os.path.join(SOURCE.encode(), name)
            if not os.path.lexists(source):
                continue  # deleted in the working tree, not yet in the index
            target = os.path.join(tree.encode(), name)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy2(source, target, follow_symlinks=False)
        return tree

    def build(self, version: str):
        tree = self.source_copy(version)
        if version != "1.0.0":
            changelog = os.path.join(tree, "debian", "changelog")
            with open(changelog, encoding="utf-8") as f:
                old = f.read()
            maintainer = re.search(r"^ -- (.*?>)", old, re.M).group(1)
            with open(changelog, "w", encoding="utf-8") as f:
                f.write("%s (%s-1) unstable; urgency=medium\n\n  * Rebuild.\n\n -- %s  %s\n\n%s"
                        % (PACKAGE, version, maintainer,
                           time.strftime("%a, %d %b %Y %H:%M:%S +0000", time.gmtime()), old))
        env = dict(os.environ, DEB_BUILD_OPTIONS="parallel=%d" % (os.cpu_count() or 1))
        built = sh("dpkg-buildpackage", "-b", "-us", "-uc", cwd=tree, env=env)
        log = built.stdout.decode()
        out = os.path.dirname(tree)
        deb = os.path.join(out, "%s_%s-1_amd64.deb" % (PACKAGE, version))
        check(os.path.exists(deb), "no %s" % deb)
        # Debian's hardening flags reached every compiler and linker line of our code.
        compiles = [l for l in log.splitlines() if re.search(r" -o \S+\.o -c \S+/src/", l)]
        links = [l for l in log.splitlines()
                 if re.search(r" -o (\.\./)*(CompanyMain|CompanyMainWindow\.so|companymain-(config|settings)) ", l)]
        check(compiles, "no compiler lines in the build log")
        for flag in ("-D_FORTIFY_SOURCE=2", "-fstack-protector-strong", "-Wall", "-Wextra"):
            check(all(flag in l for l in compiles), "a compiler line lacks %s" % flag)
        # Debian's flags (-Werror=format-security among them), not the developers' -Werror: a
        # newer compiler's new warning must not stop the package from building. Our code still
        # builds without any warning here.
        check(not any(re.search(r"(^|\s)-Werror(\s|$)", l) for l in compiles),
              "a compiler line has -Werror")
        warnings = [l for l in (log + built.stderr.decode(errors="replace")).splitlines()
                    if "warning:" in l and "/src/" in l]
        check(not warnings, "warnings in our code: %s" % "; ".join(warnings[:3]))
        check(len(links) == 4, "%d link lines for the four programs" % len(links))
        check(all("-z,now" in l and "-z,relro" in l for l in links),
              "a link line lacks -z,relro -z,now")
        # SHA256SUMS beside the packages lists exactly this build's two, correctly.
        made = sorted(n for n in os.listdir(out) if n.endswith(".deb"))
        check(made == ["%s-dbgsym_%s-1_amd64.deb" % (PACKAGE, version), os.path.basename(deb)],
              "the build made %s" % made)
        with open(os.path.join(out, "SHA256SUMS")) as f:
            listed = sorted(l.split("  ", 1)[1] for l in f.read().splitlines())
        check(listed == made, "SHA256SUMS lists %s" % listed)
        sh("sha256sum", "--strict", "-c", "SHA256SUMS", cwd=out)
        if self.keep and version == "1.0.0":
            for name in made + ["SHA256SUMS"]:
                shutil.copy2(os.path.join(out, name), self.keep)
        self.debs[version] = (out, os.path.basename(deb))

    def lint(self):
        out, deb = self.debs["1.0.0"]
        changes = os.path.join(out, deb.replace(".deb", ".changes"))
        sh("lintian", "--fail-on", "error,warning,info", changes, timeout=900)
        files = os.path.join(out, "contents")
        sh("dpkg-deb", "-x", os.path.join(out, deb), files)
        sh("desktop-file-validate", files + DESKTOP_FILE, files + SETTINGS_FILE)
        # The settings window's write: pkexec of the installed tool, a password at every save.
        named = sh("xmllint", "--dtdvalid", "/usr/share/polkit-1/policyconfig-1.dtd", "--xpath",
                   "concat(//annotate, ' ', //allow_any, ' ', //allow_inactive, ' ', "
                   "//allow_active)", files + POLICY).stdout.decode().strip()
        check(named == PROGRAMS + "/companymain-config" + " auth_admin" * 3, "the action: %r" % named)
        sh("appstreamcli", "validate", "--no-net",
           files + "/usr/share/metainfo/io.github.companymain.CompanyMain.metainfo.xml")
        # The window module is loaded, not linked: its toolkit must still be a dependency.
        depends = sh("dpkg-deb", "-f", os.path.join(out, deb), "Depends").stdout.decode()
        for name in ("libqt6widgets6", "libqt6gui6", "xdg-utils"):
            check(re.search(r"\b%s\b" % name, depends), "Depends lacks %s: %s" % (name, depends))
        # Qt's Wayland plugin comes with a default installation: without it a desktop with no
        # X server shows neither the window nor a message.
        recommends = sh("dpkg-deb", "-f", os.path.join(out, deb), "Recommends").stdout.decode()
        check(re.search(r"\bqt6-wayland\b.*\bpkexec\b", recommends), "Recommends lacks qt6-wayland "
              "or pkexec: " + recommends)

    # --- installing -------------------------------------------------------------------

    @staticmethod
    def apt(*args, cwd=None):
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        sh("apt-get", *args, cwd=cwd, env=env, timeout=900)

    def install(self, version: str):
        out, deb = self.debs[version]
        self.apt("install", "-y", "./" + deb, cwd=out)
        check(installed_version() == "install ok installed %s-1" % version,
              "dpkg says: %r" % installed_version())

    def check_layout(self):
        for name in ("CompanyMain", "CompanyMainWindow.so", "companymain-config", "companymain-settings"):
            check(os.path.isfile(os.path.join(PROGRAMS, name)), "no %s in %s" % (name, PROGRAMS))
        check(os.readlink(PROGRAMS + "/Config") == CONFIG, "Config does not lead to " + CONFIG)
        for command, program in (("companymain", "CompanyMain"),
                                 ("companymain-config", "companymain-config"),
                                 ("companymain-settings", "companymain-settings")):
            check(os.path.realpath("/usr/bin/" + command) == os.path.join(PROGRAMS, program),
                  "/usr/bin/%s does not lead to %s" % (command, program))
        # The tool reads the launcher's version from the installed (stripped) file.
        version = self.tool("--version").stdout.decode().splitlines()
        check(version[:2] == ["companymain-config 1.0.0", "CompanyMain 1.0.0"],
              "--version says %r" % version)
        conffiles = sh("dpkg-query", "-W", "-f=${Conffiles}", PACKAGE).stdout.decode()
        check(CONFIG + "/Config.ini" in conffiles, "Config.ini is not a conffile: " + conffiles)
        with open(CONFIG + "/Config.ini", "rb") as f:
            check(re.fullmatch(rb"\[SysInfo\]\r?\nCompanyURL=\r?\n", f.read()),
                  "the shipped Config.ini is not the blank address")
        check(not os.path.exists(CONFIG + "/Company.ini"), "Company.ini is shipped")

    @staticmethod
    def tool(*args, expect=0) -> subprocess.CompletedProcess:
        """The configuration tool as an installer types it: the command on PATH, no --dir."""
        done = subprocess.run(["companymain-config", *args], capture_output=True, timeout=WAIT,
                              env={"PATH": "/usr/bin:/bin", "LANG": "C.UTF-8"}, cwd="/")
        check(done.returncode == expect, "companymain-config %s: exit code %d, expected %d: %s"
              % (" ".join(args), done.returncode, expect, (done.stdout + done.stderr).decode()))
        return done

    def fresh_installation(self):
        """What the README says of a fresh installation: no identity yet, and its message."""
        found = json.loads(self.tool("--json", "check", expect=1).stdout)
        check(found["ok"] is False and found["message"] == NO_IDENTITY,
              "check of a fresh installation: %r" % found)
        shown = json.loads(self.tool("--json", "show").stdout)
        check(shown == {"command": "show", "url": "", "number": None, "type": None, "name": None,
                        "device-id": None, "upload-user": None, "other": None},
              "show of a fresh installation: %r" % shown)

    def users_without_rights(self):
        """Run by another user, the tool says why it cannot write, in the user's language, names
        the configuration folder as this package has it and says to run it as root."""
        try:
            folder = locales("zh_CN.UTF-8")
        except (unittest.SkipTest, subprocess.SubprocessError) as error:
            raise StepFailed("the zh_CN.UTF-8 locale cannot be made: %s %s" % (
                error, getattr(error, "stderr", b"").decode(errors="replace")[-500:]))
        self.run_without_rights(folder)

    @staticmethod
    def run_without_rights(locales: str):
        before = os.listdir(CONFIG)
        for lang, message in (
                ("C.UTF-8", "Error: Cannot write /etc/companymain/Config.ini: Permission denied. "
                 "Nothing was changed. Run companymain-config as root, for example with sudo.\n"),
                ("zh_CN.UTF-8", "错误: 无法写入 /etc/companymain/Config.ini: 权限不够。原文件未改动。 "
                 "请以 root 身份运行 companymain-config, 例如用 sudo。\n")):
            done = subprocess.run(
                ["companymain-config", "set-address", "http://example.com/"], capture_output=True,
                timeout=WAIT, cwd="/", user="nobody", group="nogroup", extra_groups=[],
                env={"PATH": "/usr/bin:/bin", "LANG": lang, "LOCPATH": locales})
            check(done.returncode == 3 and done.stderr.decode() == message,
                  "as nobody in %s: exit code %d, %r" % (lang, done.returncode, done.stderr.decode()))
        check(os.listdir(CONFIG) == before, "a user without rights changed %s" % CONFIG)

    def manual_pages(self):
        """The manuals in English and in Chinese, as man finds them."""
        for args, says in ((["companymain-config"], "set up and check a CompanyMain installation"),
                           (["-L", "zh_CN", "companymain-config"], "设置并检查 CompanyMain 的安装"),
                           (["companymain"], "open the company information page"),
                           (["-L", "zh_CN", "companymain"], "在网页浏览器中打开企业信息页面")):
            done = sh("man", "-P", "cat", *args,
                      env={"PATH": "/usr/bin:/bin", "LANG": "C.UTF-8", "MANWIDTH": "100"})
            check(says in done.stdout.decode(), "man %s says: %r" % (" ".join(args),
                                                                    done.stdout.decode()[:300]))

    def configure_identity(self):
        self.tool("set-company", "--number", IDENTITY["CompanyNum"],
                  "--type", IDENTITY["CompanyType"], "--name", IDENTITY["CompanyName"],
                  "--device-id", IDENTITY["DeviceId"], "--upload-user", IDENTITY["UploadUser"],
                  "--other", IDENTITY["OtherInfo"])
        check(os.path.isfile(CONFIG + "/Company.ini"), "no Company.ini in " + CONFIG)
        found = json.loads(self.tool("check", "--json", expect=1).stdout)
        check(found["ok"] is False and found["message"] == NO_ADDRESS,
              "check with the shipped address: %r" % found)

    def configure_address(self):
        self.tool("set-address", PAGE.decode())
        found = json.loads(self.tool("check", "--json").stdout)
        check(found["ok"] is True, "check: %r" % found)
        told = bytes.fromhex(found["addressBytes"]) if "addressBytes" in found \
            else found["address"].encode()
        check(told == EXPECTED, "check tells %r,\n expected %r" % (told, EXPECTED))

    def configuration(self) -> dict:
        found = {}
        for name in ("Config.ini", "Company.ini"):
            with open(os.path.join(CONFIG, name), "rb") as f:
                found[name] = f.read()
        return found

    # --- starting it as the desktop does ----------------------------------------------

    def menu_command(self) -> list:
        with open(DESKTOP_FILE, encoding="utf-8") as f:
            exec_line = [l.split("=", 1)[1].strip() for l in f if l.startswith("Exec=")]
        check(len(exec_line) == 1, "the menu entry has %d Exec lines" % len(exec_line))
        # Field codes (%f, %U, ...) stand for files and addresses the menu has none of.
        return [a for a in shlex.split(exec_line[0]) if not re.fullmatch(r"%[a-zA-Z]", a)]

    def start_from_menu(self, name: str):
        """Starts the menu entry's command in a home of its own, with a recording xdg-open
        first on PATH; returns the process and the folder its browser calls land in."""
        root = os.path.join(self.work, name)
        calls, bin_dir, runtime = (os.path.join(root, d) for d in ("calls", "bin", "run"))
        for folder in (calls, bin_dir):
            os.makedirs(folder)
        os.makedirs(runtime, 0o700)
        fake_xdg_open(bin_dir, calls)
        env = {"PATH": bin_dir + ":/usr/local/bin:/usr/bin:/bin", "HOME": root,
               "DISPLAY": self.display.name, "XDG_RUNTIME_DIR": runtime, "LANG": "C.UTF-8",
               "DBUS_SESSION_BUS_ADDRESS": os.environ.get("DBUS_SESSION_BUS_ADDRESS", ""),
               **accessibility.ENV}
        process = subprocess.Popen(self.menu_command(), env=env, cwd="/",
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        return process, calls

    def launch_opens_the_page(self, name: str, expected: bytes = EXPECTED):
        process, calls = self.start_from_menu(name)
        try:
            _, err = process.communicate(timeout=WAIT)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
        check(process.returncode == 0, "exit code %d: %s" % (process.returncode, err.decode()))
        deadline = time.monotonic() + WAIT
        while not recorded_calls(calls) and time.monotonic() < deadline:
            time.sleep(0.05)
        check(recorded_calls(calls) == [[expected]],
              "the browser got %r,\n expected %r" % (recorded_calls(calls), [[expected]]))

    def launch_says_the_address_is_empty(self):
        process, calls = self.start_from_menu("blank-address")
        try:
            found = accessibility.wait_message(process.pid, WAIT, text=NO_ADDRESS, caption=CAPTION)
            check(found is not None, "no message box")
            check((found[0], found[1]) == (NO_ADDRESS, CAPTION), "the message is %r" % (found,))
            check(accessibility.press(found[2]), "the OK button cannot be pressed")
            check(process.wait(timeout=WAIT) == 0, "exit code %s" % process.returncode)
            check(recorded_calls(calls) == [], "the browser was started")
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()

    # --- the Ansible role -------------------------------------------------------------

    def ansible_env(self) -> dict:
        """The environment of ansible-playbook on this machine: a home and apt of its own."""
        folder = os.path.join(self.work, "ansible")
        # apt sees only the sources the role adds, with indexes and cache of its own: updating
        # the machine's sources would make the test depend on a mirror outside the machine
        # (and one in the middle of a sync fails it).
        apt = os.path.join(folder, "apt")
        for sub in ("sources.list.d", "lists/partial", "cache/archives/partial"):
            os.makedirs(os.path.join(apt, sub), exist_ok=True)
        open(os.path.join(apt, "sources.list"), "w").close()
        with open(os.path.join(apt, "apt.conf"), "w") as f:
            f.write('Dir::Etc::SourceList "%s/sources.list";\n' % apt
                    + 'Dir::Etc::SourceParts "%s/sources.list.d";\n' % apt
                    + 'Dir::State::Lists "%s/lists";\n' % apt
                    + 'Dir::Cache "%s/cache";\n' % apt)
        return {"PATH": "/usr/bin:/bin:/usr/sbin:/sbin", "LANG": "C.UTF-8", "HOME": folder,
                "ANSIBLE_HOME": os.path.join(folder, "home"), "ANSIBLE_NOCOLOR": "1",
                "ANSIBLE_REMOTE_TEMP": os.path.join(folder, "tmp"),
                "APT_CONFIG": os.path.join(apt, "apt.conf")}

    def ansible(self, host_vars: dict, *args, inventory_vars="", fails=False):
        """Runs the role on this machine (connection local) with these variables for the host,
        as a fleet's inventory gives them (inventory_vars: more on the host's INI line), and
        ansible-playbook's further args (--check, --diff, -e); returns the number of changed
        tasks and each task's status ("ok", "changed", "skipping", "fatal") by name, and keeps
        the output in self.played. A failed task fails the step, unless fails: then it must."""
        folder = os.path.join(self.work, "ansible")
        os.makedirs(os.path.join(folder, "inventory", "host_vars"), exist_ok=True)
        with open(os.path.join(folder, "inventory", "hosts"), "w") as f:
            f.write("localhost ansible_connection=local ansible_python_interpreter=/usr/bin/python3"
                    " %s\n" % inventory_vars)
        with open(os.path.join(folder, "inventory", "host_vars", "localhost.yml"), "w") as f:
            for name, value in host_vars.items():  # JSON is YAML; bytes: YAML as they stand
                f.write("%s: %s\n" % (name, value.decode() if isinstance(value, bytes)
                                       else json.dumps(value, ensure_ascii=False)))
        with open(os.path.join(folder, "play.yml"), "w") as f:
            f.write("- hosts: localhost\n  gather_facts: false\n  roles: [companymain]\n")
        env = dict(self.ansible_env(), ANSIBLE_ROLES_PATH=ROLES)
        done = subprocess.run(["ansible-playbook", "-i", os.path.join(folder, "inventory"),
                               os.path.join(folder, "play.yml"), *args],
                              capture_output=True, env=env, timeout=300, cwd=folder)
        out = done.stdout.decode(errors="replace")
        self.played = out + done.stderr.decode(errors="replace")  # its warnings
        # ansible-core's own output: "TASK [role : name]" and a line per host, then the recap.
        tasks = {}
        parts = re.split(r"^TASK \[(.*)\] \**$", out, flags=re.M)
        for name, block in zip(parts[1::2], parts[2::2]):
            name = name.split(" : ", 1)[-1]
            status = re.search(r"^(ok|changed|skipping|fatal|failed): \[localhost\]", block, re.M)
            tasks[name] = status.group(1) if status else "?"
        recap = re.search(r"^localhost\s*:\s*ok=(\d+)\s+changed=(\d+)\s+unreachable=(\d+)\s+"
                          r"failed=(\d+)", out, re.M)
        failed = done.returncode != 0 or not recap or recap.group(3) != "0" or recap.group(4) != "0"
        check(failed == fails, "ansible-playbook exited with %d:\n%s" % (
            done.returncode, (out + done.stderr.decode(errors="replace"))[-3000:]))
        return int(recap.group(2)) if recap else -1, tasks

    @staticmethod
    def changed(tasks: dict) -> list:
        return sorted(name for name, status in tasks.items() if status == "changed")

    @staticmethod
    def file_states() -> dict:
        """Each configuration file's identity, times and bytes: a file rewritten with the same
        bytes still counts as changed."""
        found = {}
        for name in ("Config.ini", "Company.ini"):
            path = os.path.join(CONFIG, name)
            st = os.stat(path)
            with open(path, "rb") as f:
                found[name] = (st.st_ino, st.st_mtime_ns, st.st_ctime_ns, f.read())
        return found

    def identity(self) -> dict:
        found = json.loads(self.tool("check", "--json").stdout)
        return {f["name"]: f.get("values") for f in found["files"]}

    def ansible_first_run(self):
        sh("ansible-playbook", "--syntax-check", "-i",
           os.path.join(SOURCE, "deploy", "ansible", "inventory.ini"),
           os.path.join(SOURCE, "deploy", "ansible", "site.yml"),
           env=dict(os.environ, ANSIBLE_HOME=os.path.join(self.work, "ansible-home")))
        out, deb = self.debs["1.0.0"]
        self.fleet = dict(FLEET_HOST, companymain_deb=os.path.join(out, deb))
        changed, tasks = self.ansible(self.fleet)
        for name in ("Install the package from the .deb", "Set the page address",
                     "Set the company's identity"):
            check(tasks.get(name) == "changed", "%r did not report a change: %s"
                  % (name, self.changed(tasks)))
        check(installed_version() == "install ok installed 1.0.0-1", "dpkg says %r" % installed_version())
        found = json.loads(self.tool("check", "--json").stdout)
        check(bytes.fromhex(found["addressBytes"]) == fleet_address(self.fleet),
              "check tells %r" % found["address"])

    def ansible_second_run(self):
        before = self.file_states()
        changed, tasks = self.ansible(self.fleet)
        check(changed == 0, "the same run again changed %s" % self.changed(tasks))
        check(self.file_states() == before, "a configuration file was written again")

    def ansible_one_value(self):
        before, values = self.file_states(), self.identity()
        self.fleet["companymain_device_id"] = "DESK-2"
        changed, tasks = self.ansible(self.fleet)
        check(changed == 1 and self.changed(tasks) == ["Set the company's identity"],
              "changed: %s" % self.changed(tasks))
        after = self.file_states()
        check(after["Config.ini"] == before["Config.ini"], "Config.ini was written")
        now = self.identity()
        check(now["Config.ini"] == values["Config.ini"], "the address changed")
        differ = {k for k in set(values["Company.ini"]) | set(now["Company.ini"])
                  if values["Company.ini"].get(k) != now["Company.ini"].get(k)}
        check(differ == {"DeviceId"} and now["Company.ini"]["DeviceId"] == "DESK-2",
              "values that changed: %s (%r)" % (sorted(differ), now["Company.ini"]))

    def ansible_check_mode(self):
        before = self.file_states()
        changed, tasks = self.ansible(dict(self.fleet, companymain_address=FLEET_PAGE + "&new=1"),
                                      "--check")
        check(changed == 1 and self.changed(tasks) == ["Set the page address"],
              "changed: %s" % self.changed(tasks))
        check(self.file_states() == before, "check mode wrote a configuration file")

    def ansible_repository(self):
        """Version 1.0.1 from an apt repository (a local one) with state latest: the upgrade
        changes, the configuration does not; the same run again changes nothing."""
        repo = os.path.join(self.work, "repo")
        os.makedirs(repo)
        os.chmod(self.work, 0o755)  # apt reads the repository as its own user
        out, deb = self.debs["1.0.1"]
        shutil.copy(os.path.join(out, deb), repo)
        packages = sh("dpkg-scanpackages", "--multiversion", ".", cwd=repo).stdout
        with open(os.path.join(repo, "Packages"), "wb") as f:
            f.write(packages)
        fleet = dict(self.fleet, companymain_deb="", companymain_package_state="latest",
                     companymain_apt_repository="deb [trusted=yes] file:%s ./" % repo)
        before = self.file_states()
        changed, tasks = self.ansible(fleet)
        check(self.changed(tasks) == ["Install the package from the repositories", "The repository"],
              "changed: %s" % self.changed(tasks))
        check(installed_version() == "install ok installed 1.0.1-1", "dpkg says %r" % installed_version())
        check(self.file_states() == before, "the upgrade wrote a configuration file")
        check(not glob.glob("/etc/apt/sources.list.d/companymain*"),
              "the role wrote the machine's own sources, not the test's")
        changed, tasks = self.ansible(fleet)
        check(changed == 0, "the same run again changed %s" % self.changed(tasks))

    def ansible_verbatim(self):
        """Values ansible-core 2.14 would expand ($NAME, ${NAME}, a leading ~) or render ({{ }}
        written !unsafe) reach the files exactly; a value refused by the tool (a line break) or
        the role (no text, not rendered) fails the task naming the variable, changing nothing."""
        host = dict(self.fleet, companymain_deb="",
                    companymain_name=b'!unsafe "Hotel $HOME a {{ b }} c"',
                    companymain_other="price ${PATH} 100$ 前台 \"q\" 'q' `id` $(id) ;|>",
                    companymain_upload_user="~/acct",
                    companymain_address="http://example.com/info.aspx?k=$HOME&n=${PATH}")
        self.ansible(host)
        check(re.search(r"^\[WARNING\]: companymain_address: The page address already holds a query",
                        self.played, re.M), "no warning of the query: %s" % self.played[-2000:])
        shown = json.loads(self.tool("--json", "show").stdout)
        want = {"url": host["companymain_address"], "name": "Hotel $HOME a {{ b }} c",
                "other": host["companymain_other"], "upload-user": "~/acct"}
        check({k: shown[k] for k in want} == want, "the files hold %r" % shown)
        # An inline !vault account: written as it holds, shown nowhere (-vvv, the diff).
        password, other = (os.path.join(self.work, "ansible", name) for name in ("vault", "other"))
        for name in (password, other):
            with open(name, "w") as f:
                f.write(name + "\n")
        vault = ("--vault-password-file", password)
        host["companymain_upload_user"] = self.vaulted(SECRET, password)
        self.ansible(host, "--diff", "-vvv", *vault)
        shown = json.loads(self.tool("--json", "show").stdout)
        check(shown["upload-user"] == SECRET and SECRET not in self.played
              and "\n+upload-user=********\n" in self.played,
              "the files hold %r; the output: %s" % (shown, self.played[-3000:]))
        before = self.file_states()
        for name, value, says in (("companymain_name", "North\nSouth", "line break"),
                                  ("companymain_other", "a {{ b }} c", "'b' is undefined"),
                                  ("companymain_other", "a {{ c", "!unsafe"),
                                  ("companymain_number", b"0123", "quote"),
                                  ("companymain_other", b"", "quote"),
                                  ("companymain_upload_user", self.vaulted(SECRET, other),
                                   "cannot be decrypted")):
            self.ansible(dict(host, **{name: value}), *vault, fails=True)
            fatal = re.search(r"^fatal: \[localhost\]: FAILED! => (\{.*\})$", self.played, re.M)
            message = json.loads(fatal.group(1)).get("msg", "") if fatal else ""
            check(message.startswith(name + ": ") and says in message,
                  "%s: %r: the failure says %r" % (name, value, message or self.played[-2000:]))
            check(SECRET not in self.played, "%s: %r: the output shows the vaulted value" % (name, value))
            check(self.file_states() == before, "%s: %r changed a file" % (name, value))

    def vaulted(self, text: str, password: str) -> bytes:
        """An inline !vault value of text, encrypted with this password file."""
        return sh("ansible-vault", "encrypt_string", "--vault-password-file", password, text,
                  env=self.ansible_env()).stdout.rstrip()

    def ansible_absent(self):
        """companymain_state absent: the package purged and nothing of the role left."""
        repository = "deb [trusted=yes] file:%s ./" % os.path.join(self.work, "repo")
        self.ansible(dict(self.fleet, companymain_state="absent",
                          companymain_apt_repository=repository))
        self.check_purged()
        sources = os.path.join(self.work, "ansible", "apt", "sources.list.d")
        left = [p for p in [ROLE_CACHE] + glob.glob(sources + "/companymain*") if os.path.lexists(p)]
        check(not left, "left behind: %s" % left)

    def ansible_check_mode_predicts(self):
        """--check --diff on a PC without the package, then on one with an older version that is
        not configured: no failure, "changed" for what the real run changes, the values before
        and after, nothing installed or written."""
        changed, tasks = self.ansible(self.fleet, "--check", "--diff")
        would = ["Copy the package to the host", "Folder for the package on the host",
                 "Install the package from the .deb (check mode, the copy is not on the host yet)",
                 "Set the company's identity", "Set the page address"]
        check(self.changed(tasks) == would, "changed: %s" % self.changed(tasks))
        check("+url=%s\n" % FLEET_PAGE in self.played and "+device-id=DESK-2\n" in self.played,
              "no diff of the values: %s" % self.played[-3000:])
        check(installed_version() == "" and not os.path.lexists(ROLE_CACHE),
              "check mode installed %r" % installed_version())
        self.install("1.0.0")
        before = {n: os.path.exists(os.path.join(CONFIG, n)) for n in ("Config.ini", "Company.ini")}
        out, deb = self.debs["1.0.1"]
        changed, tasks = self.ansible(dict(self.fleet, companymain_deb=os.path.join(out, deb)),
                                      "--check", "--diff")
        check(self.changed(tasks) == would, "changed: %s" % self.changed(tasks))
        check(tasks.get("Check what the launcher will open") == "skipping"
              and tasks.get("The address the launcher opens (check mode)") == "ok",
              "the final check: %s" % tasks)
        check(re.search(r"^-url=\n\+url=%s$" % re.escape(FLEET_PAGE), self.played, re.M),
              "no diff of the address: %s" % self.played[-3000:])
        check(installed_version() == "install ok installed 1.0.0-1", "dpkg says %r" % installed_version())
        check({n: os.path.exists(os.path.join(CONFIG, n)) for n in before} == before,
              "check mode wrote a file")

    def ansible_require_page(self):
        """An installation without an identity fails the host, unless companymain_require_page
        is false: as text from an INI inventory, or from -e."""
        host = {"companymain_deb": ""}
        _, tasks = self.ansible(host, fails=True)
        check(tasks.get("Check what the launcher will open") == "fatal",
              "the failure is not the check's: %s" % self.played[-2000:])
        self.ansible(host, inventory_vars="companymain_require_page=false")
        self.ansible(host, "-e", "companymain_require_page=false")

    def readme_fleet_recipe(self):
        """The README's fleet recipe, word for word, in the tree the package was built from
        (its .deb beside it): check mode fails nothing, the real run installs and configures."""
        with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as f:
            readme = f.read()
        recipe = re.search(r"^### Linux: Ansible\n.*?^```sh\n(.*?)^```", readme, re.M | re.S).group(1)
        check("--check --diff" in recipe, "the recipe has no check run:\n" + recipe)
        subprocess.run(["apt-get", "purge", "-y", PACKAGE], capture_output=True,
                       env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
        out, _ = self.debs["1.0.0"]
        sh("bash", "-euo", "pipefail", "-c", recipe, cwd=os.path.join(out, PACKAGE),
           env=self.ansible_env())
        check(installed_version() == "install ok installed 1.0.0-1", "dpkg says %r" % installed_version())
        shown = json.loads(self.tool("--json", "show").stdout)
        check(shown["url"] == "http://example.com/company/info.aspx" and shown["device-id"] == "D1",
              "the recipe configured %r" % shown)

    def purge_leaves_nothing(self):
        check(os.path.isdir(ROLE_CACHE), "the role's copy of the .deb is not there to purge")
        self.apt("purge", "-y", PACKAGE)
        self.check_purged()
        check(not os.path.lexists(ROLE_CACHE), ROLE_CACHE + " is still there")

    def remove_role_traces(self):
        # apt's sources and indexes the role touched are the test's own (APT_CONFIG).
        if os.path.isdir(ROLE_CACHE):
            shutil.rmtree(ROLE_CACHE)

    # --- debconf ----------------------------------------------------------------------

    @staticmethod
    def preseed(**answers):
        sh("debconf-set-selections", input="".join(
            "companymain companymain/%s string %s\n" % (q.replace("_", "-"), v)
            for q, v in answers.items()).encode())

    @staticmethod
    def reconfigure(*args, env=None, input=None, expect=0) -> str:
        """dpkg-reconfigure with these options (-f: the frontend, which DEBIAN_FRONTEND would
        override); its output."""
        env = {k: v for k, v in dict(os.environ, **(env or {})).items() if k != "DEBIAN_FRONTEND"}
        done = subprocess.run(["dpkg-reconfigure", *args, PACKAGE], env=env, input=input,
                              capture_output=True, timeout=60)
        out = (done.stdout + done.stderr).decode(errors="replace")
        check(done.returncode == expect, "dpkg-reconfigure %s: exit code %d, expected %d:\n%s"
              % (" ".join(args), done.returncode, expect, out[-3000:]))
        return out

    def shown(self) -> dict:
        return {k: v for k, v in json.loads(self.tool("--json", "show").stdout).items()
                if k != "command"}

    def debconf_preseeded_install(self):
        """The README's preseed file and commands, word for word, in the folder of the .deb and
        as a script of an unattended installation runs them (no locale, no frontend chosen):
        every value written exactly as preseeded, and check tells the page they make."""
        with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as f:
            recipe = re.search(r"^### Linux: preseeding \(debconf\)\n.*?^```sh\n(.*?)^```",
                               f.read(), re.M | re.S).group(1)
        given = dict(re.findall(r"^companymain companymain/(\S+) +string ?(.*)$", recipe, re.M))
        check(sorted(given) == sorted(QUESTIONS), "the recipe preseeds %s" % sorted(given))
        out, _ = self.debs["1.0.0"]
        sh("bash", "-euo", "pipefail", "-c", recipe, cwd=out, env={
            k: v for k, v in os.environ.items()
            if k != "DEBIAN_FRONTEND" and not k.startswith(("LANG", "LC_"))}, timeout=900)
        check(installed_version() == "install ok installed 1.0.0-1", "dpkg says %r" % installed_version())
        check(self.shown() == given, "the files hold %r" % self.shown())
        found = json.loads(self.tool("--json", "check").stdout)
        made = address(given["url"].encode(), num=given["number"].encode(),
                       kind=given["type"].encode(), name=given["name"].encode(),
                       device=given["device-id"].encode(), upload=given["upload-user"].encode(),
                       other=given["other"].encode())
        check(bytes.fromhex(found["addressBytes"]) == made, "check tells %r" % found["address"])

    def debconf_reconfigure(self):
        """A new preseeded device ID and dpkg-reconfigure change that value alone. An address
        written by hand and a value changed with the tool (blanks, a backslash before n) then
        survive a reconfiguration that was given neither and the upgrade, and are the answers
        debconf shows."""
        before, values = self.file_states(), self.identity()
        device = '前台 2号  "A" \\ $HOME'
        self.preseed(device_id=device)
        self.reconfigure("-f", "noninteractive")
        check(self.file_states()["Config.ini"] == before["Config.ini"], "Config.ini was written")
        now = self.identity()
        differ = {k for k in set(values["Company.ini"]) | set(now["Company.ini"])
                  if values["Company.ini"].get(k) != now["Company.ini"].get(k)}
        check(differ == {"DeviceId"} and self.shown()["device-id"] == device,
              "values that changed: %s (%r)" % (sorted(differ), self.shown()))
        by_hand = "http://hand.example.cn/info.aspx?desk=2"
        with open(CONFIG + "/Config.ini", "wb") as f:
            f.write(config(by_hand.encode()))
        other = "D:\\notes  前台 "
        self.tool("set-company", "--other", other)
        kept, expected = self.file_states(), dict(self.shown(), url=by_hand, other=other)
        check(self.shown() == expected, "the files hold %r" % self.shown())
        self.reconfigure("-f", "noninteractive")
        check(self.file_states() == kept, "a reconfiguration given no value wrote a file")
        answers = sh("debconf-show", PACKAGE).stdout.decode()
        check("companymain/url: %s\n" % by_hand in answers, "debconf shows:\n" + answers)
        self.install("1.0.1")
        check(self.file_states() == kept, "the upgrade wrote a file")

    def debconf_refusals(self):
        """A refused preseeded value fails the configuration, naming its question, and nothing
        is written (nor the device ID preseeded with it). Interactively, in Chinese, the tool's
        reason is shown and the question asked again; the default priority asks the address and
        what a first identity needs, nothing else."""
        kept = self.file_states()
        self.preseed(url="ftp://files.example.cn/info", device_id="D3")
        out = self.reconfigure("-f", "noninteractive", expect=1)
        check("companymain: companymain/url: The page address must start with http:// or "
              "https://" in out, "the failure says:\n" + out[-2000:])
        check(self.file_states() == kept, "a refused value wrote a file")
        good = "https://good.example.cn/info.aspx"
        out = self.reconfigure("-f", "teletype", "-p", "high", input="\n".join(
            ["ftp://still.bad/", "1234567890", "R01", "D4", good, ""]).encode(),
            env={"LANG": "zh_CN.UTF-8", "LANGUAGE": "", "LOCPATH": locales("zh_CN.UTF-8")})
        asked = re.findall(r"^(页面地址|企业编号|企业类型|企业名称|设备编号|上传用户|其他信息):", out, re.M)
        check(asked == ["页面地址", "企业编号", "企业类型", "设备编号", "页面地址"],
              "asked %s:\n%s" % (asked, out[-2000:]))
        check('"页面地址" 的值不能使用' in out and "页面地址须以 http:// 或 https:// 开头"
              in re.sub(r"\s+", " ", out), "no reason shown:\n" + out[-2000:])
        shown = self.shown()
        check(shown["url"] == good and shown["device-id"] == "D4", "the files hold %r" % shown)

    # --- leaving ----------------------------------------------------------------------

    def check_removed(self, kept: dict):
        check(installed_version().startswith("deinstall ok config-files"),
              "dpkg says: %r" % installed_version())
        check(self.configuration() == kept, "the configuration changed on removal")
        for path in (PROGRAMS, *INSTALLED):
            check(not os.path.lexists(path), path + " is still there")

    def check_purged(self):
        check(installed_version() == "" or installed_version().startswith("unknown ok not-installed"),
              "dpkg says: %r" % installed_version())
        listed = subprocess.run(["dpkg", "-L", PACKAGE], capture_output=True)
        check(listed.returncode != 0, "dpkg -L still lists files")
        for path in (CONFIG, PROGRAMS, DEBCONF_STATE, *INSTALLED):
            check(not os.path.lexists(path), path + " is still there")
        answers = sh("debconf-show", PACKAGE).stdout.decode()
        check(answers == "", "debconf keeps answers:\n" + answers)

    # --- the whole run ----------------------------------------------------------------

    def run(self) -> int:
        if installed_version():
            print("note: %s was on this machine (%s); purging it first"
                  % (PACKAGE, installed_version()))
            self.apt("purge", "-y", PACKAGE)
        if os.path.lexists(CONFIG):
            # Left by a package whose purge failed: the fresh installation starts without it.
            print("note: %s was left behind by an earlier package; removing it" % CONFIG)
            shutil.rmtree(CONFIG)
        accessibility.start_bus()
        self.display = Display()
        kept = {}

        def upgrade_keeps_configuration():
            before = self.configuration()
            self.install("1.0.1")
            check(self.configuration() == before, "the configuration changed on upgrade")

        def remove():
            kept.update(self.configuration())
            self.apt("remove", "-y", PACKAGE)
            self.check_removed(kept)

        def purge():
            self.apt("purge", "-y", PACKAGE)
            self.check_purged()

        steps = [
            ("build 1.0.0 with Debian's hardening flags; SHA256SUMS beside the packages",
             lambda: self.build("1.0.0")),
            ("lintian, desktop-file-validate, appstreamcli, the polkit action; Depends has the "
             "window module's Qt",
             self.lint),
            ("install 1.0.0 with apt-get", lambda: self.install("1.0.0")),
            ("layout: programs, Config link, command link, conffile with a blank address",
             self.check_layout),
            ("a fresh installation: check says the identity is missing, show gives no values",
             self.fresh_installation),
            ("another user is told the reason, the remedy and /etc/companymain, in English and "
             "Chinese", self.users_without_rights),
            ("both manuals in English and, with man -L zh_CN, in Chinese", self.manual_pages),
            ("companymain-config set-company; check says the address is empty",
             self.configure_identity),
            ("the menu entry's command says the shipped address is empty",
             self.launch_says_the_address_is_empty),
            ("companymain-config set-address; check tells the exact page", self.configure_address),
            ("the menu entry's command opens the exact page", lambda: self.launch_opens_the_page("1.0.0")),
            ("build 1.0.1", lambda: self.build("1.0.1")),
            ("upgrade to 1.0.1 without a prompt; configuration kept", upgrade_keeps_configuration),
            ("after the upgrade the same page opens", lambda: self.launch_opens_the_page("1.0.1")),
            ("remove: programs gone, configuration kept", remove),
            ("purge: nothing of the package left", purge),
            ("debconf: the README's preseed file word for word; a noninteractive installation "
             "writes every value exactly, check tells the page", self.debconf_preseeded_install),
            ("debconf: a new preseeded device ID changes it alone; a hand edit and the tool's "
             "change survive dpkg-reconfigure and the upgrade", self.debconf_reconfigure),
            ("debconf: a refused preseed fails naming its question, writes nothing; "
             "interactively the reason, the question again", self.debconf_refusals),
            ("debconf: purge leaves no answer and nothing in " + DEBCONF_STATE, purge),
            ("ansible: the sample playbook parses; a first run installs the .deb and writes "
             "both files (changed)", self.ansible_first_run),
            ("ansible: the same run again reports no change and writes no file",
             self.ansible_second_run),
            ("ansible: one variable changed changes that value only", self.ansible_one_value),
            ("ansible: the menu entry's command opens the exact page the role set",
             lambda: self.launch_opens_the_page("ansible", fleet_address(self.fleet))),
            ("ansible: check mode reports the address it would change and writes nothing",
             self.ansible_check_mode),
            ("ansible: 1.0.1 from an apt repository upgrades (changed), configuration kept; "
             "again: no change", self.ansible_repository),
            ("ansible: $HOME, ${PATH}, ~, quotes, backticks, Chinese, !unsafe {{ }} reach the files "
             "exactly, and a !vault account (never shown); a line break, a bad template, 0123, null, a "
             "wrong vault password fail naming the variable", self.ansible_verbatim),
            ("ansible: state absent purges the package and leaves nothing of the role",
             self.ansible_absent),
            ("ansible: --check --diff on a new PC and on an older unconfigured one fails nothing, "
             "reports the changes and shows the values before and after",
             self.ansible_check_mode_predicts),
            ("ansible: companymain_require_page=false from an INI inventory and from -e",
             self.ansible_require_page),
            ("ansible: the README's fleet recipe word for word", self.readme_fleet_recipe),
            ("ansible: purge leaves nothing of the package or the role", self.purge_leaves_nothing),
        ]
        try:
            for name, action in steps:
                if not self.step(name, action):
                    break
        finally:
            if installed_version():
                subprocess.run(["apt-get", "purge", "-y", PACKAGE], capture_output=True,
                               env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
            self.remove_role_traces()
            if os.path.lexists(CONFIG):
                shutil.rmtree(CONFIG)
            self.display.close()
            forget_lock(self.display)
        skipped = len(steps) - self.passed - self.failed
        print("\n%d passed, %d failed%s" % (self.passed, self.failed,
                                            ", %d skipped" % skipped if skipped else ""))
        return 0 if self.failed == 0 and skipped == 0 else 1


def main() -> int:
    # --keep-build DIR: the first build's packages and SHA256SUMS are copied there (for the
    # reproducibility check, which builds them again elsewhere and compares).
    keep = sys.argv[2] if sys.argv[1:2] == ["--keep-build"] and len(sys.argv) == 3 else ""
    if len(sys.argv) > 1 and not keep:
        print("usage: run.sh [--keep-build DIR]")
        return 2
    if os.geteuid() != 0:
        print("the package test installs and removes a package: run it as root")
        return 1
    if not accessibility.available():
        print("message texts are read through AT-SPI: run inside dbus-run-session, with "
              "at-spi2-core and python3-pyatspi installed")
        return 1
    work = tempfile.mkdtemp(prefix="companymain-package-")
    try:
        return Lifecycle(work, keep).run()
    finally:
        shutil.rmtree(work, True)


if __name__ == "__main__":
    sys.exit(main())
