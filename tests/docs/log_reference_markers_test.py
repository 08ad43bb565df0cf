#!/usr/bin/env python3
"""Fails when a log marker the program writes is missing from docs/log-reference.md, the support
staff's reference of every log line.

How markers are found, kept simple on purpose: in every source file under src/ that includes
"common/activity_log.h" (the files that write log lines), each string literal is read, and every
run of upper-case letters, digits and underscores in it that holds an underscore ("UNZIP_7ZA",
"LIMPIEZA_OK") or stands right before a ";" ("DESCARGA;") is a marker, and so is the word a line
built with LogLine starts with (LogLine("DESCARGA")). Names handed to
TestKillPoint (the test build's kill points) are no log text and are left out. A marker counts as
documented when docs/log-reference.md holds it as a whole word.

Usage: log_reference_markers_test.py SOURCE_ROOT
"""
import pathlib
import re
import sys

LITERAL = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
WORD = re.compile(r"[A-Z][A-Z0-9_]*[A-Z0-9]")
KILL_POINT = re.compile(r'TestKillPoint\(\s*"[^"]*"\s*\)')
LOG_LINE = re.compile(r'LogLine\(\s*"([A-Z][A-Z0-9_]*)"\s*\)')
REFERENCE = "docs/log-reference.md"


def markers_in(text):
    found = set(LOG_LINE.findall(text))
    for literal in LITERAL.findall(KILL_POINT.sub("", text)):
        for word in WORD.finditer(literal):
            after = literal[word.end():word.end() + 1]
            if "_" in word.group() or after == ";":
                # A word that runs on in lower case ("ERROR_GUARDARx") is no marker.
                before = literal[word.start() - 1:word.start()] if word.start() else ""
                if not (before.isalnum() or after.isalnum()):
                    found.add(word.group())
    return found


def main():
    root = pathlib.Path(sys.argv[1])
    markers = {}
    for source in sorted((root / "src").rglob("*")):
        if source.suffix not in (".cpp", ".h") or not source.is_file():
            continue
        text = source.read_text(encoding="latin-1")
        if '#include "common/activity_log.h"' not in text:
            continue
        for marker in markers_in(text):
            markers.setdefault(marker, source.relative_to(root))
    reference = (root / REFERENCE).read_text(encoding="utf-8")
    missing = sorted(m for m in markers if not re.search(r"(?<![A-Za-z0-9_])" + m + r"(?![A-Za-z0-9_])", reference))
    print(f"{len(markers)} markers in the sources, {len(markers) - len(missing)} in {REFERENCE}")
    for marker in missing:
        print(f"missing from {REFERENCE}: {marker} (written in {markers[marker]})")
    if not markers:
        print("no markers found: the way of finding them no longer fits the sources")
        return 1
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
