"""Checks brivon.exe's make-up: PE32 for i386, GUI subsystem, only system DLLs imported (at start
only Windows' known ones), the asInvoker manifest, the file version 1.25.1112.0, the hardening
flags set by the build itself (ASLR, DEP, large-address-aware, terminal-server aware), no symbols
or debug sections, no build time, and no 32-bit C runtime clock (read by pefile, independently
of Windows)."""
import sys

import pefile

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "gdiplus.dll", "advapi32.dll", "shell32.dll",
               "ole32.dll", "oleaut32.dll", "wininet.dll", "msvcrt.dll", "comctl32.dll", "shlwapi.dll",
               "version.dll", "ws2_32.dll", "comdlg32.dll", "uxtheme.dll", "bcrypt.dll",
               "wintrust.dll", "crypt32.dll"}

pe = pefile.PE(sys.argv[1])
failures = []
if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
    failures.append("machine is not i386")
if pe.OPTIONAL_HEADER.Magic != 0x10B:
    failures.append("not PE32")
if pe.OPTIONAL_HEADER.Subsystem != pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]:
    failures.append("not a GUI program")
imports = {entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT}
if not imports <= SYSTEM_DLLS:
    failures.append("imports beyond the system: %s" % sorted(imports - SYSTEM_DLLS))
# Linked at start, anything but Windows' known libraries is looked for in the program folder first,
# before the program can keep its loads to the system folder: the rest loads at its first call.
KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll"}
if not imports <= KNOWN_DLLS:
    failures.append("linked at start beyond Windows' known libraries: %s" % sorted(imports - KNOWN_DLLS))

# Set by the build, not left to the linker's defaults: an older binutils drops some silently.
characteristics = pe.OPTIONAL_HEADER.DllCharacteristics
for flag, what in ((0x0040, "DYNAMIC_BASE (ASLR)"), (0x0100, "NX_COMPAT (DEP)"),
                   (0x8000, "TERMINAL_SERVER_AWARE")):
    if not characteristics & flag:
        failures.append("not %s" % what)
if not pe.FILE_HEADER.Characteristics & 0x0020:  # 4 GiB instead of 2 GiB on 64-bit Windows
    failures.append("not LARGE_ADDRESS_AWARE")
if not hasattr(pe, "DIRECTORY_ENTRY_BASERELOC"):
    failures.append("no relocations for ASLR to move it by")
# Stripped: no COFF symbols, and none of the sections a debug build leaves (long names such as
# .debug_info are stored as "/<offset>").
names = [section.Name.rstrip(b"\0").decode(errors="replace") for section in pe.sections]
leftovers = [name for name in names if name.startswith(".debug") or name.startswith("/")]
if pe.FILE_HEADER.NumberOfSymbols or leftovers:
    failures.append("not stripped: %d symbols, sections %s" % (pe.FILE_HEADER.NumberOfSymbols, leftovers))
# Reproducible: no build time in the header (a rebuild of the same commit gives the same bytes).
if pe.FILE_HEADER.TimeDateStamp != 0:
    failures.append("build time in the header: %#x" % pe.FILE_HEADER.TimeDateStamp)
# The C runtime's time and localtime are the 32-bit ones in msvcrt.dll on i386: they stop in 2038.
clock = sorted(imported.name.decode() for entry in pe.DIRECTORY_ENTRY_IMPORT
               if entry.dll.decode().lower() == "msvcrt.dll" for imported in entry.imports
               if imported.name and imported.name.decode() in ("time", "_time32", "localtime", "_localtime32",
                                                              "mktime", "_mktime32", "gmtime", "_gmtime32"))
if clock:
    failures.append("32-bit C runtime clock imported: %s" % clock)

manifest = b""
for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
    if kind.id == 24:  # RT_MANIFEST
        for name in kind.directory.entries:
            for lang in name.directory.entries:
                data = lang.data.struct
                manifest = pe.get_data(data.OffsetToData, data.Size)
if b'level="asInvoker"' not in manifest:
    failures.append("no asInvoker manifest")

fixed = pe.VS_FIXEDFILEINFO[0]
version = "%d.%d.%d.%d" % (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                           fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)
if version != "1.25.1112.0":
    failures.append("file version is %s" % version)

print("imports:", ", ".join(sorted(imports)))
print("file version:", version)
for failure in failures:
    print("FAIL:", failure)
checks = 13
print("%d passed, %d failed" % (checks - len(failures), len(failures)))
sys.exit(1 if failures else 0)
