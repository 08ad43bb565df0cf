// Publisher check benchmark: what the two signature reads (installed and new executable) add to
// an update, timed on signed executables of the sizes given, under Wine.
//   brivon_signature_bench.exe INSTALLED.exe NEW.exe [ROUNDS]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "files/authenticode_check.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: brivon_signature_bench.exe INSTALLED.exe NEW.exe [ROUNDS]\n");
    return 2;
  }
  const int rounds = argc > 3 ? std::max(1, _wtoi(argv[3])) : 5;
  std::vector<double> times;
  brivon::PublisherVerdict verdict = brivon::PublisherVerdict::Unverified;
  for (int i = 0; i < rounds; ++i) {
    auto start = std::chrono::steady_clock::now();
    verdict = brivon::JudgePublisher(brivon::ReadSignature(argv[1]), brivon::ReadSignature(argv[2]));
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  std::printf("verdict %d (0 same publisher, 1 refused, 2 unverified); both checks, ms: median %.1f, min %.1f, max %.1f\n",
              static_cast<int>(verdict), times[times.size() / 2], times.front(), times.back());
  return 0;
}
