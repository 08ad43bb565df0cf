#include "alerts/window/alert_announcement.h"

#include <oleacc.h>

#include "common/system_library.h"
#include "common/text.h"

namespace brivon {
namespace {

// Spelt out here: the program links neither oleacc nor the GUID library, and COM itself is bound
// only when an alert is shown.
constexpr GUID kAccPropServicesClass = {0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr GUID kAccPropServicesInterface = {0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
constexpr GUID kDescriptionProperty = {0x4d48dfe4, 0xbd3f, 0x491f, {0xa6, 0x48, 0x49, 0x2d, 0x6f, 0x20, 0xc5, 0x88}};

using CoInitializeExFn = HRESULT(WINAPI*)(LPVOID, DWORD);
using CoCreateInstanceFn = HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
using CoUninitializeFn = void(WINAPI*)();

}  // namespace

std::wstring AlertAnnouncement(const std::string& documentTitle, const Alert& alert) {
  std::wstring text;
  auto add = [&](const std::string& sentence) {
    if (sentence.find_first_not_of(" \t\r\n") == std::string::npos) return;
    if (!text.empty()) text += L". ";
    text += DocumentTextToWide(sentence);
  };
  add(documentTitle);
  for (const AlertItem& item : alert.contenido) add(item.texto);
  return text;
}

void AlertAnnouncer::ServicesTraits::Close(IAccPropServices* services) { services->Release(); }

AlertAnnouncer::~AlertAnnouncer() {
  services_.reset();
  if (!comStarted_) return;
  if (const auto uninitialize = SystemFunction<CoUninitializeFn>(ole_, "CoUninitialize")) uninitialize();
}

IAccPropServices* AlertAnnouncer::Services() {
  if (tried_) return services_.get();
  tried_ = true;
  ole_ = LoadSystemLibrary(L"ole32.dll");
  const auto initialize = SystemFunction<CoInitializeExFn>(ole_, "CoInitializeEx");
  const auto create = SystemFunction<CoCreateInstanceFn>(ole_, "CoCreateInstance");
  if (!initialize || !create) return nullptr;
  const HRESULT started = initialize(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(started) && started != RPC_E_CHANGED_MODE) return nullptr;
  comStarted_ = SUCCEEDED(started);
  IAccPropServices* services = nullptr;
  if (SUCCEEDED(create(kAccPropServicesClass, nullptr, CLSCTX_INPROC_SERVER, kAccPropServicesInterface,
                       reinterpret_cast<void**>(&services)))) {
    services_.reset(services);
  }
  return services_.get();
}

bool AlertAnnouncer::Announce(HWND window, const std::wstring& text) {
  if (text.empty()) return false;
  IAccPropServices* services = Services();
  return services && SUCCEEDED(services->SetHwndPropStr(window, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                                         kDescriptionProperty, text.c_str()));
}

void AlertAnnouncer::Forget(HWND window) {
  if (IAccPropServices* services = Services()) {
    services->ClearHwndProps(window, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, &kDescriptionProperty, 1);
  }
}

}  // namespace brivon
