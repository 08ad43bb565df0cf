#include "alerts/window/own_download.h"

#include <utility>

#include "alerts/window/alert_run.h"
#include "alerts/window/remote_resources.h"
#include "build_config.h"
#include "common/test_hooks.h"
#include "common/text.h"

namespace brivon {

std::optional<OwnDownload> OwnDownloadOf(const Alert& alert) {
  if (alert.contenido.empty()) return std::nullopt;
  switch (AlertKindOf(alert)) {
    case AlertKind::DocumentoRtf:
      if (alert.contenido.front().enlace.empty()) return std::nullopt;
      return OwnDownload{alert.contenido.front().enlace, kTextUserAgent};
    case AlertKind::UrlActualizar:
      return OwnDownload{WideToUtf8(TestBuiltInAddress(BRIVON_UPDATE_PICTURE_URL)), kImageUserAgent};
    default:
      return std::nullopt;
  }
}

std::shared_ptr<FetchCell> StartOwnDownloadAhead(const Alert& alert, FetchWorkers* keeper) {
  const std::optional<OwnDownload> download = OwnDownloadOf(alert);
  if (!download) return nullptr;
  auto cell = std::make_shared<FetchCell>();
  if (!StartWindowFetch(nullptr, download->address, download->userAgent, cell, keeper)) return nullptr;
  return cell;
}

std::shared_ptr<FetchCell> OwnDownloadFor(HWND window, AlertWindowState& state) {
  if (state.ownDownload) {
    std::shared_ptr<FetchCell> ahead = std::move(state.ownDownload);
    ahead->WakeWhenArrived(window);
    return ahead;
  }
  if (!state.alert) return nullptr;
  const std::optional<OwnDownload> download = OwnDownloadOf(*state.alert);
  if (!download) return nullptr;
  auto cell = std::make_shared<FetchCell>();
  if (!StartWindowFetch(window, download->address, download->userAgent, cell, KeeperOf(state))) return nullptr;
  return cell;
}

}  // namespace brivon
