#include "alerts/window/alert_actions.h"

#include <shellapi.h>

#include <cstdio>
#include <memory>

#include "alerts/window/alert_layout.h"
#include "alerts/window/alert_messages.h"
#include "alerts/window/link_policy.h"
#include "common/activity_log.h"
#include "common/log_line.h"
#include "common/long_path.h"
#include "common/program_folder.h"
#include "common/system_library.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "common/worker_thread.h"
#include "files/folder_tree.h"
#include "files/sharing_waits.h"
#include "update/previous_versions.h"

namespace brivon {
namespace {

bool IsPlainFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

std::vector<std::string> LinksAt(const Alert& alert, int32_t x, int32_t y) {
  std::vector<std::string> links;
  for (const AlertItem& item : alert.contenido) {
    if (item.enlace.empty() || !IsHit(item.hitRect, x, y)) continue;
    if (!IsBrowserLink(item.enlace)) continue;
    links.push_back(item.enlace);
  }
  return links;
}

void OpenLinks(const std::vector<std::string>& links) {
  if (links.empty()) return;
  // The shell's library loads with the first click, not with every start; it stays, since the
  // shell may still be at work after the call returns.
  static const UniqueModule shell = LoadSystemLibrary(L"shell32.dll");
  const auto open = SystemFunction<decltype(&::ShellExecuteW)>(shell, "ShellExecuteW");
  if (!open) return;
  for (const std::string& link : links) {
    // Read as the texts are: an 8-bit call would pass the UTF-8 bytes through the ANSI code page.
    const std::wstring address = DocumentTextToWide(link);
    open(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  }
}

bool CloseBarTakesClick(DWORD clickedAt, DWORD shownAt, UINT doubleClickMs) {
  // The difference taken as signed: right across the tick count's wrap, and a click queued
  // before the window showed comes out negative.
  const LONG since = static_cast<LONG>(clickedAt - shownAt);
  return since >= 0 && static_cast<DWORD>(since) >= doubleClickMs;
}

KeyAction ActionForKey(UINT key, KeyStroke stroke, const KeyContext& context) {
  switch (key) {
    case VK_TAB:
      if (!context.hasTerms || stroke == KeyStroke::Released) return KeyAction::None;
      if (context.focus == AlertFocus::TermsBox) return context.buttonEnabled ? KeyAction::FocusButton : KeyAction::None;
      return KeyAction::FocusBox;
    case VK_RETURN:
    case VK_SPACE:
      if (!context.hasTerms || context.focus != AlertFocus::AcceptButton || !context.buttonEnabled)
        return KeyAction::None;
      if (stroke == KeyStroke::Pressed) return KeyAction::HoldButton;
      return stroke == KeyStroke::Released && context.heldOnButton == key ? KeyAction::PressButton : KeyAction::None;
    case VK_ESCAPE:
      return context.closable && !context.saving && stroke == KeyStroke::Pressed ? KeyAction::Close : KeyAction::None;
    default:
      return KeyAction::None;
  }
}

std::string CloseLineText(const std::wstring& candidate, CloseArchiveOutcome outcome, const std::wstring& archive) {
  std::string line = "CIERRE_ARCHIVAR_ZIP;" + NarrowLow8(candidate) + ";";
  switch (outcome) {
    case CloseArchiveOutcome::Archived:
      return line + NarrowLow8(archive);
    case CloseArchiveOutcome::Failed:
      return line + "ERROR";
    case CloseArchiveOutcome::Missing:
      break;
  }
  return line + "NO_EXISTE";
}

void ArchiveSetAsideProgram() {
  const std::wstring folder = GetProgramFolder();
  const std::wstring candidate = folder + kSetAsideProgramName;
  CloseArchiveOutcome outcome = CloseArchiveOutcome::Missing;
  std::wstring archive;
  if (IsPlainFile(candidate)) {
    outcome = ArchiveToVersionsFolder(folder, candidate, &archive) ? CloseArchiveOutcome::Archived
                                                                    : CloseArchiveOutcome::Failed;
  }
  AppendActivityLog(folder, kDownloadsLog, CloseLineText(candidate, outcome, archive));
}

std::string AcceptanceLine(const SYSTEMTIME& when, const std::string& link) {
  // Framed by the one log writer: the link is the service's text.
  return FormatLogLine(LocalTime{when.wYear, when.wMonth, when.wDay, when.wHour, when.wMinute, when.wSecond}, link);
}

std::string AcceptanceFailureLine(const std::wstring& record, DWORD error) {
  return LogLine("ERROR_REGISTRAR_ACEPTACION").Field(record).Err(error);
}

bool RecordAcceptance(const std::string& link) {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  std::string line = AcceptanceLine(now, link);
  // The record is a text file of CR LF lines.
  if (!line.empty() && line.back() == '\n') line.insert(line.size() - 1, 1, '\r');
  const std::wstring folder = GetProgramFolder();
  const std::wstring record = folder + kLogFolderName + L"\\" + kAcceptanceRecordName;
  EnsureDirectoryTree(folder + kLogFolderName);
  const bool written = WithFileWaits([&] {
    // Whole or not at all: a spreadsheet that holds the record refuses the open, never a write.
    UniqueFile file(::CreateFileW(ForFileSystem(record).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD wrote = 0;
    if (!::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &wrote, nullptr)) return false;
    if (wrote != line.size()) {
      ::SetLastError(ERROR_DISK_FULL);
      return false;
    }
    // Accepted only once the line is on the disk.
    return ::FlushFileBuffers(file.get()) != FALSE;
  });
  if (written) return true;
  const DWORD error = ::GetLastError();
  AppendActivityLog(folder, kDownloadsLog, AcceptanceFailureLine(record, error));
  return false;
}

namespace {

struct AcceptanceJob {
  HWND window;
  std::string link;
  std::shared_ptr<AcceptanceCell> cell;
};

DWORD WINAPI AcceptanceWriter(LPVOID parameter) {
  std::unique_ptr<AcceptanceJob> job(static_cast<AcceptanceJob*>(parameter));
  bool saved = false;
  try {
    saved = RecordAcceptance(job->link);
  } catch (...) {
    // Out of memory: not saved, and the window says so.
  }
  job->cell->Finish(saved);
  ::PostMessageW(job->window, WM_ACCEPTANCE_WRITTEN, 0, 0);
  return 0;
}

}  // namespace

UniqueHandle StartRecordingAcceptance(HWND window, const std::string& link, std::shared_ptr<AcceptanceCell> cell) {
  if (!cell) return {};
  return StartWorkerThread(AcceptanceWriter,
                           std::unique_ptr<AcceptanceJob>(new AcceptanceJob{window, link, std::move(cell)}));
}

}  // namespace brivon
