"""The Chinese catalogs against their sources: every English source text in the tool's code
has a translation in po/zh_CN.po, and every text of the debconf templates one in
debian/po/zh_CN.po; none is fuzzy, and each translation keeps the placeholders (%1, %2, ...;
${name} in the templates) of its source text.

    python3 catalog_test.py SOURCE-ROOT
"""

import os
import re
import shutil
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


def tool_texts(root, pot):
    subprocess.run(["bash", "-c", ". po/sources.sh && extract_messages . >" + pot], cwd=root,
                   check=True)


def template_texts(root, pot):
    """As po-debconf extracts them, in a copy of debian/ (debconf-updatepo writes there)."""
    with tempfile.TemporaryDirectory() as copy:
        shutil.copytree(os.path.join(root, "debian"), os.path.join(copy, "debian"))
        subprocess.run(["debconf-updatepo", "--skip-merge"], cwd=copy, check=True,
                       capture_output=True)
        shutil.copy(os.path.join(copy, "debian", "po", "templates.pot"), pot)


CATALOGS = [("po/zh_CN.po", tool_texts, r"%\d"),
            ("debian/po/zh_CN.po", template_texts, r"\$\{\w+\}")]


def main():
    root = sys.argv[1]
    problems = []
    for catalog, extract, placeholder in CATALOGS:
        catalog = os.path.join(root, catalog)
        with tempfile.NamedTemporaryFile(suffix=".pot") as template:
            extract(root, template.name)
            compared = subprocess.run(["msgcmp", catalog, template.name], capture_output=True,
                                      text=True)
            if compared.returncode != 0:
                problems.append("texts of the sources missing from %s (run po/update.sh and "
                                "translate them):\n%s" % (catalog, compared.stderr))
        fuzzy = subprocess.run(["msgattrib", "--only-fuzzy", "--no-obsolete", catalog],
                               capture_output=True, text=True, check=True).stdout
        if fuzzy.strip():
            problems.append("fuzzy entries:\n" + fuzzy)
        flat = subprocess.run(["msgcat", "--no-wrap", catalog], capture_output=True, text=True,
                              check=True).stdout
        for source, translation in entries(flat):
            if not translation:
                problems.append("untranslated: %r" % source)
            elif (sorted(re.findall(placeholder, source))
                  != sorted(re.findall(placeholder, translation))):
                problems.append("placeholders differ: %r -> %r" % (source, translation))
    for problem in problems:
        print(problem)
    print("%d problems" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
