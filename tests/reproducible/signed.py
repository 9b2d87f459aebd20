"""Shows that a signed Windows package differs from the unsigned one of the same build only by
its signatures: a package holds signed programs, so whatever follows from their size (a zip's
sizes and checksums, an MSI's file sizes and hashes and its PackageCode, the setup's data
offsets) differs too, and nothing else may.

    signed.py UNSIGNED SIGNED      (a program .exe, the setup .exe, an .msi or a .zip)

Prints nothing and exits 0 when that holds; otherwise prints what else differs, exit code 1.
"""

import hashlib
import lzma
import os
import subprocess
import sys
import tempfile
import zipfile

TEMP = tempfile.mkdtemp(prefix="companymain-signed-")


class Different(Exception):
    pass


def unsigned(data: bytes, name: str) -> bytes:
    """The bytes with the Authenticode signature removed; a file without one is an error."""
    signed = os.path.join(TEMP, "in-" + name)
    out = os.path.join(TEMP, "out-" + name)
    with open(signed, "wb") as f:
        f.write(data)
    if os.path.exists(out):
        os.remove(out)
    done = subprocess.run(["osslsigncode", "remove-signature", "-in", signed, "-out", out],
                          capture_output=True, text=True)
    if done.returncode != 0 or not os.path.exists(out):
        raise Different("%s carries no signature to remove: %s" % (name, done.stdout.strip()))
    with open(out, "rb") as f:
        return f.read()


def same_program(plain: bytes, signed: bytes, name: str):
    if signed == plain:
        raise Different("%s is not signed" % name)
    if unsigned(signed, name) != plain:
        raise Different("%s differs from the unsigned one beyond its signature" % name)


def compare_zip(plain_path, signed_path):
    with zipfile.ZipFile(plain_path) as plain, zipfile.ZipFile(signed_path) as signed:
        a, b = plain.infolist(), signed.infolist()
        if [i.filename for i in a] != [i.filename for i in b]:
            raise Different("the entries differ: %s / %s" % (plain.namelist(), signed.namelist()))
        for x, y in zip(a, b):
            for field in ("date_time", "external_attr", "create_system", "compress_type"):
                if getattr(x, field) != getattr(y, field):
                    raise Different("%s: %s differs" % (x.filename, field))
            if x.filename.endswith(".exe"):
                same_program(plain.read(x), signed.read(y), os.path.basename(x.filename))
            elif plain.read(x) != signed.read(y):
                raise Different("%s differs" % x.filename)


# The MSI tables' rows that follow from the programs' sizes: the key's column values that may
# differ (0-based), for the rows of the programs.
PROGRAM_ROWS = {"File.idt": (3,), "MsiFileHash.idt": (2, 3, 4, 5)}
PROGRAMS = ("CompanyMain.exe", "CompanyMainConfig.exe", "CompanyMainSettings.exe")


def dump_msi(path, folder):
    os.makedirs(folder)
    # msidump writes binary columns (the icon) relative to its working folder, whatever -d says.
    subprocess.run(["msidump", "-d", ".", "-t", "-s", os.path.abspath(path)], cwd=folder,
                   check=True, capture_output=True)
    subprocess.run(["msiextract", "-C", folder + "/files", path], check=True, capture_output=True)
    found = {}
    for top, _, files in os.walk(folder):
        for name in files:
            full = os.path.join(top, name)
            with open(full, "rb") as f:
                found[os.path.relpath(full, folder)] = f.read()
    return found


def compare_msi(plain_path, signed_path):
    stripped = unsigned(open(signed_path, "rb").read(), os.path.basename(signed_path))
    with open(os.path.join(TEMP, "stripped.msi"), "wb") as f:
        f.write(stripped)
    a = dump_msi(plain_path, os.path.join(TEMP, "plain"))
    b = dump_msi(os.path.join(TEMP, "stripped.msi"), os.path.join(TEMP, "signed"))
    if sorted(a) != sorted(b):
        raise Different("tables or streams differ: %s" % sorted(set(a) ^ set(b)))
    for name in sorted(a):
        if a[name] == b[name]:
            continue
        base = os.path.basename(name).lstrip("\x05")  # "\x05SummaryInformation"
        if name.startswith("files/") and base in PROGRAMS:
            same_program(a[name], b[name], base)
        elif base in ("CompanyMain.cab", "SummaryInformation"):
            pass  # the files and _SummaryInformation.idt are compared instead
        elif base in PROGRAM_ROWS or base == "_SummaryInformation.idt":
            rows_a = a[name].decode("utf-8", "replace").split("\r\n")
            rows_b = b[name].decode("utf-8", "replace").split("\r\n")
            if len(rows_a) != len(rows_b):
                raise Different("%s has other rows" % name)
            for x, y in zip(rows_a, rows_b):
                if x == y:
                    continue
                cx, cy = x.split("\t"), y.split("\t")
                if base == "_SummaryInformation.idt" and cx[0] == cy[0] == "9":
                    continue  # the PackageCode, derived from the content
                if base in PROGRAM_ROWS and cx[0] == cy[0] in PROGRAMS and len(cx) == len(cy) \
                        and all(cx[i] == cy[i] for i in range(len(cx)) if i not in PROGRAM_ROWS[base]):
                    continue
                raise Different("%s: %r / %r" % (name, x, y))
        else:
            raise Different("%s differs" % name)


def nsis_blocks(data: bytes):
    """The setup's stub, and its solid LZMA data unpacked into its blocks (the header, then
    one block per file, each behind its 4-byte length)."""
    start = 0
    while True:
        start = data.index(b"\xef\xbe\xad\xdeNullsoftInst", start + 1) - 4
        if start % 512 == 0:
            break
        start += 5
    length = int.from_bytes(data[start + 24:start + 28], "little")
    body = data[start + 28:start + length]
    # NSIS writes LZMA's properties and the stream, without the size .lzma files carry.
    unpacked = lzma.LZMADecompressor(lzma.FORMAT_ALONE).decompress(
        body[:5] + b"\xff" * 8 + body[5:])
    blocks, at = [], 0
    while at < len(unpacked):
        size = int.from_bytes(unpacked[at:at + 4], "little") & 0x7FFFFFFF
        blocks.append(unpacked[at + 4:at + 4 + size])
        at += 4 + size
    return data[:start], blocks


def compare_setup(plain_path, signed_path):
    stripped = unsigned(open(signed_path, "rb").read(), os.path.basename(signed_path))
    stub_a, a = nsis_blocks(open(plain_path, "rb").read())
    stub_b, b = nsis_blocks(stripped)
    # The PE checksum: NSIS leaves it 0, osslsigncode computes it.
    checksum = int.from_bytes(stub_a[0x3C:0x40], "little") + 24 + 64
    if stub_a[:checksum] + stub_a[checksum + 4:] != stub_b[:checksum] + stub_b[checksum + 4:]:
        raise Different("the setup's program part differs")
    # The unsigned setup writes its uninstaller from its own stub and the last two blocks (its
    # icon and its script); the signed one carries the uninstaller, signed, whole.
    programs_a = [x for x in a[1:] if x[:2] == b"MZ"]
    programs_b = [x for x in b[1:] if x[:2] == b"MZ"]
    if len(programs_b) != len(programs_a) + 1 or len(a) != len(b) + 1:
        raise Different("%d blocks with %d programs / %d blocks with %d programs"
                        % (len(a), len(programs_a), len(b), len(programs_b)))
    uninstaller = unsigned(programs_b[-1], "Uninstall.exe")
    if uninstaller[:2] != b"MZ" or b"NullsoftInst" not in uninstaller:
        raise Different("the last program of the signed setup is no uninstaller")
    for x, y in zip(programs_a, programs_b):
        if x == y:
            continue  # NSIS's own plug-ins
        same_program(x, y, "a program in the setup (%s)" % hashlib.sha256(x).hexdigest()[:12])
    if len(a[0]) != len(b[0]):
        raise Different("the setup's script differs in size")


def main():
    plain, signed = sys.argv[1:3]
    try:
        with open(plain, "rb") as f:
            content = f.read()
        if plain.endswith(".zip"):
            compare_zip(plain, signed)
        elif plain.endswith(".msi"):
            compare_msi(plain, signed)
        elif b"NullsoftInst" in content:
            compare_setup(plain, signed)
        else:
            with open(signed, "rb") as f:
                same_program(content, f.read(), os.path.basename(plain))
    except Different as difference:
        print(difference)
        return 1
    finally:
        subprocess.run(["rm", "-rf", TEMP])
    return 0


if __name__ == "__main__":
    sys.exit(main())
