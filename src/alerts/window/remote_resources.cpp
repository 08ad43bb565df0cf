#include "alerts/window/remote_resources.h"

#include <richedit.h>
#include <wininet.h>

#include <cstddef>
#include <cstring>
#include <exception>
#include <utility>

#include "alerts/window/wic_decoding.h"
#include "common/system_library.h"
#include "common/test_hooks.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "network/http_get.h"

namespace brivon {

DWORD RemoteTransferDeadlineMs() { return TestPictureDeadlineMs(kRemoteTransferDeadlineMs); }

bool DownloadBody(const std::string& address, const wchar_t* userAgent, std::string& body,
                  HttpGetOutcome* reported, DWORD deadlineMs) {
  body.clear();
  // Read as the document's texts are: UTF-8, else Windows-1252; never through the ANSI code page.
  std::wstring url = DocumentTextToWide(address);
  if (url.empty()) return false;
  HttpGetOptions options;
  options.userAgent = userAgent;
  options.accessType = INTERNET_OPEN_TYPE_PRECONFIG;  // an office's proxy; direct where none is set
  // Always from the server, and kept out of the person's Internet cache: nothing of it is read
  // again, and a body of up to the cap would be written there on every start.
  options.flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
  options.namedByDocument = true;        // no cookies, no sign-in with the person's account
  options.chunkSize = 4096;
  options.maxBytes = kMaxRemoteBodyBytes;
  options.acceptAnyStatus = true;
  // Never 0, which would mean no deadline at all: a share of a deadline that has run out ends at once.
  options.deadlineMs = deadlineMs == 0 ? 1 : deadlineMs;
  HttpGetOutcome outcome;
  try {
    outcome = HttpGet(
        url, options,
        [&body](uint64_t announced, bool hasLength, DWORD&) {
          if (hasLength) body.reserve(static_cast<size_t>(announced));  // at most the cap
          return true;
        },
        [&body](const char* data, size_t size, DWORD&) {
          body.append(data, size);
          return true;
        });
  } catch (const std::exception&) {  // out of memory while gathering the body
    std::string().swap(body);
    return false;
  }
  if (reported) *reported = outcome;
  switch (outcome.result) {
    case HttpGetResult::Complete:
    case HttpGetResult::ReadFailed:  // a broken transfer keeps what arrived
    case HttpGetResult::Truncated:
      break;
    default:
      body.clear();
      return false;
  }
  return !body.empty();
}

// COM's stream over memory, bound at the first picture: ole32.dll comes with GDI+, which loads
// with the first picture or alert, not with the program.
HRESULT CreateMemoryStream(HGLOBAL block, IStream** stream) {
  using Create = HRESULT(WINAPI*)(HGLOBAL, BOOL, IStream**);
  static const UniqueModule ole32 = LoadSystemLibrary(L"ole32.dll");
  static const Create create = SystemFunction<Create>(ole32, "CreateStreamOnHGlobal");
  return create ? create(block, TRUE, stream) : E_NOINTERFACE;
}

UniqueBitmap BitmapFromBytes(std::string bytes) {
  if (bytes.empty()) return nullptr;
  UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE, bytes.size()));
  if (!block) return nullptr;
  void* data = ::GlobalLock(block.get());
  if (data == nullptr) return nullptr;
  std::memcpy(data, bytes.data(), bytes.size());
  ::GlobalUnlock(block.get());
  std::string().swap(bytes);  // one copy is enough while the picture is decoded

  IStream* rawStream = nullptr;
  if (FAILED(CreateMemoryStream(block.get(), &rawStream)) || rawStream == nullptr) return nullptr;
  block.release();  // the stream frees the block now
  UniqueStream stream(rawStream);

  // The bitmap keeps its own reference to the stream for as long as it needs it; a body GDI+
  // cannot decode leaves an undrawable bitmap whose size reads 0 x 0.
  return MakeBitmap(stream.get(), FALSE);
}

FetchedBody FetchBody(const std::string& address, const wchar_t* userAgent, DWORD deadlineMs) {
  FetchedBody fetched;
  fetched.ok = DownloadBody(address, userAgent, fetched.body, &fetched.outcome, deadlineMs);
  return fetched;
}

UniqueBitmap FetchImage(const std::string& address, PictureBudget* budget) {
  std::string body;
  if (!DownloadBody(address, kImageUserAgent, body)) return nullptr;
  return PictureFromBody(std::move(body), budget);
}

namespace {

// Decoded rows and the bitmap that reads them in place, as one object: the rows are made before
// the bitmap and outlive it, and go with it.
struct HeldRows {
  std::vector<uint8_t> rows;
};

class BitmapOverRows : private HeldRows, public Gdiplus::Bitmap {
 public:
  explicit BitmapOverRows(DecodedPixels&& pixels)
      : HeldRows{std::move(pixels.rows)},
        Gdiplus::Bitmap(static_cast<INT>(pixels.width), static_cast<INT>(pixels.height),
                        static_cast<INT>(pixels.width * 4), PixelFormat32bppPARGB, rows.data()) {}
};

UniqueBitmap NewBitmap(UINT width, UINT height) {
  UniqueBitmap bitmap = MakeBitmap(static_cast<INT>(width), static_cast<INT>(height), PixelFormat32bppPARGB);
  if (!bitmap || bitmap->GetLastStatus() != Gdiplus::Ok) return nullptr;
  return bitmap;
}

void CopyRows(const Gdiplus::BitmapData& from, const Gdiplus::BitmapData& to) {
  const size_t rowBytes = static_cast<size_t>(to.Width) * 4;
  for (UINT y = 0; y < to.Height; ++y) {
    std::memcpy(static_cast<BYTE*>(to.Scan0) + static_cast<ptrdiff_t>(y) * to.Stride,
                static_cast<const BYTE*>(from.Scan0) + static_cast<ptrdiff_t>(y) * from.Stride, rowBytes);
  }
}

// The decoded pixels in a bitmap of their own (premultiplied, as the painters draw fastest). A
// bitmap made from a stream holds the stream, and with it the whole body, for as long as it lives:
// GDI+ on Windows decodes from it only when the picture is drawn.
UniqueBitmap OwnPixels(Gdiplus::Bitmap& decoded) {
  const UINT width = decoded.GetWidth();
  const UINT height = decoded.GetHeight();
  UniqueBitmap copy = NewBitmap(width, height);
  if (!copy) return nullptr;
  Gdiplus::Rect all(0, 0, static_cast<INT>(width), static_cast<INT>(height));
  Gdiplus::BitmapData target{};
  if (copy->LockBits(&all, Gdiplus::ImageLockModeWrite, PixelFormat32bppPARGB, &target) != Gdiplus::Ok) {
    return nullptr;
  }
  // Converted straight into the copy's rows where the decoder can, else through its own buffer.
  Gdiplus::BitmapData source = target;
  Gdiplus::Status read = decoded.LockBits(&all, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                                          PixelFormat32bppPARGB, &source);
  if (read != Gdiplus::Ok) {
    source = Gdiplus::BitmapData{};
    read = decoded.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB, &source);
  }
  if (read == Gdiplus::Ok) {
    if (source.Scan0 != target.Scan0) CopyRows(source, target);
    decoded.UnlockBits(&source);
  }
  const Gdiplus::Status written = copy->UnlockBits(&target);
  if (read != Gdiplus::Ok || written != Gdiplus::Ok) return nullptr;
  return copy;
}

}  // namespace

UniqueBitmap BitmapOfPixels(DecodedPixels&& pixels) {
  UniqueBitmap bitmap = MakeBitmap<BitmapOverRows>(std::move(pixels));
  if (!bitmap || bitmap->GetLastStatus() != Gdiplus::Ok) return nullptr;
  return bitmap;
}

bool AdmitPicture(std::string_view body, PictureBudget* budget, PictureSize& declared) {
  if (body.empty()) return false;
  // The size is read from the header first: a few kilobytes can declare gigabytes of pixels.
  if (!ReadPictureSize(body, declared)) return false;
  if (!PictureFits(declared.width, declared.height, budget ? budget->pixelsLeft : kMaxPicturePixels)) return false;
  if (!budget) return true;
  const uint64_t bodyBytes = body.size();
  if (bodyBytes > budget->bytesLeft) return false;
  const uint64_t pixels = static_cast<uint64_t>(declared.width) * declared.height;
  budget->pixelsLeft = pixels < budget->pixelsLeft ? budget->pixelsLeft - pixels : 0;
  budget->bytesLeft -= bodyBytes;
  return true;
}

void ReturnToBudget(PictureBudget& budget, const PictureSize& declared, uint64_t bodyBytes) {
  budget.pixelsLeft += static_cast<uint64_t>(declared.width) * declared.height;
  budget.bytesLeft += bodyBytes;
}

WicDecoding DecodeAdmittedPixels(std::string_view body, const PictureSize& declared, WicDecoder* wic,
                                 DecodedPixels& pixels) {
  try {
    return wic ? wic->Decode(body, declared, pixels) : DecodeThroughWic(body, declared, pixels);
  } catch (const std::exception&) {
    pixels = DecodedPixels();
    return WicDecoding::Refused;  // out of memory for its pixels: it would not decode elsewhere either
  }
}

UniqueBitmap DecodeThroughGdiplus(std::string body, const PictureSize& declared) {
  try {
    UniqueBitmap decoded = BitmapFromBytes(std::move(body));
    // One that does not decode is no picture at all: never drawn, never clickable, never tried again.
    if (!decoded || decoded->GetLastStatus() != Gdiplus::Ok) return nullptr;
    // Asked before anything is drawn: GDI+ on Windows has read only the headers by now, so pixels
    // the header did not declare are never made.
    const UINT decodedW = decoded->GetWidth();
    const UINT decodedH = decoded->GetHeight();
    if (!DecodedAsDeclared(declared, decodedW, decodedH) || !PictureFits(decodedW, decodedH, kMaxPicturePixels)) {
      return nullptr;
    }
    // The body, and the stream over it, go with the decoded bitmap here.
    return OwnPixels(*decoded);
  } catch (const std::exception&) {
    return nullptr;
  }
}

UniqueBitmap DecodeAdmittedPicture(std::string body, const PictureSize& declared, WicDecoder* wic) {
  DecodedPixels pixels;
  switch (DecodeAdmittedPixels(body, declared, wic, pixels)) {
    case WicDecoding::Decoded:
      std::string().swap(body);
      return BitmapOfPixels(std::move(pixels));
    case WicDecoding::Refused:
      return nullptr;
    case WicDecoding::NotHandled:
      break;
  }
  return DecodeThroughGdiplus(std::move(body), declared);
}

UniqueBitmap PictureFromBody(std::string body, PictureBudget* budget) {
  PictureSize declared;
  if (!AdmitPicture(body, budget, declared)) return nullptr;
  const uint64_t bodyBytes = body.size();
  UniqueBitmap picture = DecodeAdmittedPicture(std::move(body), declared);
  if (!picture && budget) ReturnToBudget(*budget, declared, bodyBytes);
  return picture;
}

std::string FetchText(const std::string& address) {
  std::string body;
  if (!DownloadBody(address, kTextUserAgent, body)) return {};
  return body;
}

void LoadRtfDocument(HWND box, const std::string& address, HttpGetOutcome* outcome) {
  if (box == nullptr || address.empty()) return;
  std::string text;
  if (!DownloadBody(address, kTextUserAgent, text, outcome)) return;
  PutDocumentIntoBox(box, text);
}

LPARAM TermsTextLimit(size_t documentBytes) {
  // Every character the box shows comes from at least one byte of the document.
  const size_t limit = documentBytes < kRichEditDefaultLimit ? kRichEditDefaultLimit : documentBytes;
  return limit > 0x7FFFFFFF ? LPARAM{0x7FFFFFFF} : static_cast<LPARAM>(limit);
}

void PutDocumentIntoBox(HWND box, const std::string& document) {
  // A rich-text box holds 32,767 characters unless told otherwise: a longer document would stop
  // partway, with the acceptance still offered under it.
  ::SendMessageA(box, EM_EXLIMITTEXT, 0, TermsTextLimit(document.size()));
  SETTEXTEX settings{ST_DEFAULT, CP_ACP};
  ::SendMessageA(box, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&settings), reinterpret_cast<LPARAM>(document.c_str()));
}

}  // namespace brivon
