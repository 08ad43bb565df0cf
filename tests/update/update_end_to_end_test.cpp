// The real brivon.exe installs an update from start to end: its check-in fetches an update alert
// from the loopback service, the update window downloads and installs the package with the real
// 7za.exe and the PowerShell stand-in, closes by itself, and the next alert follows. Whatever goes
// wrong, the sibling program stays: its executable is the old one or the new one, byte for byte.
#include <windows.h>
#include <objidl.h>
#include <tlhelp32.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "common/gdiplus_owners.h"
#include "common/png_encoder.h"
#include "common/text.h"
#include "servers/loopback_http_server.h"
#include "support/alert_window_driver.h"
#include "support/log_lines.h"
#include "support/powershell_standin.h"
#include "support/program_run.h"
#include "support/test_env.h"
#include "archive/child_process.h"

namespace brivon {
namespace {

using testing::Exists;
using testing::HttpReply;
using testing::LoopbackHttpServer;
using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

constexpr char kCheckinPath[] = "/comprobador/checkin";
constexpr char kPicturePath[] = "/borrar/fotoactualizacion.png";
constexpr wchar_t kSibling[] = L"FacturaOrva.exe";  // a program of the check-in's product table
const std::string kMdb = "datos de la empresa";
const std::string kBd = "base BDORVA";

// ---------------------------------------------------------------------------------------------
// Pictures in and out: the update picture the service hands out, and screenshots of the window.

// An orange field in a dark blue frame, as PNG bytes.
std::string FramedPicturePng(int w, int h) {
  GdiplusSession gdiplus;
  CLSID png;
  if (!gdiplus.started() || !brivon::FindPngEncoder(&png)) return {};
  IStream* raw = nullptr;
  if (::CreateStreamOnHGlobal(nullptr, TRUE, &raw) != S_OK) return {};
  UniqueStream stream(raw);
  {
    Gdiplus::Bitmap bitmap(w, h, PixelFormat24bppRGB);
    Gdiplus::Graphics graphics(&bitmap);
    graphics.Clear(Gdiplus::Color(0x10, 0x30, 0x80));
    Gdiplus::SolidBrush orange(Gdiplus::Color(0xF0, 0x90, 0x20));
    graphics.FillRectangle(&orange, 16, 16, w - 32, h - 32);
    if (bitmap.Save(stream.get(), &png, nullptr) != Gdiplus::Ok) return {};
  }
  STATSTG stat{};
  if (stream.get()->Stat(&stat, STATFLAG_NONAME) != S_OK) return {};
  std::string bytes(static_cast<size_t>(stat.cbSize.QuadPart), '\0');
  LARGE_INTEGER start{};
  stream.get()->Seek(start, STREAM_SEEK_SET, nullptr);
  ULONG read = 0;
  stream.get()->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
  bytes.resize(read);
  return bytes;
}

// build-X/artifacts/update_window, from where the test build keeps brivon.exe (build-X/bin).
std::wstring ArtifactsFolder() {
  std::wstring exe = testing::BrivonExePath();
  std::wstring build = exe.substr(0, exe.find_last_of(L'\\'));
  build = build.substr(0, build.find_last_of(L'\\'));
  std::wstring folder = build + L"\\artifacts\\update_window";
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(folder), ignored);
  return folder;
}

// The screen's pixels, read once: probing a copy is quick where each screen read is a round trip.
struct ScreenShot {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // 0x00RRGGBB, top row first
  COLORREF At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x] & 0xFFFFFF; }
};

ScreenShot TakeScreenShot() {
  ScreenShot shot;
  shot.width = ::GetSystemMetrics(SM_CXSCREEN);
  shot.height = ::GetSystemMetrics(SM_CYSCREEN);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = shot.width;
  info.bmiHeader.biHeight = -shot.height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP section = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (section && bits) {
    HGDIOBJ previous = ::SelectObject(memory, section);
    ::BitBlt(memory, 0, 0, shot.width, shot.height, screen, 0, 0, SRCCOPY);
    ::GdiFlush();
    const auto* first = static_cast<const uint32_t*>(bits);
    shot.pixels.assign(first, first + static_cast<size_t>(shot.width) * shot.height);
    ::SelectObject(memory, previous);
  }
  if (section) ::DeleteObject(section);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  if (shot.pixels.empty()) shot.width = shot.height = 0;
  return shot;
}

bool SaveAsPng(const ScreenShot& shot, const std::wstring& path) {
  if (shot.pixels.empty()) return false;
  GdiplusSession gdiplus;
  CLSID png;
  if (!gdiplus.started() || !brivon::FindPngEncoder(&png)) return false;
  std::vector<uint32_t> copy = shot.pixels;
  Gdiplus::Bitmap bitmap(shot.width, shot.height, shot.width * 4, PixelFormat32bppRGB,
                         reinterpret_cast<BYTE*>(copy.data()));
  return bitmap.Save(path.c_str(), &png, nullptr) == Gdiplus::Ok;
}

bool Near(COLORREF a, COLORREF b, int tolerance) {
  for (int shift : {0, 8, 16}) {
    if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > tolerance) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// The activity logs.

// Local time as the archive folders are named.
std::wstring StampNow() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  wchar_t text[32];
  std::swprintf(text, 32, L"%02u%02u%02u_%02u%02u%02u", t.wYear % 100u, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond);
  return text;
}

std::string Document(const std::string& alertas) {
  return R"({"titulo":"Avisos de FacturaOrva","color_fondo":"#203040","color_titulo_fondo":"#804020",)"
         R"("color_titulo_texto":"#FFFFFF","alertas":[)" +
         alertas + "]}";
}

std::string UpdateAlert(const std::string& url) {
  return R"({"tipo":"url_actualizar","titulo":"Actualizando","contenido":[{"texto":"","enlace":")" + url + R"("}]})";
}
const char kUpdateAlertWithoutEntries[] = R"({"tipo":"url_actualizar","titulo":"Actualizando","contenido":[]})";
const char kNextAlert[] =
    R"({"tipo":"solo_mensaje","contenido":[{"texto":"Actualizado","enlace":"","imagen":"",)"
    R"("color_fondo":"#00A000","color_texto":"#FFFFFF"}]})";

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
    ASSERT_TRUE(testing::InstallPowerShellStandIn());
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

  // The folder's name holds a space: every path reaches 7-Zip and PowerShell whole.
  std::wstring MakeProgramFolder(const TempFolder& root, bool withTool = true) {
    const std::wstring folder = root / L"Programas Orvane";
    EXPECT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    exe_ = testing::InstallBrivon(folder);
    if (withTool) {
      EXPECT_TRUE(::CopyFileW(testing::ArchiveToolPath().c_str(), (folder + L"\\7za.exe").c_str(), FALSE));
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
    unsigned long code = 0;
    EXPECT_TRUE(RunHiddenProcess(L"\"" + testing::ArchiveToolPath() + L"\" a -tzip" + (stored ? L" -mx0" : L"") +
                                     L" \"" + archive + L"\" \"" + staging.path() + L"\\*\" -x!paquete.zip",
                                 &code));
    EXPECT_EQ(code, 0u);
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
        seen.descargasWhenUpdateClosed = ReadBytes(folder + L"\\actualizador_registros\\descargas.csv");
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
      RECT r{};
      ::GetWindowRect(window, &r);
      testing::ClickAt(r.left + (r.right - r.left) * 3 / 4, r.bottom - 20);
      testing::WaitUntil([&] { return !::IsWindow(window); }, 10000);
    };
    seen.run = testing::RunProgram(exe_, options);
    return seen;
  }

  static std::string oldExe_, newExe_, picture_;
  LoopbackHttpServer server_{testing::BuiltInPort()};
  std::wstring exe_;
};

std::string UpdateEndToEnd::oldExe_;
std::string UpdateEndToEnd::newExe_;
std::string UpdateEndToEnd::picture_;

// The time-stamped folder an update run made in "\actualizaciones", checked against the run's times.
std::wstring OnlyStampFolder(const std::wstring& folder, const std::wstring& before, const std::wstring& after) {
  const std::vector<std::wstring> stamps = testing::EntryNames(folder + L"\\actualizaciones", true);
  EXPECT_EQ(stamps.size(), 1u);
  if (stamps.size() != 1) return L"?";
  static const std::wregex shape(LR"(\d{6}_\d{6})");
  EXPECT_TRUE(std::regex_match(stamps[0], shape)) << NarrowLow8(stamps[0]);
  EXPECT_LE(before, stamps[0]);
  EXPECT_LE(stamps[0], after);
  return stamps[0];
}

TEST_F(UpdateEndToEnd, ExecutablePackageThenTheNextStartArchivesWhatItLeft) {
  TempFolder root(L"brivon-e2e");
  const std::wstring folder = MakeProgramFolder(root);
  ASSERT_TRUE(WriteBytes(folder + L"\\FacturaOrva2.exe", "leftover of an interrupted run"));
  const std::string url = Url("/descargas/FacturaOrva.exe?v=7");
  server_.Serve("/descargas/FacturaOrva.exe", HttpReply{200, newExe_});
  server_.Serve(kCheckinPath, HttpReply{200, Document(UpdateAlert(url) + "," + kNextAlert), "application/json"});

  const std::wstring before = StampNow();
  WindowsSeen seen = Run(folder);
  const std::wstring after = StampNow();

  EXPECT_TRUE(seen.run.started);
  EXPECT_FALSE(seen.run.timedOut);
  EXPECT_EQ(seen.run.exitCode, 0u);
  EXPECT_TRUE(seen.run.boxes.empty());
  EXPECT_EQ(seen.count, 2);  // the update window, then the next alert
  EXPECT_EQ(seen.mostAtOnce, 1);
  EXPECT_TRUE(seen.updateWindowGone);
  EXPECT_EQ(server_.CountRequests(kPicturePath), 1u);

  // Afterwards the folder holds the new program, the data files and the tool; the earlier "2" file
  // is kept under a free name, the run's own is gone.
  EXPECT_EQ(ReadBytes(folder + L"\\" + kSibling), newExe_);
  EXPECT_EQ(testing::EntryNames(folder, false),
            (std::vector<std::wstring>{L"7za.exe", L"Datos.MDB", L"Empresa.BDORVA", L"FacturaOrva.exe",
                                       L"FacturaOrva2_1.exe", L"brivon.exe"}));
  EXPECT_EQ(ReadBytes(folder + L"\\FacturaOrva2_1.exe"), "leftover of an interrupted run");
  EXPECT_EQ(ReadBytes(folder + L"\\Datos.MDB"), kMdb);
  EXPECT_EQ(ReadBytes(folder + L"\\Empresa.BDORVA"), kBd);
  const std::wstring stamp = OnlyStampFolder(folder, before, after);
  const std::wstring kept = folder + L"\\actualizaciones\\" + stamp;
  EXPECT_EQ(ReadBytes(kept + L"\\FacturaOrva.exe"), oldExe_);
  EXPECT_EQ(ReadBytes(kept + L"\\Datos.MDB"), kMdb);
  EXPECT_EQ(ReadBytes(kept + L"\\Empresa.BDORVA"), kBd);
  auto listing = testing::ListArchive(kept + L".zip");
  std::sort(listing.begin(), listing.end());
  EXPECT_EQ(listing, (std::vector<std::wstring>{L"Datos.MDB", L"Empresa.BDORVA", L"FacturaOrva.exe"}));

  const std::string p = NarrowLow8(folder);
  const std::string k = NarrowLow8(kept);
  const std::vector<std::string> update = {
      "CONSERVADO_2_EXISTENTE;" + p + "\\FacturaOrva2.exe;->;" + p + "\\FacturaOrva2_1.exe",
      "RENOMBRADO_A_2;" + p + "\\FacturaOrva.exe;" + p + "\\FacturaOrva2.exe",
      "EJECUTABLE_NO_VERIFICADO;" + p + "\\FacturaOrva.exe;firmante=",  // the installed program is unsigned
      "DESCARGA;" + url + ";" + p + "\\FacturaOrva.exe",
      "ARCHIVO_ANTERIOR_A_ACTUALIZACIONES;" + p + "\\FacturaOrva2.exe;->;" + k + "\\FacturaOrva.exe",
      "COPIA_OK;" + p + "\\Datos.MDB;->;" + k + "\\Datos.MDB",
      "COPIA_OK;" + p + "\\Empresa.BDORVA;->;" + k + "\\Empresa.BDORVA",
      "COPIA_PATRONES_RESUMEN;dest=" + k + ";MDB=1;BDORVA=1",
      "ZIP_CARPETA;" + k + ";->;" + k + ".zip;estado=OK;ec=0",
  };
  std::vector<std::string> whole = update;
  whole.push_back("CIERRE_ARCHIVAR_ZIP;" + p + "\\brivon2.exe;NO_EXISTE");  // the next alert's close bar
  EXPECT_EQ(testing::LogTexts(folder + L"\\actualizador_registros\\descargas.csv"), whole);
  // The update window went away only once the run had written its last line.
  const std::wstring snapshot = root / L"descargas_al_cerrar.csv";
  ASSERT_TRUE(WriteBytes(snapshot, seen.descargasWhenUpdateClosed));
  EXPECT_EQ(testing::LogTexts(snapshot), update);
  EXPECT_FALSE(Exists(folder + L"\\actualizador_registros\\extracciones.csv"));

  // The next start archives the time-stamped folder again under its name and removes it.
  server_.Serve(kCheckinPath, HttpReply{200, Document(""), "application/json"});
  WindowsSeen next = Run(folder);
  EXPECT_EQ(next.run.exitCode, 0u);
  EXPECT_FALSE(next.run.timedOut);
  EXPECT_EQ(next.count, 0);
  EXPECT_TRUE(testing::EntryNames(folder + L"\\actualizaciones", true).empty());
  EXPECT_EQ(testing::EntryNames(folder + L"\\actualizaciones", false), std::vector<std::wstring>{stamp + L".zip"});
  listing = testing::ListArchive(kept + L".zip");
  std::sort(listing.begin(), listing.end());
  EXPECT_EQ(listing, (std::vector<std::wstring>{L"Datos.MDB", L"Empresa.BDORVA", L"FacturaOrva.exe"}));
  EXPECT_EQ(ReadBytes(folder + L"\\" + kSibling), newExe_);
}

TEST_F(UpdateEndToEnd, ZipPackageInstallsItsExecutableAndKeepsTheRestOfThePackage) {
  TempFolder root(L"brivon-e2e");
  const std::wstring folder = MakeProgramFolder(root);
  const std::string url = Url("/descargas/Paquete.zip");
  server_.Serve("/descargas/Paquete.zip",
                HttpReply{200, MakeZip({{L"bin\\FacturaOrva.exe", newExe_}, {L"bin\\ayuda.dll", "MZ ayuda"}})});
  server_.Serve(kCheckinPath, HttpReply{200, Document(UpdateAlert(url) + "," + kNextAlert), "application/json"});

  const std::wstring before = StampNow();
  WindowsSeen seen = Run(folder);
  const std::wstring after = StampNow();

  EXPECT_FALSE(seen.run.timedOut);
  EXPECT_EQ(seen.run.exitCode, 0u);
  EXPECT_EQ(seen.count, 2);
  EXPECT_EQ(seen.mostAtOnce, 1);

  EXPECT_EQ(ReadBytes(folder + L"\\" + kSibling), newExe_);
  EXPECT_EQ(testing::EntryNames(folder, false), (std::vector<std::wstring>{L"7za.exe", L"Datos.MDB", L"Empresa.BDORVA",
                                                                  L"FacturaOrva.exe", L"brivon.exe"}));
  EXPECT_EQ(ReadBytes(folder + L"\\Datos.MDB"), kMdb);
  EXPECT_EQ(ReadBytes(folder + L"\\Empresa.BDORVA"), kBd);
  // The extraction folder stays with what the package held besides the executable.
  EXPECT_EQ(ReadBytes(folder + L"\\Paquete\\bin\\ayuda.dll"), "MZ ayuda");
  EXPECT_FALSE(Exists(folder + L"\\Paquete\\bin\\FacturaOrva.exe"));
  const std::wstring stamp = OnlyStampFolder(folder, before, after);
  const std::wstring kept = folder + L"\\actualizaciones\\" + stamp;
  EXPECT_EQ(ReadBytes(kept + L"\\FacturaOrva.exe"), oldExe_);
  auto listing = testing::ListArchive(kept + L".zip");
  std::sort(listing.begin(), listing.end());
  EXPECT_EQ(listing, (std::vector<std::wstring>{L"Datos.MDB", L"Empresa.BDORVA", L"FacturaOrva.exe"}));

  const std::string p = NarrowLow8(folder);
  const std::string k = NarrowLow8(kept);
  const std::vector<std::string> update = {
      "DESCARGA;" + url + ";" + p + "\\Paquete.zip",
      "EJECUTABLE_NO_VERIFICADO;" + p + "\\FacturaOrva.exe;firmante=",
      "RENOMBRADO_A_2_ZIP;" + p + "\\FacturaOrva.exe;->;" + p + "\\FacturaOrva2.exe",
      "ARCHIVO_ANTERIOR_A_ACTUALIZACIONES_ZIP;" + p + "\\FacturaOrva2.exe;->;" + k + "\\FacturaOrva.exe",
      "COPIA_OK;" + p + "\\Datos.MDB;->;" + k + "\\Datos.MDB",
      "COPIA_OK;" + p + "\\Empresa.BDORVA;->;" + k + "\\Empresa.BDORVA",
      "COPIA_PATRONES_RESUMEN_ZIP;dest=" + k + ";MDB=1;BDORVA=1",
      "ZIP_CARPETA;" + k + ";->;" + k + ".zip;estado=OK;ec=0",
      "EXE_NUEVO_EN_RAIZ_OK;" + p + "\\Paquete\\bin\\FacturaOrva.exe;->;" + p + "\\FacturaOrva.exe",
      "LIMPIEZA_OK;ZIP_ELIMINADO;" + p + "\\Paquete.zip",
  };
  std::vector<std::string> whole = update;
  whole.push_back("CIERRE_ARCHIVAR_ZIP;" + p + "\\brivon2.exe;NO_EXISTE");
  EXPECT_EQ(testing::LogTexts(folder + L"\\actualizador_registros\\descargas.csv"), whole);
  EXPECT_EQ(testing::LogTexts(folder + L"\\actualizador_registros\\extracciones.csv"),
            std::vector<std::string>{"UNZIP_7ZA;" + p + "\\Paquete.zip;->;" + p + "\\Paquete;OK;ec=0"});
  const std::wstring snapshot = root / L"descargas_al_cerrar.csv";
  ASSERT_TRUE(WriteBytes(snapshot, seen.descargasWhenUpdateClosed));
  EXPECT_EQ(testing::LogTexts(snapshot), update);
}

// ---------------------------------------------------------------------------------------------
// The fault matrix: one row per fault, each held to the same promise.

struct FaultRow {
  const char* name;
  std::string packagePath;  // "" for an update alert without entries
  HttpReply reply;
  bool nobodyListens = false;     // the package address has no server at all
  bool withoutTool = false;       // 7za.exe missing (and not downloadable)
  bool holdInstalled = false;     // the installed executable held open without sharing
  bool holdNewOnceExtracted = false;  // the new executable held once 7-Zip has unpacked it
  const wchar_t* powershell = nullptr;  // the stand-in's misbehaviour
  bool expectNew = false;
  std::vector<std::string> downloads;  // markers of descargas.csv, in order and complete
  std::string extraction;              // "OK", "ERROR" or "" (no extraction line)
  std::string archiveLine = "";        // the end of the "ZIP_CARPETA;" line, when there is one
  std::string downloadError = "";      // the end of the "ERROR_DESCARGA;" line, when known
  // The user's own files, put in the program folder before the run (their folders made as
  // needed), and where each must be afterwards, byte for byte ("*": the only time-stamped folder).
  std::vector<std::pair<std::wstring, std::string>> userFiles = {};
  std::vector<std::pair<std::wstring, std::string>> userFilesAfter = {};
  const wchar_t* holdUserFile = nullptr;  // one of them held open without sharing
};

HttpReply Status(int status) {
  HttpReply reply;
  reply.status = status;
  reply.body = "<html>" + std::to_string(status) + "</html>";
  reply.contentType = "text/html";
  return reply;
}

std::vector<FaultRow> FaultRows(const std::string& newExe, const std::string& zipAtTop, const std::string& zipNoExe,
                                const std::string& zipWithClient) {
  HttpReply exe{200, newExe};
  HttpReply zip{200, zipAtTop};
  HttpReply empty{200, ""};
  HttpReply cut{200, newExe};
  cut.cutAfter = static_cast<int64_t>(newExe.size() / 2);
  HttpReply noAnswer;
  noAnswer.closeWithoutAnswer = true;
  HttpReply silent;  // takes the request, then says nothing: the receive limit ends the wait
  silent.neverAnswer = true;
  HttpReply corrupt{200, zipAtTop.substr(0, zipAtTop.size() / 2) + std::string(64, 'U')};
  HttpReply noExe{200, zipNoExe};
  const std::vector<std::string> putBack = {"RENOMBRADO_A_2", "ERROR_DESCARGA", "RESTAURADO_EJECUTABLE_ANTERIOR"};
  const std::string exePath = "/descargas/FacturaOrva.exe";
  const std::string zipPath = "/descargas/Paquete.zip";
  std::vector<FaultRow> rows = {
      {"package server answers 404", exePath, Status(404)},
      {"package server answers 500", exePath, Status(500)},
      {"empty body", exePath, empty},
      {"body cut in the middle", exePath, cut},
      {"no answer", exePath, noAnswer},
      {"nobody listens", exePath, exe},
      {"installed executable held open", exePath, exe},
      {"7za.exe missing", zipPath, zip},
      {"ZIP corrupt", zipPath, corrupt},
      {"ZIP without an executable", zipPath, noExe},
      {"new executable cannot be moved in", zipPath, zip},
      {"PowerShell fails", exePath, exe},
      {"PowerShell exits 0 without an archive", zipPath, zip},
      {"update alert without entries", "", exe},
      {"package server silent", exePath, silent},
  };
  rows[14].downloads = putBack;
  for (int i = 0; i < 6; ++i) rows[i].downloads = putBack;
  rows[0].downloadError = ";err=404";
  rows[4].downloadError = ";err=12152";  // no status line: ERROR_HTTP_INVALID_SERVER_RESPONSE
  rows[5].nobodyListens = true;
  rows[5].downloadError = ";err=12029";
  rows[6].holdInstalled = true;
  rows[6].downloads = {"ERROR_RENOMBRAR_A_2", "DESCARGA_OMITIDA"};
  rows[7].withoutTool = true;
  rows[7].downloads = {"DESCARGA"};
  rows[7].extraction = "ERROR";
  rows[8].downloads = {"DESCARGA"};
  rows[8].extraction = "ERROR";
  rows[9].downloads = {"DESCARGA", "ZIP_SIN_EXE", "ZIP_EXE_SIN_MATCH_EN_RAIZ", "LIMPIEZA_OK"};
  rows[9].extraction = "OK";
  rows[10].holdNewOnceExtracted = true;
  rows[10].downloads = {"DESCARGA",     "EJECUTABLE_NO_VERIFICADO", "RENOMBRADO_A_2_ZIP",           "ARCHIVO_ANTERIOR_A_ACTUALIZACIONES_ZIP",
                        "COPIA_OK",     "COPIA_OK",                     "COPIA_PATRONES_RESUMEN_ZIP",
                        "ZIP_CARPETA",  "ERROR_MOVER_EXE_NUEVO_A_RAIZ", "RESTAURADO_EJECUTABLE_ANTERIOR",
                        "LIMPIEZA_OK"};
  rows[10].extraction = "OK";
  rows[10].archiveLine = ";estado=OK;ec=0";
  rows[11].powershell = L"fail";
  rows[11].expectNew = true;
  rows[11].downloads = {"RENOMBRADO_A_2", "EJECUTABLE_NO_VERIFICADO", "DESCARGA", "ARCHIVO_ANTERIOR_A_ACTUALIZACIONES", "COPIA_OK",
                        "COPIA_OK",       "COPIA_PATRONES_RESUMEN", "ZIP_CARPETA"};
  rows[11].archiveLine = ";estado=ERROR;ec=1";
  rows[12].powershell = L"silent";
  rows[12].expectNew = true;
  rows[12].downloads = {"DESCARGA",    "EJECUTABLE_NO_VERIFICADO", "RENOMBRADO_A_2_ZIP",  "ARCHIVO_ANTERIOR_A_ACTUALIZACIONES_ZIP",
                        "COPIA_OK",    "COPIA_OK",            "COPIA_PATRONES_RESUMEN_ZIP",
                        "ZIP_CARPETA", "EXE_NUEVO_EN_RAIZ_OK", "LIMPIEZA_OK",
                        "LIMPIEZA_OK"};
  rows[12].extraction = "OK";
  rows[12].archiveLine = ";estado=ERROR;ec=0";
  // The user's files under the names the run uses.
  const std::string other = "otro programa del usuario";
  // (The executable package's case is the worked example above.)
  FaultRow keptZip{"an earlier FacturaOrva2.exe is kept (ZIP package)", zipPath, zip};
  keptZip.userFiles = {{L"FacturaOrva2.exe", other}};
  keptZip.userFilesAfter = {{L"FacturaOrva2_1.exe", other}};
  keptZip.expectNew = true;
  keptZip.downloads = {"DESCARGA",           "EJECUTABLE_NO_VERIFICADO", "CONSERVADO_2_EXISTENTE", "RENOMBRADO_A_2_ZIP",
                       "ARCHIVO_ANTERIOR_A_ACTUALIZACIONES_ZIP", "COPIA_OK", "COPIA_OK",
                       "COPIA_PATRONES_RESUMEN_ZIP", "ZIP_CARPETA", "EXE_NUEVO_EN_RAIZ_OK",
                       "LIMPIEZA_OK",        "LIMPIEZA_OK"};
  keptZip.extraction = "OK";
  keptZip.archiveLine = ";estado=OK;ec=0";
  rows.push_back(keptZip);
  FaultRow heldLeftover{"an earlier FacturaOrva2.exe held open: the program is not replaced", exePath, exe};
  heldLeftover.userFiles = keptZip.userFiles;
  heldLeftover.userFilesAfter = keptZip.userFiles;
  heldLeftover.holdUserFile = L"FacturaOrva2.exe";
  heldLeftover.downloads = {"ERROR_CONSERVAR_2_EXISTENTE", "DESCARGA_OMITIDA"};
  rows.push_back(heldLeftover);
  FaultRow dataName{"a package named like a data file is stored beside it", "/descargas/Datos.MDB", exe};
  dataName.userFilesAfter = {{L"Datos_1.MDB", newExe}};
  dataName.downloads = {"PAQUETE_NOMBRE_LIBRE", "DESCARGA"};
  rows.push_back(dataName);
  FaultRow otherFile{"a file a package replaces is kept in the updates folder", "/descargas/ayuda.dll", exe};
  otherFile.userFiles = {{L"ayuda.dll", "ayuda del usuario"}};
  otherFile.userFilesAfter = {{L"ayuda.dll", newExe}, {L"actualizaciones\\*\\ayuda.dll", "ayuda del usuario"}};
  otherFile.downloads = {"ARCHIVO_REEMPLAZADO_A_ACTUALIZACIONES", "DESCARGA", "COPIA_OK", "COPIA_OK",
                         "COPIA_PATRONES_RESUMEN", "ZIP_CARPETA"};
  otherFile.archiveLine = ";estado=OK;ec=0";
  rows.push_back(otherFile);
  FaultRow folderTaken{"a ZIP named like a folder of the user's unpacks beside it", "/descargas/Datos.zip",
                       HttpReply{200, zipWithClient}};
  folderTaken.userFiles = {{L"Datos\\cliente.txt", "cliente del usuario"}};
  folderTaken.userFilesAfter = {{L"Datos\\cliente.txt", "cliente del usuario"},
                                {L"Datos_1\\cliente.txt", "cliente del paquete"}};
  folderTaken.expectNew = true;
  folderTaken.downloads = {"DESCARGA",    "CARPETA_EXTRACCION_LIBRE", "EJECUTABLE_NO_VERIFICADO", "RENOMBRADO_A_2_ZIP",
                           "ARCHIVO_ANTERIOR_A_ACTUALIZACIONES_ZIP", "COPIA_OK", "COPIA_OK",
                           "COPIA_PATRONES_RESUMEN_ZIP", "ZIP_CARPETA", "EXE_NUEVO_EN_RAIZ_OK", "LIMPIEZA_OK"};
  folderTaken.extraction = "OK";
  folderTaken.archiveLine = ";estado=OK;ec=0";
  rows.push_back(folderTaken);
  // As on a full disk, the copy back from the updates folder fails (a folder stands where the copy
  // is written first): the previous version is moved back instead.
  FaultRow copyFails = rows[10];
  copyFails.name = "new executable cannot be moved in, and the copy back fails";
  copyFails.userFiles = {{L"FacturaOrva.exe.escribiendo\\ocupado", "x"}};
  copyFails.userFilesAfter = copyFails.userFiles;
  rows.push_back(copyFails);
  // A hung PowerShell is ended by the installer's child-process bound (ten minutes in brivon.exe);
  // the archive tests run it with a short bound.
  return rows;
}

TEST_F(UpdateEndToEnd, EveryFaultLeavesTheProgramWholeAndTheDataFilesUnchanged) {
  const std::string zipAtTop = MakeZip({{L"FacturaOrva.exe", newExe_}});
  const std::string zipNoExe = MakeZip({{L"leeme.txt", "sin ejecutable"}});
  const std::string zipWithClient = MakeZip({{L"FacturaOrva.exe", newExe_}, {L"cliente.txt", "cliente del paquete"}});
  uint16_t deadPort = 0;
  {
    LoopbackHttpServer probe;
    ASSERT_TRUE(probe.Start());
    deadPort = probe.port();
  }

  for (const FaultRow& row : FaultRows(newExe_, zipAtTop, zipNoExe, zipWithClient)) {
    SCOPED_TRACE(row.name);
    TempFolder root(L"brivon-fault");
    const std::wstring folder = MakeProgramFolder(root, !row.withoutTool);
    const std::wstring sibling = folder + L"\\" + kSibling;
    const std::string port = std::to_string(row.nobodyListens ? deadPort : server_.port());
    const std::string url = "http://127.0.0.1:" + port + row.packagePath;
    if (!row.packagePath.empty()) server_.Serve(row.packagePath, row.reply);
    server_.Serve(kCheckinPath, HttpReply{200,
                                          Document(row.packagePath.empty() ? kUpdateAlertWithoutEntries
                                                                           : UpdateAlert(url)),
                                          "application/json"});
    server_.ClearRequests();

    for (const auto& [name, bytes] : row.userFiles) {
      const std::wstring path = folder + L"\\" + name;
      std::filesystem::create_directories(std::filesystem::path(path).parent_path());
      ASSERT_TRUE(WriteBytes(path, bytes));
    }
    UniqueFile heldInstalled;
    if (row.holdInstalled || row.holdUserFile) {
      const std::wstring held = row.holdInstalled ? sibling : folder + L"\\" + row.holdUserFile;
      heldInstalled.reset(::CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(heldInstalled);
    }
    std::unique_ptr<testing::PowerShellMode> mode;
    if (row.powershell) mode = std::make_unique<testing::PowerShellMode>(row.powershell);

    // Holds the new executable between its extraction and its move into the program folder.
    UniqueFile heldNew;
    auto holdNew = [&](DWORD) {
      if (!row.holdNewOnceExtracted || heldNew) return;
      const std::wstring extractions = folder + L"\\actualizador_registros\\extracciones.csv";
      if (ReadBytes(folder + L"\\actualizador_registros\\descargas.csv").find("DESCARGA;") == std::string::npos) return;
      testing::WaitUntil([&] { return ReadBytes(extractions).find("UNZIP_7ZA;") != std::string::npos; }, 30000);
      heldNew.reset(::CreateFileW((folder + L"\\Paquete\\FacturaOrva.exe").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    };

    WindowsSeen seen = Run(folder, holdNew);
    const bool heldInTime = static_cast<bool>(heldNew);
    heldInstalled.reset();
    heldNew.reset();
    mode.reset();

    EXPECT_FALSE(seen.run.timedOut);
    EXPECT_EQ(seen.run.exitCode, 0u);
    EXPECT_LE(seen.count, 1);  // the update window, which closed by itself (quick ones can pass unseen)
    if (!row.packagePath.empty()) EXPECT_EQ(server_.CountRequests(kPicturePath), 1u);  // its first paint
    if (row.holdNewOnceExtracted) EXPECT_TRUE(heldInTime);

    // The promise.
    EXPECT_EQ(ReadBytes(sibling), row.expectNew ? newExe_ : oldExe_);
    bool leftoverStays = false;
    for (auto [name, bytes] : row.userFilesAfter) {
      const size_t star = name.find(L'*');  // the only time-stamped folder of the updates folder
      if (star != std::wstring::npos) {
        const auto stamps = testing::EntryNames(folder + L"\\actualizaciones", true);
        ASSERT_EQ(stamps.size(), 1u);
        name.replace(star, 1, stamps[0]);
      }
      EXPECT_EQ(ReadBytes(folder + L"\\" + name), bytes) << NarrowLow8(name);
      leftoverStays = leftoverStays || name == L"FacturaOrva2.exe";
    }
    if (!leftoverStays) EXPECT_FALSE(Exists(folder + L"\\FacturaOrva2.exe"));
    EXPECT_EQ(ReadBytes(folder + L"\\Datos.MDB"), kMdb);
    EXPECT_EQ(ReadBytes(folder + L"\\Empresa.BDORVA"), kBd);
    if (row.expectNew) {  // the replaced version is kept
      const auto stamps = testing::EntryNames(folder + L"\\actualizaciones", true);
      ASSERT_EQ(stamps.size(), 1u);
      EXPECT_EQ(ReadBytes(folder + L"\\actualizaciones\\" + stamps[0] + L"\\FacturaOrva.exe"), oldExe_);
    }

    // The logs say what happened.
    const auto downloads = testing::LogTexts(folder + L"\\actualizador_registros\\descargas.csv");
    EXPECT_EQ(testing::MarkersOf(downloads), row.downloads);
    const auto extractions = testing::LogTexts(folder + L"\\actualizador_registros\\extracciones.csv");
    if (row.extraction.empty()) {
      EXPECT_TRUE(extractions.empty());
    } else {
      ASSERT_EQ(extractions.size(), 1u);
      EXPECT_NE(extractions[0].find(";" + row.extraction + ";ec="), std::string::npos) << extractions[0];
    }
    if (!row.archiveLine.empty()) {
      auto line = std::find_if(downloads.begin(), downloads.end(),
                               [](const std::string& t) { return t.rfind("ZIP_CARPETA;", 0) == 0; });
      ASSERT_NE(line, downloads.end());
      EXPECT_EQ(line->substr(line->size() - row.archiveLine.size()), row.archiveLine);
    }
    for (const std::string& line : downloads) {  // a failed download always tells its code
      if (line.rfind("ERROR_DESCARGA", 0) != 0 && line.rfind("ERROR_GUARDAR", 0) != 0) continue;
      EXPECT_NE(line.find(";err="), std::string::npos) << line;
      EXPECT_EQ(line.find(";err=0"), std::string::npos) << line;
      if (!row.downloadError.empty()) {
        EXPECT_EQ(line.substr(line.find(";err=")), row.downloadError);
      }
    }
    if (row.withoutTool) {
      ASSERT_EQ(seen.run.boxes.size(), 1u);  // the failed bootstrap says so; the update goes on
      EXPECT_EQ(seen.run.boxes[0].title, L"Brivon - Error descargando 7za.exe");
    } else {
      EXPECT_TRUE(seen.run.boxes.empty());
    }
    if (row.packagePath.empty()) {
      EXPECT_EQ(server_.CountRequests(kPicturePath), 0u);  // nothing to install: no update started
      EXPECT_FALSE(Exists(folder + L"\\actualizaciones"));
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The kill matrix: the run ends at one instant, as End task, a logoff or a power cut would end
// it; the next start puts the folder right before its check-in, and the one after finds nothing
// left to repair. The test build ends itself at a named point; other rows end it from outside.

// While alive, the variable is set for this process and the programs it starts.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
    ::SetEnvironmentVariableW(name, value.empty() ? nullptr : value.c_str());
  }
  ~ScopedVariable() { ::SetEnvironmentVariableW(name_, nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const wchar_t* name_;
};

void Terminate(DWORD processId) {
  UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
  if (!process) return;
  ::TerminateProcess(process.get(), 9);
  ::WaitForSingleObject(process.get(), 10000);
}

// Ends the program and the children it was running (7-Zip, PowerShell). On Windows the job the
// program puts them in ends them with it; Wine does not honour that, and a 7-Zip left running
// would go on writing into the folder the next start repairs. No one else runs them in this
// prefix while a test runs.
void EndProcess(DWORD processId) {
  Terminate(processId);
  ::Sleep(300);  // a child being started as the program ended
  UniqueFile again(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));  // INVALID_HANDLE_VALUE on failure
  if (!again) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(again.get(), &entry); more; more = ::Process32NextW(again.get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, L"7za.exe") == 0 || _wcsicmp(entry.szExeFile, L"powershell.exe") == 0) {
      Terminate(entry.th32ProcessID);
    }
  }
}

// Every rename the program made published a file it had flushed first (what a power cut needs),
// but a ZIP package's, which is only unpacked and then deleted, by the run or by the repair.
// Returns the names the renames published, as the trace has them (UTF-8).
std::vector<std::string> ExpectFlushedBeforeRenamed(const std::wstring& tracePath) {
  std::vector<std::string> flushed;
  std::vector<std::string> renames;
  std::string text = ReadBytes(tracePath);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.rfind("flush;", 0) == 0) {
      flushed.push_back(line.substr(6));
    } else if (line.rfind("rename-unflushed;", 0) == 0) {
      const std::string from = line.substr(17, line.find(';', 17) - 17);
      EXPECT_TRUE(from.size() > 12 && from.substr(from.size() - 12) == ".zip.parcial") << line;
    } else if (line.rfind("rename;", 0) == 0) {
      const std::string from = line.substr(7, line.find(';', 7) - 7);
      renames.push_back(line.substr(7 + from.size() + 1));
      EXPECT_NE(std::find(flushed.begin(), flushed.end(), from), flushed.end()) << "renamed unflushed: " << line;
    }
  }
  return renames;
}

// Names anywhere in the folder's first two levels that only a run in progress makes.
std::vector<std::wstring> HalfMadeFiles(const std::wstring& folder) {
  std::vector<std::wstring> found;
  for (const std::wstring& where : {folder, folder + L"\\actualizaciones", folder + L"\\actualizador_registros"}) {
    for (const std::wstring& name : testing::EntryNames(where, false)) {
      for (const wchar_t* tail : {L".parcial", L".escribiendo", L".nuevo.zip", L"actualizacion_en_curso.txt"}) {
        const std::wstring t(tail);
        if (name.size() >= t.size() && name.compare(name.size() - t.size(), t.size(), t) == 0) found.push_back(name);
      }
    }
  }
  return found;
}

size_t CountLines(const std::string& text, const std::string& marker) {
  size_t count = 0;
  for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) ++count;
  return count;
}

struct KillRow {
  const char* name;
  bool zip = false;
  std::wstring killAt;  // a kill point of the test build; empty: ended from outside
  // From outside: true once the moment has come (looked at on every poll).
  std::function<bool(const std::wstring& folder)> due;
  bool expectNew = false;
  bool repairs = true;   // the next start finds a record to act on
  bool withoutTool = false;
  bool slowPackage = false;
  bool hangingPowerShell = false;
  bool bigZip = false;
  bool leftoverUpdateFolder = false;  // an earlier update's folder for the housekeeping to archive
};

bool IsFolderThere(const std::wstring& path) { return testing::IsDirectory(path); }

TEST_F(UpdateEndToEnd, AnUpdateEndedAtAnyInstantIsPutRightAtTheNextStart) {
  const std::string zipAtTop = MakeZip({{L"FacturaOrva.exe", newExe_}});
  std::string noise(96 * 1024 * 1024, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 2654435761u) >> 13);
  const std::string bigZip = MakeZip({{L"FacturaOrva.exe", newExe_}, {L"datos\\grande.bin", noise}}, true);
  noise.clear();
  const std::string tool = ReadBytes(testing::ArchiveToolPath());

  auto logHas = [](const char* marker) {
    return [marker](const std::wstring& folder) {
      return ReadBytes(folder + L"\\actualizador_registros\\descargas.csv").find(marker) != std::string::npos;
    };
  };
  std::vector<KillRow> rows;
  for (const wchar_t* point : {L"REGISTRO_ACTUALIZACION", L"RENOMBRADO_A_2", L"DESCARGA",
                               L"ARCHIVO_ANTERIOR_A_ACTUALIZACIONES", L"COPIA_OK", L"COPIA_PATRONES_RESUMEN",
                               L"ZIP_CARPETA"}) {
    KillRow row{"executable package, ended at a point"};
    row.killAt = point;
    row.expectNew = std::wstring(point) != L"REGISTRO_ACTUALIZACION" && std::wstring(point) != L"RENOMBRADO_A_2";
    rows.push_back(row);
  }
  for (const wchar_t* point : {L"DESCARGA", L"UNZIP_7ZA", L"REGISTRO_ACTUALIZACION#2", L"RENOMBRADO_A_2_ZIP",
                               L"ARCHIVO_ANTERIOR_A_ACTUALIZACIONES_ZIP", L"COPIA_PATRONES_RESUMEN_ZIP",
                               L"ZIP_CARPETA", L"EXE_NUEVO_EN_RAIZ_OK", L"LIMPIEZA_OK"}) {
    KillRow row{"ZIP package, ended at a point"};
    row.zip = true;
    row.killAt = point;
    row.expectNew = std::wstring(point) == L"EXE_NUEVO_EN_RAIZ_OK" || std::wstring(point) == L"LIMPIEZA_OK";
    rows.push_back(row);
  }
  KillRow stalled{"executable package, ended mid-download on a stalled server"};
  stalled.slowPackage = true;
  stalled.due = [](const std::wstring& folder) { return Exists(folder + L"\\FacturaOrva.exe.parcial"); };
  rows.push_back(stalled);
  KillRow unpacking{"ZIP package, ended mid-extraction"};
  unpacking.zip = unpacking.bigZip = true;
  unpacking.due = [](const std::wstring& folder) { return IsFolderThere(folder + L"\\Paquete"); };
  rows.push_back(unpacking);
  KillRow archiving{"executable package, ended mid-archiving"};
  archiving.hangingPowerShell = true;
  archiving.expectNew = true;
  archiving.due = logHas("COPIA_PATRONES_RESUMEN;");
  rows.push_back(archiving);
  KillRow housekeeping{"the housekeeping, ended mid-archiving an earlier update's folder"};
  housekeeping.leftoverUpdateFolder = housekeeping.hangingPowerShell = true;
  housekeeping.repairs = false;
  housekeeping.due = [started = DWORD(0)](const std::wstring&) mutable {
    if (!started) started = ::GetTickCount();
    return ::GetTickCount() - started > 2000;  // PowerShell hangs over the archive meanwhile
  };
  rows.push_back(housekeeping);
  KillRow toolDownload{"the archive tool, ended mid-download"};
  toolDownload.withoutTool = true;
  toolDownload.repairs = false;
  toolDownload.due = [](const std::wstring& folder) { return Exists(folder + L"\\7za.exe.parcial"); };
  rows.push_back(toolDownload);

  const std::string exePath = "/descargas/FacturaOrva.exe";
  const std::string zipPath = "/descargas/Paquete.zip";
  for (const KillRow& row : rows) {
    const std::string label = std::string(row.name) + (row.killAt.empty() ? "" : " " + NarrowLow8(row.killAt));
    SCOPED_TRACE(label);
    TempFolder root(L"brivon-kill");
    const std::wstring folder = MakeProgramFolder(root, !row.withoutTool);
    const std::wstring trace = root / L"traza.txt";
    if (row.leftoverUpdateFolder) {
      const std::wstring earlier = folder + L"\\actualizaciones\\251206_093015";
      std::filesystem::create_directories(std::filesystem::path(earlier));
      ASSERT_TRUE(WriteBytes(earlier + L"\\" + kSibling, oldExe_));
      ASSERT_TRUE(WriteBytes(earlier + L"\\Datos.MDB", kMdb));
    }
    ScopedVariable traceFile(L"BRIVON_TEST_FILE_TRACE", trace);

    HttpReply package{200, row.zip ? (row.bigZip ? bigZip : zipAtTop) : newExe_};
    if (row.slowPackage) {  // a first chunk larger than one read of the program's, then a stall
      package.body += std::string(600 * 1024, 'x');
      package.chunkSize = 320 * 1024;
      package.chunkDelayMs = 60000;
    }
    server_.Serve(row.zip ? zipPath : exePath, package);
    HttpReply slowTool{200, tool};
    slowTool.chunkSize = 64 * 1024;
    slowTool.chunkDelayMs = 2000;
    server_.Serve("/parches/7za.exe", slowTool);
    const bool update = !row.withoutTool && !row.leftoverUpdateFolder;
    server_.Serve(kCheckinPath, HttpReply{200, Document(update ? UpdateAlert(Url(row.zip ? zipPath : exePath)) : ""),
                                          "application/json"});

    // The start that is cut off.
    {
      ScopedVariable killAt(L"BRIVON_TEST_KILL_AT", row.killAt);
      std::unique_ptr<testing::PowerShellMode> mode;
      if (row.hangingPowerShell) mode = std::make_unique<testing::PowerShellMode>(L"hang");
      bool ended = false;
      WindowsSeen cut = Run(folder, [&](DWORD processId) {
        if (!row.due || ended) return;
        // Looked at closely: the moment may be short.
        if (testing::WaitUntil([&] { return row.due(folder); }, 500)) {
          EndProcess(processId);
          ended = true;
        }
      });
      EXPECT_FALSE(cut.run.timedOut);
      EXPECT_EQ(cut.run.exitCode, 9u) << "the run was not cut off";
    }

    // The next start, as normal: the check-in finds no update.
    server_.Serve("/parches/7za.exe", HttpReply{200, tool});
    server_.Serve(kCheckinPath, HttpReply{200, Document(""), "application/json"});
    server_.ClearRequests();
    const std::string logBefore = ReadBytes(folder + L"\\actualizador_registros\\descargas.csv");
    WindowsSeen next = Run(folder);
    EXPECT_FALSE(next.run.timedOut);
    EXPECT_EQ(next.run.exitCode, 0u);
    const std::string log = ReadBytes(folder + L"\\actualizador_registros\\descargas.csv").substr(logBefore.size());
    EXPECT_EQ(CountLines(log, ";REPARACION_ACTUALIZACION_INTERRUMPIDA;"), row.repairs ? 1u : 0u) << log;
    EXPECT_EQ(CountLines(log, ";REPARACION_FIN"), row.repairs ? 1u : 0u) << log;
    EXPECT_EQ(CountLines(log, ";ERROR_REPARACION"), 0u) << log;

    // The promise.
    const std::wstring sibling = folder + L"\\" + kSibling;
    const std::string program = ReadBytes(sibling);
    EXPECT_TRUE(program == (row.expectNew ? newExe_ : oldExe_))
        << (program.empty() ? "no program" : program == oldExe_ ? "the old program" : program == newExe_ ? "the new program" : "another file");
    EXPECT_FALSE(Exists(folder + L"\\FacturaOrva2.exe"));
    EXPECT_EQ(ReadBytes(folder + L"\\Datos.MDB"), kMdb);
    EXPECT_EQ(ReadBytes(folder + L"\\Empresa.BDORVA"), kBd);
    EXPECT_FALSE(Exists(folder + L"\\Paquete.zip"));
    EXPECT_FALSE(Exists(folder + L"\\Paquete"));
    EXPECT_EQ(HalfMadeFiles(folder), std::vector<std::wstring>{});
    EXPECT_TRUE(ReadBytes(folder + L"\\7za.exe") == tool);
    // Every previous version that left the program folder is in an archive of the updates folder.
    EXPECT_TRUE(testing::EntryNames(folder + L"\\actualizaciones", true).empty());
    for (const std::wstring& zip : testing::EntryNames(folder + L"\\actualizaciones", false)) {
      const auto listing = testing::ListArchive(folder + L"\\actualizaciones\\" + zip);
      EXPECT_NE(std::find(listing.begin(), listing.end(), std::wstring(kSibling)), listing.end()) << NarrowLow8(zip);
    }
    if (row.expectNew || row.leftoverUpdateFolder) {
      EXPECT_FALSE(testing::EntryNames(folder + L"\\actualizaciones", false).empty());
    }
    // Its check-in reports the sibling in the version it now has.
    const auto requests = server_.Requests();
    auto checkin = std::find_if(requests.begin(), requests.end(),
                                [](const testing::RecordedRequest& r) { return r.target == kCheckinPath; });
    EXPECT_NE(checkin, requests.end()) << "no check-in";
    if (checkin != requests.end()) {
      EXPECT_NE(checkin->body.find(row.expectNew ? "65535.0.65535.1" : "10.2.0.15"), std::string::npos)
          << checkin->body;
    }
    const std::vector<std::string> published = ExpectFlushedBeforeRenamed(trace);
    auto publishedAs = [&](const std::string& tail) {
      return std::any_of(published.begin(), published.end(), [&](const std::string& name) {
        return name.size() >= tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
      });
    };
    // Among them what a power cut must find whole: the tool, an archive, the new program.
    EXPECT_EQ(publishedAs("\\7za.exe"), row.withoutTool);
    EXPECT_EQ(publishedAs("\\251206_093015.zip"), row.leftoverUpdateFolder);
    if (row.expectNew) {
      EXPECT_TRUE(publishedAs("\\FacturaOrva.exe"));
    }

    // And the start after that finds nothing left to repair.
    const std::string logAfter = ReadBytes(folder + L"\\actualizador_registros\\descargas.csv");
    WindowsSeen third = Run(folder);
    EXPECT_EQ(third.run.exitCode, 0u);
    EXPECT_EQ(ReadBytes(folder + L"\\actualizador_registros\\descargas.csv").substr(logAfter.size()).find("REPARACION"),
              std::string::npos);
    EXPECT_TRUE(ReadBytes(sibling) == program);
  }
}

// ---------------------------------------------------------------------------------------------
// The publisher check: a signed program is replaced only by a new executable of its own
// publisher, in both flows; an unsigned program is replaced as ever, the log saying unverified.

TEST_F(UpdateEndToEnd, OnlyTheSamePublisherReplacesASignedProgram) {
  const std::wstring signedDir = testing::HostPathToWindows(BRIVON_TEST_SIGNED_DIR);
  auto fixture = [&](const wchar_t* name) { return ReadBytes(signedDir + L"\\" + name); };
  const std::string signedOld = fixture(L"old_firmado_A.exe");
  const std::string sameSigner = fixture(L"nuevo_firmado_A.exe");
  ASSERT_FALSE(signedOld.empty());
  ASSERT_FALSE(sameSigner.empty());
  struct Row {
    const char* name;
    std::string installed;
    std::string fresh;
    bool replaced;
    std::string verdict;  // the marker of the publisher line
  } rows[] = {
      {"signed installed, same publisher", signedOld, sameSigner, true, "EJECUTABLE_VERIFICADO"},
      {"signed installed, unsigned new", signedOld, newExe_, false, "EJECUTABLE_RECHAZADO"},
      {"signed installed, another publisher", signedOld, fixture(L"nuevo_firmado_B.exe"), false, "EJECUTABLE_RECHAZADO"},
      {"signed installed, a byte changed after signing", signedOld, fixture(L"nuevo_alterado.exe"), false,
       "EJECUTABLE_RECHAZADO"},
      {"signed installed, same subject from another issuer", signedOld, fixture(L"nuevo_firmado_A_otra_ca.exe"),
       false, "EJECUTABLE_RECHAZADO"},
      {"unsigned installed, any new", oldExe_, fixture(L"nuevo_firmado_B.exe"), true, "EJECUTABLE_NO_VERIFICADO"},
  };
  for (const Row& row : rows) {
    for (bool zip : {false, true}) {
      SCOPED_TRACE(std::string(row.name) + (zip ? ", ZIP package" : ", executable package"));
      TempFolder root(L"brivon-firma");
      const std::wstring folder = MakeProgramFolder(root);
      const std::wstring sibling = folder + L"\\" + kSibling;
      ASSERT_TRUE(WriteBytes(sibling, row.installed));
      const std::string path = zip ? "/descargas/Paquete.zip" : "/descargas/FacturaOrva.exe";
      server_.Serve(path, HttpReply{200, zip ? MakeZip({{L"FacturaOrva.exe", row.fresh}}) : row.fresh});
      server_.Serve(kCheckinPath, HttpReply{200, Document(UpdateAlert(Url(path))), "application/json"});

      WindowsSeen seen = Run(folder);
      EXPECT_FALSE(seen.run.timedOut);
      EXPECT_EQ(seen.run.exitCode, 0u);
      EXPECT_TRUE(ReadBytes(sibling) == (row.replaced ? row.fresh : row.installed)) << "the program is not the expected one";
      EXPECT_FALSE(Exists(folder + L"\\FacturaOrva2.exe"));
      EXPECT_EQ(ReadBytes(folder + L"\\Datos.MDB"), kMdb);
      EXPECT_EQ(ReadBytes(folder + L"\\Empresa.BDORVA"), kBd);
      const auto lines = testing::LogTexts(folder + L"\\actualizador_registros\\descargas.csv");
      const auto verdict = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.rfind(row.verdict + ";", 0) == 0;
      });
      EXPECT_NE(verdict, lines.end()) << row.verdict;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The progress strip during a slow download, seen on the screen.

int CountColourInRow(const ScreenShot& shot, int y, COLORREF rgb) {
  int count = 0;
  for (int x = 0; x < shot.width; ++x) count += shot.At(x, y) == rgb ? 1 : 0;
  return count;
}

int CountBrightPixels(const ScreenShot& shot, int y0, int y1) {
  int count = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = 0; x < shot.width; ++x) count += Near(shot.At(x, y), 0xFFFFFF, 0x30) ? 1 : 0;
  }
  return count;
}

TEST_F(UpdateEndToEnd, ProgressStripShowsTheSlowDownloadBelowTheUpdatePicture) {
  const int w = ::GetSystemMetrics(SM_CXSCREEN);
  const int h = ::GetSystemMetrics(SM_CYSCREEN);
  const std::wstring artifacts = ArtifactsFolder();
  std::string package(3 * 1024 * 1024, '\0');
  for (size_t i = 0; i < package.size(); ++i) package[i] = static_cast<char>((i * 2654435761u) >> 11);
  package[0] = 'M';
  package[1] = 'Z';

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
                  HttpReply{200, Document(UpdateAlert(Url("/descargas/FacturaOrva.exe"))), "application/json"});

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
      probe.pictureCentre = shot.At(w / 2, (80 + h - 50) / 2);  // centred between title band and strip
      probe.stripCorner = shot.At(3, h - 3);
      probe.filled = CountColourInRow(shot, h - 50 + 10, 0x4CC2FF);
      probe.textPixels = CountBrightPixels(shot, h - 50, h);
      const std::wstring file = artifacts + L"\\" + name + (announced ? L"_con_tamano.png" : L"_sin_tamano.png");
      EXPECT_TRUE(SaveAsPng(shot, file)) << NarrowLow8(file);
    };
    DWORD appeared = 0;
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
          ::PostMessageW(window, WM_APP + 101, 0, junk);
          ::PostMessageW(window, WM_APP + 101, 0, junk);
        }
      }
      if (!early.taken && since >= 1500) {
        look(early, L"descarga_temprana");
        // Painted again as when a window passes over it: the picture must come back with the strip.
        ::RedrawWindow(testing::VisibleAlertWindows(processId).front(), nullptr, nullptr,
                       RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
      }
      if (early.taken && since >= 4000) look(late, L"descarga_avanzada");
    };
    WindowsSeen seen = Run(folder, watch);

    EXPECT_FALSE(seen.run.timedOut);
    EXPECT_EQ(seen.run.exitCode, 0u);
    EXPECT_TRUE(forged);
    EXPECT_EQ(ReadBytes(folder + L"\\" + kSibling), package);
    ASSERT_TRUE(early.taken);
    ASSERT_TRUE(late.taken);
    for (const Probe* probe : {&early, &late}) {
      EXPECT_TRUE(Near(probe->pictureCentre, 0xF09020, 8)) << std::hex << probe->pictureCentre;  // it stays
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
  server_.Serve(kCheckinPath, HttpReply{200, Document(UpdateAlert(Url("/descargas/Paquete.zip"))), "application/json"});

  // The stage each screenshot was taken in, told by the log lines written before it.
  enum Stage { kDownloading, kExtracting, kInstalling, kKeeping, kStages };
  const wchar_t* names[kStages] = {L"zip_descargando", L"zip_descomprimiendo", L"zip_instalando", L"zip_guardando"};
  auto stageNow = [&]() {
    const std::string log = ReadBytes(folder + L"\\actualizador_registros\\descargas.csv");
    const std::string extractions = ReadBytes(folder + L"\\actualizador_registros\\extracciones.csv");
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
  };
  std::vector<Shot> shots;
  for (const wchar_t* name : names) {  // none left from an earlier run
    for (int i = 1; i <= 6; ++i) ::DeleteFileW((artifacts + L"\\" + name + L"_" + std::to_wstring(i) + L".png").c_str());
  }
  int saved[kStages] = {};
  int savedFilled[kStages] = {};
  auto watch = [&](DWORD processId) {
    if (testing::VisibleAlertWindows(processId).empty()) return;
    const Stage before = stageNow();
    const ScreenShot shot = TakeScreenShot();
    if (shot.width != w || stageNow() != before) return;  // only shots wholly inside one stage
    Shot s{before, CountColourInRow(shot, h - 50 + 10, 0x4CC2FF), CountBrightPixels(shot, h - 50, h),
           shot.At(3, h - 3)};
    if (s.textPixels == 0) return;  // the first paint, before the first report
    shots.push_back(s);
    // The first two of each stage, then one for each further quarter of the bar.
    if (saved[before] < 2 || (saved[before] < 6 && s.filled >= savedFilled[before] + 240)) {
      SaveAsPng(shot, artifacts + L"\\" + names[before] + L"_" + std::to_wstring(++saved[before]) + L".png");
      savedFilled[before] = s.filled;
    }
  };
  // Set aside, the new program not yet in: "Instalando…" stays long enough to be seen.
  ScopedVariable pause(L"BRIVON_TEST_PAUSE_AT", L"RENOMBRADO_A_2_ZIP");
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
    if (s.stage == kKeeping) EXPECT_EQ(s.filled, 0);  // words only
  }
  EXPECT_TRUE(downloadBar);
  EXPECT_GT(saved[kInstalling], 0);  // seen while paused
  ASSERT_GE(extracting.size(), 2u);
  for (size_t i = 1; i < extracting.size(); ++i) EXPECT_GE(extracting[i], extracting[i - 1]);  // never back
  EXPECT_GT(extracting.back(), extracting.front());  // 7-Zip's percentage grows
}

}  // namespace
}  // namespace brivon
