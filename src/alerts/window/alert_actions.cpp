#include "alerts/window/alert_actions.h"

#include <shellapi.h>

#include <cstdio>
#include <memory>

#include "alerts/window/alert_layout.h"
#include "alerts/window/link_policy.h"
#include "common/text.h"
#include "common/activity_log.h"
#include "common/program_folder.h"
#include "update/previous_versions.h"

namespace brivon {
namespace {

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

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
  for (const std::string& link : links) {
    // Read as the texts are: an 8-bit call would pass the UTF-8 bytes through the ANSI code page.
    const std::wstring address = DocumentTextToWide(link);
    ::ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  }
}

bool CloseBarTakesClick(DWORD clickedAt, DWORD shownAt, UINT doubleClickMs) {
  // The difference taken as signed: right across the tick count's wrap, and a click queued
  // before the window showed comes out negative.
  const LONG since = static_cast<LONG>(clickedAt - shownAt);
  return since >= 0 && static_cast<DWORD>(since) >= doubleClickMs;
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

bool RecordAcceptance(const Alert& alert) {
  if (alert.contenido.empty()) return false;
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  const std::string line = AcceptanceLine(now, alert.contenido.front().enlace);
  ::CreateDirectoryW(L"actualizador_registros", nullptr);
  // Text mode: the record's lines end in CR LF.
  std::unique_ptr<FILE, FileCloser> record(std::fopen(kAcceptanceRecordPath, "a"));
  if (!record) return false;
  const bool written = std::fwrite(line.data(), 1, line.size(), record.get()) == line.size();
  return std::fflush(record.get()) == 0 && written;
}

}  // namespace brivon
