// The start-up check-in: detect the installed sibling program, send its report, store the reply
// as the alert document and record the check-in.
#pragma once

#include <functional>
#include <string>

namespace brivon {

inline constexpr wchar_t kReportFileName[] = L"ComprobadorOrvane.json";
inline constexpr wchar_t kReplyTextFileName[] = L"recibido.txt";
inline constexpr wchar_t kAlertDocumentFileName[] = L"recibido.json";
inline constexpr char kCheckinLogText[] = "ABIERTO - JSON enviado y respuesta recibida";
inline constexpr wchar_t kNoProductTitle[] = L"ComprobadorOrvane";
inline constexpr wchar_t kNoProductText[] = L"No se encontr\u00f3 ning\u00fan ejecutable conocido en la carpeta.";

// Nothing here stops the start-up; the result tells what the alert windows may show.
enum class CheckinResult {
  NoProduct,          // nothing checked in: an earlier start's document stays, and is shown
  DocumentStored,     // this start's reply is the alert document
  DocumentNotStored,  // this start's reply could not be stored: no document may be shown
};
// replyRead, when given, hears the reply as soon as it is read, before it is stored: exactly the
// text the document is stored from. It must not throw.
using ReplyRead = std::function<void(const std::string& reply)>;
CheckinResult RunCheckin(const ReplyRead& replyRead = nullptr);

}  // namespace brivon
