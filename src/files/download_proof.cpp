#include "files/download_proof.h"

#include "files/authenticode_check.h"
#include "files/zip_directory.h"

namespace brivon {

DownloadEnd JudgeDownloadEnd(DownloadedKind kind, const DownloadEndFacts& facts) {
  if (facts.hasLength) return DownloadEnd::Proven;
  switch (kind) {
    case DownloadedKind::ArchiveTool:
      return facts.pinMatched ? DownloadEnd::Proven : DownloadEnd::NoLength;
    case DownloadedKind::ZipPackage:
      return facts.zipEndAgrees ? DownloadEnd::Proven : DownloadEnd::ZipEndMissing;
    case DownloadedKind::FilePackage:
      return facts.signatureValid ? DownloadEnd::Proven : DownloadEnd::NoLength;
  }
  return DownloadEnd::NoLength;
}

DownloadEnd JudgePackageEnd(bool zip, bool hasLength, const std::wstring& path) {
  DownloadEndFacts facts;
  facts.hasLength = hasLength;
  if (!hasLength) {
    if (zip) {
      facts.zipEndAgrees = ZipEndAgreesWithSize(path);
    } else {
      // The digest covers every byte but the certificate table, which lies at the file's end: a
      // file cut anywhere has no signature that holds.
      facts.signatureValid = ReadSignature(path).state == SignatureState::Valid;
    }
  }
  return JudgeDownloadEnd(zip ? DownloadedKind::ZipPackage : DownloadedKind::FilePackage, facts);
}

}  // namespace brivon
