#include "checkin/checkin.h"

#include <windows.h>

#include "checkin/checkin_exchange.h"
#include "checkin/product_detection.h"
#include "common/activity_log.h"
#include "common/program_folder.h"

namespace brivon {

namespace {

void CheckIn() {
  std::wstring programFolder = GetProgramFolder();
  std::wstring logFolder = LogFolder(programFolder);
  EnsureDirectoryTree(logFolder);

  std::optional<Product> product = FindInstalledProduct(programFolder);
  if (!product) {
    // Nothing to report: the files of an earlier check-in stay as they are.
    ::MessageBoxW(nullptr, kNoProductText, kNoProductTitle, MB_OK | MB_ICONWARNING);
    return;
  }

  std::string report;
  ComposeCheckinReport(programFolder, *product, report);
  // Each file stands alone: one that cannot be written does not keep the others from being written.
  WriteTextFile(logFolder + L"\\" + kReportFileName, report);
  std::string reply = PostCheckinReport(report);
  WriteTextFile(logFolder + L"\\" + kReplyTextFileName, reply);
  WriteTextFile(logFolder + L"\\" + kAlertDocumentFileName, reply);
  AppendCheckinLog(programFolder, kCheckinLogText);
}

}  // namespace

int RunCheckin() {
  try {
    CheckIn();
  } catch (...) {
    // Out of memory at most: the start-up goes on without a check-in.
  }
  return 0;
}

}  // namespace brivon
