#include "alerts/window/terms_document.h"

#include <richedit.h>

#include <cstring>

#include "alerts/window/remote_resources.h"
#include "alerts/window/rtf_outline.h"
#include "common/activity_log.h"
#include "common/log_line.h"
#include "common/program_folder.h"
#include "common/system_library.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "network/http_get.h"

namespace brivon {
namespace {

struct StreamSource {
  std::string_view document;
  size_t handed = 0;
};

// Hands the box the next piece of the document; never fails, an end is a piece of 0 bytes.
DWORD CALLBACK NextPiece(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* got) {
  auto* source = reinterpret_cast<StreamSource*>(cookie);
  const size_t left = source->document.size() - source->handed;
  const size_t piece = wanted > 0 && static_cast<size_t>(wanted) < left ? static_cast<size_t>(wanted) : left;
  if (piece > 0) std::memcpy(buffer, source->document.data() + source->handed, piece);
  source->handed += piece;
  *got = static_cast<LONG>(piece);
  return 0;
}

// The reader stops at the document's closing brace: a line break or padding after it is never
// asked for. Zero bytes count as padding: a document saved with its string's terminator.
bool OnlyBlanks(std::string_view rest) {
  for (char c : rest) {
    if (c != ' ' && c != '\r' && c != '\n' && c != '\t' && c != '\0') return false;
  }
  return true;
}

const char* ReasonName(TermsRefusal why) {
  switch (why) {
    case TermsRefusal::NotFetched:
      return "NO_DESCARGADO";
    case TermsRefusal::Status:
      return "ESTADO";
    case TermsRefusal::NotRtf:
      return "NO_ES_RTF";
    case TermsRefusal::NotLoaded:
      return "CARGA_INCOMPLETA";
    case TermsRefusal::NoText:
      return "SIN_TEXTO";
    case TermsRefusal::BadEnd:
      return "CIERRE_INCORRECTO";
    case TermsRefusal::None:
      break;
  }
  return "";
}

void ShowNoTerms(HWND box) {
  ::SendMessageW(box, EM_EXLIMITTEXT, 0, TermsTextLimit(0));
  ::SetWindowTextW(box, kTermsMissingText);
}

}  // namespace

TermsRefusal JudgeTermsAnswer(bool complete, unsigned long httpStatus, std::string_view body) {
  // The status first: an error page that broke off is still an error page.
  if (httpStatus != 0 && (httpStatus < 200 || httpStatus > 299)) return TermsRefusal::Status;
  if (!complete) return TermsRefusal::NotFetched;
  // Exactly as an RTF reader needs it: no byte-order mark, no blank, no UTF-16.
  if (body.substr(0, 5) != "{\\rtf") return TermsRefusal::NotRtf;
  const RtfOutline outline = ReadRtfOutline(body);
  if (outline.groupEnd == 0 || !OnlyBlanks(body.substr(outline.groupEnd))) return TermsRefusal::BadEnd;
  if (!outline.visibleText) return TermsRefusal::NoText;
  return TermsRefusal::None;
}

bool StreamRtfIntoBox(HWND box, std::string_view document, TermsLoad* load) {
  // A rich-text box holds 32,767 characters unless told otherwise: a longer document would stop
  // partway, with the acceptance still offered under it.
  ::SendMessageW(box, EM_EXLIMITTEXT, 0, TermsTextLimit(document.size()));
  StreamSource source{document, 0};
  EDITSTREAM stream{};
  stream.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
  stream.pfnCallback = NextPiece;
  ::SendMessageW(box, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
  if (load) *load = TermsLoad{source.handed, stream.dwError};
  return stream.dwError == 0 && OnlyBlanks(document.substr(source.handed));
}

std::string TermsRefusalLine(const std::string& address, TermsRefusal why, const HttpGetOutcome& outcome,
                             size_t bodyBytes, const TermsLoad& load) {
  LogLine line("TERMINOS_RECHAZADOS");
  line.Field(address).Field(std::string("motivo=") + ReasonName(why));
  switch (why) {
    case TermsRefusal::NotFetched:
      return line.Err(outcome.error);
    case TermsRefusal::Status:
      return line.Named("estado", outcome.httpStatus);
    case TermsRefusal::NotRtf:
    case TermsRefusal::NoText:
    case TermsRefusal::BadEnd:
      return line.Named("bytes", bodyBytes);
    case TermsRefusal::NotLoaded:
      return line.Named("leidos", load.taken).Named("bytes", bodyBytes).Err(load.error);
    case TermsRefusal::None:
      break;
  }
  return line;
}

bool LoadTermsDocument(HWND box, const std::string& address) {
  if (box == nullptr || address.empty()) return false;
  return ShowTermsDocument(box, address, FetchBody(address, kTextUserAgent));
}

bool ShowTermsDocument(HWND box, const std::string& address, const FetchedBody& fetched) {
  if (box == nullptr) return false;
  const HttpGetOutcome& outcome = fetched.outcome;
  TermsRefusal why = JudgeTermsAnswer(fetched.ok && outcome.ok(), outcome.httpStatus, fetched.body);
  TermsLoad load;
  if (why == TermsRefusal::None && !StreamRtfIntoBox(box, fetched.body, &load)) why = TermsRefusal::NotLoaded;
  if (why == TermsRefusal::None) return true;
  ShowNoTerms(box);
  AppendActivityLog(GetProgramFolder(), kDownloadsLog,
                    TermsRefusalLine(address, why, outcome, fetched.body.size(), load));
  return false;
}

std::wstring TermsDocumentText(const std::string& address) {
  if (address.empty()) return {};
  // From the system folder only, as the window loads it.
  UniqueModule library = LoadSystemLibrary(L"Msftedit.dll");
  if (!library) return {};
  const FetchedBody fetched = FetchBody(address, kTextUserAgent);
  if (!fetched.ok) return {};
  UniqueWindow box(::CreateWindowExW(0, L"RICHEDIT50W", nullptr, WS_POPUP | ES_MULTILINE | ES_READONLY, 0, 0, 800,
                                     600, nullptr, nullptr, nullptr, nullptr));
  if (!box) return {};
  const bool terms = JudgeTermsAnswer(fetched.outcome.ok(), fetched.outcome.httpStatus, fetched.body) ==
                         TermsRefusal::None &&
                     StreamRtfIntoBox(box.get(), fetched.body);
  if (!terms) return kTermsMissingText;
  const LRESULT length = ::SendMessageW(box.get(), WM_GETTEXTLENGTH, 0, 0);
  if (length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const LRESULT got = ::SendMessageW(box.get(), WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  // Paragraphs end in CR LF or a lone CR; text drawing shows a CR as a box and skips a line that
  // holds nothing at all, so every line ends in LF alone and an empty one keeps a blank.
  std::wstring lines;
  lines.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') continue;
    if (c == L'\r' || c == L'\n') {
      if (lines.empty() || lines.back() == L'\n') lines.push_back(L' ');
      lines.push_back(L'\n');
    } else {
      lines.push_back(c);
    }
  }
  return lines;
}

}  // namespace brivon
