#include "update/new_program_check.h"

#include "common/activity_log.h"
#include "common/text.h"
#include "update/signature_check.h"

namespace brivon {
namespace {

std::string N(const std::wstring& path) { return NarrowLow8(path); }

// An installed program without a valid signature has no publisher to compare with: the update
// goes on as ever and the log says the new executable was not verified.
std::string RefusalReason(const SignatureFacts& installed, const SignatureFacts& fresh) {
  switch (fresh.state) {
    case SignatureState::Unsigned:
      return "SIN_FIRMA";
    case SignatureState::Invalid:
      return "FIRMA_NO_VALIDA;estado=" + std::to_string(static_cast<unsigned long>(fresh.status));
    case SignatureState::Valid:
      break;
  }
  return fresh.subject != installed.subject ? "OTRO_FIRMANTE" : "OTRO_EMISOR";
}

}  // namespace

bool NewProgramAllowed(const std::wstring& programFolder, const std::wstring& installed,
                       const std::wstring& candidate, const std::wstring& shownAs) {
  auto log = [&](const std::string& text) { AppendActivityLog(programFolder, kDownloadsLog, text); };
  const SignatureFacts old = ReadSignature(installed);
  const SignatureFacts fresh = ReadSignature(candidate);
  const std::string signer = ";firmante=" + N(fresh.subject);
  switch (JudgePublisher(old, fresh)) {
    case PublisherVerdict::SamePublisher:
      log("EJECUTABLE_VERIFICADO;" + N(shownAs) + signer);
      return true;
    case PublisherVerdict::Unverified:
      log("EJECUTABLE_NO_VERIFICADO;" + N(shownAs) + signer);
      return true;
    case PublisherVerdict::Refused:
      break;
  }
  log("EJECUTABLE_RECHAZADO;" + N(shownAs) + ";" + RefusalReason(old, fresh) + signer + ";esperado=" + N(old.subject) +
      ";emisor_esperado=" + N(old.issuer));
  return false;
}

}  // namespace brivon
