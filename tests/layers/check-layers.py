#!/usr/bin/python3
"""Checks that the source folders stay layered: code includes only from its own folder or from a
folder below it, and only the libraries its layer may use.

    check-layers.py SOURCE_DIR [ALLOW_LIST] [--qt-headers DIR] [--window-files FILE ...]
                                              checks the source tree
    check-layers.py --self-test               checks the checker on small made-up trees

Every quoted include in a source file under one of the layer folders is resolved to the layer folder
that holds the header. An include that points to a higher folder, or sideways to a different folder
on the same level, is printed as "file:line includes <header> from <folder>/" and fails the check.
Quoted includes that no layer folder holds (generated files, headers of the tests) are left alone.

ALLOW_LIST names known upward includes that are being removed elsewhere, one "file header" pair a
line; '#' starts a comment. An entry that no longer matches an include fails the check as well, so
the list only ever shrinks and does not hide a new upward include later.

Every other include, in angle brackets or quoted, is checked against the Qt modules (and the
system's socket headers) the including file may use. DIR is the folder that holds Qt's module
folders (QtCore/, QtNetwork/, ...): a header is Qt's when one of them holds it, whatever the path
written, so neither <QtNetwork/QTcpSocket> nor "qtcpsocket.h" slips through. The window's own files,
which the build puts into the window module, are named with --window-files; they alone may use Qt
GUI and Qt Widgets, while the rest of ui/ and app/ is the terminal face and start-up, which the
program runs with Qt Core alone. Such an include is printed as "file:line includes <header> from
module, which ..." and fails the check."""
import argparse
import os
import re
import sys
import tempfile

# From the bottom up. ftp/ and platform/ share a level: the FTP component needs none of the desktop
# services (it keeps its own state file and reports errors in its own result type), and the desktop
# services know nothing of FTP, so neither may include the other. files/ (private folders, regular
# files) sits at the bottom beside resources/, so that both of them can use it.
LAYERS = {
    "resources": 0,
    "files": 0,
    "ftp": 1,
    "platform": 1,
    "upload": 2,
    "ui": 3,
    "app": 4,
}

# The Qt modules each layer may use. The FTP component is the only part that talks to the network,
# so that a connection cannot be opened anywhere else; the session and the system services need
# Qt Core only.
QT_MODULES = {
    "resources": {"QtCore"},
    "files": {"QtCore"},
    "ftp": {"QtCore", "QtNetwork"},
    "platform": {"QtCore"},
    "upload": {"QtCore"},
    "ui": {"QtCore"},
    "app": {"QtCore"},
}
# What the window's own files may use besides.
WINDOW_MODULES = {"QtGui", "QtWidgets"}
# The system's socket headers count as the network, as Qt Network does.
SYSTEM_NETWORK = re.compile(r"^(sys/socket\.h|sys/un\.h|netdb\.h|netinet/.*|arpa/.*)$")

SOURCE_SUFFIXES = (".cpp", ".h")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
ANY_INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


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


def qt_header_modules(qt_headers):
    """Maps each file name in Qt's module folders to the modules that hold it."""
    modules = {}
    if qt_headers is None:
        return modules
    for module in sorted(os.listdir(qt_headers)):
        folder = os.path.join(qt_headers, module)
        if module.startswith("Qt") and os.path.isdir(folder):
            for name in os.listdir(folder):
                modules.setdefault(name, set()).add(module)
    return modules


def library_of(header, qt_modules):
    """The Qt modules a header belongs to, {"network"} for a socket header of the system, or an
    empty set for anything else (the C++ and C libraries, SQLite, ...)."""
    if SYSTEM_NETWORK.match(header):
        return {"QtNetwork"}
    first, _, rest = header.partition("/")
    if rest and first.startswith("Qt"):
        return {first}
    return set(qt_modules.get(os.path.basename(header), ()))


def library_problem(path, layer, number, header, holders, window_files):
    """Why a file may not include a header of these modules, or None when it may."""
    allowed = set(QT_MODULES[layer])
    if layer in ("ui", "app") and path in window_files:
        allowed |= WINDOW_MODULES
    if not holders or holders & allowed:
        return None
    module = sorted(holders)[0]
    if layer in ("ui", "app") and module in WINDOW_MODULES:
        return (f"{path}:{number} includes <{header}> from {module}, which only the window's own "
                f"files may use")
    return f"{path}:{number} includes <{header}> from {module}, which {layer}/ may not use"


def check(root, allowed, qt_headers=None, window_files=()):
    """Returns the problems found, each as one line of text."""
    owners = header_owners(root)
    qt_modules = qt_header_modules(qt_headers)
    window_files = set(window_files)
    problems = []
    used = set()
    for layer, path in source_files(root):
        with open(os.path.join(root, path), encoding="utf-8") as lines:
            for number, line in enumerate(lines, 1):
                match = ANY_INCLUDE.match(line)
                if not match:
                    continue
                header = match.group(2)
                # A header next to the including file wins, as it does for the compiler.
                beside = os.path.normpath(os.path.join(os.path.dirname(path), header))
                if match.group(1) == '"' and os.path.isfile(os.path.join(root, beside)):
                    continue
                holders = owners.get(os.path.normpath(header), []) if match.group(1) == '"' else []
                if not holders:
                    problem = library_problem(path, layer, number, header,
                                              library_of(header, qt_modules), window_files)
                    if problem:
                        problems.append(problem)
                    continue
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


def run(root, allow_list, qt_headers, window_files):
    problems = check(root, read_allow_list(allow_list), qt_headers, window_files)
    for problem in problems:
        print(problem)
    levels = sorted(set(LAYERS.values()))
    order = " < ".join(" = ".join(f"{layer}/" for layer, level in LAYERS.items() if level == at)
                       for at in levels)
    if problems:
        print(f"{len(problems)} include(s) break the layer order ({order}; folders on one level "
              f"include nothing from each other) or use a library their layer may not")
        return 1
    print(f"every include follows the layer order ({order}) and uses only what its layer may")
    return 0


def self_test():
    """Runs the check on small trees, one case each, so that a check that passes everything cannot
    go unnoticed."""
    cases = [
        # name, files {path: text}, allow list text or None, expected problems[, window files]
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
        ("core-and-standard-headers-pass",
         {"upload/a.cpp": "#include <QString>\n#include <memory>\n#include <sqlite3.h>\n"}, None,
         []),
        ("ftp-may-use-the-network",
         {"ftp/a.cpp": "#include <QTcpSocket>\n#include <sys/socket.h>\n"}, None, []),
        ("network-in-upload-fails",
         {"upload/a.cpp": "#include <QString>\n#include <QTcpSocket>\n"}, None,
         ["upload/a.cpp:2 includes <QTcpSocket> from QtNetwork, which upload/ may not use"]),
        ("system-socket-in-platform-fails",
         {"platform/a.cpp": "#include <netinet/in.h>\n"}, None,
         ["platform/a.cpp:1 includes <netinet/in.h> from QtNetwork, which platform/ may not use"]),
        ("quoted-qt-header-fails",
         {"upload/a.h": '#include "qsslsocket.h"\n'}, None,
         ["upload/a.h:1 includes <qsslsocket.h> from QtNetwork, which upload/ may not use"]),
        ("widgets-by-module-path-in-terminal-face-fails",
         {"ui/console.cpp": "#include <QtWidgets/QWidget>\n"}, None,
         ["ui/console.cpp:1 includes <QtWidgets/QWidget> from QtWidgets, which only the window's "
          "own files may use"]),
        ("gui-in-start-up-fails",
         {"app/main.cpp": "#include <QPainter>\n"}, None,
         ["app/main.cpp:1 includes <QPainter> from QtGui, which only the window's own files may "
          "use"]),
        ("window-files-may-use-widgets",
         {"ui/window.cpp": "#include <QWidget>\n#include <QPainter>\n",
          "app/face.cpp": "#include <QApplication>\n"}, None, [],
         ["ui/window.cpp", "app/face.cpp"]),
        ("window-files-stay-off-the-network",
         {"ui/window.cpp": "#include <QTcpSocket>\n"}, None,
         ["ui/window.cpp:1 includes <QTcpSocket> from QtNetwork, which ui/ may not use"],
         ["ui/window.cpp"]),
    ]
    qt_files = ["QtCore/QString", "QtNetwork/QTcpSocket", "QtNetwork/qsslsocket.h",
                "QtGui/QPainter", "QtWidgets/QWidget", "QtWidgets/QApplication"]
    failures = 0
    for name, files, allow_text, expected, *window in cases:
        with tempfile.TemporaryDirectory() as root:
            qt_headers = os.path.join(root, "qt")
            for path in qt_files:
                os.makedirs(os.path.join(qt_headers, os.path.dirname(path)), exist_ok=True)
                open(os.path.join(qt_headers, path), "w", encoding="utf-8").close()
            for path, text in files.items():
                os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
                with open(os.path.join(root, path), "w", encoding="utf-8") as out:
                    out.write(text)
            allow_list = None
            if allow_text is not None:
                allow_list = os.path.join(root, "allow.txt")
                with open(allow_list, "w", encoding="utf-8") as out:
                    out.write(allow_text)
            found = check(root, read_allow_list(allow_list), qt_headers,
                          window[0] if window else ())
        if found != expected:
            failures += 1
            print(f"FAIL {name}: expected {expected}, found {found}")
        else:
            print(f"PASS {name}")
    return 1 if failures else 0


if __name__ == "__main__":
    if sys.argv[1:] == ["--self-test"]:
        sys.exit(self_test())
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("source_dir")
    parser.add_argument("allow_list", nargs="?")
    parser.add_argument("--qt-headers")
    parser.add_argument("--window-files", nargs="*", default=[])
    arguments = parser.parse_args()
    sys.exit(run(arguments.source_dir, arguments.allow_list, arguments.qt_headers,
                 arguments.window_files))
