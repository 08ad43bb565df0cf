#include "alerts/window/preview_notes.h"

#include "alerts/window/link_policy.h"
#include "alerts/window/remote_resources.h"

namespace brivon {
namespace {

// The formats ReadPictureSize knows, by their first bytes: a body that starts so is a picture
// whose header did not give its size, any other is no picture at all (an error page, a portal's).
bool StartsAsPicture(std::string_view body) {
  static constexpr std::string_view kStarts[] = {
      std::string_view("\x89PNG", 4), std::string_view("\xFF\xD8", 2), "GIF8", "BM", std::string_view("II*\0", 4),
      std::string_view("MM\0*", 4)};
  for (std::string_view start : kStarts) {
    if (body.substr(0, start.size()) == start) return true;
  }
  return false;
}

// The first bytes of a body, readable on one line.
std::string Opening(std::string_view body) {
  std::string shown;
  for (char c : body.substr(0, 16)) {
    const unsigned char byte = static_cast<unsigned char>(c);
    shown += byte < 0x20 || byte >= 0x7F ? '.' : c;
  }
  return shown;
}

std::string Size(uint32_t width, uint32_t height) { return std::to_string(width) + " x " + std::to_string(height); }

}  // namespace

std::string PictureRefusal(std::string_view body, const PictureBudget& budget) {
  if (body.empty()) {
    return "not fetched within the " + std::to_string(kRemoteTransferDeadlineMs / 1000) +
           " s the pictures have together (no answer, a broken or empty transfer, or a body over " +
           GroupedNumber(kMaxRemoteBodyBytes) + " bytes)";
  }
  PictureSize declared;
  if (!ReadPictureSize(body, declared)) {
    if (StartsAsPicture(body)) {
      return "its size cannot be read from its header (cut short, a size of 0, a JPEG that gives its size after "
             "its pixels, a TIFF that names a tag twice)";
    }
    return "not a picture the program reads (PNG, JPEG, GIF, BMP, TIFF): it begins with \"" + Opening(body) + "\"";
  }
  const uint64_t pixels = static_cast<uint64_t>(declared.width) * declared.height;
  if (pixels > kMaxPicturePixels) {
    return Size(declared.width, declared.height) + " is more than the " + GroupedNumber(kMaxPicturePixels) +
           " pixels one picture may have";
  }
  if (pixels > budget.pixelsLeft) {
    return Size(declared.width, declared.height) + " is more than the " + GroupedNumber(budget.pixelsLeft) +
           " pixels left of the " + GroupedNumber(kMaxDocumentPicturePixels) +
           " the document's pictures may have together";
  }
  if (body.size() > budget.bytesLeft) {
    return "its " + GroupedNumber(body.size()) + " bytes are more than the " + GroupedNumber(budget.bytesLeft) +
           " left of the " + GroupedNumber(kMaxDocumentPictureBytes) +
           " bytes the document's pictures may take together";
  }
  return {};
}

std::string DecodeRefusal(const PictureSize& declared, bool decoded, uint32_t width, uint32_t height) {
  if (!decoded || DecodedAsDeclared(declared, width, height)) return "it does not decode";
  return "it decodes to " + Size(width, height) + " where its header says " + Size(declared.width, declared.height);
}

DocumentNote PictureNote(size_t alert, size_t entry, const std::string& address, const std::string& why) {
  return DocumentNote{alert, entry, "imagen",
                      "picture refused, " + why + ": the entry is drawn without it and is not clickable: " + address};
}

std::vector<DocumentNote> LinkNotes(const AlertDocument& document) {
  std::vector<DocumentNote> notes;
  for (size_t a = 0; a < document.alertas.size(); ++a) {
    const Alert& alert = document.alertas[a];
    const AlertKind kind = AlertKindOf(alert);
    // The kinds whose entries are drawn with a clickable picture; the others use "enlace" otherwise.
    size_t drawn = 0;
    if (kind == AlertKind::BotonMultiple) drawn = alert.contenido.size();
    if (kind == AlertKind::BotonUnico || kind == AlertKind::SoloMensaje) drawn = alert.contenido.empty() ? 0 : 1;
    for (size_t e = 0; e < drawn; ++e) {
      const AlertItem& item = alert.contenido[e];
      if (item.enlace.empty()) continue;
      if (!IsBrowserLink(item.enlace)) {
        notes.push_back({a + 1, e + 1, "enlace",
                         "no well-formed http:// or https:// address: a click opens nothing: " + item.enlace});
      } else if (item.imagen.empty()) {
        notes.push_back({a + 1, e + 1, "enlace", "the entry has no picture (\"imagen\") to click: never opened"});
      }
    }
  }
  return notes;
}

DocumentNote TermsNote(size_t alert, const std::string& address, TermsRefusal why, const HttpGetOutcome& outcome,
                       size_t bodyBytes) {
  if (address.empty()) {
    return {alert, 1, "enlace",
            "empty: no terms document is fetched, the box stays empty and the terms cannot be accepted"};
  }
  std::string text = "terms document refused, ";
  switch (why) {
    case TermsRefusal::Status:
      text += "its answer has status " + std::to_string(outcome.httpStatus);
      break;
    case TermsRefusal::NotRtf:
      text += "no RTF document (it must begin with {\\rtf), " + GroupedNumber(bodyBytes) + " bytes";
      break;
    case TermsRefusal::BadEnd:
      text += "its top-level group does not close at its last byte (cut short, or more after it)";
      break;
    case TermsRefusal::NoText:
      text += "it shows no text";
      break;
    case TermsRefusal::NotLoaded:
      text += "the box did not take it whole";
      break;
    case TermsRefusal::NotFetched:
    case TermsRefusal::None:
      text += "not fetched whole (error " + std::to_string(outcome.error) + ")";
      break;
  }
  return {alert, 1, "enlace",
          text + ": the box says the terms could not be loaded, and they cannot be accepted: " + address};
}

}  // namespace brivon
