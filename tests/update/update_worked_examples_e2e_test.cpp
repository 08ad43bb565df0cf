// The real brivon.exe installs an update from start to end: its check-in fetches an update alert
// from the loopback service, the update window downloads and installs the package with the real
// 7za.exe, closes by itself, and the next alert follows. Whatever goes
// wrong, the sibling program stays: its executable is the old one or the new one, byte for byte.
// The worked examples: an executable package, then a ZIP package.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/text.h"
#include "support/log_lines.h"
#include "update/update_end_to_end_support.h"

namespace brivon {
namespace update_e2e {
namespace {

TEST_F(UpdateEndToEnd, ExecutablePackageThenTheNextStartArchivesWhatItLeft) {
  TempFolder root(L"brivon-e2e");
  const std::wstring folder = MakeProgramFolder(root);
  ASSERT_TRUE(WriteBytes(folder + L"\\FacturaOrva2.exe", "leftover of an interrupted run"));
  const std::string url = Url("/descargas/FacturaOrva.exe?v=7");
  server_.Serve("/descargas/FacturaOrva.exe", HttpReply{200, newExe_});
  server_.Serve(kCheckinPath, HttpReply{200, AlertDocument(UpdateAlert(url) + "," + kNextAlert), "application/json"});

  const std::wstring before = StampNow();
  WindowsSeen seen = Run(folder);
  const std::wstring after = StampNow();

  EXPECT_TRUE(seen.run.started);
  EXPECT_FALSE(seen.run.timedOut);
  EXPECT_EQ(seen.run.exitCode, 0u);
  EXPECT_TRUE(seen.run.boxes.empty());
  EXPECT_EQ(seen.count, 2);  // the update window, then the next alert
  EXPECT_EQ(seen.mostAtOnce, 1);
  EXPECT_TRUE(seen.updateWindowGone);
  EXPECT_EQ(server_.CountRequests(kPicturePath), 1u);

  // Afterwards the folder holds the new program, the data files and the tool; the earlier "2" file
  // is kept under a free name, the run's own is gone.
  EXPECT_EQ(ReadBytes(folder + L"\\" + kSibling), newExe_);
  EXPECT_EQ(testing::EntryNames(folder, false),
            (std::vector<std::wstring>{L"7za.exe", L"Datos.MDB", L"Empresa.BDORVA", L"FacturaOrva.exe",
                                       L"FacturaOrva2_1.exe", L"brivon.exe"}));
  EXPECT_EQ(ReadBytes(folder + L"\\FacturaOrva2_1.exe"), "leftover of an interrupted run");
  EXPECT_EQ(ReadBytes(folder + L"\\Datos.MDB"), kMdb);
  EXPECT_EQ(ReadBytes(folder + L"\\Empresa.BDORVA"), kBd);
  const std::wstring stamp = OnlyStampFolder(folder, before, after);
  const std::wstring kept = folder + L"\\actualizaciones\\" + stamp;
  EXPECT_EQ(ReadBytes(kept + L"\\FacturaOrva.exe"), oldExe_);
  EXPECT_EQ(ReadBytes(kept + L"\\Datos.MDB"), kMdb);
  EXPECT_EQ(ReadBytes(kept + L"\\Empresa.BDORVA"), kBd);
  auto listing = testing::ListArchive(kept + L".zip");
  std::sort(listing.begin(), listing.end());
  EXPECT_EQ(listing, (std::vector<std::wstring>{L"Datos.MDB", L"Empresa.BDORVA", L"FacturaOrva.exe"}));

  const std::string p = NarrowLow8(folder);
  const std::string k = NarrowLow8(kept);
  const std::vector<std::string> update = {
      "EJECUTABLE_NO_VERIFICADO;" + p + "\\FacturaOrva.exe;firmante=",  // the installed program is unsigned
      "CONSERVADO_2_EXISTENTE;" + p + "\\FacturaOrva2.exe;->;" + p + "\\FacturaOrva2_1.exe",
      "RENOMBRADO_A_2;" + p + "\\FacturaOrva.exe;" + p + "\\FacturaOrva2.exe",
      "DESCARGA;" + url + ";" + p + "\\FacturaOrva.exe",
      "ARCHIVO_ANTERIOR_A_ACTUALIZACIONES;" + p + "\\FacturaOrva2.exe;->;" + k + "\\FacturaOrva.exe",
      "COPIA_OK;" + p + "\\Datos.MDB;->;" + k + "\\Datos.MDB",
      "COPIA_OK;" + p + "\\Empresa.BDORVA;->;" + k + "\\Empresa.BDORVA",
      "COPIA_PATRONES_RESUMEN;dest=" + k + ";MDB=1;BDORVA=1",
      "ZIP_CARPETA;" + k + ";->;" + k + ".zip;estado=OK;ec=0",
  };
  std::vector<std::string> whole = update;
  whole.push_back("CIERRE_ARCHIVAR_ZIP;" + p + "\\brivon2.exe;NO_EXISTE");  // the next alert's close bar
  EXPECT_EQ(testing::LogTexts(folder, L"descargas.csv"), whole);
  // The update window went away only once the run had written its last line.
  const std::wstring snapshot = root / L"descargas_al_cerrar.csv";
  ASSERT_TRUE(WriteBytes(snapshot, seen.descargasWhenUpdateClosed));
  EXPECT_EQ(testing::LogTexts(snapshot), update);
  EXPECT_FALSE(Exists(testing::LogPath(folder, L"extracciones.csv")));

  // The next start archives the time-stamped folder again under its name and removes it.
  server_.Serve(kCheckinPath, HttpReply{200, AlertDocument(""), "application/json"});
  WindowsSeen next = Run(folder);
  EXPECT_EQ(next.run.exitCode, 0u);
  EXPECT_FALSE(next.run.timedOut);
  EXPECT_EQ(next.count, 0);
  EXPECT_TRUE(testing::EntryNames(folder + L"\\actualizaciones", true).empty());
  EXPECT_EQ(testing::EntryNames(folder + L"\\actualizaciones", false), std::vector<std::wstring>{stamp + L".zip"});
  listing = testing::ListArchive(kept + L".zip");
  std::sort(listing.begin(), listing.end());
  EXPECT_EQ(listing, (std::vector<std::wstring>{L"Datos.MDB", L"Empresa.BDORVA", L"FacturaOrva.exe"}));
  EXPECT_EQ(ReadBytes(folder + L"\\" + kSibling), newExe_);
}

TEST_F(UpdateEndToEnd, ZipPackageInstallsItsExecutableAndKeepsTheRestOfThePackage) {
  TempFolder root(L"brivon-e2e");
  const std::wstring folder = MakeProgramFolder(root);
  const std::string url = Url("/descargas/Paquete.zip");
  server_.Serve("/descargas/Paquete.zip",
                HttpReply{200, MakeZip({{L"bin\\FacturaOrva.exe", newExe_}, {L"bin\\ayuda.dll", "MZ ayuda"}})});
  server_.Serve(kCheckinPath, HttpReply{200, AlertDocument(UpdateAlert(url) + "," + kNextAlert), "application/json"});

  const std::wstring before = StampNow();
  WindowsSeen seen = Run(folder);
  const std::wstring after = StampNow();

  EXPECT_FALSE(seen.run.timedOut);
  EXPECT_EQ(seen.run.exitCode, 0u);
  EXPECT_EQ(seen.count, 2);
  EXPECT_EQ(seen.mostAtOnce, 1);

  EXPECT_EQ(ReadBytes(folder + L"\\" + kSibling), newExe_);
  EXPECT_EQ(testing::EntryNames(folder, false), (std::vector<std::wstring>{L"7za.exe", L"Datos.MDB", L"Empresa.BDORVA",
                                                                  L"FacturaOrva.exe", L"brivon.exe"}));
  EXPECT_EQ(ReadBytes(folder + L"\\Datos.MDB"), kMdb);
  EXPECT_EQ(ReadBytes(folder + L"\\Empresa.BDORVA"), kBd);
  // The extraction folder stays with what the package held besides the executable.
  EXPECT_EQ(ReadBytes(folder + L"\\Paquete\\bin\\ayuda.dll"), "MZ ayuda");
  EXPECT_FALSE(Exists(folder + L"\\Paquete\\bin\\FacturaOrva.exe"));
  const std::wstring stamp = OnlyStampFolder(folder, before, after);
  const std::wstring kept = folder + L"\\actualizaciones\\" + stamp;
  EXPECT_EQ(ReadBytes(kept + L"\\FacturaOrva.exe"), oldExe_);
  auto listing = testing::ListArchive(kept + L".zip");
  std::sort(listing.begin(), listing.end());
  EXPECT_EQ(listing, (std::vector<std::wstring>{L"Datos.MDB", L"Empresa.BDORVA", L"FacturaOrva.exe"}));

  const std::string p = NarrowLow8(folder);
  const std::string k = NarrowLow8(kept);
  const std::vector<std::string> update = {
      "DESCARGA;" + url + ";" + p + "\\Paquete.zip",
      "EJECUTABLE_NO_VERIFICADO;" + p + "\\FacturaOrva.exe;firmante=",
      "RENOMBRADO_A_2_ZIP;" + p + "\\FacturaOrva.exe;->;" + p + "\\FacturaOrva2.exe",
      "EXE_NUEVO_EN_RAIZ_OK;" + p + "\\Paquete\\bin\\FacturaOrva.exe;->;" + p + "\\FacturaOrva.exe",
      "ARCHIVO_ANTERIOR_A_ACTUALIZACIONES_ZIP;" + p + "\\FacturaOrva2.exe;->;" + k + "\\FacturaOrva.exe",
      "COPIA_OK;" + p + "\\Datos.MDB;->;" + k + "\\Datos.MDB",
      "COPIA_OK;" + p + "\\Empresa.BDORVA;->;" + k + "\\Empresa.BDORVA",
      "COPIA_PATRONES_RESUMEN_ZIP;dest=" + k + ";MDB=1;BDORVA=1",
      "ZIP_CARPETA;" + k + ";->;" + k + ".zip;estado=OK;ec=0",
      "LIMPIEZA_OK;ZIP_ELIMINADO;" + p + "\\Paquete.zip",
  };
  std::vector<std::string> whole = update;
  whole.push_back("CIERRE_ARCHIVAR_ZIP;" + p + "\\brivon2.exe;NO_EXISTE");
  EXPECT_EQ(testing::LogTexts(folder, L"descargas.csv"), whole);
  EXPECT_EQ(testing::ExtractionTexts(folder),
            std::vector<std::string>{"UNZIP_7ZA;" + p + "\\Paquete.zip;->;" + p + "\\Paquete;OK;ec=0"});
  const std::wstring snapshot = root / L"descargas_al_cerrar.csv";
  ASSERT_TRUE(WriteBytes(snapshot, seen.descargasWhenUpdateClosed));
  EXPECT_EQ(testing::LogTexts(snapshot), update);
}

}  // namespace
}  // namespace update_e2e
}  // namespace brivon
