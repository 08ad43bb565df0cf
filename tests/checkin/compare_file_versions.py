#!/usr/bin/python3
"""ReadFileVersion under Wine against pefile on the Linux side.

Every .exe and .dll directly in the prefix's system32 folder, plus the extra files, is read twice:
by pefile (the fixed file version of the version resource, "No disponible" without one; Wine's
16-bit NE modules by a few lines of our own) and by
brivon_print_file_versions.exe, which prints ReadFileVersion's text for each path it is given.
Any difference fails, and so does a run in which too few files carried a version at all.
"""
import argparse
import glob
import os
import struct
import subprocess
import sys
import time

import pefile

UNAVAILABLE = "No disponible"
MIN_VERSIONED = 20
# CreateProcess takes at most 32,767 characters; stay well below with the tool's own path.
MAX_COMMAND_CHARS = 24000
SUFFIXES = (".exe", ".dll")
RT_VERSION = 16


def windows_path(unix_path):
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def format_version(ms, ls):
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def ne_version(data):
    """The fixed file version of a 16-bit NE module, which pefile does not read."""
    header = struct.unpack_from("<I", data, 0x3C)[0]
    table = header + struct.unpack_from("<H", data, header + 0x24)[0]
    shift = struct.unpack_from("<H", data, table)[0]
    at = table + 2
    while True:
        type_id, count = struct.unpack_from("<HH", data, at)
        if type_id == 0:
            return UNAVAILABLE
        at += 8
        if type_id == 0x8000 | RT_VERSION and count:
            offset, length = struct.unpack_from("<HH", data, at)
            block = data[offset << shift:(offset << shift) + (length << shift)]
            # WORD length, WORD value length, "VS_VERSION_INFO\0" padded to 4 bytes, the fixed part.
            value_length = struct.unpack_from("<H", block, 2)[0]
            if value_length == 0 or not block[4:].startswith(b"VS_VERSION_INFO\0"):
                return UNAVAILABLE
            ms, ls = struct.unpack_from("<II", block, 20 + 8)
            return format_version(ms, ls)
        at += 12 * count


def pefile_version(path):
    with open(path, "rb") as f:
        data = f.read()
    try:
        if data[:2] == b"MZ" and data[struct.unpack_from("<I", data, 0x3C)[0]:][:2] == b"NE":
            return ne_version(data)
    except struct.error:
        return UNAVAILABLE
    try:
        pe = pefile.PE(data=data, fast_load=True)
    except pefile.PEFormatError:
        return UNAVAILABLE
    try:
        pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
        infos = getattr(pe, "VS_VERSIONINFO", [])
        fixed = getattr(pe, "VS_FIXEDFILEINFO", [])
        # A block that announces no fixed part gives the version API nothing to answer.
        if not infos or not fixed or infos[0].ValueLength == 0:
            return UNAVAILABLE
        return format_version(fixed[0].FileVersionMS, fixed[0].FileVersionLS)
    finally:
        pe.close()


def system32_files(prefix):
    # Only this one folder: the prefix also holds dosdevices/z:, a link to the whole file system.
    folder = os.path.join(prefix, "drive_c", "windows", "system32")
    with os.scandir(folder) as entries:
        return sorted(e.path for e in entries
                      if e.name.lower().endswith(SUFFIXES) and e.is_file(follow_symlinks=False))


def batches(paths, tool):
    batch, length = [], len(tool) + 3
    for path in paths:
        argument = len(windows_path(path)) + 3  # quotes and a space
        if batch and length + argument > MAX_COMMAND_CHARS:
            yield batch
            batch, length = [], len(tool) + 3
        batch.append(path)
        length += argument
    if batch:
        yield batch


def tool_versions(wine_run, tool, paths):
    result = subprocess.run([wine_run, tool] + [windows_path(p) for p in paths],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                            timeout=300, check=False)
    lines = result.stdout.decode("latin-1").replace("\r\n", "\n").split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    if result.returncode != 0 or len(lines) != len(paths):
        raise RuntimeError("the tool answered %d lines for %d paths (exit code %d)"
                           % (len(lines), len(paths), result.returncode))
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--extra", action="append", default=[])
    parser.add_argument("--extra-glob", action="append", default=[])
    args = parser.parse_args()

    started = time.monotonic()
    # The first Wine start may create the prefix; the walk comes after it.
    subprocess.run([args.wine_run, "cmd", "/c", "exit"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   stdin=subprocess.DEVNULL, timeout=300, check=False)

    extras = list(args.extra)
    for pattern in args.extra_glob:
        matched = sorted(glob.glob(pattern))
        if not matched:
            print("FAIL: no file matches %s" % pattern)
            return 1
        extras += matched
    for path in extras:
        if not os.path.isfile(path):
            print("FAIL: missing extra file %s" % path)
            return 1
    paths = system32_files(args.prefix) + extras

    tool = windows_path(args.tool)
    mismatches, versioned = 0, 0
    for batch in batches(paths, tool):
        for path, got in zip(batch, tool_versions(args.wine_run, args.tool, batch)):
            expected = pefile_version(path)
            if expected != UNAVAILABLE:
                versioned += 1
            if got != expected:
                mismatches += 1
                print("MISMATCH %s: ReadFileVersion %r, pefile %r" % (path, got, expected))

    print("%d files compared, %d with a version, %d extra, %d mismatches, %.1f s"
          % (len(paths), versioned, len(extras), mismatches, time.monotonic() - started))
    if versioned < MIN_VERSIONED:
        print("FAIL: only %d files carried a version (at least %d expected)" % (versioned, MIN_VERSIONED))
        return 1
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main())
