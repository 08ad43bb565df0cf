// The controls of a terms alert: the box that shows the document, the accept button (enabled only
// once the document is in the box and the delay is over) and what the window says beside it when
// an acceptance could not be saved.
#pragma once

#include <windows.h>

#include <cstdint>

#include "alerts/window/alert_layout.h"
#include "alerts/window/alert_window_state.h"

namespace brivon {

inline constexpr wchar_t kAcceptButtonText[] = L"Acepto los terminos y condiciones";
inline constexpr int IDC_ACCEPT_TERMS = 1001;
inline constexpr int IDC_ACCEPT_NOTICE = 1002;
inline constexpr UINT_PTR IDT_ACCEPT_DELAY = 1;
inline constexpr UINT kAcceptDelayMs = 5000;

// At each paint of a terms window: the box and the button over the content area and the close
// bar, the delay's timer, and the document's download, each tried again at the next paint when it
// could not be made.
void SetUpTerms(HWND window, AlertWindowState& state, const AlertLayout& layout);

// Before a terms window is first shown: the box and the button, and the document when its
// download, started ahead, has already come, so that the first paint shows it whole. The delay
// starts with the first paint.
void PrepareTermsBeforeShow(HWND window, AlertWindowState& state);

// IDT_ACCEPT_DELAY: the button may enable once the document is in.
void OnAcceptDelayOver(HWND window, AlertWindowState* state);

// The document's download has arrived (WM_REMOTE_ARRIVED): into the box, or the box says why not.
void TakeTermsDocument(AlertWindowState& state);

// The button was pressed: the acceptance is written on a worker (the record may be held for
// seconds) while the window answers; it closes as accepted once the line is on the disk.
void OnAccept(HWND window, AlertWindowState& state);
// WM_ACCEPTANCE_WRITTEN: closes as accepted, or says the acceptance could not be saved.
void OnAcceptanceWritten(HWND window, AlertWindowState& state);

// Whether x, y (client pixels) lies on the button or on what is said beside it: a click on the
// disabled button reaches the window itself and must not count as a click in the close bar.
bool IsOnAcceptControls(HWND window, const AlertWindowState& state, int32_t x, int32_t y);

// The controls laid out again for another size of the window.
void PlaceTermsControls(const AlertWindowState& state, const AlertLayout& layout);

// Before the window goes.
void DestroyTermsControls(AlertWindowState& state);

}  // namespace brivon
