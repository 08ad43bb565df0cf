// What a person can do in an alert window: open an entry's link, close the window with its
// close bar, accept the terms of a terms alert.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "alerts/model/alert_model.h"
#include "common/unique_handle.h"

namespace brivon {

inline constexpr wchar_t kSetAsideProgramName[] = L"\\brivon2.exe";
inline constexpr wchar_t kAcceptanceRecordName[] = L"alertas_terminos_aceptados.csv";

// The links a click at x, y opens: every entry whose picture was drawn there, in entry order,
// skipping empty links and links that are not web addresses.
std::vector<std::string> LinksAt(const Alert& alert, int32_t x, int32_t y);

// Opens each link in the browser, its bytes read as the document's texts are.
void OpenLinks(const std::vector<std::string>& links);

// Whether the close bar takes a click made at `clickedAt` (the message's own time, a tick count):
// not before the window first showed, nor during the system's double-click time after it. The
// next alert appears under the pointer at once, and the second click of a double click on the
// previous close bar must not close it unseen, however long its first paint took to handle it.
bool CloseBarTakesClick(DWORD clickedAt, DWORD shownAt, UINT doubleClickMs);

// What a key does in an alert window, for a person without a mouse. Tab moves between the terms
// box and the accept button (the button only once it is enabled). Enter or Space works the button
// as a press of it does: pressed while the button has the keyboard, it accepts on its release.
// Esc closes an alert as its close bar would: never an update window, which has no close bar, nor
// a window whose acceptance is being written, which waits for it. A held key's repeats close
// nothing and press nothing: the next alert, or the button, appears under them.
enum class AlertFocus { Window, TermsBox, AcceptButton };
// WM_KEYDOWN, WM_KEYDOWN with the repeat bit (the key was already down), WM_KEYUP.
enum class KeyStroke { Pressed, Repeated, Released };
enum class KeyAction { None, FocusBox, FocusButton, HoldButton, PressButton, Close };
struct KeyContext {
  AlertFocus focus = AlertFocus::Window;
  bool hasTerms = false;       // a terms alert with its box and button
  bool buttonEnabled = false;
  bool closable = false;       // its close bar closes it
  bool saving = false;         // an acceptance is being written: the window waits for it
  UINT heldOnButton = 0;       // the key pressed while the button had the keyboard, until released
};
KeyAction ActionForKey(UINT key, KeyStroke stroke, const KeyContext& context);

// "CIERRE_ARCHIVAR_ZIP;" + candidate + ";" + outcome, paths narrowed to their low 8 bits.
enum class CloseArchiveOutcome { Archived, Failed, Missing };
std::string CloseLineText(const std::wstring& candidate, CloseArchiveOutcome outcome, const std::wstring& archive);

// Archives a set-aside "\brivon2.exe" into "\versiones" when there is one and logs the outcome
// to "descargas.csv". Does not touch the window.
void ArchiveSetAsideProgram();

// "YYYY-MM-DD hh:mm:ss;" + link + "\n": one line of the acceptance record, a CR, LF or zero byte
// inside the link written as a space.
std::string AcceptanceLine(const SYSTEMTIME& when, const std::string& link);

// Appends the acceptance of the terms at `link` to the record and flushes it to the disk, waiting
// out a record another program holds (a spreadsheet) like every file operation. False when it
// could not be written; descargas.csv then says why (ERROR_REGISTRAR_ACEPTACION).
bool RecordAcceptance(const std::string& link);

// "ERROR_REGISTRAR_ACEPTACION;" + record + ";err=" + code.
std::string AcceptanceFailureLine(const std::wstring& record, DWORD error);

// What the window says when its acceptance could not be saved, in the program's words.
inline constexpr wchar_t kAcceptanceNotSavedText[] =
    L"No se pudo guardar su aceptaci\u00f3n de los t\u00e9rminos. Puede intentarlo de nuevo con el bot\u00f3n.";

// The writing of one acceptance, shared by the window and the worker that writes it: the window
// reads the outcome from here, never from a message (any process of the desk can post one).
class AcceptanceCell {
 public:
  void Finish(bool saved) { state_.store(saved ? kSaved : kFailed); }
  // False while it is being written; then whether the line is on the disk.
  bool Finished(bool* saved) const {
    const int state = state_.load();
    if (state == kWriting) return false;
    *saved = state == kSaved;
    return true;
  }

 private:
  static constexpr int kWriting = 0, kSaved = 1, kFailed = 2;
  std::atomic<int> state_{kWriting};
};

// Writes the acceptance of `link` on a worker (the record may be held for seconds; the window
// answers meanwhile), which posts WM_ACCEPTANCE_WRITTEN once cell holds the outcome. Gives the
// thread, which the caller waits for before the program may end; none when no thread could be
// started: nothing is written.
UniqueHandle StartRecordingAcceptance(HWND window, const std::string& link, std::shared_ptr<AcceptanceCell> cell);

}  // namespace brivon
