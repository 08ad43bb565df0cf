#include "alerts/window/wic_decoding.h"

#include <windows.h>
#include <wincodec.h>

#include "common/system_library.h"
#include "common/unique_handle.h"

namespace brivon {
namespace {

constexpr GUID kImagingFactory = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
constexpr GUID kPremultipliedBgra = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x10}};

// COM's entries, bound at the first picture: ole32.dll loads with the pictures, not the program.
struct ComEntries {
  using Initialize = HRESULT(WINAPI*)(LPVOID, DWORD);
  using Uninitialize = void(WINAPI*)();
  using CreateInstance = HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);

  UniqueModule ole32 = LoadSystemLibrary(L"ole32.dll");
  Initialize initialize = SystemFunction<Initialize>(ole32, "CoInitializeEx");
  Uninitialize uninitialize = SystemFunction<Uninitialize>(ole32, "CoUninitialize");
  CreateInstance createInstance = SystemFunction<CreateInstance>(ole32, "CoCreateInstance");

  bool usable() const { return initialize && uninitialize && createInstance; }
};

const ComEntries& Com() {
  static const ComEntries entries;
  return entries;
}

// COM on this thread for one decoding. A thread already in an apartment of another kind (a
// window's) decodes in that one.
class ComScope {
 public:
  explicit ComScope(const ComEntries& com) : com_(com) {
    const HRESULT result = com.initialize(nullptr, COINIT_MULTITHREADED);
    joined_ = SUCCEEDED(result);
    usable_ = joined_ || result == RPC_E_CHANGED_MODE;
  }
  ~ComScope() {
    if (joined_) com_.uninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

  bool usable() const { return usable_; }

 private:
  const ComEntries& com_;
  bool joined_ = false;
  bool usable_ = false;
};

// The owner of what a COM call hands back through its last parameter.
template <typename Interface, typename Call>
UniqueCom<Interface> Made(Call call) {
  Interface* made = nullptr;
  if (FAILED(call(&made))) return UniqueCom<Interface>();
  return UniqueCom<Interface>(made);
}

}  // namespace

bool DecodesThroughWic(std::string_view body) {
  static constexpr std::string_view kPng("\x89PNG\r\n\x1a\n", 8);
  static constexpr std::string_view kJpeg("\xFF\xD8\xFF", 3);
  return body.substr(0, kPng.size()) == kPng || body.substr(0, kJpeg.size()) == kJpeg;
}

WicDecoding DecodeThroughWic(std::string_view body, const PictureSize& declared, DecodedPixels& pixels) {
  pixels = DecodedPixels();
  if (!DecodesThroughWic(body) || body.size() > MAXDWORD) return WicDecoding::NotHandled;
  const ComEntries& com = Com();
  if (!com.usable()) return WicDecoding::NotHandled;
  ComScope scope(com);
  if (!scope.usable()) return WicDecoding::NotHandled;

  auto factory = Made<IWICImagingFactory>([&](IWICImagingFactory** made) {
    return com.createInstance(kImagingFactory, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                              reinterpret_cast<void**>(made));
  });
  if (!factory) return WicDecoding::NotHandled;
  auto stream = Made<IWICStream>([&](IWICStream** made) { return factory.get()->CreateStream(made); });
  // Read in place: the body outlives the decoder.
  BYTE* bytes = reinterpret_cast<BYTE*>(const_cast<char*>(body.data()));
  if (!stream || FAILED(stream.get()->InitializeFromMemory(bytes, static_cast<DWORD>(body.size())))) {
    return WicDecoding::NotHandled;
  }
  auto decoder = Made<IWICBitmapDecoder>([&](IWICBitmapDecoder** made) {
    return factory.get()->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, made);
  });
  if (!decoder) return WicDecoding::NotHandled;
  auto frame = Made<IWICBitmapFrameDecode>([&](IWICBitmapFrameDecode** made) { return decoder.get()->GetFrame(0, made); });
  UINT width = 0;
  UINT height = 0;
  if (!frame || FAILED(frame.get()->GetSize(&width, &height))) return WicDecoding::NotHandled;
  // Before any pixel is made: a size other than the header's was never weighed against the limits.
  if (!DecodedAsDeclared(declared, width, height) || !PictureFits(width, height, kMaxPicturePixels)) {
    return WicDecoding::Refused;
  }
  auto converter =
      Made<IWICFormatConverter>([&](IWICFormatConverter** made) { return factory.get()->CreateFormatConverter(made); });
  if (!converter || FAILED(converter.get()->Initialize(frame.get(), kPremultipliedBgra, WICBitmapDitherTypeNone,
                                                       nullptr, 0.0, WICBitmapPaletteTypeCustom))) {
    return WicDecoding::NotHandled;
  }
  // Within the pixel limit: 64 MiB at most, which a UINT holds.
  const UINT stride = width * 4;
  const UINT size = stride * height;
  pixels.bgra.resize(size);
  if (FAILED(converter.get()->CopyPixels(nullptr, stride, size, pixels.bgra.data()))) {
    pixels = DecodedPixels();
    return WicDecoding::NotHandled;  // pixels that do not decode here may still partly decode elsewhere
  }
  pixels.width = width;
  pixels.height = height;
  return WicDecoding::Decoded;
}

}  // namespace brivon
