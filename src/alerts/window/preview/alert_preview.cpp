// Alert preview, for the people who write alert documents: paints every alert of a document as
// the program's windows show it, at a chosen screen size, and writes one PNG per alert.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "alerts/model/alert_parser.h"
#include "alerts/model/gdiplus_owners.h"
#include "alerts/model/document_notes.h"
#include "alerts/window/alert_layout.h"
#include "alerts/window/alert_painting.h"
#include "alerts/window/alert_window.h"
#include "alerts/window/document_pictures.h"
#include "alerts/window/picture_size.h"
#include "alerts/window/png_encoder.h"
#include "alerts/window/preview_notes.h"
#include "alerts/window/remote_resources.h"
#include "alerts/window/terms_document.h"
#include "alerts/window/text_drawing.h"
#include "build_config.h"
#include "common/test_hooks.h"
#include "common/text.h"
#include "common/unique_handle.h"

namespace {

using brivon::AlertKind;

constexpr wchar_t kUsage[] =
    L"Alert preview: paints every alert of an alert document as the alert windows show it, and\n"
    L"writes one PNG picture per alert.\n"
    L"\n"
    L"usage: brivon_alert_preview.exe DOCUMENT WIDTH HEIGHT OUTPUT_PREFIX\n"
    L"\n"
    L"  DOCUMENT       the alert document (UTF-8 JSON, as the check-in stores it in recibido.json)\n"
    L"  WIDTH HEIGHT   the screen size in pixels, e.g. 1920 1080 (1 to 16384 each)\n"
    L"  OUTPUT_PREFIX  where the pictures go: OUTPUT_PREFIX_1.png for the first alert,\n"
    L"                 OUTPUT_PREFIX_2.png for the second, and so on (the folder must exist)\n"
    L"\n"
    L"Pictures (\"imagen\") and terms documents (the first \"enlace\" of a documento_rtf alert)\n"
    L"are downloaded from their addresses as the program downloads them; a picture the program\n"
    L"refuses is left out of its entry, which is then not clickable.\n"
    L"\n"
    L"First comes a line for everything in the document the program ignores, reads otherwise than\n"
    L"written, or refuses, and why: keys it does not read, values of another type, colours that are\n"
    L"not #RRGGBB, \"columnas\" that is no plain number, kinds it does not know, entries a kind does\n"
    L"not use, pictures refused, links a click does not open, terms documents refused, and how the\n"
    L"document itself was read. Alerts and entries are numbered from 1 as the program reads them:\n"
    L"  note: alert 2, entry 1, \"color_fondo\": \"rojo\" is no #RRGGBB colour: drawn as #FFFFFF\n"
    L"\n"
    L"A terms alert shows its document's text without the document's formatting, and its\n"
    L"acceptance button disabled, as in its first five seconds. An update alert shows the\n"
    L"program's built-in update picture. For each picture written, a line names the alert and\n"
    L"the clickable pictures (x, y, width x height) with the link each one opens.\n"
    L"\n"
    L"Exit code: 0 when every picture was written, 1 when the document cannot be read or a\n"
    L"picture cannot be written, 2 for wrong arguments.\n";

// Positive decimal within 1..16384, nothing else on the argument.
int ScreenSide(const wchar_t* text) {
  wchar_t* end = nullptr;
  const long value = std::wcstol(text, &end, 10);
  if (end == text || *end != L'\0' || value < 1 || value > 16384) return 0;
  return static_cast<int>(value);
}

// What the window shows of a terms alert besides the frame: its box with the document's text
// (unformatted here), and its button, disabled as it is during the first five seconds.
void PaintTermsControls(Gdiplus::Graphics& graphics, const brivon::AlertLayout& layout, const brivon::Alert& alert) {
  const INT boxW = layout.width - 40;
  const INT boxH = layout.contentHeight;
  Gdiplus::SolidBrush white{Gdiplus::Color(0xFFFFFFFF)};
  Gdiplus::Pen border{Gdiplus::Color(0xFF7A7A7A)};
  graphics.FillRectangle(&white, 20, layout.contentTop, boxW, boxH);
  graphics.DrawRectangle(&border, 20, layout.contentTop, boxW - 1, boxH - 1);
  const std::string link = alert.contenido.empty() ? std::string() : alert.contenido.front().enlace;
  const std::wstring text = brivon::TermsDocumentText(link);
  // Nothing arrived: the window says so in the box (its reason is among the notes).
  const std::wstring shown = text.empty() && !link.empty() ? std::wstring(brivon::kTermsMissingText) : text;
  if (!shown.empty()) {
    Gdiplus::FontFamily family(L"Arial", nullptr);
    Gdiplus::Font font(&family, 16.0f, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
    Gdiplus::SolidBrush ink{Gdiplus::Color(0xFF000000)};
    graphics.DrawString(shown.c_str(), -1, &font,
                        Gdiplus::RectF(26.0f, static_cast<float>(layout.contentTop + 4),
                                       static_cast<float>(boxW - 12), static_cast<float>(boxH - 8)),
                        nullptr, &ink);
  }
  const int buttonY = layout.contentTop + layout.contentHeight + 10;
  Gdiplus::SolidBrush face{Gdiplus::Color(0xFFE1E1E1)};
  graphics.FillRectangle(&face, 20, buttonY, 300, 30);
  graphics.DrawRectangle(&border, 20, buttonY, 299, 29);
  brivon::DrawCenteredText(graphics, brivon::kAcceptButtonText, 12.0f,
                           Gdiplus::RectF(20.0f, static_cast<float>(buttonY), 300.0f, 30.0f), 0xFF8C8C8C);
}

void PaintUpdatePicture(Gdiplus::Graphics& graphics, const brivon::AlertLayout& layout, Gdiplus::Bitmap* picture) {
  if (!picture) return;
  const brivon::PixelRect r = brivon::UpdatePictureFor(layout, static_cast<int32_t>(picture->GetWidth()),
                                                       static_cast<int32_t>(picture->GetHeight()));
  graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
  graphics.DrawImage(picture, r.x, r.y, r.w, r.h);
}

void PaintPreview(HDC dc, const brivon::AlertLayout& layout, const brivon::AlertDocument& document,
                  brivon::Alert& alert, Gdiplus::Bitmap* updatePicture) {
  Gdiplus::Graphics graphics(dc);
  brivon::PaintAlert(graphics, layout, document, &alert);
  const AlertKind kind = brivon::AlertKindOf(alert);
  if (kind == AlertKind::DocumentoRtf) PaintTermsControls(graphics, layout, alert);
  if (kind == AlertKind::UrlActualizar && !alert.contenido.empty()) PaintUpdatePicture(graphics, layout, updatePicture);
}
void ReportClickableAreas(const brivon::Alert& alert) {
  for (size_t i = 0; i < alert.contenido.size(); ++i) {
    const RECT& r = alert.contenido[i].hitRect;
    if (r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0) continue;
    std::printf("  entry %u: picture at %ld, %ld, %ld x %ld opens %s\n", static_cast<unsigned>(i + 1), r.left, r.top,
                r.right - r.left, r.bottom - r.top,
                alert.contenido[i].enlace.empty() ? "nothing (no \"enlace\")" : alert.contenido[i].enlace.c_str());
  }
}

// The entry pictures, fetched side by side within their shared deadline as the program fetches
// them, and admitted in document order within one budget as it admits them; decoded one by one
// here, so that each one refused gets its note with the reason.
void FetchPictures(brivon::AlertDocument& document, std::vector<brivon::DocumentNote>& notes) {
  struct Place {
    size_t alert, entry;
  };
  std::vector<Place> places;
  std::vector<std::string> addresses;
  for (size_t a = 0; a < document.alertas.size(); ++a) {
    for (size_t e = 0; e < document.alertas[a].contenido.size(); ++e) {
      if (document.alertas[a].contenido[e].imagen.empty()) continue;
      places.push_back({a, e});
      addresses.push_back(document.alertas[a].contenido[e].imagen);
    }
  }
  if (addresses.empty()) return;
  brivon::PictureDownloads downloads(addresses, brivon::RemoteTransferDeadlineMs());
  brivon::PictureBudget budget;
  for (size_t i = 0; i < places.size(); ++i) {
    brivon::AlertItem& item = document.alertas[places[i].alert].contenido[places[i].entry];
    std::string body = downloads.Take(i);
    const brivon::PictureBudget before = budget;
    brivon::PictureSize declared;
    std::string why;
    if (!brivon::AdmitPicture(body, &budget, declared)) {
      why = brivon::PictureRefusal(body, before);
      if (why.empty()) why = "refused by its header";
    } else {
      item.image = brivon::DecodeAdmittedPicture(body, declared);
      if (item.image) continue;
      brivon::ReturnToBudget(budget, declared, body.size());
      // Decoded again, only to tell what the decoder made of it.
      brivon::UniqueBitmap decoded = brivon::BitmapFromBytes(std::move(body));
      const bool made = decoded && decoded->GetLastStatus() == Gdiplus::Ok && decoded->GetWidth() > 0;
      why = brivon::DecodeRefusal(declared, made, made ? decoded->GetWidth() : 0, made ? decoded->GetHeight() : 0);
    }
    notes.push_back(brivon::PictureNote(places[i].alert + 1, places[i].entry + 1, item.imagen, why));
  }
}

// Each terms alert's document, fetched and judged as its window fetches and judges it.
void JudgeTermsDocuments(const brivon::AlertDocument& document, std::vector<brivon::DocumentNote>& notes) {
  for (size_t a = 0; a < document.alertas.size(); ++a) {
    const brivon::Alert& alert = document.alertas[a];
    if (brivon::AlertKindOf(alert) != AlertKind::DocumentoRtf || alert.contenido.empty()) continue;
    const std::string& address = alert.contenido.front().enlace;
    if (address.empty()) {
      notes.push_back(brivon::TermsNote(a + 1, address, brivon::TermsRefusal::NotFetched, {}, 0));
      continue;
    }
    const brivon::FetchedBody fetched = brivon::FetchBody(address, brivon::kTextUserAgent);
    const brivon::TermsRefusal why =
        brivon::JudgeTermsAnswer(fetched.ok && fetched.outcome.ok(), fetched.outcome.httpStatus, fetched.body);
    if (why != brivon::TermsRefusal::None) {
      notes.push_back(brivon::TermsNote(a + 1, address, why, fetched.outcome, fetched.body.size()));
    }
  }
}

// The document read as the program reads it, its pictures and terms fetched as the windows fetch
// them; a line for everything in it the program ignores, reads otherwise than written, or refuses.
bool ReadDocument(const std::wstring& path, brivon::AlertDocument& document) {
  std::ifstream in{std::filesystem::path(path), std::ios::binary};
  if (!in.is_open()) return false;
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const brivon::DocumentReading reading = brivon::ParseAlertText(text, document, {});
  std::vector<brivon::DocumentNote> notes = brivon::DocumentNotes(text, reading);
  if (reading.parsed) {
    FetchPictures(document, notes);
    const std::vector<brivon::DocumentNote> links = brivon::LinkNotes(document);
    notes.insert(notes.end(), links.begin(), links.end());
    JudgeTermsDocuments(document, notes);
    brivon::SortDocumentNotes(notes);
  }
  for (const brivon::DocumentNote& note : notes) std::printf("%s\n", brivon::DocumentNoteLine(note).c_str());
  std::fflush(stdout);
  return reading.parsed;
}

int Preview(int argc, wchar_t** argv) {
  if (argc == 2 && (std::wcscmp(argv[1], L"--help") == 0 || std::wcscmp(argv[1], L"/?") == 0)) {
    std::fwprintf(stdout, L"%ls", kUsage);
    return 0;
  }
  if (argc != 5) {
    std::fwprintf(stderr, L"%ls", kUsage);
    return 2;
  }
  const int width = ScreenSide(argv[2]);
  const int height = ScreenSide(argv[3]);
  if (width == 0 || height == 0) {
    std::fwprintf(stderr, L"WIDTH and HEIGHT must be whole numbers from 1 to 16384: %ls %ls\n", argv[2], argv[3]);
    return 2;
  }
  const std::wstring prefix = argv[4];

  brivon::GdiplusSession gdiplus;
  if (!gdiplus.started()) {
    std::fwprintf(stderr, L"GDI+ cannot start\n");
    return 1;
  }
  CLSID png{};
  if (!brivon::FindPngEncoder(&png)) {
    std::fwprintf(stderr, L"no PNG encoder\n");
    return 1;
  }
  // Declared inside the GDI+ session, so its pictures go before GDI+ shuts down.
  brivon::AlertDocument document;
  if (!ReadDocument(argv[1], document)) {
    std::fwprintf(stderr, L"cannot read the alert document %ls (missing, or not valid JSON)\n", argv[1]);
    return 1;
  }
  brivon::UniqueBitmap updatePicture;
  for (const brivon::Alert& alert : document.alertas) {
    if (brivon::AlertKindOf(alert) == AlertKind::UrlActualizar) {
      const std::string address = brivon::WideToUtf8(brivon::TestBuiltInAddress(BRIVON_UPDATE_PICTURE_URL));
      updatePicture = brivon::FetchImage(address);
      if (!updatePicture || updatePicture->GetWidth() == 0) {
        std::printf("the update picture is not available, update alerts are painted without it: %s\n",
                    address.c_str());
      }
      break;
    }
  }

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down, as the PNG is written
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  brivon::UniqueDc dc(::CreateCompatibleDC(nullptr));
  brivon::UniqueGdiBitmap surface(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!dc || !surface || !bits) {
    std::fwprintf(stderr, L"no drawing surface of %d x %d\n", width, height);
    return 1;
  }
  HGDIOBJ previous = ::SelectObject(dc.get(), surface.get());

  const brivon::AlertLayout layout = brivon::MakeAlertLayout(width, height);
  size_t written = 0;
  for (size_t i = 0; i < document.alertas.size(); ++i) {
    brivon::Alert& alert = document.alertas[i];
    const std::wstring path = prefix + L"_" + std::to_wstring(i + 1) + L".png";
    std::printf("%s: alert %u, \"%s\"\n", brivon::WideToUtf8(path).c_str(), static_cast<unsigned>(i + 1),
                alert.tipo.c_str());
    PaintPreview(dc.get(), layout, document, alert, updatePicture.get());
    ::GdiFlush();
    ReportClickableAreas(alert);
    Gdiplus::Bitmap shot(width, height, width * 4, PixelFormat32bppRGB, static_cast<BYTE*>(bits));
    if (shot.Save(path.c_str(), &png, nullptr) == Gdiplus::Ok) {
      ++written;
    } else {
      std::fwprintf(stderr, L"cannot write %ls\n", path.c_str());
    }
    std::fflush(stdout);
  }
  if (document.alertas.empty()) std::printf("the document holds no alerts: nothing is shown\n");
  ::SelectObject(dc.get(), previous);
  return written == document.alertas.size() ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    return Preview(argc, argv);
  } catch (...) {
    std::fwprintf(stderr, L"the preview failed\n");
    return 1;
  }
}
