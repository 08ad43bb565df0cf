// What a person can do in an alert window: open an entry's link, close the window with its
// close bar, accept the terms of a terms alert.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "alerts/model/alert_model.h"

namespace brivon {

inline constexpr wchar_t kSetAsideProgramName[] = L"\\brivon2.exe";
inline constexpr char kAcceptanceRecordPath[] = "actualizador_registros/alertas_terminos_aceptados.csv";

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

// "CIERRE_ARCHIVAR_ZIP;" + candidate + ";" + outcome, paths narrowed to their low 8 bits.
enum class CloseArchiveOutcome { Archived, Failed, Missing };
std::string CloseLineText(const std::wstring& candidate, CloseArchiveOutcome outcome, const std::wstring& archive);

// Archives a set-aside "\brivon2.exe" into "\versiones" when there is one and logs the outcome
// to "descargas.csv". Does not touch the window.
void ArchiveSetAsideProgram();

// "YYYY-MM-DD hh:mm:ss;" + link + "\n": one line of the acceptance record, a CR, LF or zero byte
// inside the link written as a space.
std::string AcceptanceLine(const SYSTEMTIME& when, const std::string& link);

// Appends the acceptance of the alert's terms (its first entry's link) to the record.
// False when there is nothing to accept or the record could not be written.
bool RecordAcceptance(const Alert& alert);

}  // namespace brivon
