#!/usr/bin/env python3
"""Checks that the names code uses for the string table's texts and the table agree.

Every enumerator of MessageId (resources/messageid.h) but None must carry an id the table
(resources/strings.txt) holds, each id once, and every id of the table must have a name: a name
without a text shows the user an empty message, a text without a name cannot be shown at all.
Usage: check-message-ids.py SOURCE_DIR
"""
import collections
import re
import sys


def main(source):
    table = open(f"{source}/resources/strings.txt", encoding="utf-8").read()
    header = open(f"{source}/resources/messageid.h", encoding="utf-8").read()
    table_ids = collections.Counter(int(i) for i in re.findall(r"^(\d+)\t", table, re.M))
    names = re.findall(r"^\s+(\w+)\s*=\s*(\d+)\s*,", header, re.M)
    named = collections.Counter(int(v) for n, v in names if n != "None")
    problems = []
    problems += [f"strings.txt: id {i} appears {c} times" for i, c in table_ids.items() if c > 1]
    problems += [f"messageid.h: {c} names for id {i}" for i, c in named.items() if c > 1]
    problems += [f"messageid.h: {n} = {v} has no text in strings.txt"
                 for n, v in names if n != "None" and int(v) not in table_ids]
    problems += [f"strings.txt: id {i} has no name in messageid.h"
                 for i in sorted(table_ids) if i not in named]
    if not names:
        problems.append("messageid.h: no enumerators found")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
