// Update benchmark: one whole update run with a ZIP package (download from a loopback server,
// 7-Zip extraction, set-aside, data-file copies, folder archive, install, clean-up), timed beside
// `7za.exe x` of the same archive alone, in the same run; then the same update through the real
// brivon.exe, from its update window's first paint to the window's end (WM_UPDATE_FINISHED).
//   brivon_update_bench.exe PACKAGE.zip WORK_FOLDER
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "servers/loopback_http_server.h"
#include "support/alert_window_driver.h"
#include "support/powershell_standin.h"
#include "support/program_run.h"
#include "support/test_env.h"
#include "update/child_process.h"
#include "update/update_run.h"

namespace {

double SecondsOf(const std::function<void()>& work) {
  auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Fresh(const std::wstring& folder) {
  std::wstring command = L"cmd /c rmdir /s /q \"" + folder + L"\"";
  unsigned long code = 0;
  brivon::RunHiddenProcess(command, &code);
  ::CreateDirectoryW(folder.c_str(), nullptr);
}

void MakeProgramFolder(const std::wstring& program) {
  Fresh(program);
  brivon::testing::WriteBytes(program + L"\\Programa.exe", "MZ old version");
  brivon::testing::WriteBytes(program + L"\\Datos.MDB", std::string(4 << 20, 'd'));
  ::CopyFileW(brivon::testing::ArchiveToolPath().c_str(), (program + L"\\7za.exe").c_str(), FALSE);
}

struct WindowTimes {
  bool finished = false;   // brivon.exe ended by itself
  double toWindow = -1;    // from the start of brivon.exe to its update window on screen
  double windowShown = -1; // from the window's first paint to its end
  double whole = -1;       // the whole process
};

// brivon.exe in its own folder, its check-in answered with an update alert for the package. The
// window is watched every 10 ms: it is on screen from the first paint (inside UpdateWindow) until
// WM_UPDATE_FINISHED destroys it.
WindowTimes TimeThroughTheWindow(const std::wstring& program, const std::wstring& package) {
  WindowTimes times;
  brivon::testing::LoopbackHttpServer service(brivon::testing::BuiltInPort());
  brivon::testing::HttpReply zip;
  zip.bodyFile = package;
  service.Serve("/Paquete.zip", zip);
  brivon::testing::HttpReply picture;
  picture.bodyFile = brivon::testing::SourcePath("tests/fixtures/alerts/picture_37x23.png");
  service.Serve("/borrar/fotoactualizacion.png", picture);
  if (!service.Start()) return times;
  const std::string url = "http://127.0.0.1:" + std::to_string(service.port()) + "/Paquete.zip";
  brivon::testing::HttpReply document;
  document.body = R"({"titulo":"Banco de pruebas","alertas":[{"tipo":"url_actualizar","contenido":[{"enlace":")" +
                  url + R"("}]}]})";
  service.Serve("/comprobador/checkin", document);

  MakeProgramFolder(program);
  brivon::testing::WriteBytes(program + L"\\FacturaOrva.exe", "MZ sibling the check-in knows");
  const std::wstring exe = brivon::testing::InstallBrivon(program);

  auto start = std::chrono::steady_clock::now();
  auto since = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
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
        shownAt = since();
        times.toWindow = shownAt;
      }
      if (!::IsWindow(window)) {
        if (times.windowShown < 0) times.windowShown = since() - shownAt;
        return;
      }
      ::Sleep(10);
    }
  };
  brivon::testing::ProgramRun run = brivon::testing::RunProgram(exe, options);
  times.whole = since();
  times.finished = run.started && !run.timedOut && run.exitCode == 0;
  service.Stop();
  return times;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: brivon_update_bench PACKAGE.zip WORK_FOLDER\n");
    return 2;
  }
  const std::wstring package = argv[1];
  const std::wstring work = argv[2];
  if (!brivon::testing::InstallPowerShellStandIn()) {
    std::fprintf(stderr, "cannot install the PowerShell stand-in\n");
    return 1;
  }
  brivon::testing::LoopbackHttpServer server;
  brivon::testing::HttpReply reply;
  reply.bodyFile = package;
  server.Serve("/Paquete.zip", reply);
  if (!server.Start()) return 1;

  const std::wstring program = work + L"\\programa";
  MakeProgramFolder(program);
  const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/Paquete.zip";
  double run = SecondsOf([&] { brivon::RunUpdateIn(program, url); });

  const std::wstring alone = work + L"\\solo";
  Fresh(alone);
  unsigned long code = 0;
  double extract = SecondsOf([&] {
    brivon::RunHiddenProcess(L"\"" + brivon::testing::ArchiveToolPath() + L"\" x \"" + package + L"\" -o\"" + alone +
                                 L"\" -y",
                             &code);
  });
  std::printf("update run (download + extraction + archives + install): %.2f s\n", run);
  std::printf("7za.exe x of the same archive alone:                      %.2f s (exit code %lu)\n", extract, code);
  server.Stop();

  WindowTimes times = TimeThroughTheWindow(work + L"\\ventana", package);
  if (!times.finished || times.windowShown < 0) {
    std::printf("brivon.exe: the update window did not come and go (ended by itself: %s)\n",
                times.finished ? "yes" : "no");
    return 1;
  }
  std::printf("brivon.exe, update window from first paint to WM_UPDATE_FINISHED: %.2f s\n", times.windowShown);
  std::printf("brivon.exe, start to window %.2f s, whole process %.2f s\n", times.toWindow, times.whole);
  return 0;
}
