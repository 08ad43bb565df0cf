// The fault matrix: one row per fault, each held to the same promise.
// Whatever goes wrong, the sibling program stays: its executable is the old one or the new one,
// byte for byte.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/text.h"
#include "common/unique_handle.h"
#include "files/authenticode_check.h"
#include "files/folder_lock.h"
#include "support/log_lines.h"
#include "update/update_end_to_end_support.h"

namespace brivon {
namespace update_e2e {
namespace {

struct FaultRow {
  const char* name;
  std::string packagePath;  // "" for an update alert without entries
  HttpReply reply;
  bool nobodyListens = false;     // the package address has no server at all
  bool withoutTool = false;       // 7za.exe missing (and not downloadable)
  bool holdInstalled = false;     // the installed executable held open without sharing
  bool holdNewOnceSetAside = false;  // the new executable held once the program is set aside
  bool scanner = false;               // a virus scanner stand-in watches the program folder
  bool silentServer = false;          // the package server says nothing (the test build waits 2 s)
  bool expectNew = false;
  std::vector<std::string> downloads{};  // markers of descargas.csv, in order and complete
  std::string extraction{};            // "OK", "ERROR" or "" (no extraction line)
  std::string archiveLine = "";        // the end of the "ZIP_CARPETA;" line, when there is one
  std::string downloadError = "";      // the end of the "ERROR_DESCARGA;" line, when known
  bool onSmallDrive = false;           // the program folder on a 100 MiB drive (R:) that keeps 8 MiB free
  bool driveMargin = false;            // on the small drive, the margin the program takes from it, not 8 MiB
  bool holdLogTurn = false;            // another process holds the writers' turn of descargas.csv throughout
  // The user's own files, put in the program folder before the run (their folders made as
  // needed), and where each must be afterwards, byte for byte ("*": the only time-stamped folder).
  std::vector<std::pair<std::wstring, std::string>> userFiles = {};
  std::vector<std::pair<std::wstring, std::string>> userFilesAfter = {};
  const wchar_t* holdUserFile = nullptr;  // one of them held open without sharing
  bool businessRunning = false;           // the business program runs from the folder throughout
  std::string newProgram = "";            // the program installed when it is not the new sibling's build
  bool signedPackage = false;             // needs the test publishers' roots trusted (on Windows)
  std::string refusal = "";               // the end of the "DESCARGA_RECHAZADA;<package>" line, when there is one
  bool shortFileLimits = false;           // the test build's stall window and headers' deadline, 3 s
  // Once the download began, a person saves Paquete.zip and makes the folder Paquete holding mio.txt.
  bool userFilesMidDownload = false;
};

HttpReply Status(int status) {
  HttpReply reply;
  reply.status = status;
  reply.body = "<html>" + std::to_string(status) + "</html>";
  reply.contentType = "text/html";
  return reply;
}

// Sent without a length, closed cleanly: at 60 % of it, or whole.
HttpReply WithoutLength(const std::string& body, bool cut) {
  HttpReply reply{200, body};
  reply.sendContentLength = false;
  if (cut) reply.cutAfter = static_cast<int64_t>(body.size() * 6 / 10);
  return reply;
}

std::vector<FaultRow> FaultRows(const std::string& newExe, const std::string& zipAtTop, const std::string& zipNoExe,
                                const std::string& zipWithClient, const std::string& zipBomb,
                                const std::string& signedExe) {
  HttpReply exe{200, newExe};
  HttpReply zip{200, zipAtTop};
  HttpReply empty{200, ""};
  HttpReply cut{200, newExe};
  cut.cutAfter = static_cast<int64_t>(newExe.size() / 2);
  HttpReply noAnswer;
  noAnswer.closeWithoutAnswer = true;
  HttpReply silent;  // takes the request, then says nothing: the receive limit ends the wait
  silent.neverAnswer = true;
  HttpReply corrupt{200, zipAtTop.substr(0, zipAtTop.size() / 2) + std::string(64, 'U')};
  HttpReply noExe{200, zipNoExe};
  // The package is fetched with the program untouched: a failed download changes nothing.
  const std::vector<std::string> putBack = {"ERROR_DESCARGA"};
  const std::string exePath = "/descargas/FacturaOrva.exe";
  const std::string zipPath = "/descargas/Paquete.zip";
  std::vector<FaultRow> rows = {
      {"package server answers 404", exePath, Status(404)},
      {"package server answers 500", exePath, Status(500)},
      {"empty body", exePath, empty},
      {"body cut in the middle", exePath, cut},
      {"no answer", exePath, noAnswer},
      {"nobody listens", exePath, exe},
      {"installed executable held open", exePath, exe},
      {"7za.exe missing", zipPath, zip},
      {"ZIP corrupt", zipPath, corrupt},
      {"ZIP without an executable", zipPath, noExe},
      {"new executable cannot be moved in", zipPath, zip},
      {"update alert without entries", "", exe},
      {"package server silent", exePath, silent},
  };
  rows[12].silentServer = true;
  rows[12].downloads = putBack;
  for (int i = 0; i < 6; ++i) rows[i].downloads = putBack;
  rows[0].downloadError = ";err=404";
  rows[4].downloadError = ";err=12152";  // no status line: ERROR_HTTP_INVALID_SERVER_RESPONSE
  rows[5].nobodyListens = true;
  rows[5].downloadError = ";err=12029";
  rows[6].holdInstalled = true;
  rows[6].downloads = {"EJECUTABLE_NO_VERIFICADO", "ERROR_RENOMBRAR_A_2", "DESCARGA_OMITIDA"};
  rows[7].withoutTool = true;
  rows[7].downloads = {"DESCARGA", "LIMPIEZA_OK", "LIMPIEZA_OK"};  // nothing of the run stays
  rows[7].extraction = "ERROR";
  rows[8].downloads = rows[7].downloads;
  rows[8].extraction = "ERROR";
  rows[9].downloads = {"DESCARGA", "ZIP_SIN_EXE", "ZIP_EXE_SIN_MATCH_EN_RAIZ", "LIMPIEZA_OK"};
  rows[9].extraction = "OK";
  rows[10].holdNewOnceSetAside = true;
  // Held once the program is set aside, neither renamed nor copied in: the program is put back.
  rows[10].downloads = {"DESCARGA", "EJECUTABLE_NO_VERIFICADO", "RENOMBRADO_A_2_ZIP", "ERROR_MOVER_EXE_NUEVO_A_RAIZ",
                        "RESTAURADO_EJECUTABLE_ANTERIOR", "LIMPIEZA_OK"};
  rows[10].extraction = "OK";
  const std::vector<std::string> exeInstalled = {"EJECUTABLE_NO_VERIFICADO", "RENOMBRADO_A_2", "DESCARGA",
                                                "ARCHIVO_ANTERIOR_A_ACTUALIZACIONES", "COPIA_OK", "COPIA_OK",
                                                "COPIA_PATRONES_RESUMEN", "ZIP_CARPETA"};
  const std::vector<std::string> zipInstalled = {"DESCARGA", "EJECUTABLE_NO_VERIFICADO", "RENOMBRADO_A_2_ZIP",
                                                "EXE_NUEVO_EN_RAIZ_OK", "ARCHIVO_ANTERIOR_A_ACTUALIZACIONES_ZIP",
                                                "COPIA_OK", "COPIA_OK", "COPIA_PATRONES_RESUMEN_ZIP", "ZIP_CARPETA",
                                                "LIMPIEZA_OK", "LIMPIEZA_OK"};
  // The user's files under the names the run uses.
  const std::string other = "otro programa del usuario";
  // (The executable package's case is the worked example above.)
  FaultRow keptZip{"an earlier FacturaOrva2.exe is kept (ZIP package)", zipPath, zip};
  keptZip.userFiles = {{L"FacturaOrva2.exe", other}};
  keptZip.userFilesAfter = {{L"FacturaOrva2_1.exe", other}};
  keptZip.expectNew = true;
  keptZip.downloads = zipInstalled;
  keptZip.downloads.insert(keptZip.downloads.begin() + 2, "CONSERVADO_2_EXISTENTE");
  keptZip.extraction = "OK";
  keptZip.archiveLine = ";estado=OK;ec=0";
  rows.push_back(keptZip);
  FaultRow heldLeftover{"an earlier FacturaOrva2.exe held open: the program is not replaced", exePath, exe};
  heldLeftover.userFiles = keptZip.userFiles;
  heldLeftover.userFilesAfter = keptZip.userFiles;
  heldLeftover.holdUserFile = L"FacturaOrva2.exe";
  heldLeftover.downloads = {"EJECUTABLE_NO_VERIFICADO", "ERROR_CONSERVAR_2_EXISTENTE", "DESCARGA_OMITIDA"};
  rows.push_back(heldLeftover);
  FaultRow dataName{"a package named like a data file is stored beside it", "/descargas/Datos.MDB", exe};
  dataName.userFilesAfter = {{L"Datos_1.MDB", newExe}};
  dataName.downloads = {"PAQUETE_NOMBRE_LIBRE", "DESCARGA"};
  rows.push_back(dataName);
  FaultRow otherFile{"a file a package replaces is kept in the updates folder", "/descargas/ayuda.dll", exe};
  otherFile.userFiles = {{L"ayuda.dll", "ayuda del usuario"}};
  otherFile.userFilesAfter = {{L"ayuda.dll", newExe}, {L"actualizaciones\\*\\ayuda.dll", "ayuda del usuario"}};
  otherFile.downloads = {"ARCHIVO_REEMPLAZADO_A_ACTUALIZACIONES", "DESCARGA", "COPIA_OK", "COPIA_OK",
                         "COPIA_PATRONES_RESUMEN", "ZIP_CARPETA"};
  otherFile.archiveLine = ";estado=OK;ec=0";
  rows.push_back(otherFile);
  FaultRow folderTaken{"a ZIP named like a folder of the user's unpacks beside it", "/descargas/Datos.zip",
                       HttpReply{200, zipWithClient}};
  folderTaken.userFiles = {{L"Datos\\cliente.txt", "cliente del usuario"}};
  folderTaken.userFilesAfter = {{L"Datos\\cliente.txt", "cliente del usuario"},
                                {L"Datos_1\\cliente.txt", "cliente del paquete"}};
  folderTaken.expectNew = true;
  folderTaken.downloads = zipInstalled;
  folderTaken.downloads.insert(folderTaken.downloads.begin() + 1, "CARPETA_EXTRACCION_LIBRE");
  folderTaken.downloads.pop_back();  // the folder keeps the package's other file
  folderTaken.extraction = "OK";
  folderTaken.archiveLine = ";estado=OK;ec=0";
  rows.push_back(folderTaken);
  // A web filter answers the package request with its own page and status 200: no Windows
  // program, so it never takes the program's name.
  FaultRow filterPage{"a web filter's page instead of the program", exePath,
                      HttpReply{200, "<html><body>Sitio bloqueado</body></html>", "text/html"}};
  filterPage.downloads = {"EJECUTABLE_RECHAZADO"};
  rows.push_back(filterPage);
  // A small ZIP that unpacks to far more than its size is refused before anything is unpacked.
  FaultRow bomb{"a ZIP that unpacks to a thousand times its size", zipPath, HttpReply{200, zipBomb}};
  bomb.downloads = {"DESCARGA", "EXTRACCION_RECHAZADA", "LIMPIEZA_OK"};
  rows.push_back(bomb);
  // Cut short where WinINet cannot tell: a body in chunks whose connection closed before the last
  // one reads as whole, so no body in chunks is taken...
  FaultRow chunkedCut{"a package in chunks cut before its last chunk", exePath, exe};
  chunkedCut.reply.chunked = true;
  chunkedCut.reply.cutAfter = static_cast<int64_t>(newExe.size() / 2);
  chunkedCut.downloads = {"ERROR_DESCARGA"};
  chunkedCut.downloadError = ";err=12153";
  rows.push_back(chunkedCut);
  // ...and an image cut short at its source (a partial upload): its length announced and sent
  // whole, its headers intact.
  FaultRow cutAtSource{"an image cut short at its source (60 %)", exePath,
                       HttpReply{200, newExe.substr(0, newExe.size() * 6 / 10)}};
  cutAtSource.downloads = {"EJECUTABLE_RECHAZADO"};
  rows.push_back(cutAtSource);
  // A small drive: a package is refused for its announced length before a byte is written, and
  // one without a length stops at the margin.
  FaultRow tooLarge{"a package larger than the drive's free space is refused before it is written", exePath,
                    HttpReply{}};
  tooLarge.reply.repeatedSize = 120 << 20;
  tooLarge.reply.cutAfter = 1 << 20;  // never read: the rest need not come
  tooLarge.onSmallDrive = true;
  tooLarge.downloads = {"DESCARGA_RECHAZADA"};
  rows.push_back(tooLarge);
  FaultRow noLength{"a package without a length stops at the drive's margin", exePath, HttpReply{}};
  noLength.reply.repeatedSize = 120 << 20;
  noLength.reply.sendContentLength = false;
  noLength.onSmallDrive = true;
  noLength.downloads = {"DESCARGA_DETENIDA"};
  rows.push_back(noLength);
  // A desk's small disk with less than 256 MiB free still gets its update: the margin is half of
  // what was free before each step. The data file's copies would not leave it: they are skipped.
  FaultRow smallDisk{"a small package installs on a small drive beside a large data file, whose copy is skipped",
                     exePath, exe};
  smallDisk.onSmallDrive = true;
  smallDisk.driveMargin = true;
  smallDisk.userFiles = {{L"Grande.MDB", std::string(40 << 20, 'd')}};
  smallDisk.userFilesAfter = smallDisk.userFiles;
  smallDisk.expectNew = true;
  smallDisk.downloads = {"EJECUTABLE_NO_VERIFICADO", "RENOMBRADO_A_2", "DESCARGA", "ARCHIVO_ANTERIOR_A_ACTUALIZACIONES",
                         "COPIA_SIN_ESPACIO", "COPIA_PATRONES_RESUMEN", "ZIP_CARPETA"};
  smallDisk.archiveLine = ";estado=OK;ec=0";
  rows.push_back(smallDisk);
  // Another machine's start on a share that stalled holds the log's turn for good: the lines go in
  // without it after a bounded wait, and the update goes on.
  FaultRow logTurn{"another process holds the download log's turn throughout", exePath, exe};
  logTurn.holdLogTurn = true;
  logTurn.expectNew = true;
  logTurn.downloads = exeInstalled;
  logTurn.archiveLine = ";estado=OK;ec=0";
  rows.push_back(logTurn);
  // An on-access virus scanner holds every new file of the folder for 2.5 s: the download, what
  // 7-Zip unpacks, the set-aside program, the copies and archives. Each step waits it out.
  FaultRow scannedExe{"a virus scanner holds every new file (executable package)", exePath, exe};
  scannedExe.scanner = true;
  scannedExe.expectNew = true;
  scannedExe.downloads = exeInstalled;
  scannedExe.archiveLine = ";estado=OK;ec=0";
  rows.push_back(scannedExe);
  FaultRow scannedZip{"a virus scanner holds every new file (ZIP package)", zipPath, zip};
  scannedZip.scanner = true;
  scannedZip.expectNew = true;
  scannedZip.downloads = zipInstalled;
  scannedZip.extraction = "OK";
  scannedZip.archiveLine = ";estado=OK;ec=0";
  rows.push_back(scannedZip);
  // The business program is open at the desk: it is set aside and moved into the updates folder
  // while it runs (renamed, never written), and the new one takes its name.
  FaultRow running{"the business program runs from the folder (executable package)", exePath, exe};
  running.businessRunning = true;
  running.expectNew = true;
  running.downloads = exeInstalled;
  running.archiveLine = ";estado=OK;ec=0";
  rows.push_back(running);
  // Without a length, a connection closed cleanly anywhere reads as the end of the file: only what
  // proves its own end counts as whole (a ZIP by its end records, a program by its signature).
  // An installer's payload after its image: cut at 60 %, every section is still there.
  std::string installer = newExe;
  for (size_t i = 0; i < 2 * newExe.size(); ++i) installer += static_cast<char>((i * 2654435761u) >> 11);
  const std::string userHelp = "ayuda del usuario";
  for (bool cut : {true, false}) {
    auto refused = [&](FaultRow& row, const char* reason) {
      row.downloads = {"DESCARGA_RECHAZADA"};
      row.refusal = std::string(";motivo=") + reason + ";recibido=" +
                    std::to_string(cut ? row.reply.cutAfter : static_cast<int64_t>(row.reply.body.size()));
    };
    FaultRow program{"", exePath, WithoutLength(installer, cut)};
    program.name = cut ? "an installer-style program, without a length, cut at 60 %"
                       : "an installer-style program, whole without a length";
    refused(program, "SIN_LONGITUD");
    rows.push_back(program);
    FaultRow help{"", "/descargas/ayuda.dll", WithoutLength(newExe, cut)};
    help.name = cut ? "a package replacing a file of the user's, without a length, cut at 60 %"
                    : "a package replacing a file of the user's, whole without a length";
    help.userFiles = {{L"ayuda.dll", userHelp}};
    help.userFilesAfter = help.userFiles;
    refused(help, "SIN_LONGITUD");
    rows.push_back(help);
    FaultRow zipped{"", zipPath, WithoutLength(zipAtTop, cut)};
    zipped.name = cut ? "a ZIP package, without a length, cut at 60 %" : "a ZIP package, whole without a length";
    if (cut) {
      refused(zipped, "ZIP_INCOMPLETO");
    } else {
      zipped.expectNew = true;
      zipped.downloads = zipInstalled;
      zipped.extraction = "OK";
      zipped.archiveLine = ";estado=OK;ec=0";
    }
    rows.push_back(zipped);
    FaultRow signedProgram{"", exePath, WithoutLength(signedExe, cut)};
    signedProgram.name = cut ? "a signed program, without a length, cut at 60 %" : "a signed program, whole without a length";
    if (cut) {
      refused(signedProgram, "SIN_LONGITUD");
    } else {
      signedProgram.signedPackage = true;
      signedProgram.expectNew = true;
      signedProgram.newProgram = signedExe;
      signedProgram.downloads = exeInstalled;
      signedProgram.archiveLine = ";estado=OK;ec=0";
    }
    rows.push_back(signedProgram);
  }
  // A line that brings a byte now and then never goes silent, yet never brings the package.
  FaultRow trickle{"a package trickling a byte every 1.5 s after its first 64 KiB", exePath, HttpReply{200, installer}};
  trickle.reply.trickleAfter = 64 * 1024;
  trickle.reply.trickleDelayMs = 1500;
  trickle.shortFileLimits = true;
  trickle.downloads = putBack;
  trickle.downloadError = ";err=" + std::to_string(ERROR_INTERNET_TIMEOUT);
  rows.push_back(trickle);
  // What a person saves under the package's and the extraction folder's names while the package
  // downloads is theirs: a dropped connection removes only what the run made.
  FaultRow savedMeanwhile{"a file and a folder saved under the ZIP's names mid-download, then the line drops", zipPath,
                          HttpReply{200, zipAtTop + std::string(1024 * 1024, 'x')}};
  savedMeanwhile.reply.chunkSize = 320 * 1024;  // more than one read of the program's: the file is begun
  savedMeanwhile.reply.chunkDelayMs = 1500;
  savedMeanwhile.reply.cutAfter = 700 * 1024;
  savedMeanwhile.userFilesMidDownload = true;
  savedMeanwhile.userFilesAfter = {{L"Paquete.zip", "guardado por el usuario"}, {L"Paquete\\mio.txt", "mio"}};
  savedMeanwhile.downloads = putBack;
  rows.push_back(savedMeanwhile);
  return rows;
}

TEST_F(UpdateEndToEnd, EveryFaultLeavesTheProgramWholeAndTheDataFilesUnchanged) {
  const std::string zipAtTop = MakeZip({{L"FacturaOrva.exe", newExe_}});
  const std::string zipNoExe = MakeZip({{L"leeme.txt", "sin ejecutable"}});
  const std::string zipWithClient = MakeZip({{L"FacturaOrva.exe", newExe_}, {L"cliente.txt", "cliente del paquete"}});
  uint16_t deadPort = 0;
  {
    LoopbackHttpServer probe;
    ASSERT_TRUE(probe.Start());
    deadPort = probe.port();
  }

  const std::string zipBomb = MakeZip({{L"FacturaOrva.exe", newExe_}, {L"relleno.bin", std::string(64 << 20, '\0')}});
  const std::wstring signedExePath = testing::BuiltPath(BRIVON_TEST_SIGNED_DIR, L"firmados") + L"\\nuevo_firmado_A.exe";
  const std::string signedExe = ReadBytes(signedExePath);
  ASSERT_FALSE(signedExe.empty());
  const bool signatureHolds = ReadSignature(signedExePath).state == SignatureState::Valid;
  for (const FaultRow& row : FaultRows(newExe_, zipAtTop, zipNoExe, zipWithClient, zipBomb, signedExe)) {
    SCOPED_TRACE(row.name);
    if (row.signedPackage && !signatureHolds && !testing::RunningUnderWine()) {
      std::printf("[  SKIPPED ] %s: %s\n", row.name, testing::kNeedsTrustedTestRoots);
      continue;
    }
    // On the small drive (scripts: tests/update/small_drive.sh), where the host let the test mount one.
    if (row.onSmallDrive && !testing::SmallDriveMapped(L"R:\\", 128ull << 20)) {
      std::printf("[  SKIPPED ] %s: no small drive R: (the host does not let the test mount one)\n", row.name);
      continue;
    }
    TempFolder root(L"brivon-fault", row.onSmallDrive ? L"R:\\" : L"");
    const std::wstring folder = MakeProgramFolder(root, !row.withoutTool);
    const std::wstring sibling = folder + L"\\" + kSibling;
    const std::string port = std::to_string(row.nobodyListens ? deadPort : server_.port());
    const std::string url = "http://127.0.0.1:" + port + row.packagePath;
    if (!row.packagePath.empty()) server_.Serve(row.packagePath, row.reply);
    server_.Serve(kCheckinPath, HttpReply{200,
                                          AlertDocument(row.packagePath.empty() ? kUpdateAlertWithoutEntries
                                                                           : UpdateAlert(url)),
                                          "application/json"});
    server_.ClearRequests();

    for (const auto& [name, bytes] : row.userFiles) {
      const std::wstring path = folder + L"\\" + name;
      std::filesystem::create_directories(std::filesystem::path(path).parent_path());
      ASSERT_TRUE(WriteBytes(path, bytes));
    }
    // The writers' turn: one byte far past the log's end, as the program takes it.
    UniqueFile logTurn;
    OVERLAPPED turn{};
    if (row.holdLogTurn) {
      ASSERT_TRUE(::CreateDirectoryW((folder + L"\\actualizador_registros").c_str(), nullptr) ||
                  ::GetLastError() == ERROR_ALREADY_EXISTS);
      logTurn.reset(::CreateFileW(testing::LogPath(folder, L"descargas.csv").c_str(),
                                  FILE_APPEND_DATA | FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_ALWAYS, 0, nullptr));
      ASSERT_TRUE(logTurn);
      turn.OffsetHigh = 0x40000000;
      ASSERT_TRUE(::LockFileEx(logTurn.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &turn));
    }
    UniqueFile heldInstalled;
    if (row.holdInstalled || row.holdUserFile) {
      const std::wstring held = row.holdInstalled ? sibling : folder + L"\\" + row.holdUserFile;
      heldInstalled.reset(::CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(heldInstalled);
    }
    std::unique_ptr<testing::BackgroundProgram> business;
    if (row.businessRunning) {
      business = std::make_unique<testing::BackgroundProgram>(sibling, L"/abierto");
      ASSERT_TRUE(business->running());
    }
    std::unique_ptr<testing::BackgroundProgram> scanner;
    if (row.scanner) {
      scanner = std::make_unique<testing::BackgroundProgram>(testing::TestToolPath(L"brivon_scanner_standin.exe"),
                                                             L"\"" + folder + L"\" 2500");
      ASSERT_TRUE(testing::WaitUntil([&] { return Exists(root / L"escaner_listo"); }, 20000));
    }

    // The small drive's free space, sampled while the program runs.
    uint64_t leastFree = UINT64_MAX;
    auto sampleFree = [&] {
      ULARGE_INTEGER available{};
      if (row.onSmallDrive && ::GetDiskFreeSpaceExW(L"R:\\", &available, nullptr, nullptr)) {
        leastFree = std::min<uint64_t>(leastFree, available.QuadPart);
      }
    };
    sampleFree();
    const uint64_t freeBefore = leastFree;

    // Holds the new executable between the program's set-aside and its own move into the folder.
    UniqueFile heldNew;
    bool savedMeanwhile = false;
    auto holdNew = [&](DWORD) {
      sampleFree();
      if (row.userFilesMidDownload && !savedMeanwhile && Exists(folder + L"\\Paquete.zip.parcial")) {
        savedMeanwhile = ::CreateDirectoryW((folder + L"\\Paquete").c_str(), nullptr) &&
                         WriteBytes(folder + L"\\Paquete.zip", "guardado por el usuario") &&
                         WriteBytes(folder + L"\\Paquete\\mio.txt", "mio");
      }
      if (!row.holdNewOnceSetAside || heldNew) return;
      const std::string log = ReadBytes(testing::LogPath(folder, L"descargas.csv"));
      if (log.find("RENOMBRADO_A_2_ZIP;") == std::string::npos) return;
      heldNew.reset(::CreateFileW((folder + L"\\Paquete\\FacturaOrva.exe").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    };

    // The new executable is moved in right after the set-aside: the run pauses there, so that
    // the test can take hold of it first.
    // A file held for good: the outcome is the same after any wait, so the test build waits less.
    const bool heldForGood = row.holdInstalled || row.holdUserFile || row.holdNewOnceSetAside;
    WindowsSeen seen = [&] {
      ScopedVariable pauseAt(L"BRIVON_TEST_PAUSE_AT", row.holdNewOnceSetAside ? L"RENOMBRADO_A_2_ZIP" : L"");
      ScopedVariable wait(L"BRIVON_TEST_FILE_WAIT_MS", heldForGood ? L"500" : L"");
      ScopedVariable receive(L"BRIVON_TEST_RECEIVE_LIMIT_MS", row.silentServer ? L"2000" : L"");
      ScopedVariable margin(L"BRIVON_TEST_FREE_MARGIN_MB", row.onSmallDrive && !row.driveMargin ? L"8" : L"");
      ScopedVariable stall(L"BRIVON_TEST_STALL_WINDOW_MS", row.shortFileLimits ? L"3000" : L"");
      ScopedVariable headers(L"BRIVON_TEST_FILE_HEADERS_DEADLINE_MS", row.shortFileLimits ? L"3000" : L"");
      return Run(folder, holdNew);
    }();
    const bool heldInTime = static_cast<bool>(heldNew);
    heldInstalled.reset();
    heldNew.reset();
    scanner.reset();
    if (business) {
      EXPECT_TRUE(business->running()) << "moved while it runs";
    }
    business.reset();

    EXPECT_FALSE(seen.run.timedOut);
    EXPECT_EQ(seen.run.exitCode, 0u);
    EXPECT_LE(seen.count, 1);  // the update window, which closed by itself (quick ones can pass unseen)
    if (!row.packagePath.empty()) {
      EXPECT_EQ(server_.CountRequests(kPicturePath), 1u);  // its first paint
    }
    if (row.holdNewOnceSetAside) {
      EXPECT_TRUE(heldInTime);
    }
    if (row.userFilesMidDownload) {
      EXPECT_TRUE(savedMeanwhile) << "the download ended before the files were saved";
    }

    // The promise.
    EXPECT_TRUE(ReadBytes(sibling) == (!row.expectNew ? oldExe_ : row.newProgram.empty() ? newExe_ : row.newProgram))
        << "the program is not the expected one";
    bool leftoverStays = false;
    for (auto [name, bytes] : row.userFilesAfter) {
      const size_t star = name.find(L'*');  // the only time-stamped folder of the updates folder
      if (star != std::wstring::npos) {
        const auto stamps = testing::EntryNames(folder + L"\\actualizaciones", true);
        ASSERT_EQ(stamps.size(), 1u);
        name.replace(star, 1, stamps[0]);
      }
      EXPECT_EQ(ReadBytes(folder + L"\\" + name), bytes) << NarrowLow8(name);
      leftoverStays = leftoverStays || name == L"FacturaOrva2.exe";
    }
    if (!leftoverStays) {
      EXPECT_FALSE(Exists(folder + L"\\FacturaOrva2.exe"));
    }
    // Nothing of the run is left beside the program, whatever happened, and the folder is free.
    for (const std::wstring& name : testing::EntryNames(folder, false)) {
      EXPECT_FALSE(name.size() > 8 && name.compare(name.size() - 8, 8, L".parcial") == 0) << NarrowLow8(name);
    }
    EXPECT_FALSE(Exists(FolderLockPath(folder)));
    if (!row.userFilesMidDownload) {
      EXPECT_FALSE(Exists(folder + L"\\Paquete.zip"));
    }
    EXPECT_FALSE(Exists(testing::LogPath(folder, L"actualizacion_en_curso.txt")));
    EXPECT_EQ(ReadBytes(folder + L"\\Datos.MDB"), kMdb);
    EXPECT_EQ(ReadBytes(folder + L"\\Empresa.BDORVA"), kBd);
    if (row.expectNew) {  // the replaced version is kept
      const auto stamps = testing::EntryNames(folder + L"\\actualizaciones", true);
      ASSERT_EQ(stamps.size(), 1u);
      EXPECT_EQ(ReadBytes(folder + L"\\actualizaciones\\" + stamps[0] + L"\\FacturaOrva.exe"), oldExe_);
    }

    if (row.onSmallDrive) {
      sampleFree();
      EXPECT_GE(leastFree, 8ull << 20);  // never below the margin
      // Refused before a byte: the drive lost no more than the logs and the run's record.
      if (row.reply.sendContentLength && !row.expectNew) {
        EXPECT_GE(leastFree + (1 << 20), freeBefore);
      }
    }

    // The logs say what happened.
    const auto downloads = testing::LogTexts(folder, L"descargas.csv");
    EXPECT_EQ(testing::MarkersOf(downloads), row.downloads);
    const auto extractions = testing::ExtractionTexts(folder);
    if (row.extraction.empty()) {
      EXPECT_TRUE(extractions.empty());
    } else {
      ASSERT_EQ(extractions.size(), 1u);
      EXPECT_NE(extractions[0].find(";" + row.extraction + ";ec="), std::string::npos) << extractions[0];
    }
    if (!row.refusal.empty()) {
      const auto line = std::find_if(downloads.begin(), downloads.end(),
                                     [](const std::string& t) { return t.rfind("DESCARGA_RECHAZADA;", 0) == 0; });
      const std::string refused = line == downloads.end() ? "" : *line;
      const size_t reason = refused.find(";motivo=");
      EXPECT_EQ(reason == std::string::npos ? refused : refused.substr(reason), row.refusal);
    }
    if (!row.archiveLine.empty()) {
      auto line = std::find_if(downloads.begin(), downloads.end(),
                               [](const std::string& t) { return t.rfind("ZIP_CARPETA;", 0) == 0; });
      ASSERT_NE(line, downloads.end());
      EXPECT_EQ(line->substr(line->size() - row.archiveLine.size()), row.archiveLine);
    }
    for (const std::string& line : downloads) {  // a failed download always tells its code
      if (line.rfind("ERROR_DESCARGA", 0) != 0 && line.rfind("ERROR_GUARDAR", 0) != 0) continue;
      EXPECT_NE(line.find(";err="), std::string::npos) << line;
      EXPECT_EQ(line.find(";err=0"), std::string::npos) << line;
      if (!row.downloadError.empty()) {
        EXPECT_EQ(line.substr(line.find(";err=")), row.downloadError);
      }
    }
    if (row.withoutTool) {
      ASSERT_EQ(seen.run.boxes.size(), 1u);  // the failed bootstrap says so; the update goes on
      EXPECT_EQ(seen.run.boxes[0].title, L"Brivon - Error descargando 7za.exe");
    } else {
      EXPECT_TRUE(seen.run.boxes.empty());
    }
    if (row.packagePath.empty()) {
      EXPECT_EQ(server_.CountRequests(kPicturePath), 0u);  // nothing to install: no update started
      EXPECT_FALSE(Exists(folder + L"\\actualizaciones"));
    }
  }
}

}  // namespace
}  // namespace update_e2e
}  // namespace brivon
