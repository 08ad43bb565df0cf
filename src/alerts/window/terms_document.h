// The terms document of a terms alert, put into its rich-text box.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "alerts/window/remote_resources.h"

namespace brivon {

// Why an answer is not the terms document, None when it is. Only an RTF document that arrived
// whole with a 2xx status can be accepted: a captive portal answers the terms address with its
// own page and status 200 (or a redirect to it), and a person must never consent to that. Nor to
// a document that shows nothing (NoText), or whose top-level group does not close at its last
// byte but blanks (BadEnd: cut short, or more after it that a reader never shows).
enum class TermsRefusal { None, NotFetched, Status, NotRtf, NotLoaded, NoText, BadEnd };

// The decision over the answer: complete (the transfer reached its end), its HTTP status (0 for
// schemes without one, such as ftp, where what arrived is the document) and its body.
TermsRefusal JudgeTermsAnswer(bool complete, unsigned long httpStatus, std::string_view body);

// How a document went into the box: the bytes the box took, and the stream's error.
struct TermsLoad {
  size_t taken = 0;
  DWORD error = 0;
};

// Streams an RTF document into the box (its text limit set from the size first). True only when
// the box took every byte but trailing blanks, with no error: the stream carries zero bytes (an
// RTF \bin) and UTF-16 as they are, where a zero-terminated string would stop at the first.
bool StreamRtfIntoBox(HWND box, std::string_view document, TermsLoad* load = nullptr);

// "TERMINOS_RECHAZADOS;" + address + ";motivo=" + why and its figures, for descargas.csv.
std::string TermsRefusalLine(const std::string& address, TermsRefusal why, const HttpGetOutcome& outcome,
                             size_t bodyBytes, const TermsLoad& load);

// What the box says when it holds no terms, in the program's words.
inline constexpr wchar_t kTermsMissingText[] =
    L"No se pudieron cargar los t\u00e9rminos y condiciones, por eso no se pueden aceptar ahora. "
    L"Puede cerrar este aviso con la barra inferior.";

// Fetches the document at `address` (see ShowTermsDocument). No box or no address: nothing is
// fetched.
bool LoadTermsDocument(HWND box, const std::string& address);

// Puts a fetched terms document into the box. True only when it is the terms (JudgeTermsAnswer)
// and the box took it whole; otherwise the box holds kTermsMissingText instead and descargas.csv
// says why.
bool ShowTermsDocument(HWND box, const std::string& address, const FetchedBody& fetched);

// For the alert preview: the text a terms window's box would hold, without its formatting
// (the document fetched as the window fetches it, read back from an unshown rich-text box).
// Empty when nothing arrived or the rich-text control is not available.
std::wstring TermsDocumentText(const std::string& address);

}  // namespace brivon
