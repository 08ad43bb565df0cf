#include "alerts/window/alert_run.h"

#include <mutex>
#include <utility>

#include "alerts/model/alert_parser.h"
#include "alerts/window/alert_keys.h"
#include "alerts/window/alert_layout.h"
#include "alerts/window/alert_messages.h"
#include "alerts/window/alert_window.h"
#include "alerts/window/own_download.h"
#include "alerts/window/terms_controls.h"
#include "alerts/window/text_drawing.h"
#include "alerts/window/update_window.h"
#include "alerts/window/window_fetch.h"
#include "common/activity_log.h"
#include "common/program_folder.h"
#include "common/system_library.h"
#include "files/file_facts.h"
#include "files/text_file.h"

namespace brivon {
namespace {

constexpr wchar_t kLogFolderRelative[] = L"actualizador_registros";
// How long a hidden window waiting for its pictures goes without answering what is sent to it.
constexpr DWORD kPumpWhileWaitingMs = 50;
// How long an update window waits for the decoding of a picture that has already come.
constexpr DWORD kUpdatePictureBeforeShowMs = 250;

bool EnsureLogFolder() {
  if (IsExistingFolder(kLogFolderRelative)) return true;
  return ::CreateDirectoryW(kLogFolderRelative, nullptr) != FALSE;
}

void WarmUpText(const std::wstring& text) {
  try {
    HDC screen = ::GetDC(nullptr);
    UniqueDc dc(::CreateCompatibleDC(screen));
    if (screen) ::ReleaseDC(nullptr, screen);
    if (!dc) return;
    Gdiplus::Graphics graphics(dc.get());
    CenteredTextMeasure measure(28.0f);
    measure.Height(graphics, text.empty() ? std::wstring(L"Aviso") : text, 1000.0f, 100.0f);
  } catch (...) {
    // Only a head start: the paint loads them itself.
  }
}

bool HasTermsAlert(const AlertDocument& document) {
  for (const Alert& alert : document.alertas) {
    if (AlertKindOf(alert) == AlertKind::DocumentoRtf) return true;
  }
  return false;
}

// Until the window is gone: its keys first, then everything else to its procedure. Between
// messages the thread sleeps until the next one comes, input or not.
void RunMessageLoop(HWND window, AlertWindowState& state) {
  MSG message{};
  while (::IsWindow(window)) {
    if (!::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      continue;
    }
    if (HandleAlertKey(window, state, message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace

AlertRun::~AlertRun() {
  for (UniqueHandle& thread : threads_) ::WaitForSingleObject(thread.get(), INFINITE);
  // Pictures must go while GDI+ still runs, and only once no thread reads them. The transfers
  // take no next picture once stopped.
  pipeline_.Stop();
  fetchWorkers_.WaitForAll();
  scaling_.Stop();
  if (decodingGate_) {
    std::lock_guard<std::mutex> hold(decodingGate_->lock);
    decodingGate_->open = false;
  }
  updatePictures_.clear();
  document_.ReleaseImages();
}

void AlertRun::Begin(const std::string& reply) noexcept {
  try {
    reading_ = ParseAlertText(TextAsWritten(reply), document_, {});
    begun_ = true;
    if (reading_.parsed && !document_.alertas.empty()) StartPictures();
  } catch (...) {
    // Out of memory: the stored document is read again when it shows, as if nothing had begun.
    pipeline_.Stop();
    document_.ReleaseImages();
    document_ = AlertDocument();
    reading_ = DocumentReading();
    begun_ = false;
    started_ = false;
  }
}

bool AlertRun::StartPictures() {
  if (started_) return gdiplus_ && gdiplus_->started();
  started_ = true;
  // The transfers first: the rest starts while they are on their way.
  pipeline_.StartTransfers(document_, &fetchWorkers_);
  gdiplus_.emplace();
  if (!gdiplus_->started()) return false;
  pipeline_.StartDecoding();
  // The first text a process draws loads its fonts: done off this thread while the pictures
  // are on their way, so the first window's paint does not pay for it.
  scaling_.Post([title = AlertTextToWide(document_.titulo)] { WarmUpText(title); });
  const size_t alertCount = document_.alertas.size();
  prepared_.assign(alertCount, 0);
  ownDownloads_.assign(alertCount, nullptr);
  updatePictures_.assign(alertCount, nullptr);
  // The first two windows' copies are made as their pictures arrive; each next one's while the
  // one before it shows: copies for two windows at most are held at a time.
  PrepareAlert(0);
  PrepareAlert(1);
  // The rich-edit library only for a terms alert: a document without one does not pay for it.
  if (HasTermsAlert(document_)) richEdit_ = LoadSystemLibrary(L"Msftedit.dll");
  return true;
}

void AlertRun::DisableInputMethods() {
  // The windows take no typed text (the terms box is read-only). Without an input method, none is
  // set up for the window's thread as its first window is made and brought forward: on Wine that
  // was 10-20 ms of the first window's start. From the system folder, as the other libraries.
  inputMethods_ = LoadSystemLibrary(L"imm32.dll");
  using DisableImeFunction = BOOL(WINAPI*)(DWORD threadId);
  if (const auto disable = SystemFunction<DisableImeFunction>(inputMethods_, "ImmDisableIME")) {
    disable(static_cast<DWORD>(-1));  // every thread of the process
  }
}

int AlertRun::Show(HINSTANCE instance, int showCommand) {
  if (!EnsureLogFolder()) return -1;
  if (begun_) {
    LogDocumentReading(GetProgramFolder(), kAlertDocumentPath, reading_);
    if (!reading_.parsed) return -1;
  } else if (!ParseAlertDocument(kAlertDocumentPath, document_, {})) {
    return -1;
  }
  // Most starts have nothing to show: GDI+ starts with the first alert.
  if (document_.alertas.empty()) return 0;
  if (!StartPictures()) return -1;
  DisableInputMethods();
  RegisterAlertWindowClass(instance);
  for (size_t i = 0; i < document_.alertas.size(); ++i) {
    PrepareAlert(i);
    PrepareAlert(i + 1);
    ShowAlert(i, instance, showCommand);
    // Its window is gone: once no scaling reads its pictures any more, they go.
    pipeline_.Release(i);
  }
  return 0;
}

void AlertRun::PrepareAlert(size_t index) {
  if (index >= prepared_.size() || prepared_[index]) return;
  prepared_[index] = 1;
  // Its terms document or update picture comes beside its pictures, before its window is made;
  // an update picture is decoded as soon as it comes.
  const Alert& alert = document_.alertas[index];
  ownDownloads_[index] = StartOwnDownloadAhead(alert, &fetchWorkers_);
  if (AlertKindOf(alert) == AlertKind::UrlActualizar) {
    if (!decodingGate_) decodingGate_ = std::make_shared<DecodingGate>();
    updatePictures_[index] =
        DecodeUpdatePictureOnArrival(ownDownloads_[index], decodingGate_, ColorFromHex(document_.color_fondo));
    if (updatePictures_[index]) ownDownloads_[index] = nullptr;
  }
  pipeline_.Prepare(index, ScreenLayout());
}

void AlertRun::RescaleForScreen(HWND window, AlertWindowState& state) {
  if (shown_ >= prepared_.size() || state.alert != &document_.alertas[shown_]) return;
  auto cell = std::make_shared<RescaledPicturesCell>();
  state.rescaling = cell;
  const AlertLayout layout = ScreenLayout();
  // The window's own first, then the next alert's: the one on the screen is drawn again first.
  pipeline_.Prepare(shown_, layout, [cell, window](std::shared_ptr<const ScaledPictures> copies) {
    {
      std::lock_guard<std::mutex> hold(cell->lock);
      cell->pictures = std::move(copies);
      cell->ready = true;
    }
    ::PostMessageW(window, WM_REMOTE_ARRIVED, 0, 0);
  });
  if (shown_ + 1 < prepared_.size() && prepared_[shown_ + 1]) pipeline_.Prepare(shown_ + 1, layout);
}

void AlertRun::ShowAlert(size_t index, HINSTANCE instance, int showCommand) {
  shown_ = index;
  AlertWindowState state;
  state.document = &document_;
  state.alert = &document_.alertas[index];
  state.run = this;
  state.ownDownload = std::move(ownDownloads_[index]);
  state.pictureScaling = std::move(updatePictures_[index]);
  state.updatePictureRequested = state.pictureScaling != nullptr;
  // Gone before its state, whichever way this ends. Made while its pictures are still on their
  // way; it paints nothing until shown.
  UniqueWindow window(CreateAlertWindow(instance, state));
  if (!window) return;
  // Its own pictures only: a slow host of a later alert does not hold this window. Meanwhile
  // what is sent to the hidden window is answered.
  while (!pipeline_.WaitFor(index, kPumpWhileWaitingMs, &state.scaled)) {
    MSG message{};
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  PrepareArrivedUpdatePicture(window.get(), state, kUpdatePictureBeforeShowMs);
  PrepareTermsBeforeShow(window.get(), state);
  ShowAlertWindow(window.get(), state, showCommand);
  // Once it is on the screen: no first paint waits for COM.
  state.announced = announcer_.Announce(window.get(), AlertAnnouncement(document_.titulo, *state.alert));
  RunMessageLoop(window.get(), state);
  window.release();  // it destroyed itself
}

int RunAlertWindows(AlertRun& run, HINSTANCE instance, int showCommand) {
  try {
    return run.Show(instance, showCommand);
  } catch (...) {
    return -1;
  }
}

}  // namespace brivon
