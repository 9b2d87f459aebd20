"""The tool's Chinese catalog against its sources: every English source text in the tool's code
has a translation in po/zh_CN.po, none is fuzzy, and each translation keeps the placeholders
(%1, %2, ...) of its source text.

    python3 catalog_test.py SOURCE-ROOT
"""

import re
import subprocess
import sys
import tempfile


def entries(po_text):
    """(msgid, msgstr) pairs of a PO file written without line wrapping."""
    found = []
    for block in po_text.split("\n\n"):
        fields = {}
        key = None
        for line in block.splitlines():
            match = re.match(r'^(msgid|msgstr) (".*")$', line)
            if match:
                key = match.group(1)
                fields[key] = eval(match.group(2))  # a C string literal is a Python one here
            elif line.startswith('"') and key:
                fields[key] += eval(line)
        if fields.get("msgid"):
            found.append((fields["msgid"], fields.get("msgstr", "")))
    return found


def main():
    root = sys.argv[1]
    problems = []
    catalog = root + "/po/zh_CN.po"
    with tempfile.NamedTemporaryFile(suffix=".pot") as template:
        extract = ". po/sources.sh && extract_messages . >" + template.name
        subprocess.run(["bash", "-c", extract], cwd=root, check=True)
        compared = subprocess.run(["msgcmp", catalog, template.name], capture_output=True,
                                  text=True)
        if compared.returncode != 0:
            problems.append("texts of the sources missing from po/zh_CN.po (run po/update.sh "
                            "and translate them):\n" + compared.stderr)
    fuzzy = subprocess.run(["msgattrib", "--only-fuzzy", "--no-obsolete", catalog],
                           capture_output=True, text=True, check=True).stdout
    if fuzzy.strip():
        problems.append("fuzzy entries:\n" + fuzzy)
    flat = subprocess.run(["msgcat", "--no-wrap", catalog], capture_output=True, text=True,
                          check=True).stdout
    for source, translation in entries(flat):
        if not translation:
            problems.append("untranslated: %r" % source)
        elif sorted(re.findall(r"%\d", source)) != sorted(re.findall(r"%\d", translation)):
            problems.append("placeholders differ: %r -> %r" % (source, translation))
    for problem in problems:
        print(problem)
    print("%d problems" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
