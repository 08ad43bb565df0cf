// What the program passes over in an alert document, or reads otherwise than it is written: a
// misspelt key or a colour of the wrong shape changes a window in silence, so the alert preview
// tells the people who write documents what became of each.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "alerts/model/alert_parser.h"

namespace brivon {

// One thing ignored, read otherwise than written, or refused, and where. Alerts and entries are
// numbered from 1 as the program reads them (an element that is no object is skipped and not
// counted), so an alert's number is its window's, and its preview picture's.
struct DocumentNote {
  size_t alert = 0;  // 0: the document itself
  size_t entry = 0;  // 0: the alert itself
  std::string key;   // the key it concerns; empty for none
  std::string text;  // what became of it, and why
};

// One line: "note: alert 2, entry 1, \"color_fondo\": " + text ("note: document: " + text for the
// document itself).
std::string DocumentNoteLine(const DocumentNote& note);

// The notes on a document's bytes, given what ParseAlertText made of them, in document order:
// keys the program does not read, values of another type than it reads, colours and column counts
// read otherwise than written, kinds it does not know, entries a kind does not use, and how the
// document itself was read (not JSON, Windows-1252, text after its value).
std::vector<DocumentNote> DocumentNotes(std::string_view text, const DocumentReading& reading);

// Notes from several sources in the order a reader meets them: the document's own, then each
// alert's, its own before its entries'; notes on one place keep their order.
void SortDocumentNotes(std::vector<DocumentNote>& notes);

// "16,777,216": the figures of a note as the documentation writes them.
std::string GroupedNumber(unsigned long long value);

}  // namespace brivon
