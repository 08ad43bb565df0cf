// Prints "<version text>" for each path on the command line, one line each, in order.
#include <cstdio>

#include "checkin/file_version.h"

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) std::printf("%s\n", brivon::ReadFileVersion(argv[i]).c_str());
  return 0;
}
