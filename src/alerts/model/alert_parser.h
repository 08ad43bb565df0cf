// Reads the alert document (UTF-8 JSON) into the alert model.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <string_view>

#include "alerts/model/alert_model.h"

namespace brivon {

// Where the check-in leaves the document, relative to the current directory.
inline constexpr char kAlertDocumentPath[] = "actualizador_registros/recibido.json";

// Turns an entry's "imagen" address into a picture, or none. The alert preview passes one; the
// program passes none and fetches the recorded addresses afterwards, side by side.
using ImageFetch = std::function<UniqueBitmap(const std::string& address)>;

// True when the file opened and held a JSON object; the model then replaces `document`.
// False for an unopenable file or a malformed document; `document` is then untouched. A document
// that cannot be read, or is read as Windows-1252, gets its line in the check-in log.
// Each entry keeps its "imagen" address; a given fetch is called for each, in document order.
bool ParseAlertDocument(const std::string& path, AlertDocument& document, const ImageFetch& fetch);

// The same over an open stream: reads one JSON value and ignores whatever follows it.
bool ParseAlertStream(std::istream& in, AlertDocument& document, const ImageFetch& fetch);

// What reading a document came to, for the check-in log: support tells a document without
// alerts from a reply that is no alert document (a proxy's or portal's page, a cut reply).
enum class DocumentFault {
  None,
  NotJson,        // no JSON value could be read from it
  RootNotObject,  // JSON, but an array, a string, a number...: nothing is read from it
  AlertsNotList,  // "alertas" is there but is no list: the document reads as one without alerts
};

struct DocumentReading {
  bool parsed = false;        // the model was replaced
  DocumentFault fault = DocumentFault::None;
  uint64_t byte = 0;          // NotJson: the byte of the text, from 1, where reading stopped; 0 unknown
  bool windows1252 = false;   // not UTF-8, read as Windows-1252
  size_t alerts = 0;          // alerts read
};

// The document's bytes -> the model. Read as UTF-8; a text that is not valid UTF-8 and that does
// not read so (Windows-1252 letters in its strings) is read again as Windows-1252.
DocumentReading ParseAlertText(std::string_view text, AlertDocument& document, const ImageFetch& fetch);

// The check-in log's line for a reading of the document at path; empty when there is none to write.
std::string DocumentReadingLogText(std::string_view path, const DocumentReading& reading);

// The line for a document that exists but could not be read from the disk.
std::string DocumentUnreadableLogText(std::string_view path, unsigned long error);

// The check-in log's line, if any, for a reading of the document stored at path (a reply read
// while it was being stored gets the line a reading of the stored file would have got).
void LogDocumentReading(const std::wstring& programFolder, const std::string& path, const DocumentReading& reading);

// ParseAlertDocument, with its log line written to the check-in log of programFolder.
bool ParseAlertDocumentIn(const std::wstring& programFolder, const std::string& path, AlertDocument& document,
                          const ImageFetch& fetch);

// "columnas" text -> column count: leading white space and a sign, then base-10 digits up to
// the first other character; no digits or a value outside 32 bits gives 1, as does anything below 1.
int32_t ColumnsFromText(const std::string& text);

}  // namespace brivon
