#include "checkin/checkin.h"

#include <windows.h>

#include <string>

#include "checkin/checkin_exchange.h"
#include "checkin/product_detection.h"
#include "common/activity_log.h"
#include "common/log_line.h"
#include "common/program_folder.h"
#include "common/text.h"
#include "files/folder_tree.h"
#include "files/text_file.h"

namespace brivon {

namespace {

// The check-in's own line: a cut answer says so in place of the usual line, since what
// recibido.txt holds then is the program's error text, not the service's reply.
std::string CheckinLogText(const ReplyCut& cut) {
  switch (cut.kind) {
    case ReplyCutKind::ShortOfLength:
      return "RESPUESTA_INCOMPLETA;motivo=CORTADA;recibidos=" + std::to_string(cut.received) +
             ";anunciados=" + std::to_string(cut.announced);
    case ReplyCutKind::ReadFailed:
      return LogLine("RESPUESTA_INCOMPLETA")
          .Field("motivo=ERROR_LECTURA")
          .Named("recibidos", cut.received)
          .Err(cut.error);
    case ReplyCutKind::BadLength:
      return "RESPUESTA_INCOMPLETA;motivo=LONGITUD_NO_VALIDA";
    case ReplyCutKind::None:
      break;
  }
  return kCheckinLogText;
}

CheckinResult CheckIn(const ReplyRead& replyRead) {
  std::wstring programFolder = GetProgramFolder();
  std::wstring logFolder = LogFolder(programFolder);
  EnsureDirectoryTree(logFolder);

  std::optional<Product> product = FindInstalledProduct(programFolder);
  if (!product) {
    // Nothing to report: the files of an earlier check-in stay as they are.
    ::MessageBoxW(nullptr, kNoProductText, kNoProductTitle, MB_OK | MB_ICONWARNING);
    return CheckinResult::NoProduct;
  }

  std::string report;
  ComposeCheckinReport(programFolder, *product, report);
  // Each file stands alone: one that cannot be written does not keep the others from being written.
  // The report's own file is written while the report is on its way.
  ReplyCut cut;
  std::string reply =
      PostCheckinReport(report, &cut, [&] { WriteTextFile(logFolder + L"\\" + kReportFileName, report); });
  // What the reply asks for starts while it is being stored; it shows only once stored.
  if (replyRead) replyRead(reply);
  WriteTextFile(logFolder + L"\\" + kReplyTextFileName, reply);
  // A document that could not be replaced (a folder the user may not write, a full disk) is an
  // earlier start's, or half of this one's: shown again, an old update alert would run again.
  const std::wstring document = logFolder + L"\\" + kAlertDocumentFileName;
  unsigned long error = 0;
  const bool stored = WriteTextFile(document, reply, &error);
  if (!stored) {
    AppendCheckinLog(programFolder, LogLine("ERROR_GUARDAR_RESPUESTA").Field(document).Err(error));
  }
  AppendCheckinLog(programFolder, CheckinLogText(cut));
  return stored ? CheckinResult::DocumentStored : CheckinResult::DocumentNotStored;
}

}  // namespace

CheckinResult RunCheckin(const ReplyRead& replyRead) {
  try {
    return CheckIn(replyRead);
  } catch (...) {
    // Out of memory at most: the start-up goes on without a check-in, and shows no document.
    return CheckinResult::DocumentNotStored;
  }
}

}  // namespace brivon
