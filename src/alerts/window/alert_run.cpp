#include "alerts/window/alert_run.h"

#include <mutex>
#include <utility>

#include "alerts/model/alert_parser.h"
#include "alerts/window/alert_keys.h"
#include "alerts/window/alert_layout.h"
#include "alerts/window/alert_messages.h"
#include "alerts/window/alert_window.h"
#include "alerts/window/document_pictures.h"
#include "alerts/window/window_fetch.h"
#include "common/system_library.h"
#include "files/file_facts.h"

namespace brivon {
namespace {

constexpr wchar_t kLogFolderRelative[] = L"actualizador_registros";

bool EnsureLogFolder() {
  if (IsExistingFolder(kLogFolderRelative)) return true;
  return ::CreateDirectoryW(kLogFolderRelative, nullptr) != FALSE;
}

bool HasTermsAlert(const AlertDocument& document) {
  for (const Alert& alert : document.alertas) {
    if (AlertKindOf(alert) == AlertKind::DocumentoRtf) return true;
  }
  return false;
}

// The layout of a window covering the primary screen as it is now.
AlertLayout ScreenLayout() {
  return MakeAlertLayout(::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
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
  WaitForFetchWorkers();
  // Pictures must go while GDI+ still runs, and only once the worker has left them.
  scaling_.Stop();
  document_.ReleaseImages();
}

int AlertRun::Show(HINSTANCE instance, int showCommand) {
  if (!EnsureLogFolder()) return -1;
  if (!ParseAlertDocument(kAlertDocumentPath, document_, {})) return -1;
  // Most starts have nothing to show: GDI+ starts with the first alert, and the rich-edit library
  // only for a terms alert, so a document without one costs neither.
  if (document_.alertas.empty()) return 0;
  gdiplus_.emplace();
  if (!gdiplus_->started()) return -1;
  const size_t alertCount = document_.alertas.size();
  posted_.assign(alertCount, 0);
  tickets_.assign(alertCount, 0);
  scaled_.assign(alertCount, nullptr);
  // Each alert's pictures are scaled on the worker as soon as they are decoded, the first two
  // alerts' while the later pictures still arrive, each next one's while the one before shows:
  // copies for two windows at most are held at a time.
  // Side by side, within one deadline for them all: the first window never waits longer.
  FetchDocumentPictures(document_, [this](size_t index) {
    if (index < 2) PrepareAlert(index);
  });
  // The terms box's class, "RICHEDIT50W"; loaded until the last window is gone.
  const UniqueModule richEdit = HasTermsAlert(document_) ? LoadSystemLibrary(L"Msftedit.dll") : UniqueModule();
  RegisterAlertWindowClass(instance);
  for (size_t i = 0; i < alertCount; ++i) {
    PrepareAlert(i);
    PrepareAlert(i + 1);
    // The worker no longer touches this alert's pictures: the window may.
    scaling_.WaitFor(tickets_[i]);
    ShowAlert(i, instance, showCommand);
    // Its window is gone; the worker may still scale its pictures again for a new screen.
    scaling_.WaitFor(tickets_[i]);
    ReleaseAlertPictures(document_.alertas[i]);
  }
  return 0;
}

void AlertRun::PrepareAlert(size_t index) {
  if (index >= posted_.size() || posted_[index]) return;
  posted_[index] = 1;
  PostScaling(index);
}

// A ticket only replaces an earlier one once posted: the window waits for every job that reads
// its pictures.
void AlertRun::PostScaling(size_t index) {
  auto into = std::make_shared<ScaledPictures>();
  const AlertDocument* document = &document_;
  const Alert* alert = &document_.alertas[index];
  const AlertLayout layout = ScreenLayout();
  const uint64_t ticket =
      scaling_.Post([into, document, alert, layout] { ScaleAlertPictures(*document, *alert, layout, *into); });
  if (ticket == 0) return;
  tickets_[index] = ticket;
  scaled_[index] = std::move(into);
}

void AlertRun::RescaleForScreen(HWND window, AlertWindowState& state) {
  if (shown_ >= tickets_.size() || state.alert != &document_.alertas[shown_]) return;
  auto cell = std::make_shared<RescaledPicturesCell>();
  auto into = std::make_shared<ScaledPictures>();
  const AlertDocument* document = &document_;
  const Alert* alert = state.alert;
  const AlertLayout layout = ScreenLayout();
  // The window's own first, then the next alert's: the one on the screen is drawn again first.
  const uint64_t ticket = scaling_.Post([cell, into, document, alert, layout, window] {
    try {
      ScaleAlertPictures(*document, *alert, layout, *into);
    } catch (...) {
      // What was scaled is kept; the paint scales the rest itself, the worker gone from them.
    }
    {
      std::lock_guard<std::mutex> hold(cell->lock);
      cell->pictures = into;
      cell->ready = true;
    }
    ::PostMessageW(window, WM_REMOTE_ARRIVED, 0, 0);
  });
  if (ticket != 0) {
    tickets_[shown_] = ticket;
    state.rescaling = std::move(cell);
  }
  // The next one's copies are made only once posted (it is posted before a window shows).
  if (shown_ + 1 < posted_.size() && posted_[shown_ + 1]) PostScaling(shown_ + 1);
}

void AlertRun::ShowAlert(size_t index, HINSTANCE instance, int showCommand) {
  shown_ = index;
  AlertWindowState state;
  state.document = &document_;
  state.alert = &document_.alertas[index];
  state.run = this;
  state.scaled = std::move(scaled_[index]);
  // Gone before its state, whichever way this ends.
  UniqueWindow window(CreateAlertWindow(instance, state));
  if (!window) return;
  ShowAlertWindow(window.get(), state, showCommand);
  // Once it is on the screen: no first paint waits for COM.
  state.announced = announcer_.Announce(window.get(), AlertAnnouncement(document_.titulo, *state.alert));
  RunMessageLoop(window.get(), state);
  window.release();  // it destroyed itself
}

int RunAlertWindows(HINSTANCE instance, int showCommand) {
  try {
    AlertRun run;
    return run.Show(instance, showCommand);
  } catch (...) {
    return -1;
  }
}

}  // namespace brivon
