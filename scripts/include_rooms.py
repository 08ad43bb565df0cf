#!/usr/bin/env python3
"""Lists the includes between the rooms of src/ and fails when one runs the wrong way.

Each folder of src/ is a room (alerts/model and alerts/window are two). A room may include only
the rooms below it, as listed in BELOW; a file may never reach itself through its includes.
Prints each edge between two rooms with the number of includes behind it.

Usage: include_rooms.py SOURCE_ROOT
"""
import collections
import pathlib
import re
import sys

# Each room and the rooms it may include, from the bottom up.
BELOW = {
    "common": [],
    "files": ["common"],
    "network": ["common"],
    "sevenzip": ["files", "network", "common"],
    "update": ["sevenzip", "files", "network", "common"],
    "housekeeping": ["update", "sevenzip", "files", "common"],
    "checkin": ["files", "network", "common"],
    "alerts/model": ["common"],
    "alerts/window": ["alerts/model", "update", "sevenzip", "files", "network", "common"],
    "entry": ["alerts/window", "checkin", "housekeeping", "update", "sevenzip", "files", "network", "common"],
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def room_of(relative):
    parts = relative.split("/")
    if parts[0] == "alerts" and len(parts) > 2:
        return "alerts/" + parts[1]
    return parts[0] if len(parts) > 1 else None


def main():
    src = pathlib.Path(sys.argv[1]) / "src"
    sources = {p.relative_to(src).as_posix(): p for p in src.rglob("*") if p.suffix in (".h", ".cpp") and p.is_file()}
    includes = {}
    for name, path in sources.items():
        includes[name] = [i for i in INCLUDE.findall(path.read_text(encoding="latin-1")) if i in sources]

    failures = []
    edges = collections.Counter()
    for name, targets in sorted(includes.items()):
        room = room_of(name)
        if room not in BELOW:
            failures.append(f"{name}: in no known room")
            continue
        for target in targets:
            other = room_of(target)
            if other == room:
                continue
            edges[(room, other)] += 1
            if other not in BELOW[room]:
                failures.append(f"{name} includes {target}: {room} may not include {other}")

    # A file that reaches itself through its includes.
    state = {}

    def visit(name, trail):
        state[name] = "open"
        for target in includes[name]:
            if state.get(target) == "open":
                failures.append("circle: " + " -> ".join(trail[trail.index(target):] + [target]))
            elif target not in state:
                visit(target, trail + [target])
        state[name] = "done"

    for name in sorted(includes):
        if name not in state:
            visit(name, [name])

    for (room, other), count in sorted(edges.items()):
        print(f"{room} -> {other}: {count}")
    for failure in failures:
        print("WRONG WAY: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
