#include "files/durable_file.h"

#include "common/long_path.h"
#include "common/test_hooks.h"
#include "common/unique_handle.h"
#include "files/sharing_waits.h"

namespace brivon {

// Beside the final name, so that the rename stays on one volume.
std::wstring StagingNameOf(const std::wstring& path) { return path + L".escribiendo"; }

bool FlushFileToDisk(const std::wstring& given, FlushRule rule) {
  const std::wstring path = ForFileSystem(given);
  // A read-only file (as an archive may store one) opens for writing only without the flag, and
  // its refusal is no file held by someone else to wait for.
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
                        ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  UniqueFile file;
  bool running = false;
  WithFileWaitsUnless(
      [&] {
        file.reset(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return static_cast<bool>(file);
      },
      [&](DWORD) {
        return running = rule == FlushRule::UnlessRunningProgram && FileHoldOf(path) == FileHold::RunningImage;
      });
  if (running) {
    if (readOnly) ::SetFileAttributesW(path.c_str(), attributes);
    TestTraceFileEvent("running-image", path);
    return true;
  }
  const bool flushed = file && ::FlushFileBuffers(file.get());
  const DWORD error = ::GetLastError();
  file.reset();
  if (readOnly) ::SetFileAttributesW(path.c_str(), attributes);
  if (!flushed) {
    ::SetLastError(error);
    return false;
  }
  TestTraceFileEvent("flush", path);
  return true;
}

bool PublishByRename(const std::wstring& from, const std::wstring& to, DWORD flags) {
  return FlushFileToDisk(from) && RenameFlushed(from, to, flags);
}

bool RenameFlushed(const std::wstring& from, const std::wstring& to, DWORD flags) {
  if (!MoveFileWaiting(from, to, flags | MOVEFILE_WRITE_THROUGH)) return false;
  TestTraceFileEvent("rename", from, to);
  return true;
}

bool RenameUnflushed(const std::wstring& from, const std::wstring& to, DWORD flags) {
  if (!MoveFileWaiting(from, to, flags | MOVEFILE_WRITE_THROUGH)) return false;
  TestTraceFileEvent("rename-unflushed", from, to);
  return true;
}

bool WriteFileDurably(const std::wstring& path, std::string_view bytes) {
  const std::wstring staging = ForFileSystem(StagingNameOf(path));
  {
    UniqueFile file;
    if (!WithFileWaits([&] {
          file.reset(::CreateFileW(staging.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
          return static_cast<bool>(file);
        })) {
      return false;
    }
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
      file.reset();
      DeleteFileWaiting(staging);
      return false;
    }
  }
  if (PublishByRename(staging, path)) return true;
  const DWORD error = ::GetLastError();
  DeleteFileWaiting(staging);
  ::SetLastError(error);
  return false;
}

bool CopyFileDurably(const std::wstring& from, const std::wstring& to, DWORD flags) {
  const std::wstring staging = ForFileSystem(StagingNameOf(to)), source = ForFileSystem(from);
  if (!WithFileWaits([&] { return ::CopyFileW(source.c_str(), staging.c_str(), FALSE) != FALSE; })) {
    const DWORD error = ::GetLastError();
    ::DeleteFileW(staging.c_str());  // a copy cut short by a full disk
    ::SetLastError(error);
    return false;
  }
  ::SetFileAttributesW(staging.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (FlushFileToDisk(staging)) {
    TestKillPoint("COPIA_TEMPORAL_ESCRITA");  // the whole copy on the disk, not yet under its name
    if (RenameFlushed(staging, to, flags)) return true;
  }
  const DWORD error = ::GetLastError();
  DeleteFileWaiting(staging);
  ::SetLastError(error);
  return false;
}

}  // namespace brivon
