// Reads the alert document (UTF-8 JSON) into the alert model.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <string>

#include "alerts/model/alert_model.h"

namespace brivon {

// Where the check-in leaves the document, relative to the current directory.
inline constexpr char kAlertDocumentPath[] = "actualizador_registros/recibido.json";

// Turns an entry's "imagen" address into a picture, or none. The program passes FetchImage.
using ImageFetch = std::function<UniqueBitmap(const std::string& address)>;

// True when the file opened and held a JSON object; the model then replaces `document`.
// False for an unopenable file or a malformed document; `document` is then untouched.
// Pictures are fetched one by one, in document order.
bool ParseAlertDocument(const std::string& path, AlertDocument& document, const ImageFetch& fetch);

// The same over an open stream: reads one JSON value and ignores whatever follows it.
bool ParseAlertStream(std::istream& in, AlertDocument& document, const ImageFetch& fetch);

// "columnas" text -> column count: leading white space and a sign, then base-10 digits up to
// the first other character; no digits or a value outside 32 bits gives 1, as does anything below 1.
int32_t ColumnsFromText(const std::string& text);

}  // namespace brivon
