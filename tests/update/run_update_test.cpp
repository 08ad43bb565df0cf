// Whole update runs against the loopback server, with the real 7za.exe and the PowerShell stand-in.
// Whatever fails, the promise is the same: the sibling program's executable exists and is the old or
// the new one, every data file is unchanged, and the logs say what happened.
#include "update/update_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "servers/loopback_http_server.h"
#include "support/powershell_standin.h"
#include "support/test_env.h"
#include "update/child_process.h"

namespace brivon {
namespace {

using testing::Exists;
using testing::HttpReply;
using testing::ReadBytes;
using testing::WriteBytes;

const std::string kOld = "MZ old Programa";
const std::string kNew = "MZ new Programa, version 7";
const std::string kMdb = "datos de la empresa";
const std::string kBd = "base BDORVA";

// The markers of a log (the text before the first ";" after the timestamp), in order.
std::vector<std::string> Markers(const std::wstring& logPath) {
  std::vector<std::string> markers;
  std::string bytes = ReadBytes(logPath);
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) end = bytes.size();
    std::string text = bytes.substr(start, end - start);
    text = text.size() > 20 ? text.substr(20) : "";
    markers.push_back(text.substr(0, text.find(';')));
    start = end + 2;
  }
  return markers;
}

bool Contains(const std::vector<std::string>& markers, const std::string& marker) {
  return std::find(markers.begin(), markers.end(), marker) != markers.end();
}

std::vector<std::wstring> SubfoldersOf(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = entry.cFileName;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..") names.push_back(name);
  } while (::FindNextFileW(find, &entry));
  ::FindClose(find);
  return names;
}

class RunUpdateTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(testing::InstallPowerShellStandIn()); }
  void SetUp() override {
    ASSERT_TRUE(server_.Start());
    ASSERT_TRUE(WriteBytes(program_ / L"Programa.exe", kOld));
    ASSERT_TRUE(WriteBytes(program_ / L"Datos.MDB", kMdb));
    ASSERT_TRUE(WriteBytes(program_ / L"Empresa.BDORVA", kBd));
    ASSERT_TRUE(::CopyFileW(testing::ArchiveToolPath().c_str(), (program_ / L"7za.exe").c_str(), FALSE));
  }
  std::string Url(const std::string& path) { return "http://127.0.0.1:" + std::to_string(server_.port()) + path; }

  // A ZIP package made by the real 7-Zip from a folder of files.
  std::string MakeZip(const std::vector<std::pair<std::wstring, std::string>>& files) {
    testing::TempFolder staging(L"brivon-zip");
    for (const auto& [name, bytes] : files) {
      std::wstring path = staging / name;
      std::wstring parent = path.substr(0, path.find_last_of(L'\\'));
      std::filesystem::create_directories(std::filesystem::path(parent));
      EXPECT_TRUE(WriteBytes(path, bytes));
    }
    std::wstring archive = staging / L"paquete.zip";
    unsigned long code = 0;
    EXPECT_TRUE(RunHiddenProcess(L"\"" + testing::ArchiveToolPath() + L"\" a -tzip \"" + archive + L"\" \"" +
                                     staging.path() + L"\\*\" -x!paquete.zip",
                                 &code));
    return ReadBytes(archive);
  }
  void ExpectDataFilesUnchanged() {
    EXPECT_EQ(ReadBytes(program_ / L"Datos.MDB"), kMdb);
    EXPECT_EQ(ReadBytes(program_ / L"Empresa.BDORVA"), kBd);
  }
  std::vector<std::string> Downloads() { return Markers(program_ / L"actualizador_registros\\descargas.csv"); }
  std::vector<std::string> Extractions() { return Markers(program_ / L"actualizador_registros\\extracciones.csv"); }

  testing::LoopbackHttpServer server_;
  testing::TempFolder program_{L"brivon-run"};
};

TEST_F(RunUpdateTest, ExecutablePackageReplacesTheProgramAndArchivesTheOldOne) {
  ASSERT_TRUE(WriteBytes(program_ / L"Programa2.exe", "leftover of an earlier run"));
  HttpReply reply;
  reply.body = kNew;
  server_.Serve("/descargas/Programa.exe", reply);

  RunUpdateIn(program_.path(), Url("/descargas/Programa.exe?v=7"));

  EXPECT_EQ(ReadBytes(program_ / L"Programa.exe"), kNew);
  EXPECT_FALSE(Exists(program_ / L"Programa2.exe"));
  ExpectDataFilesUnchanged();
  auto stamps = SubfoldersOf(program_ / L"actualizaciones");
  ASSERT_EQ(stamps.size(), 1u);
  std::wstring kept = program_ / (L"actualizaciones\\" + stamps[0]);
  EXPECT_EQ(ReadBytes(kept + L"\\Programa.exe"), kOld);
  EXPECT_EQ(ReadBytes(kept + L"\\Datos.MDB"), kMdb);
  EXPECT_EQ(ReadBytes(kept + L"\\Empresa.BDORVA"), kBd);
  auto listing = testing::ListArchive(kept + L".zip");
  std::sort(listing.begin(), listing.end());
  EXPECT_EQ(listing, (std::vector<std::wstring>{L"Datos.MDB", L"Empresa.BDORVA", L"Programa.exe"}));

  auto markers = Downloads();
  const std::vector<std::string> expectedOrder = {"RENOMBRADO_A_2", "DESCARGA", "ARCHIVO_ANTERIOR_A_ACTUALIZACIONES",
                                                  "COPIA_PATRONES_RESUMEN"};
  size_t at = 0;
  for (const auto& marker : markers)
    if (at < expectedOrder.size() && marker == expectedOrder[at]) ++at;
  EXPECT_EQ(at, expectedOrder.size()) << ::testing::PrintToString(markers);
}

TEST_F(RunUpdateTest, ZipPackageInstallsItsExecutableAndCleansUp) {
  HttpReply reply;
  reply.body = MakeZip({{L"bin\\Programa.exe", kNew}, {L"bin\\ayuda.dll", "dll"}});
  server_.Serve("/Paquete.zip", reply);

  RunUpdateIn(program_.path(), Url("/Paquete.zip"));

  EXPECT_EQ(ReadBytes(program_ / L"Programa.exe"), kNew);
  EXPECT_FALSE(Exists(program_ / L"Programa2.exe"));
  EXPECT_FALSE(Exists(program_ / L"Paquete.zip"));
  EXPECT_EQ(ReadBytes(program_ / L"Paquete\\bin\\ayuda.dll"), "dll");  // the folder keeps what was not used
  ExpectDataFilesUnchanged();
  EXPECT_EQ(Extractions(), std::vector<std::string>{"UNZIP_7ZA"});
  auto markers = Downloads();
  for (const char* marker : {"DESCARGA", "RENOMBRADO_A_2_ZIP", "ARCHIVO_ANTERIOR_A_ACTUALIZACIONES_ZIP",
                             "COPIA_PATRONES_RESUMEN_ZIP", "EXE_NUEVO_EN_RAIZ_OK", "LIMPIEZA_OK"}) {
    EXPECT_TRUE(Contains(markers, marker)) << marker;
  }
  EXPECT_EQ(SubfoldersOf(program_ / L"actualizaciones").size(), 1u);
}

TEST_F(RunUpdateTest, ZipWithTheExecutableAtItsTopLeavesNoFolder) {
  HttpReply reply;
  reply.body = MakeZip({{L"Programa.exe", kNew}});
  server_.Serve("/Paquete.zip", reply);
  RunUpdateIn(program_.path(), Url("/Paquete.zip"));
  EXPECT_EQ(ReadBytes(program_ / L"Programa.exe"), kNew);
  EXPECT_FALSE(Exists(program_ / L"Paquete"));
}

struct FaultCase {
  const char* name;
  std::string path;     // the package's URL path
  HttpReply reply;
  bool serverDown = false;
  bool removeTool = false;
  bool holdExecutable = false;
  const char* powershell = nullptr;  // stand-in mode
  bool expectNew = false;
  std::vector<std::string> expectedMarkers;
};

std::vector<FaultCase> FaultCases(const std::string& goodZip, const std::string& zipWithoutExe) {
  HttpReply notFound;
  notFound.status = 404;
  notFound.body = "<html>404</html>";
  HttpReply serverError;
  serverError.status = 500;
  serverError.body = "<html>500</html>";
  HttpReply empty;
  HttpReply cut;
  cut.body = std::string(300000, 'M');
  cut.cutAfter = 100000;
  HttpReply silent;
  silent.closeWithoutAnswer = true;
  HttpReply good;
  good.body = kNew;
  HttpReply zip;
  zip.body = goodZip;
  HttpReply corrupt;
  corrupt.body = goodZip.substr(0, goodZip.size() / 2) + std::string(64, '\x55');
  HttpReply noExe;
  noExe.body = zipWithoutExe;
  const std::vector<std::string> restored = {"RENOMBRADO_A_2", "ERROR_DESCARGA", "RESTAURADO_EJECUTABLE_ANTERIOR"};
  return {
      {"404", "/Programa.exe", notFound, false, false, false, nullptr, false, restored},
      {"500", "/Programa.exe", serverError, false, false, false, nullptr, false, restored},
      {"empty body", "/Programa.exe", empty, false, false, false, nullptr, false, restored},
      {"cut body", "/Programa.exe", cut, false, false, false, nullptr, false, restored},
      {"no answer", "/Programa.exe", silent, false, false, false, nullptr, false, restored},
      {"server down", "/Programa.exe", good, true, false, false, nullptr, false, restored},
      {"executable held open", "/Programa.exe", good, false, false, true, nullptr, false,
       {"ERROR_RENOMBRAR_A_2", "ERROR_GUARDAR"}},
      {"7za.exe missing", "/Paquete.zip", zip, false, true, false, nullptr, false, {"DESCARGA"}},
      {"corrupt zip", "/Paquete.zip", corrupt, false, false, false, nullptr, false, {"DESCARGA"}},
      {"zip without executable", "/Paquete.zip", noExe, false, false, false, nullptr, false,
       {"DESCARGA", "ZIP_SIN_EXE", "ZIP_EXE_SIN_MATCH_EN_RAIZ", "LIMPIEZA_OK"}},
      {"PowerShell fails", "/Programa.exe", good, false, false, false, "fail", true,
       {"RENOMBRADO_A_2", "DESCARGA", "ARCHIVO_ANTERIOR_A_ACTUALIZACIONES", "COPIA_PATRONES_RESUMEN"}},
      {"PowerShell writes nothing", "/Paquete.zip", zip, false, false, false, "silent", true,
       {"DESCARGA", "RENOMBRADO_A_2_ZIP", "EXE_NUEVO_EN_RAIZ_OK"}},
  };
}

TEST_F(RunUpdateTest, EveryFaultLeavesAWorkingProgramAndTheDataFiles) {
  const std::string goodZip = MakeZip({{L"Programa.exe", kNew}});
  const std::string noExe = MakeZip({{L"leeme.txt", "sin ejecutable"}});
  for (const FaultCase& c : FaultCases(goodZip, noExe)) {
    SCOPED_TRACE(c.name);
    testing::TempFolder program(L"brivon-fault");
    ASSERT_TRUE(WriteBytes(program / L"Programa.exe", kOld));
    ASSERT_TRUE(WriteBytes(program / L"Datos.MDB", kMdb));
    ASSERT_TRUE(WriteBytes(program / L"Empresa.BDORVA", kBd));
    if (!c.removeTool) ::CopyFileW(testing::ArchiveToolPath().c_str(), (program / L"7za.exe").c_str(), FALSE);
    server_.Serve(c.path, c.reply);
    uint16_t port = server_.port();
    if (c.serverDown) server_.Stop();

    HANDLE held = INVALID_HANDLE_VALUE;
    if (c.holdExecutable) {
      held = ::CreateFileW((program / L"Programa.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(held, INVALID_HANDLE_VALUE);
    }
    std::unique_ptr<testing::PowerShellMode> mode;
    if (c.powershell) mode = std::make_unique<testing::PowerShellMode>(std::wstring(c.powershell, c.powershell + strlen(c.powershell)));

    RunUpdateIn(program.path(), "http://127.0.0.1:" + std::to_string(port) + c.path);

    if (held != INVALID_HANDLE_VALUE) ::CloseHandle(held);
    EXPECT_EQ(ReadBytes(program / L"Programa.exe"), c.expectNew ? kNew : kOld);
    EXPECT_EQ(ReadBytes(program / L"Datos.MDB"), kMdb);
    EXPECT_EQ(ReadBytes(program / L"Empresa.BDORVA"), kBd);
    auto markers = Markers(program / L"actualizador_registros\\descargas.csv");
    for (const auto& marker : c.expectedMarkers) EXPECT_TRUE(Contains(markers, marker)) << marker;
    if (c.serverDown) ASSERT_TRUE(server_.Start());
  }
}

TEST_F(RunUpdateTest, EmptyUrlTouchesNothing) {
  RunUpdateIn(program_.path(), "");
  EXPECT_EQ(Downloads(), std::vector<std::string>{"URL_VACIA"});
  EXPECT_EQ(ReadBytes(program_ / L"Programa.exe"), kOld);
}

}  // namespace
}  // namespace brivon
