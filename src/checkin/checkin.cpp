#include "checkin/checkin.h"

#include <windows.h>

#include "checkin/checkin_exchange.h"
#include "checkin/product_detection.h"
#include "common/activity_log.h"
#include "common/program_folder.h"
#include "common/text.h"

namespace brivon {

namespace {

CheckinResult CheckIn() {
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
  WriteTextFile(logFolder + L"\\" + kReportFileName, report);
  std::string reply = PostCheckinReport(report);
  WriteTextFile(logFolder + L"\\" + kReplyTextFileName, reply);
  // A document that could not be replaced (a folder the user may not write, a full disk) is an
  // earlier start's, or half of this one's: shown again, an old update alert would run again.
  const std::wstring document = logFolder + L"\\" + kAlertDocumentFileName;
  unsigned long error = 0;
  const bool stored = WriteTextFile(document, reply, &error);
  if (!stored) {
    AppendCheckinLog(programFolder, "ERROR_GUARDAR_RESPUESTA;" + NarrowLow8(document) + ";err=" + std::to_string(error));
  }
  AppendCheckinLog(programFolder, kCheckinLogText);
  return stored ? CheckinResult::DocumentStored : CheckinResult::DocumentNotStored;
}

}  // namespace

CheckinResult RunCheckin() {
  try {
    return CheckIn();
  } catch (...) {
    // Out of memory at most: the start-up goes on without a check-in, and shows no document.
    return CheckinResult::DocumentNotStored;
  }
}

}  // namespace brivon
