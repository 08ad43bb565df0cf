// Start-up repair benchmark: RunStartupRepair on a folder without a record (every start's case)
// and on a folder with the record of an update cut off after its new program came in, timed
// over many rounds under Wine.
//   brivon_repair_bench.exe WORK_FOLDER [ROUNDS]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "support/test_env.h"
#include "update/update_record.h"
#include "update/update_repair.h"

namespace {

double Microseconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

void Report(const char* what, std::vector<double> times) {
  std::sort(times.begin(), times.end());
  std::printf("| %-44s | %8.1f | %8.1f | %8.1f |\n", what, times[times.size() / 2], times[times.size() * 9 / 10],
              times.back());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: brivon_repair_bench.exe WORK_FOLDER [ROUNDS]\n");
    return 2;
  }
  const std::wstring folder = argv[1];
  const int rounds = argc > 2 ? std::max(1, _wtoi(argv[2])) : 200;
  ::CreateDirectoryW(folder.c_str(), nullptr);
  ::CreateDirectoryW((folder + L"\\actualizador_registros").c_str(), nullptr);
  brivon::testing::WriteBytes(folder + L"\\Programa.exe", "MZ new version");

  std::vector<double> clean, withRecord;
  for (int i = 0; i < rounds; ++i) {
    auto start = std::chrono::steady_clock::now();
    brivon::RunStartupRepair(folder);
    clean.push_back(Microseconds(std::chrono::steady_clock::now() - start));
  }
  brivon::UpdateRecord record;
  record.programFolder = folder;
  record.packageUrl = "http://127.0.0.1/Programa.exe";
  record.package = record.installed = folder + L"\\Programa.exe";
  record.installedBefore = {true, 14, 1};  // not what is there now: the new program is in
  record.setAside = folder + L"\\Programa2.exe";
  for (int i = 0; i < rounds; ++i) {
    brivon::WriteUpdateRecord(record);
    auto start = std::chrono::steady_clock::now();
    brivon::RunStartupRepair(folder);
    withRecord.push_back(Microseconds(std::chrono::steady_clock::now() - start));
  }
  std::printf("%d rounds, microseconds\n", rounds);
  std::printf("| %-44s | %8s | %8s | %8s |\n", "start-up repair", "median", "p90", "max");
  std::printf("|%s|---------:|---------:|---------:|\n", std::string(46, '-').c_str());
  Report("clean folder (no record)", clean);
  Report("record of an update cut off, nothing to undo", withRecord);
  return 0;
}
