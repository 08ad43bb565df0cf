// Material for the alert windows that lives on web servers: entry pictures, the update
// picture and the RTF terms document. Synchronous; failures show only in the result.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "alerts/model/gdiplus_owners.h"
#include "alerts/window/picture_size.h"
#include "alerts/window/wic_decoding.h"
#include "network/http_get.h"

namespace brivon {

// A longer body counts as a failed download: the whole body is held in memory (twice for a
// picture), and an endless one would exhaust a 32-bit process.
inline constexpr uint64_t kMaxRemoteBodyBytes = 32u * 1024u * 1024u;

// The whole transfer of one picture or terms document, however the server paces it. The
// document's pictures share one such deadline before the first window shows; a window's own
// picture or terms arrive on a worker while the window paints and answers.
inline constexpr DWORD kRemoteTransferDeadlineMs = 15 * 1000;
// The same, shortened by the test build's hook.
DWORD RemoteTransferDeadlineMs();
// A transfer cut at its deadline may take this much longer to return from the system's calls:
// what waits for one waits no longer.
inline constexpr DWORD kTransferEndsWithinMs = 2000;

inline constexpr wchar_t kImageUserAgent[] = L"MyApp";
inline constexpr wchar_t kTextUserAgent[] = L"RTFMod";

// The whole body of `address` (any status: an error page is a body too). False when the
// address cannot be opened, the body is empty or passes the cap. A transfer that breaks
// off keeps what arrived; one past its deadline keeps nothing. outcome, when given, tells how
// the transfer ended and its status.
bool DownloadBody(const std::string& address, const wchar_t* userAgent, std::string& body,
                  HttpGetOutcome* outcome = nullptr, DWORD deadlineMs = RemoteTransferDeadlineMs());

// One download as a value, for a worker to hand over: ok is DownloadBody's answer.
struct FetchedBody {
  bool ok = false;
  std::string body;
  HttpGetOutcome outcome;  // stays a failure when nothing was fetched
};
FetchedBody FetchBody(const std::string& address, const wchar_t* userAgent,
                      DWORD deadlineMs = RemoteTransferDeadlineMs());

// A bitmap decoded from the bytes through a stream on a movable global block; undrawable
// (0 x 0) when the bytes are no picture; none when the bytes are empty or memory runs out.
// GDI+ must be running.
UniqueBitmap BitmapFromBytes(std::string bytes);

// The picture in a fetched body, decoded into a bitmap of its own pixels (the body is not kept),
// or none: when its header gives no size, when it is larger than kMaxPicturePixels or than what
// is left of the document's budget, its body longer than the budget's bytes (a picture spends
// both), when it does not decode, and when it decodes to another size than its header gives.
// GDI+ must be running.
UniqueBitmap PictureFromBody(std::string body, PictureBudget* budget = nullptr);

// PictureFromBody in two halves, for pictures admitted in document order and decoded side by
// side. AdmitPicture reads the header and, when the picture may be decoded, takes its share of
// the budget (pixels and bytes); DecodeAdmittedPicture then decodes it, and a picture that did not
// decode gives its share back with ReturnToBudget.
bool AdmitPicture(std::string_view body, PictureBudget* budget, PictureSize& declared);
UniqueBitmap DecodeAdmittedPicture(std::string body, const PictureSize& declared, WicDecoder* wic = nullptr);
void ReturnToBudget(PictureBudget& budget, const PictureSize& declared, uint64_t bodyBytes);

// DecodeAdmittedPicture in its steps, for a pool that must not wait for the display, which GDI+
// needs for any bitmap: a PNG or JPEG into pixels (WIC, no display); those pixels into a bitmap of
// the painters' format; any other body (NotHandled) through GDI+'s own decoders.
WicDecoding DecodeAdmittedPixels(std::string_view body, const PictureSize& declared, WicDecoder* wic,
                                 DecodedPixels& pixels);
UniqueBitmap BitmapOfPixels(DecodedPixels&& pixels);
UniqueBitmap DecodeThroughGdiplus(std::string body, const PictureSize& declared);

// The picture at `address`: PictureFromBody of its body, or none when nothing could be fetched.
UniqueBitmap FetchImage(const std::string& address, PictureBudget* budget = nullptr);

// The bytes at `address` unchanged; "" for every failure and for an empty body.
std::string FetchText(const std::string& address);

// Replaces the content of a rich-text box with the document at `address`: RTF shows as
// formatted text, anything else as plain text. No box or no address: nothing is fetched;
// nothing fetched: the box stays as it was. outcome, when given, tells how the transfer ended
// (untouched when nothing was fetched).
void LoadRtfDocument(HWND box, const std::string& address, HttpGetOutcome* outcome = nullptr);

// The text limit a rich-text box needs to hold the whole document: its size in bytes, never
// below the box's own default.
inline constexpr size_t kRichEditDefaultLimit = 32767;
LPARAM TermsTextLimit(size_t documentBytes);

// Sets the box's text limit from the document's size, then replaces its content with it.
void PutDocumentIntoBox(HWND box, const std::string& document);

}  // namespace brivon
