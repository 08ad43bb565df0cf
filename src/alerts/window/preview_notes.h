// The alert preview's notes on what the windows refuse: an entry's picture, a link a click would
// not open, a terms document. Decisions over what was fetched; the fetching is the preview's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "alerts/model/alert_model.h"
#include "alerts/model/document_notes.h"
#include "alerts/window/picture_size.h"
#include "alerts/window/terms_document.h"
#include "network/http_get.h"

namespace brivon {

// Why AdmitPicture refuses a picture's body, given what was left of the document's budget before
// it: its checks, in its order. Empty when it would admit it. An empty body never arrived.
std::string PictureRefusal(std::string_view body, const PictureBudget& budget);

// Why an admitted picture was refused all the same: the decoder gave no picture (decoded false),
// or one of another size than its header declares.
std::string DecodeRefusal(const PictureSize& declared, bool decoded, uint32_t width, uint32_t height);

// The note on an entry's picture refused for `why`: the entry is drawn without it.
DocumentNote PictureNote(size_t alert, size_t entry, const std::string& address, const std::string& why);

// The links of the entries the windows draw that a click never opens: one that is no well-formed
// web address, and one on an entry without a picture, which has nothing to click.
std::vector<DocumentNote> LinkNotes(const AlertDocument& document);

// The note on a terms alert whose document the window refuses for `why` (not None): its box says
// the terms could not be loaded, and they cannot be accepted. An empty address fetches nothing.
DocumentNote TermsNote(size_t alert, const std::string& address, TermsRefusal why, const HttpGetOutcome& outcome,
                       size_t bodyBytes);

}  // namespace brivon
