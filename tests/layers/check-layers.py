#!/usr/bin/python3
"""Checks that the source folders stay layered: code includes only from its own folder or from a
folder below it.

    check-layers.py SOURCE_DIR [ALLOW_LIST]   checks the source tree
    check-layers.py --self-test               checks the checker on small made-up trees

Every quoted include in a source file under one of the layer folders is resolved to the layer folder
that holds the header. An include that points to a higher folder, or sideways to a different folder
on the same level, is printed as "file:line includes <header> from <folder>/" and fails the check.
Quoted includes that no layer folder holds (generated files, headers of the tests) are left alone.

ALLOW_LIST names known upward includes that are being removed elsewhere, one "file header" pair a
line; '#' starts a comment. An entry that no longer matches an include fails the check as well, so
the list only ever shrinks and does not hide a new upward include later."""
import os
import re
import sys
import tempfile

# From the bottom up. ftp/ and platform/ share a level: the FTP component needs none of the desktop
# services (it keeps its own state file and reports errors in its own result type), and the desktop
# services know nothing of FTP, so neither may include the other.
LAYERS = {
    "resources": 0,
    "ftp": 1,
    "platform": 1,
    "upload": 2,
    "ui": 3,
    "app": 4,
}

SOURCE_SUFFIXES = (".cpp", ".h")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def source_files(root):
    """Yields (layer, path relative to root) for every source file of a layer folder."""
    for layer in LAYERS:
        top = os.path.join(root, layer)
        for folder, _, names in sorted(os.walk(top)):
            for name in sorted(names):
                if name.endswith(SOURCE_SUFFIXES):
                    yield layer, os.path.relpath(os.path.join(folder, name), root)


def header_owners(root):
    """Maps each header path, relative to its layer folder, to the layers that hold it."""
    owners = {}
    for layer, path in source_files(root):
        inside = os.path.relpath(path, layer)
        owners.setdefault(inside, []).append(layer)
    return owners


def read_allow_list(path):
    allowed = set()
    if path is None:
        return allowed
    with open(path, encoding="utf-8") as lines:
        for number, line in enumerate(lines, 1):
            text = line.split("#", 1)[0].strip()
            if not text:
                continue
            fields = text.split()
            if len(fields) != 2:
                raise SystemExit(f"{path}:{number}: expected 'file header', found '{line.strip()}'")
            allowed.add(tuple(fields))
    return allowed


def check(root, allowed):
    """Returns the problems found, each as one line of text."""
    owners = header_owners(root)
    problems = []
    used = set()
    for layer, path in source_files(root):
        with open(os.path.join(root, path), encoding="utf-8") as lines:
            for number, line in enumerate(lines, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                header = match.group(1)
                # A header next to the including file wins, as it does for the compiler.
                beside = os.path.normpath(os.path.join(os.path.dirname(path), header))
                if os.path.isfile(os.path.join(root, beside)):
                    continue
                holders = owners.get(os.path.normpath(header), [])
                if len(holders) > 1:
                    folders = ", ".join(f"{h}/" for h in holders)
                    problems.append(f"{path}:{number} includes {header}, which {folders} all hold")
                    continue
                if not holders or holders[0] == layer:
                    continue
                target = holders[0]
                if LAYERS[target] < LAYERS[layer]:
                    continue
                if (path, header) in allowed:
                    used.add((path, header))
                    continue
                problems.append(f"{path}:{number} includes {header} from {target}/")
    for path, header in sorted(allowed - used):
        problems.append(f"the allow list names {path} including {header}, which it no longer "
                        f"does upward: remove the line")
    return problems


def run(root, allow_list):
    problems = check(root, read_allow_list(allow_list))
    for problem in problems:
        print(problem)
    levels = sorted(set(LAYERS.values()))
    order = " < ".join(" = ".join(f"{layer}/" for layer, level in LAYERS.items() if level == at)
                       for at in levels)
    if problems:
        print(f"{len(problems)} include(s) break the layer order ({order}; folders on one level "
              f"include nothing from each other)")
        return 1
    print(f"every include follows the layer order ({order})")
    return 0


def self_test():
    """Runs the check on small trees, one case each, so that a check that passes everything cannot
    go unnoticed."""
    cases = [
        # name, files {path: text}, allow list text or None, expected problems
        ("downward-include-passes",
         {"upload/a.cpp": '#include "b.h"\n', "ftp/b.h": ""}, None, []),
        ("same-folder-passes",
         {"ui/a.cpp": '#include "a.h"\n', "ui/a.h": ""}, None, []),
        ("upward-include-fails",
         {"upload/a.cpp": '\n#include "b.h"\n', "ui/b.h": ""}, None,
         ["upload/a.cpp:2 includes b.h from ui/"]),
        ("sibling-include-fails",
         {"ftp/a.cpp": '#include "b.h"\n', "platform/b.h": ""}, None,
         ["ftp/a.cpp:1 includes b.h from platform/"]),
        ("bottom-includes-top-fails",
         {"resources/a.cpp": '#  include "b.h"\n', "app/b.h": ""}, None,
         ["resources/a.cpp:1 includes b.h from app/"]),
        ("angle-and-unknown-includes-pass",
         {"ftp/a.cpp": '#include <QString>\n#include "generated.h"\n'}, None, []),
        ("allow-listed-include-passes",
         {"upload/a.cpp": '#include "b.h"\n', "ui/b.h": ""}, "upload/a.cpp b.h # going\n", []),
        ("stale-allow-list-entry-fails",
         {"upload/a.cpp": "", "ui/b.h": ""}, "upload/a.cpp b.h\n",
         ["the allow list names upload/a.cpp including b.h, which it no longer does upward: "
          "remove the line"]),
        ("header-in-two-folders-fails",
         {"app/a.cpp": '#include "b.h"\n', "ui/b.h": "", "upload/b.h": ""}, None,
         ["app/a.cpp:1 includes b.h, which upload/, ui/ all hold"]),
    ]
    failures = 0
    for name, files, allow_text, expected in cases:
        with tempfile.TemporaryDirectory() as root:
            for path, text in files.items():
                os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
                with open(os.path.join(root, path), "w", encoding="utf-8") as out:
                    out.write(text)
            allow_list = None
            if allow_text is not None:
                allow_list = os.path.join(root, "allow.txt")
                with open(allow_list, "w", encoding="utf-8") as out:
                    out.write(allow_text)
            found = check(root, read_allow_list(allow_list))
        if found != expected:
            failures += 1
            print(f"FAIL {name}: expected {expected}, found {found}")
        else:
            print(f"PASS {name}")
    return 1 if failures else 0


if __name__ == "__main__":
    if sys.argv[1:] == ["--self-test"]:
        sys.exit(self_test())
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    sys.exit(run(sys.argv[1], sys.argv[2] if len(sys.argv) == 3 else None))
