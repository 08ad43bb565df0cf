#include "support/archive_reading.h"

#include <windows.h>

#include "common/text.h"
#include "common/unique_handle.h"
#include "support/test_env.h"

namespace brivon::testing {
namespace {

// Runs a program with its standard output gathered; false when it cannot start or ends non-zero.
bool RunCapturing(std::wstring commandLine, std::string* output) {
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  HANDLE readRaw = nullptr, writeRaw = nullptr;
  if (!::CreatePipe(&readRaw, &writeRaw, &inheritable, 0)) return false;
  UniqueHandle readEnd(readRaw), writeEnd(writeRaw);
  ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd.get();
  startup.hStdError = writeEnd.get();
  startup.hStdInput = nullptr;
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
    return false;
  }
  UniqueHandle process(info.hProcess), thread(info.hThread);
  writeEnd.reset();
  char chunk[4096];
  DWORD read = 0;
  while (::ReadFile(readEnd.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) output->append(chunk, read);
  ::WaitForSingleObject(process.get(), 60000);
  DWORD code = 1;
  return ::GetExitCodeProcess(process.get(), &code) && code == 0;
}

}  // namespace

std::vector<std::wstring> ListArchive(const std::wstring& archivePath, bool* ok) {
  std::string output;
  bool listed =
      RunCapturing(L"\"" + ArchiveToolPath() + L"\" l -slt -sccUTF-8 -bso1 \"" + archivePath + L"\"", &output);
  if (ok) *ok = listed;
  std::vector<std::wstring> entries;
  if (!listed) return entries;
  // Entries follow the "----------" line; each starts with "Path = ".
  size_t start = output.find("\n----------");
  if (start == std::string::npos) return entries;
  size_t at = start;
  while ((at = output.find("\nPath = ", at)) != std::string::npos) {
    at += 8;
    size_t end = output.find_first_of("\r\n", at);
    entries.push_back(Utf8ToWide(output.substr(at, end - at)));
  }
  return entries;
}

bool ExtractWithSevenZip(const std::wstring& archivePath, const std::wstring& destination) {
  std::string output;
  return RunCapturing(L"\"" + ArchiveToolPath() + L"\" x -y \"" + archivePath + L"\" \"-o" + destination + L"\"",
                      &output);
}

}  // namespace brivon::testing
