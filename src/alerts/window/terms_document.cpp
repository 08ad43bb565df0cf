#include "alerts/window/terms_document.h"

#include <richedit.h>

#include "alerts/window/remote_resources.h"
#include "common/http_get.h"
#include "common/system_library.h"
#include "common/text.h"
#include "common/unique_handle.h"

namespace brivon {

bool IsTermsDocument(unsigned long httpStatus, uint64_t bodyBytes) {
  return httpStatus >= 200 && httpStatus <= 299 && bodyBytes > 0;
}

bool LoadTermsDocument(HWND box, const std::string& address) {
  // An error page is still shown, so the person sees why there is nothing to accept.
  HttpGetOutcome outcome;  // stays a failure when nothing was fetched
  LoadRtfDocument(box, address, &outcome);
  if (!outcome.ok()) return false;
  // Schemes other than http and https (ftp) have no status: what arrived is the document.
  return outcome.httpStatus == 0 ? outcome.bytes > 0 : IsTermsDocument(outcome.httpStatus, outcome.bytes);
}

std::wstring TermsDocumentText(const std::string& address) {
  if (address.empty()) return {};
  // From the system folder only, as the window loads it.
  UniqueModule library = LoadSystemLibrary(L"Msftedit.dll");
  if (!library) return {};
  const std::string document = FetchText(address);
  if (document.empty()) return {};
  UniqueWindow box(::CreateWindowExW(0, L"RICHEDIT50W", nullptr, WS_POPUP | ES_MULTILINE | ES_READONLY, 0, 0, 800,
                                     600, nullptr, nullptr, nullptr, nullptr));
  if (!box) return {};
  PutDocumentIntoBox(box.get(), document);
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
