// Downloads one package as the update does and reports the time it took and the process's peak
// memory: download_bench.exe URL TARGET READ_SIZE_BYTES
// The update's path: FetchPackage into the partial file with a progress callback (the update
// window always watches), then the flush that comes before the package takes its name.
#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "files/durable_file.h"
#include "update/package_download.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: download_bench URL TARGET READ_SIZE\n");
    return 64;
  }
  std::string url;
  for (const wchar_t* p = argv[1]; *p; ++p) url.push_back(static_cast<char>(*p));
  const std::wstring partial = std::wstring(argv[2]) + brivon::kPartialSuffix;
  DWORD readSize = static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10));
  uint64_t heard = 0;  // what the window would be told, as often as it is told

  LARGE_INTEGER frequency, start, end;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  brivon::DownloadDetail detail;
  brivon::DownloadResult result =
      brivon::FetchPackage(url, partial, &detail, readSize, [&](uint64_t soFar, uint64_t) { heard = soFar; });
  const bool flushed = result == brivon::DownloadResult::Stored && brivon::FlushFileToDisk(partial);
  ::QueryPerformanceCounter(&end);
  ::DeleteFileW(partial.c_str());

  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof(memory);
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof(memory));
  double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
  std::printf("result=%d bytes=%llu heard=%llu seconds=%.3f peak_working_set_kib=%lu peak_private_kib=%lu\n",
              static_cast<int>(result), static_cast<unsigned long long>(detail.bytes),
              static_cast<unsigned long long>(heard), seconds,
              static_cast<unsigned long>(memory.PeakWorkingSetSize / 1024),
              static_cast<unsigned long>(memory.PeakPagefileUsage / 1024));
  return flushed && heard == detail.bytes ? 0 : 1;
}
