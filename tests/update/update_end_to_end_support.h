// The shared fixture of the update's end-to-end tests: the real brivon.exe in a program folder
// with its archive tool, the sibling program and its data files, and the loopback service of the
// test build's built-in addresses. Each topic has its own file (update_*_e2e_test.cpp).
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "servers/loopback_http_server.h"
#include "support/alert_documents.h"
#include "support/alert_window_driver.h"
#include "support/archive_reading.h"
#include "support/log_lines.h"
#include "support/program_run.h"
#include "support/test_env.h"

namespace brivon {
namespace update_e2e {

using testing::Exists;
using testing::HttpReply;
using testing::LoopbackHttpServer;
using testing::ReadBytes;
using testing::ScopedVariable;
using testing::TempFolder;
using testing::WriteBytes;

constexpr char kCheckinPath[] = "/comprobador/checkin";
constexpr char kPicturePath[] = "/borrar/fotoactualizacion.png";
constexpr wchar_t kSibling[] = L"FacturaOrva.exe";  // a program of the check-in's product table
inline const std::string kMdb = "datos de la empresa";
inline const std::string kBd = "base BDORVA";

// ---------------------------------------------------------------------------------------------
// Pictures in and out: the update picture the service hands out, and screenshots of the window.

// An orange field in a dark blue frame, as PNG bytes.
std::string FramedPicturePng(int w, int h);

// build-X/artifacts/update_window, from where the test build keeps brivon.exe (build-X/bin).
std::wstring ArtifactsFolder();

// The screen's pixels, read once: probing a copy is quick where each screen read is a round trip.
struct ScreenShot {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // 0x00RRGGBB, top row first
  COLORREF At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x] & 0xFFFFFF; }
};
ScreenShot TakeScreenShot();
bool SaveAsPng(const ScreenShot& shot, const std::wstring& path);
using testing::ColoursNear;

// ---------------------------------------------------------------------------------------------
// The activity logs.

// Local time as the archive folders are named.
std::wstring StampNow();

using testing::AlertDocument;
using testing::kUpdateAlertWithoutEntries;
using testing::UpdateAlert;
// The alert after the update's, shown once it is done.
inline const std::string kNextAlert = testing::SoloMensaje("Actualizado", "#00A000");

// What a run of brivon.exe showed.
struct WindowsSeen {
  testing::ProgramRun run;
  int count = 0;         // alert windows, one after another
  int mostAtOnce = 0;
  std::string descargasWhenUpdateClosed;  // the log as it stood when the update window went away
  bool updateWindowGone = false;
};

// A program folder with brivon.exe, its archive tool, the sibling program and its data files, and
// the loopback service of the test build's built-in addresses.
class UpdateEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // No powershell.exe at all, as on a desk where it is missing or blocked: nothing needs it.
    ASSERT_TRUE(testing::RemoveSystemPowershell());
    oldExe_ = ReadBytes(testing::TestToolPath(L"fixture_sibling_10_2_0_15.exe"));
    newExe_ = ReadBytes(testing::TestToolPath(L"fixture_sibling_65535_0_65535_1.exe"));
    picture_ = FramedPicturePng(480, 320);
  }

  void SetUp() override {
    ASSERT_FALSE(oldExe_.empty());
    ASSERT_FALSE(newExe_.empty());
    ASSERT_NE(oldExe_, newExe_);
    ASSERT_FALSE(picture_.empty());
    ASSERT_TRUE(server_.Start());
    server_.Serve(kPicturePath, HttpReply{200, picture_, "image/png"});
  }

  // The folder's name holds a space: every path reaches 7-Zip whole.
  std::wstring MakeProgramFolder(const TempFolder& root, bool withTool = true) {
    const std::wstring folder = root / L"Programas Orvane";
    EXPECT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    exe_ = testing::InstallBrivon(folder);
    if (withTool) {
      EXPECT_TRUE(testing::InstallArchiveTool(folder));
    }
    EXPECT_TRUE(WriteBytes(folder + L"\\" + kSibling, oldExe_));
    EXPECT_TRUE(WriteBytes(folder + L"\\Datos.MDB", kMdb));
    EXPECT_TRUE(WriteBytes(folder + L"\\Empresa.BDORVA", kBd));
    return folder;
  }

  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(server_.port()) + path; }

  // A ZIP package made by the real 7-Zip.
  static std::string MakeZip(const std::vector<std::pair<std::wstring, std::string>>& files, bool stored = false) {
    TempFolder staging(L"brivon-zip");
    for (const auto& [name, bytes] : files) {
      const std::wstring path = staging / name;
      std::filesystem::create_directories(std::filesystem::path(path).parent_path());
      EXPECT_TRUE(WriteBytes(path, bytes));
    }
    const std::wstring archive = staging / L"paquete.zip";
    EXPECT_EQ(testing::RunToEnd(L"\"" + testing::ArchiveToolPath() + L"\" a -tzip" + (stored ? L" -mx0" : L"") + L" \"" +
                                archive + L"\" \"" + staging.path() + L"\\*\" -x!paquete.zip"),
              0u);
    return ReadBytes(archive);
  }

  // Runs brivon.exe. The first alert window is the update's and is never touched; any later one
  // is closed by its close bar. `duringRun` is called on every poll.
  WindowsSeen Run(const std::wstring& folder, const std::function<void(DWORD)>& duringRun = {}) {
    WindowsSeen seen;
    HWND updateWindow = nullptr;
    testing::RunOptions options;
    options.timeoutMs = 180000;
    options.whileRunning = [&](DWORD processId) {
      if (duringRun) duringRun(processId);
      if (updateWindow && !seen.updateWindowGone && !::IsWindow(updateWindow)) {
        seen.updateWindowGone = true;
        seen.descargasWhenUpdateClosed = ReadBytes(testing::LogPath(folder, L"descargas.csv"));
      }
      const std::vector<HWND> windows = testing::VisibleAlertWindows(processId);
      seen.mostAtOnce = std::max(seen.mostAtOnce, static_cast<int>(windows.size()));
      if (windows.size() != 1) return;
      HWND window = windows.front();
      if (window == updateWindow) return;
      ++seen.count;
      if (!updateWindow) {
        updateWindow = window;
        return;
      }
      ::Sleep(::GetDoubleClickTime() + 100);  // painted, and its close bar takes clicks
      testing::ClickCloseBar(window);
      testing::WaitUntil([&] { return !::IsWindow(window); }, 10000);
    };
    seen.run = testing::RunProgram(exe_, options);
    return seen;
  }

  static std::string oldExe_, newExe_, picture_;
  LoopbackHttpServer server_{testing::BuiltInPort()};
  std::wstring exe_;
};

// The time-stamped folder an update run made in "\actualizaciones", checked against the run's times.
std::wstring OnlyStampFolder(const std::wstring& folder, const std::wstring& before, const std::wstring& after);

}  // namespace update_e2e
}  // namespace brivon
