// The terms document of a terms alert, put into its rich-text box.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace brivon {

// Fetches the document at `address` and puts what arrived into the box (RTF shows formatted,
// anything else, such as an error page, as plain text). True only when the document itself was
// shown: a non-empty body that came with a 2xx status. No box or no address: nothing is fetched.
bool LoadTermsDocument(HWND box, const std::string& address);

// Whether an answer counts as the terms document for accepting them.
bool IsTermsDocument(unsigned long httpStatus, uint64_t bodyBytes);

// For the alert preview: the text a terms window's box would hold, without its formatting
// (the document fetched as the window fetches it, read back from an unshown rich-text box).
// Empty when nothing arrived or the rich-text control is not available.
std::wstring TermsDocumentText(const std::string& address);

}  // namespace brivon
