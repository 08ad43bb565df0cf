// The progress strip during a slow download, seen on the screen.
// And each stage of a slow ZIP update, named in words.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "alerts/window/alert_layout.h"
#include "alerts/window/alert_messages.h"
#include "alerts/window/progress_strip.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "update/update_end_to_end_support.h"

namespace brivon {
namespace update_e2e {
namespace {

// Rows of a w x h screen as the program lays its update window out: the strip's top, a row through
// the strip's bar, and the middle between the title band and the strip, where the picture is centred.
struct StripRows {
  int top;
  int bar;
  int pictureMiddle;
};
StripRows StripRowsFor(int w, int h) {
  const AlertLayout layout = MakeAlertLayout(w, h);
  UpdateProgress measured;
  measured.stage = UpdateStage::Downloading;
  measured.soFar = 1;
  measured.total = 2;
  const ProgressStripGeometry g = ProgressStripFor(layout, measured);
  return {g.strip.top, (g.track.top + g.track.bottom) / 2, (layout.headerHeight + g.strip.top) / 2};
}

int CountColourInRow(const ScreenShot& shot, int y, COLORREF rgb) {
  int count = 0;
  for (int x = 0; x < shot.width; ++x) count += shot.At(x, y) == rgb ? 1 : 0;
  return count;
}

int CountBrightPixels(const ScreenShot& shot, int y0, int y1) {
  int count = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = 0; x < shot.width; ++x) count += ColoursNear(shot.At(x, y), 0xFFFFFF, 0x30) ? 1 : 0;
  }
  return count;
}

// The strip as the program paints it in a stage with nothing to measure (its words alone), drawn
// here on a bitmap of the screen's size: the pixels a shot of that stage must show. A strip still
// showing the last stage's words or bar differs in hundreds of them.
ScreenShot ReferenceStrip(int width, int height, UpdateStage stage, RECT* strip) {
  ScreenShot reference;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  UniqueDc dc(::CreateCompatibleDC(nullptr));
  UniqueGdiBitmap bitmap(::CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!dc || !bitmap || !bits) return reference;
  const HGDIOBJ previous = ::SelectObject(dc.get(), bitmap.get());
  const AlertLayout layout = MakeAlertLayout(width, height);
  UpdateProgress progress;
  progress.stage = stage;
  PaintProgressStrip(dc.get(), layout, progress);
  ::GdiFlush();
  *strip = ProgressStripFor(layout, progress).strip;
  reference.width = width;
  reference.height = height;
  const auto* first = static_cast<const uint32_t*>(bits);
  reference.pixels.assign(first, first + static_cast<size_t>(width) * height);
  ::SelectObject(dc.get(), previous);
  return reference;
}

int DifferingPixels(const ScreenShot& shot, const ScreenShot& reference, const RECT& area) {
  int differing = 0;
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) differing += shot.At(x, y) != reference.At(x, y) ? 1 : 0;
  }
  return differing;
}

TEST_F(UpdateEndToEnd, ProgressStripShowsTheSlowDownloadBelowTheUpdatePicture) {
  const int w = ::GetSystemMetrics(SM_CXSCREEN);
  const int h = ::GetSystemMetrics(SM_CYSCREEN);
  const StripRows rows = StripRowsFor(w, h);
  const std::wstring artifacts = ArtifactsFolder();
  // The new program with 3 MB of noise after its image, as an installer's payload would be.
  std::string package = newExe_;
  for (size_t i = 0; i < 3 * 1024 * 1024; ++i) package += static_cast<char>((i * 2654435761u) >> 11);

  for (bool announced : {true, false}) {
    SCOPED_TRACE(announced ? "with Content-Length" : "without Content-Length");
    TempFolder root(L"brivon-strip");
    const std::wstring folder = MakeProgramFolder(root);
    HttpReply slow{200, package};
    slow.sendContentLength = announced;
    slow.chunkSize = 64 * 1024;
    slow.chunkDelayMs = 120;  // about six seconds for the whole package
    server_.Serve("/descargas/FacturaOrva.exe", slow);
    server_.Serve(kCheckinPath,
                  HttpReply{200, AlertDocument(UpdateAlert(Url("/descargas/FacturaOrva.exe"))), "application/json"});

    struct Probe {
      bool taken = false;
      COLORREF pictureCentre = 0;
      COLORREF stripCorner = 0;
      int filled = 0;     // pixels of the bar's filled colour across the track
      int textPixels = 0; // white pixels in the strip
    };
    Probe early, late;
    auto look = [&](Probe& probe, const wchar_t* name) {
      const ScreenShot shot = TakeScreenShot();
      ASSERT_EQ(shot.width, w);
      probe.taken = true;
      probe.pictureCentre = shot.At(w / 2, rows.pictureMiddle);
      probe.stripCorner = shot.At(3, h - 3);
      probe.filled = CountColourInRow(shot, rows.bar, 0x4CC2FF);
      probe.textPixels = CountBrightPixels(shot, rows.top, h);
      const std::wstring file = artifacts + L"\\" + name + (announced ? L"_con_tamano.png" : L"_sin_tamano.png");
      EXPECT_TRUE(SaveAsPng(shot, file)) << NarrowLow8(file);
    };
    DWORD appeared = 0, earlyAt = 0;
    bool forged = false;
    auto watch = [&](DWORD processId) {
      if (late.taken || testing::VisibleAlertWindows(processId).empty()) return;
      if (!appeared) appeared = ::GetTickCount();
      const DWORD since = ::GetTickCount() - appeared;
      if (!forged) {
        // Progress messages from elsewhere, with what a pointer would be: the window frees nothing.
        forged = true;
        const HWND window = testing::VisibleAlertWindows(processId).front();
        for (LPARAM junk : {LPARAM{0x12345678}, LPARAM{-1}, reinterpret_cast<LPARAM>(&package)}) {
          ::PostMessageW(window, WM_UPDATE_PROGRESS, 0, junk);
          ::PostMessageW(window, WM_UPDATE_PROGRESS, 0, junk);
        }
      }
      // The update picture arrives on the window's worker, later on a loaded machine: the early
      // shot waits for it (the strip is shown either way).
      if (!early.taken && since >= 1500) {
        if (since < 4000 && !ColoursNear(TakeScreenShot().At(w / 2, rows.pictureMiddle), 0xF09020, 8)) return;
        look(early, L"descarga_temprana");
        earlyAt = ::GetTickCount();
        // Painted again as when a window passes over it: the picture must come back with the strip.
        ::RedrawWindow(testing::VisibleAlertWindows(processId).front(), nullptr, nullptr,
                       RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
      }
      if (early.taken && ::GetTickCount() - earlyAt >= 2500) look(late, L"descarga_avanzada");
    };
    WindowsSeen seen = Run(folder, watch);

    EXPECT_FALSE(seen.run.timedOut);
    EXPECT_EQ(seen.run.exitCode, 0u);
    EXPECT_TRUE(forged);
    // Without a length nothing proves an unsigned program whole: it is shown arriving, then refused.
    EXPECT_TRUE(ReadBytes(folder + L"\\" + kSibling) == (announced ? package : oldExe_));
    ASSERT_TRUE(early.taken);
    ASSERT_TRUE(late.taken);
    for (const Probe* probe : {&early, &late}) {
      EXPECT_TRUE(ColoursNear(probe->pictureCentre, 0xF09020, 8)) << std::hex << probe->pictureCentre;  // it stays
      EXPECT_EQ(probe->stripCorner, 0x202020u);
      EXPECT_GT(probe->textPixels, 50);
    }
    if (announced) {
      EXPECT_GT(early.filled, 0);
      EXPECT_GT(late.filled, early.filled);  // the bar grows
    } else {
      EXPECT_EQ(early.filled, 0);  // no bar without a known size, only the bytes so far
      EXPECT_EQ(late.filled, 0);
    }
  }
}

// A ZIP update slow enough to watch: the strip names each stage in words, and during the
// extraction its bar follows 7-Zip's own percentage. Screenshots of each stage stay as artifacts.
TEST_F(UpdateEndToEnd, ProgressStripNamesEachStageOfASlowZipUpdate) {
  const int w = ::GetSystemMetrics(SM_CXSCREEN);
  const int h = ::GetSystemMetrics(SM_CYSCREEN);
  const StripRows rows = StripRowsFor(w, h);
  const std::wstring artifacts = ArtifactsFolder();
  // Many files: each one costs 7-Zip its own creation, so the extraction lasts a few seconds.
  std::string noise(48 * 1024 * 1024, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 2654435761u) >> 13);
  std::vector<std::pair<std::wstring, std::string>> files{{kSibling, newExe_}};
  for (size_t i = 0; i < 1500; ++i) {
    files.emplace_back(L"datos\\" + std::to_wstring(i % 30) + L"\\archivo_" + std::to_wstring(i) + L".bin",
                       noise.substr(i * 32 * 1024, 32 * 1024));
  }
  HttpReply slow{200, MakeZip(files, true)};
  files.clear();
  slow.chunkSize = 512 * 1024;
  slow.chunkDelayMs = 15;  // about two seconds of download

  TempFolder root(L"brivon-stages");
  const std::wstring folder = MakeProgramFolder(root);
  ASSERT_TRUE(WriteBytes(folder + L"\\Datos.MDB", noise));
  server_.Serve("/descargas/Paquete.zip", slow);
  server_.Serve(kCheckinPath,
                HttpReply{200, AlertDocument(UpdateAlert(Url("/descargas/Paquete.zip"))), "application/json"});

  // The stage each screenshot was taken in, told by the log lines written before it.
  enum Stage { kDownloading, kExtracting, kInstalling, kKeeping, kStages };
  const wchar_t* names[kStages] = {L"zip_descargando", L"zip_descomprimiendo", L"zip_instalando", L"zip_guardando"};
  auto stageNow = [&]() {
    const std::string log = ReadBytes(testing::LogPath(folder, L"descargas.csv"));
    const std::string extractions = ReadBytes(testing::LogPath(folder, L"extracciones.csv"));
    if (log.find("ARCHIVO_ANTERIOR_A_ACTUALIZACIONES_ZIP;") != std::string::npos) return kKeeping;
    if (extractions.find("UNZIP_7ZA;") != std::string::npos) return kInstalling;
    if (log.find("DESCARGA;") != std::string::npos) return kExtracting;
    return kDownloading;
  };
  struct Shot {
    Stage stage;
    int filled;
    int textPixels;
    COLORREF corner;
    int differing;  // pixels of the strip unlike the stage's own words (words-only stages)
  };
  RECT installingStrip = {}, keepingStrip = {};
  const ScreenShot installingWords = ReferenceStrip(w, h, UpdateStage::Installing, &installingStrip);
  const ScreenShot keepingWords = ReferenceStrip(w, h, UpdateStage::KeepingPrevious, &keepingStrip);
  ASSERT_EQ(installingWords.width, w);
  ASSERT_EQ(keepingWords.width, w);
  std::vector<Shot> shots;
  for (const wchar_t* name : names) {  // none left from an earlier run
    for (int i = 1; i <= 6; ++i) ::DeleteFileW((artifacts + L"\\" + name + L"_" + std::to_wstring(i) + L".png").c_str());
  }
  int saved[kStages] = {};
  int savedFilled[kStages] = {};
  // The strip hears of a stage through a posted message, so it can still show the last stage's bar
  // for a moment after the log has moved on: a stage counts once the log has named it for a while.
  Stage logStage = kDownloading;
  ULONGLONG logStageSince = ::GetTickCount64();
  auto watch = [&](DWORD processId) {
    if (testing::VisibleAlertWindows(processId).empty()) return;
    const Stage before = stageNow();
    if (before != logStage) {
      logStage = before;
      logStageSince = ::GetTickCount64();
    }
    if (::GetTickCount64() - logStageSince < 500) return;
    const ScreenShot shot = TakeScreenShot();
    if (shot.width != w || stageNow() != before) return;  // only shots wholly inside one stage
    Shot s{before, CountColourInRow(shot, rows.bar, 0x4CC2FF), CountBrightPixels(shot, rows.top, h),
           shot.At(3, h - 3), 0};
    if (before == kInstalling) s.differing = DifferingPixels(shot, installingWords, installingStrip);
    if (before == kKeeping) s.differing = DifferingPixels(shot, keepingWords, keepingStrip);
    if (s.textPixels == 0) return;  // the first paint, before the first report
    shots.push_back(s);
    // The first two of each stage, then one for each further quarter of the bar.
    if (saved[before] < 2 || (saved[before] < 6 && s.filled >= savedFilled[before] + 240)) {
      SaveAsPng(shot, artifacts + L"\\" + names[before] + L"_" + std::to_wstring(++saved[before]) + L".png");
      savedFilled[before] = s.filled;
    }
  };
  // Set aside, the new program not yet in: "Instalando…" stays long enough to be seen; and so does
  // "Guardando la versión anterior…" once the old program is in the updates folder.
  ScopedVariable pause(L"BRIVON_TEST_PAUSE_AT", L"RENOMBRADO_A_2_ZIP,ARCHIVO_ANTERIOR_A_ACTUALIZACIONES_ZIP");
  WindowsSeen seen = Run(folder, watch);

  EXPECT_FALSE(seen.run.timedOut);
  EXPECT_EQ(ReadBytes(folder + L"\\" + kSibling), newExe_);
  std::vector<int> extracting;
  bool downloadBar = false;
  for (const Shot& s : shots) {
    EXPECT_EQ(s.corner, 0x202020u);
    EXPECT_GT(s.textPixels, 50);
    if (s.stage == kDownloading && s.filled > 0) downloadBar = true;
    if (s.stage == kExtracting) extracting.push_back(s.filled);
    if (s.stage == kInstalling || s.stage == kKeeping) {
      EXPECT_EQ(s.filled, 0);      // words only
      EXPECT_EQ(s.differing, 0) << "stage " << s.stage;  // and the stage's own
    }
  }
  EXPECT_TRUE(downloadBar);
  for (int stage = kDownloading; stage < kStages; ++stage) {
    EXPECT_GT(saved[stage], 0) << NarrowLow8(names[stage]);  // each stage seen on the screen
  }
  ASSERT_GE(extracting.size(), 2u);
  for (size_t i = 1; i < extracting.size(); ++i) EXPECT_GE(extracting[i], extracting[i - 1]);  // never back
  EXPECT_GT(extracting.back(), extracting.front());  // 7-Zip's percentage grows
}

}  // namespace
}  // namespace update_e2e
}  // namespace brivon
