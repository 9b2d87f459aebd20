"""What the Wine suites (tests/wine/*.sh) do in Python, as lib.sh's "py COMMAND ARG...":

  lnk FILE                  the target path of a shell link
  uninstall PREFIX VIEW KEY the values of an Uninstall key, one "name=value" a line (VIEW 64 or
                            32; KEY a key name, or "name=TEXT": the key whose DisplayName is TEXT)
  machine FILE              the machine of a PE file: x64 or x86
  repeat TEXT N             TEXT N times
  launched-params           a browser's command line (standard input) without the program and
                            without the quotes a "%1" command adds
  json-field FILE FIELD     a value of the JSON in FILE (a flag as true/false), else what FILE holds
  shown FILE                the configuration tool's show --json as sorted "name=value" lines
  random-cases CODEC SEED COUNT
                            random configurations in code page CODEC, a tab-separated line each:
                            url number type name device upload other ("-" for none)
  ini-files DIR SEED COUNT [all]
                            DIR/1 .. DIR/COUNT, installations whose Company.ini (GBK) mixes
                            blanks, quotes, case, duplicate keys and sections, comments, lines
                            without "=", CR, LF and CR LF, and malformed section lines; with
                            "all", also those where Wine's reader departs from Windows'
  differing DIR COUNT       how many of those installations the two tools' show --json
                            (linux.json, win.json) disagree on, and the first few
  ini-edits DIR SEED COUNT  DIR/1 .. DIR/COUNT: a and b, two installations with the same random
                            Company.ini, and one change for the tool (values.json) and for the
                            platform's writer (change.txt)
  dumps-differing DIR COUNT how many of those the platform reads differently after the two
                            changes (a.dump, b.dump), and the first few
  msi-runs MSI              what the MSI's own tables (msiinfo export) make of its runs, as
                            Windows Installer defines the conditions: one line a problem
"""
import json
import os
import random
import re
import struct
import subprocess
import sys


def link_target(path):
    """The local path from the link's LinkInfo (MS-SHLLINK), as Unicode where present."""
    data = open(path, "rb").read()
    if data[:4] != b"\x4c\x00\x00\x00":
        raise SystemExit(f"{path}: not a shell link")
    flags = struct.unpack_from("<I", data, 0x14)[0]
    pos = 0x4C
    if flags & 0x1:  # HasLinkTargetIDList
        pos += 2 + struct.unpack_from("<H", data, pos)[0]
    if not flags & 0x2:  # HasLinkInfo
        raise SystemExit(f"{path}: no LinkInfo")
    info = pos
    header = struct.unpack_from("<I", data, info + 4)[0]
    if header >= 0x24:
        unicode_at = struct.unpack_from("<I", data, info + 0x1C)[0]
        if unicode_at:
            text = data[info + unicode_at:]
            end = next(i for i in range(0, len(text), 2) if text[i:i + 2] == b"\0\0")
            return text[:end].decode("utf-16-le")
    base_at = struct.unpack_from("<I", data, info + 0x10)[0]
    text = data[info + base_at:]
    return text[:text.index(b"\0")].decode("cp936")


def reg_string(raw):
    """A value as Wine writes it in a .reg file."""
    raw = re.sub(r'^str\(\d+\):', '', raw)
    if raw.startswith('"'):
        body = raw[1:-1]
        return re.sub(r'\\x([0-9a-fA-F]{1,4})|\\(.)',
                      lambda m: chr(int(m.group(1), 16)) if m.group(1) else m.group(2), body)
    if raw.startswith("dword:"):
        return str(int(raw[6:], 16))
    return raw


def uninstall_values(prefix, view, key):
    base = r"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    if view == "32" and re.search(r"^#arch=win64", open(f"{prefix}/system.reg").read(), re.M):
        base = r"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    keys = {}
    current = None
    for line in open(f"{prefix}/system.reg", encoding="utf-8", errors="replace"):
        line = line.rstrip("\n")
        if line.startswith("["):
            name = line[1:line.index("]")]
            current = name[len(base):] if name.startswith(base) and "\\\\" not in name[len(base):] else None
            if current is not None:
                keys[current] = {}
        elif current is not None and line.startswith('"') and '"=' in line:
            name, raw = line.split('"=', 1)
            keys[current][reg_string(name + '"')] = reg_string(raw)
    if key.startswith("name="):
        found = [v for v in keys.values() if v.get("DisplayName") == key[5:]]
        return found[0] if len(found) == 1 else ({"count": str(len(found))} if found else {})
    return keys.get(key.replace("\\", "\\\\"), {})


def machine(path):
    data = open(path, "rb").read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return {0x8664: "x64", 0x14C: "x86"}.get(struct.unpack_from("<H", data, pe + 4)[0], "?")


def subsystem(path):
    """The program's subsystem: gui (no console), console, or the number."""
    data = open(path, "rb").read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    number = struct.unpack_from("<H", data, pe + 24 + 68)[0]  # the same in PE32 and PE32+
    return {2: "gui", 3: "console"}.get(number, str(number))


def launched_params(line):
    if line.startswith(b'"'):
        rest = line[line.index(b'"', 1) + 1:]
    else:
        rest = line[line.find(b" "):] if b" " in line else b""
    rest = rest[1:] if rest.startswith(b" ") else rest
    if len(rest) >= 2 and rest.startswith(b'"') and rest.endswith(b'"'):
        rest = rest[1:-1]
    return rest


def json_field(path, field):
    raw = open(path, "rb").read()
    try:
        value = json.loads(raw.decode("utf-8"))[field]
    except (ValueError, KeyError, TypeError):
        return "(no %s in: %r)" % (field, raw[:300])
    return value if isinstance(value, str) else json.dumps(value)


def shown(path):
    values = json.load(open(path, encoding="utf-8"))
    return "\n".join(sorted("%s=%s" % (k, v) for k, v in values.items() if k != "command"))


def random_cases(codec, seed, count):
    extra = {"cp936": "无锡湖畔大酒店中文名称宾馆旅社前台", "cp950": "無錫湖畔大酒店中文名稱賓館旅社前台",
             "cp1252": "éàüößñçÉÀÜ"}[codec]
    rng = random.Random(seed)
    ascii_pool = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_.~!*'() "

    def text(low, high, pool=ascii_pool + extra):
        return "".join(rng.choice(pool) for _ in range(rng.randint(low, high)))

    for _ in range(count):
        yield "\t".join([
            "http://%s.example/%s" % (text(1, 8, "abcxyz" + extra), text(0, 12).replace(" ", "-")),
            text(1, 70, "0123456789"), rng.choice(["R01", "R02", "r02", "X9"]),
            rng.choice([text(1, 20).strip() or "x", "-"]), text(1, 12, "ABCDEF0123456789-"),
            rng.choice(["-", "ABC1234567890XYZ", "ABC12345678"]), text(1, 30).strip() or "o"])


def ini_texts(rng, count, departing_too=False, written=False):
    """Random Company.ini texts for comparing our reader and writer with the platform's. A "["
    line without "]", a name with a second "]", and a key's name alone on a line (without "=",
    no key on Windows: Wine's own conformance test of the profile functions holds that such a
    line is not listed as a key, but Wine's reader takes it for the key) are where Wine's reader
    departs from Windows' (ours follows Windows there, as the INI table holds): only with
    departing_too. Files the platform's writer is to change (written) hold no "[]" either: Wine
    writes a file whole again, and leaves out the header of a section without a name, so that
    its keys join the section before (Windows changes the one line)."""
    keys = ["CompanyNum", "CompanyType", "CompanyName", "DeviceId", "UploadUser", "OtherInfo"]
    sections = ["[Company]", "[company]", "[ Company ]", "[Other]", "[Company]tail", "[]",
                "Company]", "[Compnay]", "[Com pany]"]
    if written:
        sections.remove("[]")
    others = ["", ";CompanyNum=9", "#DeviceId=9", "=x", "Company Num=1"]
    if departing_too:
        sections += ["[Company", "[note", "[ Company  ", "[Company]]", "[Company]x]"]
        others += ["CompanyNum"]

    def blank():
        return rng.choice(["", "", " ", "\t", "  \t "])

    def case(text):
        return "".join(c.upper() if rng.random() < 0.3 else c.lower() if rng.random() < 0.3 else c
                       for c in text)

    def value():
        v = "".join(rng.choice("ab 1;#=[]\"'酒店前台无锡") for _ in range(rng.randint(0, 8)))
        return rng.choice([v, '"%s"' % v, "'%s'" % v, '"%s' % v, v + '"'])

    for _ in range(count):
        lines = []
        for _ in range(rng.randint(1, 14)):
            kind = rng.random()
            if kind < 0.25:
                lines.append(blank() + rng.choice(sections) + blank())
            elif kind < 0.8:
                lines.append(blank() + case(rng.choice(keys)) + blank() + "=" + blank() + value() + blank())
            else:
                lines.append(rng.choice(others + [blank()]))
        # Now and then the last line without its end.
        ends = [rng.choice(["\r\n", "\n", "\r"]) for _ in lines]
        if rng.random() < 0.2:
            ends[-1] = ""
        yield "".join(line + end for line, end in zip(lines, ends))


def write_file(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def ini_files(top, seed, count, *departing_too):
    """DIR/N/Config/Company.ini, GBK, for the two readers."""
    for n, text in enumerate(ini_texts(random.Random(int(seed)), int(count), bool(departing_too)), 1):
        write_file(os.path.join(top, str(n), "Config", "Company.ini"), text.encode("gbk"))
    return ""


def ini_edits(top, seed, count):
    """DIR/N/a and DIR/N/b, the same random Company.ini (GBK) twice; the change for the tool
    (values.json: number, type and device id, and now and then another value) and for the
    platform's writer (change.txt, the keys and values a line each)."""
    rng = random.Random(int(seed))
    names = {"number": "CompanyNum", "type": "CompanyType", "name": "CompanyName",
             "device-id": "DeviceId", "upload-user": "UploadUser", "other": "OtherInfo"}

    def value():
        # What the platform's writer writes as it is: no blanks or quote pairs at its ends.
        inner = "".join(rng.choice("ab1 ;#=[]酒店前台") for _ in range(rng.randint(0, 6)))
        return rng.choice("AB7") + inner + rng.choice("xyz9")

    for n, text in enumerate(ini_texts(rng, int(count), written=True), 1):
        for side in "ab":
            write_file(os.path.join(top, str(n), side, "Config", "Company.ini"), text.encode("gbk"))
        values = {name: value() for name in ("number", "type", "device-id")}
        for name in ("name", "upload-user", "other"):
            if rng.random() < 0.3:
                values[name] = value()
        write_file(os.path.join(top, str(n), "values.json"), json.dumps(values).encode())
        # In the order of the tool's fields, which is the order it adds missing keys in.
        write_file(os.path.join(top, str(n), "change.txt"),
                   "".join("%s=%s\n" % (key, values[name]) for name, key in names.items()
                           if name in values).encode())
    return ""


def dumps_differing(top, count):
    """How many of DIR/1 .. DIR/COUNT the platform reads differently after the tool's change
    (a.dump) and its own (b.dump), and the first few."""
    bad = []
    for n in range(1, int(count) + 1):
        got = [open(os.path.join(top, str(n), name), "rb").read() for name in ("a.dump", "b.dump")]
        if got[0] != got[1] or not got[0]:
            ini = open(os.path.join(top, str(n), "b", "Config", "Company.ini"), "rb").read()
            bad.append("%d: %r tool %r platform %r" % (n, ini[:300], got[0][:300], got[1][:300]))
    return "%d differences; %s\n" % (len(bad), " | ".join(bad[:3]))


def differing(top, count):
    bad = []
    for n in range(1, int(count) + 1):
        got = [open(os.path.join(top, str(n), name), "rb").read() for name in ("linux.json", "win.json")]
        try:
            same = json.loads(got[0]) == json.loads(got[1])
        except ValueError:
            same = False
        if not same:
            ini = open(os.path.join(top, str(n), "Config", "Company.ini"), "rb").read()
            code = os.path.join(top, str(n), "win.code")  # the Windows run failed: how
            ended = open(code, "rb").read().split(b"\n")[-2:] if os.path.exists(code) else b""
            bad.append("%d: %r linux %r windows %r %r" % (n, ini[:300], got[0][:300], got[1][:300],
                                                          ended))
    return "%d differences; %s\n" % (len(bad), " | ".join(bad[:3]))


def msi_table(msi, table):
    """The rows of an MSI table (after its three header lines) as lists of fields."""
    out = subprocess.run(["msiinfo", "export", msi, table], capture_output=True, check=True,
                         timeout=60).stdout.decode("utf-8", "replace")
    return [line.split("\t") for line in out.split("\r\n" if "\r\n" in out else "\n")[3:] if line]


def msi_condition(text, props):
    """Evaluates a condition of the Condition column over properties (name -> text; a missing
    or empty one is false): NOT, AND, OR, parentheses, = and ~= (case-insensitive) with a
    "string", as the MSI documentation defines them. Anything else raises."""
    tokens = re.findall(r'\s*(\(|\)|~=|=|"[^"]*"|[A-Za-z_][A-Za-z0-9_.]*)', text)
    if "".join(tokens).replace(" ", "") != text.replace(" ", ""):
        raise ValueError("cannot read the condition " + text)
    pos = [0]

    def peek():
        return tokens[pos[0]].strip() if pos[0] < len(tokens) else None

    def take():
        pos[0] += 1
        return tokens[pos[0] - 1].strip()

    def term():
        if peek() == "NOT":
            take()
            return not term()
        if peek() == "(":
            take()
            value = disjunction()
            if take() != ")":
                raise ValueError("no ) in " + text)
            return value
        name = take()
        if peek() in ("=", "~="):
            op, literal = take(), take()
            if not literal.startswith('"'):
                raise ValueError("not a string: " + literal)
            left, right = props.get(name, ""), literal[1:-1]
            return left.lower() == right.lower() if op == "~=" else left == right
        return bool(props.get(name, ""))

    def conjunction():
        value = term()
        while peek() == "AND":
            take()
            value = term() and value
        return value

    def disjunction():
        value = conjunction()
        while peek() == "OR":
            take()
            value = conjunction() or value
        return value

    result = disjunction()
    if peek() is not None:
        raise ValueError("left over in " + text)
    return result


def msi_runs(msi):
    """The property-setting actions (type 51) before costing, run in sequence order, for a new
    PC, a run again with one value, a run again without one, and a removal; then which of the
    tool's actions run and whether the components are reinstalled with the machine's registry
    values rewritten (REINSTALL=ALL and "m" in REINSTALLMODE)."""
    sequence = sorted(msi_table(msi, "InstallExecuteSequence"), key=lambda row: int(row[2]))
    actions = {row[0]: row for row in msi_table(msi, "CustomAction")}
    defaults = {row[0]: row[1] for row in msi_table(msi, "Property")}
    problems = []
    values = ["URL", "COMPANYNUM", "COMPANYTYPE", "COMPANYNAME", "DEVICEID", "UPLOADUSER", "OTHERINFO"]
    for name in values + ["REINSTALL", "REINSTALLMODE", "ADDLOCAL", "REMOVE"]:
        if name in defaults:
            problems.append("the Property table gives %s a value: %r" % (name, defaults[name]))
    order = [row[0] for row in sequence]
    for action in ("CostFinalize", "WriteRegistryValues"):
        if action not in order:
            problems.append("no %s in InstallExecuteSequence" % action)
            return problems
    runs = {"a new PC given DEVICEID": ({"DEVICEID": "D2"}, True),
            "run again given DEVICEID": ({"Installed": "1", "DEVICEID": "D2"}, True),
            "run again given URL": ({"Installed": "1", "URL": "http://example.com/"}, True),
            "run again without values": ({"Installed": "1"}, False),
            "removal": ({"Installed": "1", "REMOVE": "ALL", "DEVICEID": "D2"}, False)}
    for run, (props, writes) in runs.items():
        props = dict(props)
        ran = []
        for action, condition, _ in sequence:
            if condition and not msi_condition(condition, props):
                continue
            row = actions.get(action)
            if row and int(row[1]) & 0x3F == 51:
                if order.index(action) > order.index("CostFinalize"):
                    problems.append("%s sets %s after CostFinalize" % (action, row[2]))
                props[row[2]] = row[3]
            elif row and int(row[1]) & 0x3F == 18 and order.index(action) > order.index("WriteRegistryValues"):
                ran.append(action)
        tool = any("--from-registry" in actions[a][3] and "--dry-run" not in actions[a][3] for a in ran)
        if tool != writes:
            problems.append("%s: the tool %s" % (run, "does not write" if writes else "writes"))
        if run.startswith("run again") and writes and not (
                props.get("REINSTALL") == "ALL" and "m" in props.get("REINSTALLMODE", "")):
            problems.append("%s: REINSTALL=%r REINSTALLMODE=%r: the registry values stay as the "
                            "first installation wrote them" % (run, props.get("REINSTALL"),
                                                               props.get("REINSTALLMODE")))
        if not writes and props.get("REINSTALL"):
            problems.append("%s: REINSTALL=%r" % (run, props["REINSTALL"]))
    return "".join(p + "\n" for p in problems)


COMMANDS = {
    "lnk": lambda path: link_target(path) + "\n",
    "uninstall": lambda *key: "".join(f"{n}={v}\n" for n, v in sorted(uninstall_values(*key).items())),
    "machine": lambda path: machine(path) + "\n",
    "subsystem": lambda path: subsystem(path) + "\n",
    "repeat": lambda text, n: text.encode("utf-8", "surrogateescape") * int(n),
    "launched-params": lambda: launched_params(sys.stdin.buffer.read()),
    "json-field": json_field,
    "shown": lambda path: shown(path) + "\n",
    "random-cases": lambda codec, seed, n: "".join(f"{line}\n" for line in random_cases(codec, int(seed), int(n))),
    "ini-files": ini_files,
    "differing": differing,
    "ini-edits": ini_edits,
    "dumps-differing": dumps_differing,
    "msi-runs": msi_runs,
}

if __name__ == "__main__":
    result = COMMANDS[sys.argv[1]](*sys.argv[2:])
    sys.stdout.buffer.write(result if isinstance(result, bytes) else result.encode("utf-8"))
