// Downloads one package with DownloadPackage and reports the time it took and the process's peak
// memory: download_bench.exe URL TARGET READ_SIZE_BYTES
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "update/package_download.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: download_bench URL TARGET READ_SIZE\n");
    return 64;
  }
  std::string url;
  for (const wchar_t* p = argv[1]; *p; ++p) url.push_back(static_cast<char>(*p));
  DWORD readSize = static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10));

  LARGE_INTEGER frequency, start, end;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  brivon::DownloadDetail detail;
  brivon::DownloadResult result = brivon::DownloadPackage(url, argv[2], &detail, readSize);
  ::QueryPerformanceCounter(&end);

  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof(memory);
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof(memory));
  double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
  std::printf("result=%d bytes=%llu seconds=%.3f peak_working_set_kib=%lu peak_private_kib=%lu\n",
              static_cast<int>(result), static_cast<unsigned long long>(detail.bytes), seconds,
              static_cast<unsigned long>(memory.PeakWorkingSetSize / 1024),
              static_cast<unsigned long>(memory.PeakPagefileUsage / 1024));
  return result == brivon::DownloadResult::Stored ? 0 : 1;
}
