// The floor of the paint bench's whole road: a program of the same build that does only what
// brivon.exe cannot skip before its first window is whole, through the program's own calls. It
// posts the same check-in report to the built-in service, reads the reply as the program does and
// fetches what the first window shows: the document's entry pictures side by side and, meanwhile,
// the window's own download (the terms document or the update picture). Then it exits.
// With BRIVON_FLOOR_WINDOW set, it is the floor of any windowed program here: beside the fetches
// it makes a blank full-screen window as the alert's, shows it once everything arrived and fills
// it with the bench's block colour; it ends a moment after that paint.
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

constexpr wchar_t kWindowClass[] = L"AlertaWindowClass";  // the class the bench looks for
constexpr COLORREF kBlock = RGB(0x10, 0xE0, 0x70);           // the bench's block colour
constexpr UINT_PTR kEndTimer = 1;

LRESULT CALLBACK BlankWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint{};
      HDC dc = ::BeginPaint(window, &paint);
      HBRUSH brush = ::CreateSolidBrush(kBlock);
      ::FillRect(dc, &paint.rcPaint, brush);
      ::DeleteObject(brush);
      ::EndPaint(window, &paint);
      ::SetTimer(window, kEndTimer, 300, nullptr);  // long enough for the bench to see it
      return 0;
    }
    case WM_TIMER:
      ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

HWND CreateBlankWindow(HINSTANCE instance) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = BlankWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kWindowClass;
  ::RegisterClassExW(&windowClass);
  return ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kWindowClass, L"Floor", WS_POPUP, 0, 0,
                           ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                           instance, nullptr);
}

void ShowUntilPainted(HWND window) {
  ::SetForegroundWindow(window);
  ::ShowWindow(window, SW_SHOWNORMAL);
  ::UpdateWindow(window);
  MSG message{};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
}

int Floor(HINSTANCE instance, bool withWindow) {
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

  // Made while the fetches are on their way, as the program makes its first window.
  HWND window = withWindow ? CreateBlankWindow(instance) : nullptr;
  if (withWindow && !window) return kFailed;
  bool arrived = true;
  const wchar_t* userAgent = nullptr;
  const std::string own = WindowDownload(document.alertas.front(), &userAgent);
  if (!own.empty()) arrived = brivon::FetchBody(own, userAgent).ok;
  for (size_t i = 0; i < pictureCount; ++i) {
    if (pictures->Take(i).empty()) arrived = false;
  }
  if (!arrived) return kNotArrived;
  if (window) ShowUntilPainted(window);
  return kAllArrived;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  try {
    return Floor(instance, ::GetEnvironmentVariableW(L"BRIVON_FLOOR_WINDOW", nullptr, 0) > 0);
  } catch (...) {
    return kFailed;
  }
}
