#include "files/program_replacement_check.h"

#include <cstdint>
#include <cstdio>
#include <optional>

#include "common/activity_log.h"
#include "common/log_line.h"
#include "common/text.h"
#include "files/authenticode_check.h"
#include "files/pe_image_check.h"

namespace brivon {
namespace {

std::string Hex(uint16_t machine) {
  char text[8];
  std::snprintf(text, sizeof(text), "%04X", machine);
  return text;
}

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
  // Only a Windows program for the installed one's processor: a web filter's page served with
  // status 200, a truncated download or a DLL never takes the program's name.
  const ImageFacts freshImage = ReadImage(candidate);
  const std::optional<uint16_t>& freshMachine = freshImage.machine;
  const std::optional<uint16_t> oldMachine = ReadExecutableImageMachine(installed);
  if (!MayReplaceProgram(freshMachine, oldMachine)) {
    LogLine line("EJECUTABLE_RECHAZADO");
    line.Field(shownAs);
    log(freshMachine ? line.Field("OTRA_ARQUITECTURA")
                           .Field("maquina=" + Hex(*freshMachine))
                           .Field("esperada=" + Hex(*oldMachine))
                     : line.Field("NO_ES_PROGRAMA_WINDOWS"));
    return false;
  }
  // Whole: an image cut short at its source keeps its headers, and its signature goes unread when
  // the installed program has none to compare with.
  if (!freshImage.layout || !ImageIsWhole(*freshImage.layout, freshImage.fileSize)) {
    log(LogLine("EJECUTABLE_RECHAZADO")
            .Field(shownAs)
            .Field("IMAGEN_INCOMPLETA")
            .Named("tamano", freshImage.fileSize)
            .Named("necesario", ImageBytesNeeded(freshImage)));
    return false;
  }
  const SignatureFacts old = ReadSignature(installed);
  const SignatureFacts fresh = ReadSignature(candidate);
  const std::string signer = "firmante=" + NarrowLow8(fresh.subject);
  switch (JudgePublisher(old, fresh)) {
    case PublisherVerdict::SamePublisher:
      log(LogLine("EJECUTABLE_VERIFICADO").Field(shownAs).Field(signer));
      return true;
    case PublisherVerdict::Unverified:
      log(LogLine("EJECUTABLE_NO_VERIFICADO").Field(shownAs).Field(signer));
      return true;
    case PublisherVerdict::Refused:
      break;
  }
  log(LogLine("EJECUTABLE_RECHAZADO")
          .Field(shownAs)
          .Field(RefusalReason(old, fresh))
          .Field(signer)
          .Field("esperado=" + NarrowLow8(old.subject))
          .Field("emisor_esperado=" + NarrowLow8(old.issuer)));
  return false;
}

}  // namespace brivon
