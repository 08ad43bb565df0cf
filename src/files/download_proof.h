// Whether a downloaded file is known to have arrived whole. A server that sends no Content-Length
// ends the body by closing the connection, and a connection closed cleanly mid-file looks the
// same: without a length only the file itself can prove where it ends.
#pragma once

#include <cstdint>
#include <string>

namespace brivon {

enum class DownloadedKind {
  ArchiveTool,  // 7za.exe
  ZipPackage,   // a package that is unpacked
  FilePackage,  // any other package: a program, a library, a data file
};

// What is known of a downloaded file's end.
struct DownloadEndFacts {
  bool hasLength = false;       // a Content-Length came, and was reached (a shorter body already failed)
  bool zipEndAgrees = false;    // its ZIP end records and directory meet the file's size (ZipEndAgreesWithSize)
  bool signatureValid = false;  // an Authenticode signature that holds over the whole file
  bool pinMatched = false;      // a pin is set for it, and the file is the pinned one
};

enum class DownloadEnd {
  Proven,
  ZipEndMissing,  // a ZIP without a length whose end does not meet the file's size: cut, or no ZIP
  NoLength,       // no length, and nothing of the file proves its end
};

// A length reached proves any file. Without one: a ZIP package by its end records, any other
// package by a signature over the whole of it, the archive tool by its pin. A signed tool proves
// nothing: only the pin says which tool it is.
DownloadEnd JudgeDownloadEnd(DownloadedKind kind, const DownloadEndFacts& facts);

// JudgeDownloadEnd for the package at path, its facts read only when no length came (a signature
// read of a large program takes a moment).
DownloadEnd JudgePackageEnd(bool zip, bool hasLength, const std::wstring& path);

}  // namespace brivon
