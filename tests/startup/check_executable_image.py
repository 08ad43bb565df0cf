"""Checks brivon.exe's make-up: PE32 for i386, GUI subsystem, only system DLLs imported,
the asInvoker manifest and the file version 1.25.1112.0 (read by pefile, independently of Windows)."""
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
print("%d passed, %d failed" % (5 - len(failures), len(failures)))
sys.exit(1 if failures else 0)
