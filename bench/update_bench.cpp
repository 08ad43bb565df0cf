// Update benchmark: one whole update run with a ZIP package (download from PACKAGE_URL,
// 7-Zip extraction, set-aside, data-file copies, folder archive, install, clean-up), timed beside
// `7za.exe x` of the same archive alone and a plain download of it (curl, run by the script while
// this program waits), in the same run; then the same update through the real brivon.exe, from its
// update window's first paint to the window's end (WM_UPDATE_FINISHED).
// Where the time goes: each run's log lines are watched every 10 ms, and the moment each stage's
// line first appears is printed for every run side by side.
//   brivon_update_bench.exe PACKAGE.zip PACKAGE_URL WORK_FOLDER [HANDSHAKE_FOLDER]
// PACKAGE_URL serves PACKAGE.zip to every run and to curl: the script's own server, outside Wine.
// With HANDSHAKE_FOLDER: before each measurement the program writes <step>.listo there (the first,
// "curl.listo", holds the package's address) and waits for <step>.sigue: meanwhile the script
// downloads the package with curl, and before every step writes the disk's pending data out
// (sync), so that no measurement pays for the writes of the one before.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "servers/loopback_http_server.h"
#include "sevenzip/child_process.h"
#include "support/alert_window_driver.h"
#include "support/program_run.h"
#include "support/test_env.h"
#include "update/update_run.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double SecondsOf(const std::function<void()>& work) {
  auto start = Clock::now();
  work();
  return SecondsSince(start);
}

std::wstring handshake;  // empty: no script to wait for

void Checkpoint(const wchar_t* step, const std::string& note = "ready") {
  if (handshake.empty()) return;
  brivon::testing::WriteBytes(handshake + L"\\" + step + L".listo", note);
  const std::wstring go = handshake + L"\\" + step + L".sigue";
  while (::GetFileAttributesW(go.c_str()) == INVALID_FILE_ATTRIBUTES) ::Sleep(20);
}

void Fresh(const std::wstring& folder) {
  std::wstring command = L"cmd /c rmdir /s /q \"" + folder + L"\"";
  unsigned long code = 0;
  brivon::RunHiddenProcess(command, &code);
  ::CreateDirectoryW(folder.c_str(), nullptr);
}

// The installed program: a real Windows image of the build's processor, as the package's new one
// is, so that the update installs and every stage below runs.
const wchar_t kOldProgram[] = L"fixture_sibling_10_2_0_15.exe";

void MakeProgramFolder(const std::wstring& program) {
  Fresh(program);
  ::CopyFileW(brivon::testing::TestToolPath(kOldProgram).c_str(), (program + L"\\Programa.exe").c_str(), FALSE);
  brivon::testing::WriteBytes(program + L"\\Datos.MDB", std::string(4 << 20, 'd'));
  ::CopyFileW(brivon::testing::ArchiveToolPath().c_str(), (program + L"\\7za.exe").c_str(), FALSE);
}

// The stages' lines, in the order a ZIP update writes them.
const char* const kMarkers[] = {"DESCARGA;",
                                "UNZIP_7ZA;",
                                "EJECUTABLE_",  // the publisher check's verdict
                                "RENOMBRADO_A_2_ZIP;",
                                "ARCHIVO_ANTERIOR_A_ACTUALIZACIONES_ZIP;",
                                "COPIA_PATRONES_RESUMEN_ZIP;",
                                "ZIP_CARPETA;",
                                "EXE_NUEVO_EN_RAIZ_OK;",
                                "LIMPIEZA_OK;ZIP_ELIMINADO;"};
constexpr size_t kMarkerCount = sizeof(kMarkers) / sizeof(kMarkers[0]);

// When each marker first appeared in the program folder's logs, in seconds from a start.
class LogTimeline {
 public:
  explicit LogTimeline(std::wstring folder) : folder_(std::move(folder)) { seen_.assign(kMarkerCount, -1); }
  void Start(Clock::time_point start) {
    start_ = start;
    watcher_ = std::thread([this] {
      while (!stop_.load()) {
        Look();
        ::Sleep(10);
      }
      Look();
    });
  }
  void Stop() {
    stop_.store(true);
    if (watcher_.joinable()) watcher_.join();
  }
  ~LogTimeline() { Stop(); }
  double At(size_t marker) const { return seen_[marker]; }

 private:
  // The logs are read only when one has grown: opening and reading them every 10 ms would load the
  // wineserver that the timed run needs, a look at their sizes does not.
  void Look() {
    const std::wstring logs[] = {folder_ + L"\\actualizador_registros\\descargas.csv",
                                 folder_ + L"\\actualizador_registros\\extracciones.csv"};
    uint64_t sizes = 0;
    for (const std::wstring& log : logs) {
      WIN32_FILE_ATTRIBUTE_DATA data;
      if (::GetFileAttributesExW(log.c_str(), GetFileExInfoStandard, &data)) sizes += data.nFileSizeLow;
    }
    if (sizes == sizes_) return;
    sizes_ = sizes;
    const std::string text = brivon::testing::ReadBytes(logs[0]) + brivon::testing::ReadBytes(logs[1]);
    const double now = SecondsSince(start_);
    for (size_t i = 0; i < kMarkerCount; ++i) {
      if (seen_[i] < 0 && text.find(kMarkers[i]) != std::string::npos) seen_[i] = now;
    }
  }
  std::wstring folder_;
  Clock::time_point start_;
  std::vector<double> seen_;
  uint64_t sizes_ = 0;  // of both logs at the last look
  std::atomic<bool> stop_{false};
  std::thread watcher_;
};

struct RunTimes {
  double whole = -1;
  std::vector<double> markers;
};

// In a program folder made beforehand.
RunTimes TimeRunAlone(const std::wstring& program, const std::string& url, bool watched) {
  RunTimes times;
  LogTimeline timeline(program);
  const auto start = Clock::now();
  timeline.Start(start);
  uint64_t reports = 0;
  brivon::UpdateProgressFn progress;
  if (watched) progress = [&](const brivon::UpdateProgress&) { ++reports; };
  brivon::RunUpdateIn(program, url, progress);
  times.whole = SecondsSince(start);
  timeline.Stop();
  for (size_t i = 0; i < kMarkerCount; ++i) times.markers.push_back(timeline.At(i));
  return times;
}

struct WindowTimes {
  bool finished = false;    // brivon.exe ended by itself
  double toWindow = -1;     // from the start of brivon.exe to its update window on screen
  RunTimes shown;           // from the window's first paint to its end
  double hidden = -1;       // from the first paint to the window's hiding by DestroyWindow
  double processWhole = -1; // the whole process
};

// brivon.exe in its own folder, its check-in answered with an update alert for the package. The
// window is watched every 10 ms: it is on screen from the first paint (inside UpdateWindow) until
// WM_UPDATE_FINISHED destroys it.
WindowTimes TimeThroughTheWindow(const std::wstring& program, const std::string& url) {
  WindowTimes times;
  brivon::testing::LoopbackHttpServer service(brivon::testing::BuiltInPort());
  brivon::testing::HttpReply picture;
  picture.bodyFile = brivon::testing::SourcePath("tests/fixtures/alerts/picture_37x23.png");
  service.Serve("/borrar/fotoactualizacion.png", picture);
  if (!service.Start()) return times;
  brivon::testing::HttpReply document;
  document.body = R"({"titulo":"Banco de pruebas","alertas":[{"tipo":"url_actualizar","contenido":[{"enlace":")" +
                  url + R"("}]}]})";
  service.Serve("/comprobador/checkin", document);

  MakeProgramFolder(program);
  brivon::testing::WriteBytes(program + L"\\FacturaOrva.exe", "MZ sibling the check-in knows");
  const std::wstring exe = brivon::testing::InstallBrivon(program);
  Checkpoint(L"ventana");

  const auto start = Clock::now();
  LogTimeline timeline(program);
  HWND window = nullptr;
  double shownAt = 0;
  brivon::testing::RunOptions options;
  options.timeoutMs = 30 * 60 * 1000;
  options.whileRunning = [&](DWORD processId) {
    for (;;) {  // poll finer than the runner's own slices while the window lives
      if (!window) {
        std::vector<HWND> windows = brivon::testing::VisibleAlertWindows(processId);
        if (windows.empty()) return;
        window = windows.front();
        const auto shown = Clock::now();
        timeline.Start(shown);
        shownAt = SecondsSince(start);
        times.toWindow = shownAt;
      }
      // Hidden is the first thing DestroyWindow does; Wine's X11 driver then waits up to two
      // seconds for a window manager to confirm the unmapping before the window is gone.
      if (times.hidden < 0 && (!::IsWindow(window) || !::IsWindowVisible(window))) {
        times.hidden = SecondsSince(start) - shownAt;
      }
      if (!::IsWindow(window)) {
        if (times.shown.whole < 0) times.shown.whole = SecondsSince(start) - shownAt;
        return;
      }
      ::Sleep(10);
    }
  };
  brivon::testing::ProgramRun run = brivon::testing::RunProgram(exe, options);
  times.processWhole = SecondsSince(start);
  timeline.Stop();
  for (size_t i = 0; i < kMarkerCount; ++i) times.shown.markers.push_back(timeline.At(i));
  times.finished = run.started && !run.timedOut && run.exitCode == 0;
  service.Stop();
  return times;
}

// A stage that never logged its line was not timed: the figures would be those of another
// update (a refused one, say), so the bench says so and fails.
bool EveryStageLogged(const char* run, const RunTimes& times, const std::wstring& program) {
  bool all = true;
  for (size_t i = 0; i < kMarkerCount; ++i) {
    if (times.markers[i] >= 0) continue;
    std::printf("%s: the stage %s was never logged: not the update this bench times\n", run, kMarkers[i]);
    all = false;
  }
  const std::string log = brivon::testing::ReadBytes(program + L"\\actualizador_registros\\descargas.csv");
  if (log.find("EJECUTABLE_RECHAZADO") != std::string::npos) {
    std::printf("%s: the new program was refused (EJECUTABLE_RECHAZADO): the package holds no real image\n", run);
    all = false;
  }
  return all;
}

void PrintSeconds(double s) {
  if (s < 0) {
    std::printf(" %10s", "-");
  } else {
    std::printf(" %10.2f", s);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: brivon_update_bench PACKAGE.zip PACKAGE_URL WORK_FOLDER [HANDSHAKE_FOLDER]\n");
    return 2;
  }
  const std::wstring package = argv[1];
  const std::string url = brivon::WideToUtf8(argv[2]);
  const std::wstring work = argv[3];
  if (argc == 5) handshake = argv[4];
  Checkpoint(L"curl", url);  // the script's own download, while this program waits

  MakeProgramFolder(work + L"\\programa");
  Checkpoint(L"sola");
  const RunTimes alone = TimeRunAlone(work + L"\\programa", url, false);
  MakeProgramFolder(work + L"\\vigilada");
  Checkpoint(L"vigilada");
  const RunTimes watched = TimeRunAlone(work + L"\\vigilada", url, true);

  const std::wstring solo = work + L"\\solo";
  Fresh(solo);
  Checkpoint(L"7za");
  unsigned long code = 0;
  double extract = SecondsOf([&] {
    brivon::RunHiddenProcess(L"\"" + brivon::testing::ArchiveToolPath() + L"\" x \"" + package + L"\" -o\"" + solo +
                                 L"\" -y",
                             &code);
  });

  WindowTimes window = TimeThroughTheWindow(work + L"\\ventana", url);

  std::printf("7za.exe x of the package alone: %.2f s (exit code %lu)\n", extract, code);
  std::printf("seconds from the start of each run (the window's from its first paint) to its lines:\n");
  std::printf("%-40s %10s %10s %10s\n", "", "run alone", "watched", "window");
  for (size_t i = 0; i < kMarkerCount; ++i) {
    std::printf("%-40s", kMarkers[i]);
    PrintSeconds(alone.markers[i]);
    PrintSeconds(watched.markers[i]);
    PrintSeconds(window.shown.markers[i]);
    std::printf("\n");
  }
  std::printf("%-40s", "end (the window hidden at WM_UPDATE_FINISHED)");
  PrintSeconds(alone.whole);
  PrintSeconds(watched.whole);
  PrintSeconds(window.hidden);
  std::printf("\n%-40s %10s %10s", "the window gone (DestroyWindow returned)", "", "");
  PrintSeconds(window.shown.whole);
  std::printf("\n");
  if (!window.finished || window.shown.whole < 0) {
    std::printf("brivon.exe: the update window did not come and go (ended by itself: %s)\n",
                window.finished ? "yes" : "no");
    return 1;
  }
  const bool whole = EveryStageLogged("run alone", alone, work + L"\\programa") &
                     EveryStageLogged("watched", watched, work + L"\\vigilada") &
                     EveryStageLogged("window", window.shown, work + L"\\ventana");
  if (!whole) return 1;
  std::printf("brivon.exe, start to window %.2f s, whole process %.2f s\n", window.toWindow, window.processWhole);
  std::printf("extraction alone: %.3f\nwindow: %.3f\n", extract, window.hidden);  // for the script
  return 0;
}
