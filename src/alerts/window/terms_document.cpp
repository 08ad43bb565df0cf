#include "alerts/window/terms_document.h"

#include <richedit.h>

#include "alerts/window/remote_resources.h"
#include "common/http_get.h"
#include "common/text.h"

namespace brivon {

bool IsTermsDocument(unsigned long httpStatus, const std::string& body) {
  return httpStatus >= 200 && httpStatus <= 299 && !body.empty();
}

bool LoadTermsDocument(HWND box, const std::string& address) {
  if (box == nullptr || address.empty()) return false;
  HttpGetOptions options;
  options.userAgent = kTextUserAgent;
  options.accessType = INTERNET_OPEN_TYPE_DIRECT;
  options.flags = INTERNET_FLAG_RELOAD;
  options.chunkSize = 4096;
  options.maxBytes = kMaxRemoteBodyBytes;
  // An error page is still shown, so the person sees why there is nothing to accept.
  options.acceptAnyStatus = true;
  std::string body;
  const HttpGetOutcome outcome = HttpGetToString(Utf8ToWide(address), options, body);
  if (outcome.result == HttpGetResult::TooLarge) body.clear();
  if (body.empty()) return false;
  SETTEXTEX settings{ST_DEFAULT, CP_ACP};
  ::SendMessageA(box, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&settings), reinterpret_cast<LPARAM>(body.c_str()));
  return outcome.ok() && IsTermsDocument(outcome.httpStatus, body);
}

}  // namespace brivon
