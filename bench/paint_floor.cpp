// The floor of the paint bench's whole road: a program of the same build that does only what
// brivon.exe cannot skip before its first window is whole, through the program's own calls. It
// posts the same check-in report to the built-in service, reads the reply as the program does and
// fetches what the first window shows: the document's entry pictures side by side and, meanwhile,
// the window's own download (the terms document or the update picture). Then it exits.
// Exit code: 0 when everything arrived, else one of the codes below.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "alerts/model/alert_model.h"
#include "alerts/model/alert_parser.h"
#include "alerts/window/document_pictures.h"
#include "alerts/window/remote_resources.h"
#include "build_config.h"
#include "checkin/checkin_exchange.h"
#include "checkin/product_detection.h"
#include "common/program_folder.h"
#include "common/test_hooks.h"
#include "common/text.h"

namespace {

enum FloorExit : int {
  kAllArrived = 0,
  kNoProduct = 1,    // no sibling program in the folder: nothing to report
  kNoDocument = 2,   // the reply is no document with an alert
  kNotArrived = 3,   // a picture or the window's own download did not arrive
  kFailed = 4,       // anything else (out of memory)
};

// What the first window fetches for itself once it shows, or "" for none.
std::string WindowDownload(const brivon::Alert& alert, const wchar_t** userAgent) {
  if (alert.contenido.empty()) return {};
  switch (brivon::AlertKindOf(alert)) {
    case brivon::AlertKind::DocumentoRtf:
      *userAgent = brivon::kTextUserAgent;
      return alert.contenido.front().enlace;
    case brivon::AlertKind::UrlActualizar:
      *userAgent = brivon::kImageUserAgent;
      return brivon::WideToUtf8(brivon::TestBuiltInAddress(BRIVON_UPDATE_PICTURE_URL));
    default:
      return {};
  }
}

int Floor() {
  const std::wstring folder = brivon::GetProgramFolder();
  const std::optional<brivon::Product> product = brivon::FindInstalledProduct(folder);
  std::string report;
  if (!product || !brivon::ComposeCheckinReport(folder, *product, report)) return kNoProduct;
  const std::string reply = brivon::PostCheckinReport(report);
  brivon::AlertDocument document;
  if (!brivon::ParseAlertText(reply, document, {}).parsed || document.alertas.empty()) return kNoDocument;

  // Every entry picture of the document, as the program takes them before its first window.
  std::vector<std::string> addresses;
  for (const brivon::Alert& alert : document.alertas) {
    for (const brivon::AlertItem& item : alert.contenido) {
      if (!item.imagen.empty()) addresses.push_back(item.imagen);
    }
  }
  const size_t pictureCount = addresses.size();
  std::optional<brivon::PictureDownloads> pictures;
  if (pictureCount > 0) pictures.emplace(std::move(addresses), brivon::RemoteTransferDeadlineMs());

  bool arrived = true;
  const wchar_t* userAgent = nullptr;
  const std::string own = WindowDownload(document.alertas.front(), &userAgent);
  if (!own.empty()) arrived = brivon::FetchBody(own, userAgent).ok;
  for (size_t i = 0; i < pictureCount; ++i) {
    if (pictures->Take(i).empty()) arrived = false;
  }
  return arrived ? kAllArrived : kNotArrived;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  try {
    return Floor();
  } catch (...) {
    return kFailed;
  }
}
