"""Reads what the Windows packages leave in a Wine prefix, for tests/wine/packages.sh.

  packages.py lnk FILE              the target path a shell link points at
  packages.py uninstall PREFIX VIEW KEY
                                    the values of an Uninstall key (VIEW 64 or 32: the
                                    registry view; KEY a key name, or "name=TEXT" for the key
                                    whose DisplayName is TEXT), one "name=value" a line
  packages.py machine FILE          the machine of a PE file: x64 or x86
"""
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


if __name__ == "__main__":
    what = sys.argv[1]
    if what == "lnk":
        print(link_target(sys.argv[2]))
    elif what == "uninstall":
        for name, value in sorted(uninstall_values(*sys.argv[2:5]).items()):
            print(f"{name}={value}")
    elif what == "machine":
        print(machine(sys.argv[2]))
