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
"""
import json
import os
import random
import re
import struct
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


def ini_files(top, seed, count, *departing_too):
    """Random Company.ini files for comparing our reader with the platform's. A "[" line
    without "]", and a name with a second "]", are where Wine's reader departs from Windows'
    (ours follows Windows there, as the INI table holds): only with "all"."""
    rng = random.Random(int(seed))
    keys = ["CompanyNum", "CompanyType", "CompanyName", "DeviceId", "UploadUser", "OtherInfo"]
    sections = ["[Company]", "[company]", "[ Company ]", "[Other]", "[Company]tail", "[]",
                "Company]", "[Compnay]", "[Com pany]"]
    if departing_too:
        sections += ["[Company", "[note", "[ Company  ", "[Company]]", "[Company]x]"]

    def blank():
        return rng.choice(["", "", " ", "\t", "  \t "])

    def case(text):
        return "".join(c.upper() if rng.random() < 0.3 else c.lower() if rng.random() < 0.3 else c
                       for c in text)

    def value():
        v = "".join(rng.choice("ab 1;#=[]\"'酒店前台无锡") for _ in range(rng.randint(0, 8)))
        return rng.choice([v, '"%s"' % v, "'%s'" % v, '"%s' % v, v + '"'])

    for n in range(1, int(count) + 1):
        lines = []
        for _ in range(rng.randint(1, 14)):
            kind = rng.random()
            if kind < 0.25:
                lines.append(blank() + rng.choice(sections) + blank())
            elif kind < 0.8:
                lines.append(blank() + case(rng.choice(keys)) + blank() + "=" + blank() + value() + blank())
            else:
                lines.append(rng.choice(["", ";CompanyNum=9", "#DeviceId=9", "CompanyNum", "=x",
                                         "Company Num=1", blank()]))
        text = "".join(line + rng.choice(["\r\n", "\n", "\r"]) for line in lines)
        os.makedirs(os.path.join(top, str(n), "Config"))
        with open(os.path.join(top, str(n), "Config", "Company.ini"), "wb") as f:
            f.write(text.encode("gbk"))
    return ""


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
            bad.append("%d: %r linux %r windows %r" % (n, ini[:300], got[0][:300], got[1][:300]))
    return "%d differences; %s\n" % (len(bad), " | ".join(bad[:3]))


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
}

if __name__ == "__main__":
    result = COMMANDS[sys.argv[1]](*sys.argv[2:])
    sys.stdout.buffer.write(result if isinstance(result, bytes) else result.encode("utf-8"))
