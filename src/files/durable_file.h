// Files published by a rename are flushed to the disk first: after a power cut the new name
// holds the whole file or the name still holds what it held before, never an empty or half file.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace brivon {

// Who may go without the flush. A file written by this program goes live only once flushed: a
// holder that refuses the write open (a backup or sync client reading it with reading and deletion
// shared, which from outside looks just like a running program) is waited for, and one that never
// lets go fails the flush. Only the installed program and its set-aside copy were read from the
// disk to run, and a running image refuses every write open: for them alone the caller may accept
// such a hold as a running program's and go on unflushed, at once.
enum class FlushRule { Always, UnlessRunningProgram };

// Writes the file's data and metadata through to the disk. False when it cannot be opened or
// flushed (GetLastError() tells why).
bool FlushFileToDisk(const std::wstring& path, FlushRule rule = FlushRule::Always);

// Flushes `from`, then renames it to `to` with MOVEFILE_WRITE_THROUGH added to `flags`.
bool PublishByRename(const std::wstring& from, const std::wstring& to, DWORD flags = MOVEFILE_REPLACE_EXISTING);
// The rename alone, for a file flushed already.
bool RenameFlushed(const std::wstring& from, const std::wstring& to, DWORD flags);
// The same rename without the flush, for a file whose content nobody relies on after a power cut.
bool RenameUnflushed(const std::wstring& from, const std::wstring& to, DWORD flags = MOVEFILE_REPLACE_EXISTING);

// The whole of `bytes` under `path`, written beside it first and published by rename.
bool WriteFileDurably(const std::wstring& path, std::string_view bytes);

// A copy of `from` under `to`, made beside `to` ("<to>.escribiendo"), flushed and published by a
// rename with `flags`: the name holds the whole copy or what it held before, never part of one.
// Without MOVEFILE_REPLACE_EXISTING a name taken meanwhile fails with ERROR_ALREADY_EXISTS.
bool CopyFileDurably(const std::wstring& from, const std::wstring& to, DWORD flags = MOVEFILE_REPLACE_EXISTING);

// Where CopyFileDurably makes its copy before it takes the name.
std::wstring StagingNameOf(const std::wstring& path);

}  // namespace brivon
