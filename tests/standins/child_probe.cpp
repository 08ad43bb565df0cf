// A child for the process tests: exits with a chosen code, sleeps, holds a file open without
// sharing (itself or through a grandchild) until it is ended, or writes N 'o's to standard output
// and then one 'e' to standard error.
//   child_probe exit N | sleep MS | hold PATH MS | spawn-hold PATH | write N
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

int Hold(const wchar_t* path, DWORD ms) {
  HANDLE file = ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  ::Sleep(ms);
  ::CloseHandle(file);
  return 0;
}

int SpawnHold(const wchar_t* path) {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring line = L"\"" + std::wstring(self) + L"\" hold \"" + path + L"\" 600000";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &info)) {
    return 4;
  }
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  ::Sleep(INFINITE);
  return 0;
}

int Write(unsigned long count) {
  std::string text(count, 'o');
  DWORD written = 0;
  if (!::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), count, &written, nullptr) || written != count) {
    return 5;
  }
  if (!::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), "e", 1, &written, nullptr) || written != 1) return 6;
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 100;
  std::wstring verb = argv[1];
  if (verb == L"exit") return static_cast<int>(std::wcstoul(argv[2], nullptr, 10));
  if (verb == L"sleep") {
    ::Sleep(std::wcstoul(argv[2], nullptr, 10));
    return 0;
  }
  if (verb == L"hold" && argc >= 4) return Hold(argv[2], std::wcstoul(argv[3], nullptr, 10));
  if (verb == L"spawn-hold") return SpawnHold(argv[2]);
  if (verb == L"write") return Write(std::wcstoul(argv[2], nullptr, 10));
  return 100;
}
