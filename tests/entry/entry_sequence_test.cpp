// The entry's sequence through the real brivon.exe: one instance per program folder, and the
// leftover update folders archived and removed before the check-in.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/unique_handle.h"
#include "servers/loopback_http_server.h"
#include "sevenzip/zip_archive.h"
#include "support/alert_documents.h"
#include "support/alert_window_driver.h"
#include "support/archive_reading.h"
#include "support/log_lines.h"
#include "support/program_run.h"
#include "support/test_env.h"
#include "support/unix_link.h"

namespace brivon {
namespace {

using testing::Exists;
using testing::HttpReply;
using testing::ReadBytes;
using testing::Sorted;
using testing::TempFolder;
using testing::WriteBytes;

constexpr char kCheckinPath[] = "/comprobador/checkin";
const char kNoAlerts[] = R"({"alertas":[]})";
const std::string kOneAlert = testing::AlertDocument(testing::SoloMensaje("Hola", "#C00000"), "Aviso");

class EntrySequenceTest : public ::testing::Test {
 protected:
  // No powershell.exe at all, as on a desk where it is missing or blocked: nothing needs it.
  static void SetUpTestSuite() { ASSERT_TRUE(testing::RemoveSystemPowershell()); }
  void SetUp() override {
    sibling_ = ReadBytes(testing::TestToolPath(L"fixture_sibling_10_2_0_15.exe"));
    ASSERT_FALSE(sibling_.empty());
    ASSERT_TRUE(server_.Start());
    Serve(kNoAlerts);
  }

  // brivon.exe beside its archive tool and a sibling program the check-in knows; returns the
  // installed brivon.exe.
  std::wstring MakeProgramFolder(const std::wstring& folder) {
    EXPECT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr) || testing::IsDirectory(folder));
    EXPECT_TRUE(testing::InstallArchiveTool(folder));
    EXPECT_TRUE(WriteBytes(folder + L"\\FacturaOrva.exe", sibling_));
    return testing::InstallBrivon(folder);
  }
  void Serve(const std::string& document) {
    server_.Serve(kCheckinPath, HttpReply{200, document, "application/json"});
  }

  std::string sibling_;
  testing::LoopbackHttpServer server_{testing::BuiltInPort()};
};

// Another path to one folder, as a mapped drive, its UNC path and an 8.3 name are at a desk: under
// Wine the path through drive Z:, which maps the Unix root; on Windows the 8.3 name ("" where the
// volume makes none).
std::wstring AnotherPathTo(const std::wstring& path) {
  if (!testing::RunningUnderWine()) {
    wchar_t shortName[MAX_PATH] = {};
    const DWORD length = ::GetShortPathNameW(path.c_str(), shortName, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || std::wstring(shortName, length) == path) return {};
    return std::wstring(shortName, length);
  }
  using UnixName = char*(CDECL*)(const wchar_t*);
  auto unixName = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!unixName) return {};
  char* name = unixName(path.c_str());
  if (!name) return {};
  const std::wstring z = testing::HostPathToWindows(name);
  ::HeapFree(::GetProcessHeap(), 0, name);
  return z;
}

TEST_F(EntrySequenceTest, ASecondStartInTheSameFolderEndsAtOnceAndDoesNothing) {
  TempFolder root(L"brivon-inst");
  const std::wstring first = root / L"Programa A";
  const std::wstring other = root / L"Programa B";
  const std::wstring firstExe = MakeProgramFolder(first);
  const std::wstring otherExe = MakeProgramFolder(other);
  const std::wstring firstAgain = AnotherPathTo(firstExe);
  if (firstAgain.empty()) GTEST_SKIP() << "needs a second path to the program folder: this volume makes no 8.3 names";
  Serve(kOneAlert);  // the first instance waits on its alert window

  struct Seen {
    bool done = false;
    bool firstStillShown = false;
    size_t checkinsBefore = 0, checkinsAfterSecond = 0, checkinsAfterOther = 0;
    std::string checkinLogBefore, checkinLogAfter;
    testing::ProgramRun second, elsewhere;
    DWORD secondMs = 0;
  } seen;
  const std::wstring leftover = first + L"\\actualizaciones\\251206_093015";
  testing::RunOptions options;
  options.timeoutMs = 120000;
  options.whileRunning = [&](DWORD processId) {
    const std::vector<HWND> windows = testing::VisibleAlertWindows(processId);
    if (windows.empty()) return;
    if (!seen.done) {
      seen.done = true;
      Serve(kNoAlerts);
      // What a second start would find to do: a leftover folder and a check-in.
      ::CreateDirectoryW((first + L"\\actualizaciones").c_str(), nullptr);
      ::CreateDirectoryW(leftover.c_str(), nullptr);
      WriteBytes(leftover + L"\\FacturaOrva.exe", "MZ old");
      const std::wstring checkinLog = testing::LogPath(first, L"ComprobadorOrvane_log.csv");
      seen.checkinsBefore = server_.CountRequests(kCheckinPath);
      seen.checkinLogBefore = ReadBytes(checkinLog);

      testing::RunOptions quick;
      quick.timeoutMs = 30000;
      const DWORD start = ::GetTickCount();
      // Through another path to the same folder: a mutex named from the path would not see it.
      seen.second = testing::RunProgram(firstAgain, quick);
      seen.secondMs = ::GetTickCount() - start;
      seen.checkinsAfterSecond = server_.CountRequests(kCheckinPath);
      seen.checkinLogAfter = ReadBytes(checkinLog);

      seen.elsewhere = testing::RunProgram(otherExe, quick);
      seen.checkinsAfterOther = server_.CountRequests(kCheckinPath);
      seen.firstStillShown = ::IsWindow(windows.front()) && ::IsWindowVisible(windows.front());
    }
    testing::CloseAlertWindowsThroughCloseBar(processId);
  };
  testing::ProgramRun run = testing::RunProgram(firstExe, options);

  ASSERT_TRUE(seen.done) << "the first instance showed no alert window";
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(seen.firstStillShown);

  // The second start in the same folder: exit code 0, no message, no check-in, no housekeeping.
  EXPECT_TRUE(seen.second.started);
  EXPECT_FALSE(seen.second.timedOut);
  EXPECT_EQ(seen.second.exitCode, 0u);
  EXPECT_TRUE(seen.second.boxes.empty());
  EXPECT_EQ(seen.checkinsAfterSecond, seen.checkinsBefore);
  EXPECT_EQ(seen.checkinLogAfter, seen.checkinLogBefore);
  EXPECT_NE(ReadBytes(testing::LogPath(first, L"descargas.csv")).find(";INICIO_OMITIDO;OTRA_EJECUCION_EN_CURSO;"),
            std::string::npos);
  EXPECT_EQ(ReadBytes(leftover + L"\\FacturaOrva.exe"), "MZ old");
  EXPECT_FALSE(Exists(leftover + L".zip"));
  std::printf("second start in the same folder ended after %lu ms\n", static_cast<unsigned long>(seen.secondMs));
  // At once: a start under Wine takes well under this, a wait for the folder's lock (as for a held
  // file, up to 10 s) does not.
  EXPECT_LT(seen.secondMs, 5000u);

  // A start in another folder meanwhile runs its whole sequence.
  EXPECT_FALSE(seen.elsewhere.timedOut);
  EXPECT_EQ(seen.elsewhere.exitCode, 0u);
  EXPECT_EQ(seen.checkinsAfterOther, seen.checkinsAfterSecond + 1);
  EXPECT_EQ(ReadBytes(testing::LogPath(other, L"recibido.json")), kNoAlerts);
}

// While alive, Wine looks for a native `library` along brivon.exe's search path before its own
// copy, as Windows does for a library that is not one of its known ones ("" for no change).
class NativeLibraryFirst {
 public:
  explicit NativeLibraryFirst(const std::wstring& library) : library_(library) {
    if (library_.empty()) return;
    constexpr wchar_t kNativeFirst[] = L"native,builtin";
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kOverrides, library_.c_str(), REG_SZ, kNativeFirst, sizeof(kNativeFirst));
  }
  ~NativeLibraryFirst() {
    if (!library_.empty()) ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kOverrides, library_.c_str());
  }
  NativeLibraryFirst(const NativeLibraryFirst&) = delete;
  NativeLibraryFirst& operator=(const NativeLibraryFirst&) = delete;

 private:
  static constexpr wchar_t kOverrides[] = L"Software\\Wine\\AppDefaults\\brivon.exe\\DllOverrides";
  std::wstring library_;
};

// Started from another folder, the program works in its own: its alert document is read by a
// relative path. At a drive root ("X:\brivon.exe", program folder "X:") that needs "X:\", since
// "X:" alone is the drive's remembered folder, which a parent hands down as "=X:". Every library
// it loads itself (WinINet and the version reader for the check-in, GDI+ with the first alert)
// comes from the system folder only, never from the program folder, which the user may write
// (Wine prefers its own copy unless told to look for a native one first, as Windows does).
TEST_F(EntrySequenceTest, StartedFromAnotherFolderItWorksInItsOwnEvenAtADriveRoot) {
  TempFolder root(L"brivon-cwd");
  const std::wstring elsewhere = root / L"otra carpeta";
  ASSERT_TRUE(::CreateDirectoryW(elsewhere.c_str(), nullptr));
  struct Row {
    const char* name;
    std::wstring folder;
    std::wstring planted = {};  // a library of someone else's in the program folder, under this name
  };
  std::vector<Row> rows = {{"a folder of its own", root / L"Programa"},
                           {"a gdiplus.dll planted in its folder", root / L"Plantado", L"gdiplus"},
                           {"a wininet.dll planted in its folder", root / L"Plantado2", L"wininet"}};
  // Q: is made by make_unix_links (make_unix_links.sh) when the bench can give it.
  const std::wstring drive = L"Q:";
  const bool haveDrive = Exists(drive + L"\\unidad_de_prueba") && testing::IsDirectory(drive + L"\\otra");
  if (haveDrive) {
    rows.push_back({"a drive root", drive});
    ::SetEnvironmentVariableW((L"=" + drive).c_str(), (drive + L"\\otra").c_str());
  } else {
    std::printf("no test drive Q: the drive-root row is left out\n");
  }
  Serve(kOneAlert);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::wstring exe = MakeProgramFolder(row.folder);
    if (!row.planted.empty()) {
      ASSERT_TRUE(::CopyFileW(testing::TestToolPath(L"planted_library.dll").c_str(),
                              (row.folder + L"\\" + row.planted + L".dll").c_str(), FALSE));
    }
    NativeLibraryFirst nativeFirst(row.planted);
    bool shown = false;
    testing::RunOptions options;
    options.workingFolder = elsewhere;
    options.timeoutMs = 60000;
    options.whileRunning = [&](DWORD processId) {
      if (!testing::VisibleAlertWindows(processId).empty()) shown = true;
      testing::CloseAlertWindowsThroughCloseBar(processId);
    };
    const testing::ProgramRun run = testing::RunProgram(exe, options);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(ReadBytes(testing::LogPath(row.folder, L"recibido.json")), kOneAlert);
    EXPECT_TRUE(shown);  // the document was found by its relative path
    EXPECT_FALSE(Exists(row.folder + L"\\planted_library_loaded.txt"));
    EXPECT_FALSE(Exists(elsewhere + L"\\actualizador_registros"));
  }
  if (haveDrive) {
    ::SetEnvironmentVariableW((L"=" + drive).c_str(), nullptr);
    EXPECT_FALSE(Exists(drive + L"\\otra\\actualizador_registros"));  // not its remembered folder
  }
}

// Leftover update folders through the real start-up: what becomes an archive, what stays, and that
// the housekeeping is over before the check-in begins.
enum class EarlierArchive { None, HoldingIt, NoArchive };  // what stands under the first's archive name
enum class Meanwhile { Nothing, WriteAFile, EditTheDatabase, HoldTheNewArchive };
struct HousekeepingRow {
  const char* name;
  bool updatesFolder = true;
  std::vector<std::wstring> leftovers;       // plain sub-folders (FacturaOrva.exe and DATOS.MDB inside)
  bool readOnlyInside = false;               // a read-only folder holding a read-only file in the first
  bool hiddenCopy = false;  // the first's data-file copy hidden, as its original was
  bool links = false;  // the first holds a Unix link to an outside folder; "enlace" is such a link
  bool heldFile = false;  // the first's DATOS.MDB held open without sharing while the program runs
  bool noTool = false;    // no 7za.exe, and none to download
  EarlierArchive earlier = EarlierArchive::None;  // made before the start
  // Done while the program waits: once the first's files are checked against their archive (a file
  // written, or the database written again at its size), or once its new archive is written (held
  // as a scanner holds it, before it takes its name).
  Meanwhile meanwhile = Meanwhile::Nothing;
  std::vector<std::wstring> alsoInUpdates;  // files beside the archives afterwards
  std::vector<std::string> log;              // descargas.csv's texts; "<first>" stands for the first's path
  std::vector<std::wstring> archived;        // archives expected, with the leftover's files
  std::vector<std::wstring> remaining;       // sub-folders still there afterwards
};

std::vector<HousekeepingRow> HousekeepingRows() {
  std::vector<HousekeepingRow> rows(10);
  rows[0].name = "two leftover folders";
  rows[0].leftovers = {L"251206_093015", L"251207_101010"};
  rows[0].archived = rows[0].leftovers;
  rows[1].name = "read-only file and folder";
  rows[1].leftovers = {L"251206_093015"};
  rows[1].readOnlyInside = true;
  rows[1].archived = rows[1].leftovers;
  rows[2].name = "7-Zip cannot read a file: a warning, a strike";
  rows[2].leftovers = {L"251206_093015"};
  rows[2].heldFile = true;
  rows[2].remaining = rows[2].leftovers;
  rows[2].log = {"ARCHIVADO_ERROR;<first>;ec=1;intentos=1"};
  rows[3].name = "no 7za.exe";
  rows[3].leftovers = {L"251206_093015"};
  rows[3].noTool = true;
  rows[3].remaining = rows[3].leftovers;
  rows[4].name = "directory links";
  rows[4].leftovers = {L"251206_093015"};
  rows[4].links = true;
  rows[4].archived = rows[4].leftovers;
  rows[5].name = "no updates folder";
  rows[5].updatesFolder = false;
  rows[6].name = "a hidden data-file copy";
  rows[6].leftovers = {L"251206_093015"};
  rows[6].hiddenCopy = true;
  rows[6].archived = rows[6].leftovers;  // whole, the hidden copy too
  rows[7].name = "a file written into a folder its archive holds, once the archive was listed";
  rows[7].leftovers = {L"251206_093015"};
  rows[7].earlier = EarlierArchive::HoldingIt;
  rows[7].meanwhile = Meanwhile::WriteAFile;
  rows[7].archived = rows[7].leftovers;
  rows[7].remaining = rows[7].leftovers;
  rows[7].log = {"CARPETA_CONSERVADA;<first>;sin_comprobar=1"};
  rows[8] = rows[7];
  rows[8].name = "the database written again at its size, once the archive was listed";
  rows[8].meanwhile = Meanwhile::EditTheDatabase;
  rows[9].name = "the new archive held as it takes the name beside an earlier file";
  rows[9].leftovers = {L"251206_093015"};
  rows[9].earlier = EarlierArchive::NoArchive;
  rows[9].meanwhile = Meanwhile::HoldTheNewArchive;
  rows[9].remaining = rows[9].leftovers;
  rows[9].log = {"ERROR_NOMBRE_ARCHIVO;<first>.nuevo.zip;->;<first> (2).zip;err=32",
                 "ARCHIVADO_ERROR;<first>;ec=32;intentos=1"};
  rows[9].alsoInUpdates = {L"251206_093015.zip", L"251206_093015.nuevo.zip", L"251206_093015.intentos"};
  return rows;
}

TEST_F(EntrySequenceTest, LeftoverUpdateFoldersAreArchivedAndRemovedBeforeTheCheckin) {
  // Files here are held for good (a link Wine cannot remove, a file held open): the outcome is the
  // same after a shorter wait. brivon.exe inherits the variable.
  testing::ScopedVariable shortWait(L"BRIVON_TEST_FILE_WAIT_MS", L"300");
  for (const HousekeepingRow& row : HousekeepingRows()) {
    SCOPED_TRACE(row.name);
    if (row.links && !testing::KitRoot().empty()) {
      std::printf("the row \"%s\" is left out: it %s\n", row.name, testing::kNeedsUnixLinks);
      continue;
    }
    TempFolder root(L"brivon-hk-start");
    // The link scene is laid out on the Linux side; every other row starts from an empty folder.
    const std::wstring base = row.links ? testing::UnixLinkScene("entrada") : root.path();
    ASSERT_FALSE(base.empty()) << "no directory links: the make_unix_links test makes them";
    const std::wstring folder = base + (row.links ? L"\\programa" : L"\\Programas Orvane");
    const std::wstring exe = MakeProgramFolder(folder);
    if (row.noTool) {
      ASSERT_TRUE(::DeleteFileW((folder + L"\\7za.exe").c_str()));
    }
    const std::wstring updates = folder + L"\\actualizaciones";
    const std::wstring outside = base + L"\\fuera";
    if (!row.links) {
      ASSERT_TRUE(::CreateDirectoryW(outside.c_str(), nullptr));
      ASSERT_TRUE(WriteBytes(outside + L"\\importante.MDB", "keep me"));
    }
    if (row.updatesFolder) {
      ASSERT_TRUE(::CreateDirectoryW(updates.c_str(), nullptr) || testing::IsDirectory(updates));
      ASSERT_TRUE(WriteBytes(updates + L"\\antiguo.zip", "earlier archive"));
      ASSERT_TRUE(WriteBytes(updates + L"\\nota.txt", "x"));
    }
    for (const std::wstring& name : row.leftovers) {
      const std::wstring leftover = updates + L"\\" + name;
      ASSERT_TRUE(::CreateDirectoryW(leftover.c_str(), nullptr) || testing::IsDirectory(leftover));
      ASSERT_TRUE(WriteBytes(leftover + L"\\FacturaOrva.exe", "MZ old version"));
      ASSERT_TRUE(WriteBytes(leftover + L"\\DATOS.MDB", "data"));
    }
    std::vector<std::wstring> expectedEntries = {L"DATOS.MDB", L"FacturaOrva.exe"};
    const std::wstring first = row.leftovers.empty() ? L"" : updates + L"\\" + row.leftovers.front();
    if (row.readOnlyInside) {
      const std::wstring sub = first + L"\\sub";
      ASSERT_TRUE(::CreateDirectoryW(sub.c_str(), nullptr));
      ASSERT_TRUE(WriteBytes(sub + L"\\solo.txt", "ro"));
      ASSERT_TRUE(::SetFileAttributesW((sub + L"\\solo.txt").c_str(), FILE_ATTRIBUTE_READONLY));
      ASSERT_TRUE(::SetFileAttributesW(sub.c_str(), FILE_ATTRIBUTE_READONLY));
      expectedEntries = {L"DATOS.MDB", L"FacturaOrva.exe", L"sub", L"sub\\solo.txt"};
    }
    if (row.hiddenCopy) {
      ASSERT_TRUE(::SetFileAttributesW((first + L"\\DATOS.MDB").c_str(), FILE_ATTRIBUTE_HIDDEN));
    }
    HANDLE held = INVALID_HANDLE_VALUE;
    if (row.heldFile) {
      held = ::CreateFileW((first + L"\\DATOS.MDB").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(held, INVALID_HANDLE_VALUE);
    }
    if (row.earlier == EarlierArchive::HoldingIt) {
      unsigned long code = 0;
      ASSERT_TRUE(ZipFolderContents(folder, first, first + L".zip", &code));
    } else if (row.earlier == EarlierArchive::NoArchive) {
      ASSERT_TRUE(WriteBytes(first + L".zip", "no archive"));
    }
    const std::string earlierBytes = row.earlier == EarlierArchive::None ? "" : ReadBytes(first + L".zip");
    const std::wstring trace = root / L"traza.txt";
    testing::ScopedVariable traceFile(L"BRIVON_TEST_FILE_TRACE", row.meanwhile == Meanwhile::Nothing ? L"" : trace);
    testing::ScopedVariable pauseAt(L"BRIVON_TEST_PAUSE_AT",
                                    row.meanwhile == Meanwhile::Nothing             ? L""
                                    : row.meanwhile == Meanwhile::HoldTheNewArchive ? L"ARCHIVO_NUEVO_ESCRITO"
                                                                                    : L"ARCHIVO_COMPROBADO");
    bool doneMeanwhile = false;
    UniqueFile heldArchive;
    testing::RunOptions options;
    options.whileRunning = [&](DWORD) {
      if (doneMeanwhile) return;
      if (row.meanwhile == Meanwhile::HoldTheNewArchive) {
        heldArchive.reset(::CreateFileW((first + L".nuevo.zip").c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        doneMeanwhile = static_cast<bool>(heldArchive);
      } else if (row.meanwhile != Meanwhile::Nothing && ReadBytes(trace).find("checked;") != std::string::npos) {
        doneMeanwhile = row.meanwhile == Meanwhile::WriteAFile ? WriteBytes(first + L"\\nuevo.txt", "written meanwhile")
                                                               : WriteBytes(first + L"\\DATOS.MDB", "DATA");
      }
    };

    std::mutex mutex;
    std::vector<std::wstring> atCheckin;
    bool checkedIn = false;
    server_.OnRequest([&](const testing::RecordedRequest& request) {
      if (request.path == kCheckinPath) {
        std::lock_guard<std::mutex> lock(mutex);
        atCheckin = testing::EntryNames(updates, true);
        checkedIn = true;
      }
      return false;
    });

    testing::ProgramRun run = testing::RunProgram(exe, options);
    if (held != INVALID_HANDLE_VALUE) ::CloseHandle(held);
    heldArchive.reset();
    server_.OnRequest(nullptr);
    EXPECT_EQ(doneMeanwhile, row.meanwhile != Meanwhile::Nothing);

    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.boxes.size(), row.noTool ? 1u : 0u);  // the tool's failed download
    const std::wstring logPath = testing::LogPath(folder, L"descargas.csv");
    std::vector<std::string> expectedLog;
    for (std::string line : row.log) {
      for (size_t at = line.find("<first>"); at != std::string::npos; at = line.find("<first>", at)) {
        line.replace(at, 7, NarrowLow8(first));
      }
      expectedLog.push_back(line);
    }
    if (row.links) {  // Wine cannot remove the Unix link inside it (below): the folder stays
      expectedLog = {"CARPETA_NO_ELIMINADA;" + NarrowLow8(first) + ";err=5"};
    }
    if (row.noTool) {
      expectedLog = {"ARCHIVADO_SIN_7ZA;" + NarrowLow8(folder) + "\\7za.exe;carpetas=1"};
    }
    EXPECT_EQ(testing::LogTexts(logPath), expectedLog);
    const std::vector<std::wstring> remaining = testing::EntryNames(updates, true);
    std::vector<std::wstring> expectedRemaining = row.remaining;
    if (row.links) {
      // Wine 8 cannot remove a Unix link through any file call: the link, and the folder that
      // holds one, stay (untouched behind, archived again at the next start).
      expectedRemaining.insert(expectedRemaining.end(), {L"251206_093015", L"enlace"});
    }
    EXPECT_EQ(remaining, Sorted(expectedRemaining));
    EXPECT_FALSE(Exists(updates + L"\\enlace.zip"));  // never archived through a link
    {
      std::lock_guard<std::mutex> lock(mutex);
      EXPECT_TRUE(checkedIn);
      EXPECT_EQ(atCheckin, remaining);  // nothing of the housekeeping was left for after the check-in
    }
    for (const std::wstring& name : row.archived) {
      std::vector<std::wstring> listing = Sorted(testing::ListArchive(updates + L"\\" + name + L".zip"));
      if (row.links) {  // what the archiver makes of the link is its own affair
        for (const std::wstring& entry : expectedEntries) {
          EXPECT_NE(std::find(listing.begin(), listing.end(), entry), listing.end()) << NarrowLow8(entry);
        }
      } else {
        EXPECT_EQ(listing, expectedEntries) << NarrowLow8(name);
      }
    }
    for (const std::wstring& name : row.remaining) {
      const std::wstring left = updates + L"\\" + name;
      if (row.meanwhile == Meanwhile::WriteAFile) {  // only what was not checked stays
        EXPECT_EQ(testing::EntryNames(left, false), std::vector<std::wstring>{L"nuevo.txt"});
        EXPECT_EQ(ReadBytes(left + L"\\nuevo.txt"), "written meanwhile");
      } else if (row.meanwhile == Meanwhile::EditTheDatabase) {
        EXPECT_EQ(testing::EntryNames(left, false), std::vector<std::wstring>{L"DATOS.MDB"});
        EXPECT_EQ(ReadBytes(left + L"\\DATOS.MDB"), "DATA");
      } else {
        EXPECT_EQ(ReadBytes(left + L"\\FacturaOrva.exe"), "MZ old version");
        EXPECT_EQ(ReadBytes(left + L"\\DATOS.MDB"), "data");
      }
    }
    if (row.earlier != EarlierArchive::None) {
      EXPECT_EQ(ReadBytes(first + L".zip"), earlierBytes);  // an archive already there is never replaced
    }
    std::vector<std::wstring> files = {L"antiguo.zip", L"nota.txt"};
    files.insert(files.end(), row.alsoInUpdates.begin(), row.alsoInUpdates.end());
    for (const std::wstring& name : row.archived) files.push_back(name + L".zip");
    if (row.heldFile) files.push_back(row.leftovers.front() + L".intentos");  // one strike
    if (row.updatesFolder) {
      EXPECT_EQ(testing::EntryNames(updates, false), Sorted(files));  // no other archive, no partial one
      EXPECT_EQ(ReadBytes(updates + L"\\antiguo.zip"), "earlier archive");
      EXPECT_EQ(ReadBytes(updates + L"\\nota.txt"), "x");
    } else {
      EXPECT_FALSE(Exists(updates));
    }
    EXPECT_EQ(testing::EntryNames(outside, false), std::vector<std::wstring>{L"importante.MDB"});
    EXPECT_EQ(ReadBytes(outside + L"\\importante.MDB"), "keep me");
    EXPECT_EQ(ReadBytes(folder + L"\\FacturaOrva.exe"), sibling_);
  }
}

}  // namespace
}  // namespace brivon
