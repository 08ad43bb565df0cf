#include "alerts/window/wic_decoding.h"

#include <windows.h>
#include <wincodec.h>

#include <cstddef>
#include <cstring>

#include "common/system_library.h"
#include "common/unique_handle.h"

namespace brivon {
namespace {

constexpr GUID kImagingFactory = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
constexpr GUID kPngDecoder = {0x389ea17b, 0x5078, 0x4cde, {0xb6, 0xef, 0x25, 0xc1, 0x51, 0x75, 0xc7, 0x51}};
constexpr GUID kJpegDecoder = {0x9456a480, 0xe88b, 0x43ea, {0x9e, 0x73, 0x0b, 0x2d, 0x9b, 0x71, 0xb1, 0xca}};
constexpr GUID kPremultipliedBgra = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x10}};
constexpr GUID kBgr = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0c}};

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

// The owner of what a COM call hands back through its last parameter.
template <typename Interface, typename Call>
UniqueCom<Interface> Made(Call call) {
  Interface* made = nullptr;
  if (FAILED(call(&made))) return UniqueCom<Interface>();
  return UniqueCom<Interface>(made);
}

// The system's decoder of body's format, named outright: a factory asked to find one reads every
// decoder's registration first, which took longer than the decoding itself.
const GUID* DecoderOf(std::string_view body) {
  static constexpr std::string_view kPng("\x89PNG\r\n\x1a\n", 8);
  static constexpr std::string_view kJpeg("\xFF\xD8\xFF", 3);
  if (body.substr(0, kPng.size()) == kPng) return &kPngDecoder;
  if (body.substr(0, kJpeg.size()) == kJpeg) return &kJpegDecoder;
  return nullptr;
}

// Spreads count pixels of B, G, R, stored packed from rows + count on, into count pixels of B, G,
// R, A from rows on, in place: rows holds 4 * count bytes.
void SpreadOpaquePixels(uint8_t* rows, size_t count) {
  const uint8_t* packed = rows + count;
  // Pixel i is written over bytes 4i to 4i + 3, below where pixel i + 1 is read (count + 3i + 3):
  // nothing is overwritten before it is read.
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* from = packed + i * 3;
    // Opaque: alpha is full, and colour premultiplied by it is colour itself.
    const uint32_t pixel = 0xFF000000u | uint32_t{from[2]} << 16 | uint32_t{from[1]} << 8 | from[0];
    std::memcpy(rows + i * 4, &pixel, 4);
  }
}

}  // namespace

bool DecodesThroughWic(std::string_view body) { return DecoderOf(body) != nullptr; }

WicDecoder::WicDecoder() noexcept {
  const ComEntries& com = Com();
  if (!com.usable()) return;
  const HRESULT joined = com.initialize(nullptr, COINIT_MULTITHREADED);
  joined_ = SUCCEEDED(joined);
  if (!joined_ && joined != RPC_E_CHANGED_MODE) return;
  factory_ = Made<IWICImagingFactory>([&](IWICImagingFactory** made) {
    return com.createInstance(kImagingFactory, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                              reinterpret_cast<void**>(made));
  });
}

WicDecoder::~WicDecoder() {
  factory_.reset();  // before COM is left
  if (joined_) Com().uninitialize();
}

WicDecoding WicDecoder::Decode(std::string_view body, const PictureSize& declared, DecodedPixels& pixels) {
  pixels = DecodedPixels();
  const GUID* decoderClass = DecoderOf(body);
  if (!decoderClass || !factory_ || body.size() > MAXDWORD) return WicDecoding::NotHandled;
  IWICImagingFactory* factory = factory_.get();
  auto stream = Made<IWICStream>([&](IWICStream** made) { return factory->CreateStream(made); });
  // Read in place: the body outlives the decoder.
  BYTE* bytes = reinterpret_cast<BYTE*>(const_cast<char*>(body.data()));
  if (!stream || FAILED(stream.get()->InitializeFromMemory(bytes, static_cast<DWORD>(body.size())))) {
    return WicDecoding::NotHandled;
  }
  auto decoder = Made<IWICBitmapDecoder>([&](IWICBitmapDecoder** made) {
    return Com().createInstance(*decoderClass, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICBitmapDecoder),
                                reinterpret_cast<void**>(made));
  });
  if (!decoder || FAILED(decoder.get()->Initialize(stream.get(), WICDecodeMetadataCacheOnDemand))) {
    return WicDecoding::NotHandled;
  }
  auto frame =
      Made<IWICBitmapFrameDecode>([&](IWICBitmapFrameDecode** made) { return decoder.get()->GetFrame(0, made); });
  UINT width = 0;
  UINT height = 0;
  if (!frame || FAILED(frame.get()->GetSize(&width, &height))) return WicDecoding::NotHandled;
  // Before any pixel is made: a size other than the header's was never weighed against the limits.
  if (!DecodedAsDeclared(declared, width, height) || !PictureFits(width, height, kMaxPicturePixels)) {
    return WicDecoding::Refused;
  }
  // Opaque colour rows are taken as they decode; anything else through the system's converter.
  WICPixelFormatGUID native{};
  const bool opaque = SUCCEEDED(frame.get()->GetPixelFormat(&native)) && native == kBgr;
  IWICBitmapSource* source = frame.get();
  UniqueCom<IWICFormatConverter> converter;
  if (!opaque) {
    converter =
        Made<IWICFormatConverter>([&](IWICFormatConverter** made) { return factory->CreateFormatConverter(made); });
    if (!converter || FAILED(converter.get()->Initialize(frame.get(), kPremultipliedBgra, WICBitmapDitherTypeNone,
                                                         nullptr, 0.0, WICBitmapPaletteTypeCustom))) {
      return WicDecoding::NotHandled;
    }
    source = converter.get();
  }
  // Within the pixel limit: 64 MiB at most, which a UINT holds.
  const UINT count = width * height;
  pixels.rows.resize(size_t{count} * 4);
  // Opaque rows decode three bytes a pixel into the last three quarters of the rows, and spread
  // out into four there: one buffer a picture, never a second of its size.
  uint8_t* into = opaque ? pixels.rows.data() + count : pixels.rows.data();
  const UINT stride = width * (opaque ? 3 : 4);
  if (FAILED(source->CopyPixels(nullptr, stride, stride * height, into))) {
    pixels = DecodedPixels();
    return WicDecoding::NotHandled;  // pixels that do not decode here may still partly decode elsewhere
  }
  if (opaque) SpreadOpaquePixels(pixels.rows.data(), count);
  pixels.width = width;
  pixels.height = height;
  return WicDecoding::Decoded;
}

WicDecoding DecodeThroughWic(std::string_view body, const PictureSize& declared, DecodedPixels& pixels) {
  if (!DecodesThroughWic(body)) return WicDecoding::NotHandled;
  WicDecoder decoder;
  return decoder.Decode(body, declared, pixels);
}

}  // namespace brivon
