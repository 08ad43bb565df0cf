#include "update/update_record.h"

#include <windows.h>

#include <cstdio>
#include <cwctype>
#include <map>
#include <set>
#include <sstream>

#include "common/activity_log.h"
#include "common/long_path.h"
#include "common/test_hooks.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "files/durable_file.h"
#include "files/file_facts.h"
#include "files/folder_tree.h"
#include "files/sharing_waits.h"
#include "update/package_naming.h"
#include "update/previous_versions.h"

namespace brivon {
namespace {

constexpr char kHeader[] = "brivon-actualizacion 1";
constexpr char kEnd[] = "fin";

std::string IdentityText(const FileIdentity& id) {
  if (!id.exists) return "no";
  return std::to_string(id.size) + "," + std::to_string(id.written);
}

bool ParseIdentity(const std::string& text, FileIdentity& id) {
  id = {};
  if (text == "no") return true;
  unsigned long long size = 0, written = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%llu,%llu%c", &size, &written, &tail) != 2) return false;
  id = {true, size, written};
  return true;
}

// A URL is only logged: line breaks in it must not break the record.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

bool SamePath(const std::wstring& a, const std::wstring& b) { return Lower(a) == Lower(b); }

// folder + "\" + one name, no separator or parent step in the name.
bool IsDirectlyIn(const std::wstring& path, const std::wstring& folder) {
  if (path.size() <= folder.size() + 1 || !SamePath(path.substr(0, folder.size()), folder) ||
      path[folder.size()] != L'\\') {
    return false;
  }
  const std::wstring name = path.substr(folder.size() + 1);
  return name.find_first_of(L"\\/:") == std::wstring::npos && name != L"." && name != L"..";
}

// The package's path without its extension, or that followed by a free-name "_N".
bool IsExtractionFolderOf(const std::wstring& folder, const std::wstring& package) {
  const std::wstring base = StripExtension(package);
  if (folder.size() < base.size() || !SamePath(folder.substr(0, base.size()), base)) return false;
  const std::wstring tail = folder.substr(base.size());
  if (tail.empty()) return true;
  return tail.size() >= 2 && tail[0] == L'_' && tail.find_first_not_of(L"0123456789", 1) == std::wstring::npos;
}

std::wstring NameOf(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

bool IsSha256Text(const std::string& text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

FileIdentity IdentityOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(ForFileSystem(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return {};
  }
  return {true, FileSizeFromHalves(data.nFileSizeHigh, data.nFileSizeLow),
          (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime};
}

std::string FormatUpdateRecord(const UpdateRecord& r) {
  std::string text = std::string(kHeader) + "\n";
  auto put = [&](const char* key, const std::string& value) { text += std::string(key) + "=" + value + "\n"; };
  put("carpeta", WideToUtf8(r.programFolder));
  put("url", OneLine(r.packageUrl));
  put("paquete", WideToUtf8(r.package));
  put("paquete_antes", IdentityText(r.packageBefore));
  put("tipo", r.isZip ? "zip" : "exe");
  put("programa", WideToUtf8(r.installed));
  put("programa_antes", IdentityText(r.installedBefore));
  put("apartado", WideToUtf8(r.setAside));
  put("apartado_antes", IdentityText(r.setAsideBefore));
  put("extraccion", WideToUtf8(r.extractionFolder));
  put("extraccion_existia", r.extractionFolderExisted ? "1" : "0");
  put("copia_guardada", WideToUtf8(r.keptCopy));
  if (!r.replacedKept.empty()) put("reemplazado_guardado", WideToUtf8(r.replacedKept));
  if (!r.folderId.empty()) put("carpeta_id", r.folderId);
  if (r.newProgram.exists) put("programa_nuevo", IdentityText(r.newProgram));
  if (!r.newProgramSha256.empty()) put("programa_nuevo_sha256", r.newProgramSha256);
  if (r.packageDownloaded.exists) put("paquete_descargado", IdentityText(r.packageDownloaded));
  if (r.extractionStarted) put("extraccion_iniciada", "1");
  return text + kEnd + "\n";
}

bool ParseUpdateRecord(std::string_view text, UpdateRecord& r) {
  static const std::set<std::string> keys = {"carpeta",       "url",        "paquete",          "paquete_antes",
                                             "tipo",          "programa",   "programa_antes",   "apartado",
                                             "apartado_antes", "extraccion", "extraccion_existia", "copia_guardada"};
  // Later additions, absent from the records of earlier versions.
  static const std::set<std::string> optionalKeys = {"reemplazado_guardado", "carpeta_id",         "programa_nuevo",
                                                     "programa_nuevo_sha256", "paquete_descargado", "extraccion_iniciada"};
  std::istringstream lines{std::string(text)};
  std::string line;
  if (!std::getline(lines, line) || line != kHeader) return false;
  std::map<std::string, std::string> values;
  bool ended = false;
  while (std::getline(lines, line)) {
    if (ended) return false;  // nothing may follow the end line
    if (line == kEnd) {
      ended = true;
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string::npos) return false;
    const std::string key = line.substr(0, equals);
    if ((!keys.count(key) && !optionalKeys.count(key)) || !values.emplace(key, line.substr(equals + 1)).second) {
      return false;
    }
  }
  size_t optionalFound = 0;
  for (const std::string& key : optionalKeys) optionalFound += values.count(key);
  if (!ended || values.size() != keys.size() + optionalFound) return false;
  if (values["tipo"] != "exe" && values["tipo"] != "zip") return false;
  if (values["extraccion_existia"] != "0" && values["extraccion_existia"] != "1") return false;
  UpdateRecord parsed;
  parsed.programFolder = Utf8ToWide(values["carpeta"]);
  parsed.packageUrl = values["url"];
  parsed.package = Utf8ToWide(values["paquete"]);
  parsed.isZip = values["tipo"] == "zip";
  parsed.installed = Utf8ToWide(values["programa"]);
  parsed.setAside = Utf8ToWide(values["apartado"]);
  parsed.extractionFolder = Utf8ToWide(values["extraccion"]);
  parsed.extractionFolderExisted = values["extraccion_existia"] == "1";
  parsed.keptCopy = Utf8ToWide(values["copia_guardada"]);
  if (values.count("reemplazado_guardado")) parsed.replacedKept = Utf8ToWide(values["reemplazado_guardado"]);
  if (values.count("carpeta_id")) parsed.folderId = values["carpeta_id"];
  if (values.count("programa_nuevo_sha256")) {
    parsed.newProgramSha256 = values["programa_nuevo_sha256"];
    if (!IsSha256Text(parsed.newProgramSha256)) return false;
  }
  if (values.count("extraccion_iniciada") && values["extraccion_iniciada"] != "1") return false;
  parsed.extractionStarted = values.count("extraccion_iniciada") != 0;
  if (!ParseIdentity(values["paquete_antes"], parsed.packageBefore) ||
      !ParseIdentity(values["programa_antes"], parsed.installedBefore) ||
      !ParseIdentity(values["apartado_antes"], parsed.setAsideBefore) ||
      (values.count("programa_nuevo") && !ParseIdentity(values["programa_nuevo"], parsed.newProgram)) ||
      (values.count("paquete_descargado") && !ParseIdentity(values["paquete_descargado"], parsed.packageDownloaded))) {
    return false;
  }
  r = parsed;
  return true;
}

bool IsRecordOfFolder(const UpdateRecord& r, const std::wstring& folder) {
  if (folder.empty() || !SamePath(r.programFolder, folder) || !IsDirectlyIn(r.package, folder)) return false;
  if (r.isZip) {
    if (!IsExtractionFolderOf(r.extractionFolder, r.package)) return false;
  } else if ((!r.installed.empty() && !SamePath(r.installed, r.package)) || !r.extractionFolder.empty()) {
    return false;  // an executable package replaces the program of its own name, or none
  }
  if (!r.replacedKept.empty()) {
    // <folder>\actualizaciones\<time stamp>\<the package's name>, for a package replacing no program
    const size_t cut = r.replacedKept.find_last_of(L'\\');
    if (r.isZip || !r.installed.empty() || cut == std::wstring::npos ||
        !IsDirectlyIn(r.replacedKept.substr(0, cut), folder + kUpdatesFolderName) ||
        !SamePath(NameOf(r.replacedKept), NameOf(r.package))) {
      return false;
    }
  }
  if (r.installed.empty()) return r.setAside.empty() && r.keptCopy.empty();
  if (!IsDirectlyIn(r.installed, folder)) return false;
  const std::wstring stem = StripExtension(NameOf(r.installed));
  if (!SamePath(r.setAside, folder + L"\\" + stem + L"2.exe")) return false;
  if (r.keptCopy.empty()) return true;
  // <folder>\actualizaciones\<time stamp>\<stem>.exe
  const std::wstring updates = folder + kUpdatesFolderName;
  const size_t cut = r.keptCopy.find_last_of(L'\\');
  return cut != std::wstring::npos && IsDirectlyIn(r.keptCopy.substr(0, cut), updates) &&
         SamePath(NameOf(r.keptCopy), stem + L".exe");
}

std::wstring UpdateRecordPath(const std::wstring& programFolder) {
  return programFolder + kLogFolderName + L"\\" + kUpdateRecordName;
}

std::string FolderIdOf(const std::wstring& folder) {
  UniqueFile handle(::CreateFileW(ForFileSystem(folder).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!handle || !::GetFileInformationByHandle(handle.get(), &info)) return {};
  char text[32];
  std::snprintf(text, sizeof(text), "%08lx-%08lx%08lx", static_cast<unsigned long>(info.dwVolumeSerialNumber),
                static_cast<unsigned long>(info.nFileIndexHigh), static_cast<unsigned long>(info.nFileIndexLow));
  return text;
}

bool RebaseUpdateRecord(UpdateRecord& r, const std::wstring& folder, const std::string& folderId) {
  if (r.folderId.empty() || folderId.empty() || r.folderId != folderId || folder.empty()) return false;
  const std::wstring old = r.programFolder;
  UpdateRecord moved = r;
  for (std::wstring* path : {&moved.package, &moved.installed, &moved.setAside, &moved.extractionFolder,
                             &moved.keptCopy, &moved.replacedKept}) {
    if (path->empty()) continue;
    if (path->size() <= old.size() || !SamePath(path->substr(0, old.size()), old) || (*path)[old.size()] != L'\\') {
      return false;
    }
    *path = folder + path->substr(old.size());
  }
  moved.programFolder = folder;
  r = moved;
  return true;
}

bool WriteUpdateRecord(const UpdateRecord& given) {
  UpdateRecord record = given;
  if (record.folderId.empty()) record.folderId = FolderIdOf(record.programFolder);
  EnsureDirectoryTree(record.programFolder + kLogFolderName);
  const bool written = WriteFileDurably(UpdateRecordPath(record.programFolder), FormatUpdateRecord(record));
  TestKillPoint("REGISTRO_ACTUALIZACION");
  return written;
}

void RemoveUpdateRecord(const std::wstring& programFolder) { DeleteFileWaiting(UpdateRecordPath(programFolder)); }

}  // namespace brivon
