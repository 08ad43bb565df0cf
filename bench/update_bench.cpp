// Update benchmark: one whole update run with a ZIP package (download from a loopback server,
// 7-Zip extraction, set-aside, data-file copies, folder archive, install, clean-up), timed beside
// `7za.exe x` of the same archive alone, in the same run.
//   brivon_update_bench.exe PACKAGE.zip WORK_FOLDER
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "servers/loopback_http_server.h"
#include "support/powershell_standin.h"
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
  Fresh(program);
  brivon::testing::WriteBytes(program + L"\\Programa.exe", "MZ old version");
  brivon::testing::WriteBytes(program + L"\\Datos.MDB", std::string(4 << 20, 'd'));
  ::CopyFileW(brivon::testing::ArchiveToolPath().c_str(), (program + L"\\7za.exe").c_str(), FALSE);
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
  return 0;
}
