// Update runs whose package name alone decides what happens, against the loopback server. The
// worked examples and the fault matrix run through brivon.exe in update_end_to_end_test.cpp.
#include "update/update_run.h"

#include <gtest/gtest.h>

#include "servers/loopback_http_server.h"
#include "support/log_lines.h"
#include "support/powershell_standin.h"
#include "support/test_env.h"

namespace brivon {
namespace {

using testing::Exists;
using testing::HttpReply;
using testing::ReadBytes;
using testing::WriteBytes;

const std::string kOld = "MZ old Programa";
const std::string kNew = "MZ new package";

TEST(RunUpdateTest, ThePackageNameDecidesWhatIsReplaced) {
  ASSERT_TRUE(testing::InstallPowerShellStandIn());
  struct Case {
    const char* name;
    std::string path;          // the package URL's path; empty: an empty URL
    const wchar_t* stored;     // where the package lands; null: nowhere
    bool replacesProgram;      // Programa.exe becomes the package
    std::vector<std::string> markers;
  } cases[] = {
      {"empty URL", "", nullptr, false, {"URL_VACIA"}},
      {"no file name", "/descargas/", L"descarga.bin", false, {"DESCARGA"}},
      {"executable without a namesake", "/descargas/Otro.exe", L"Otro.exe", false, {"DESCARGA"}},
      {"upper-case extension", "/descargas/Programa.EXE", L"Programa.exe", true,
       {"RENOMBRADO_A_2", "DESCARGA", "ARCHIVO_ANTERIOR_A_ACTUALIZACIONES", "COPIA_OK",
        "COPIA_PATRON_SIN_RESULTADOS", "COPIA_PATRONES_RESUMEN", "ZIP_CARPETA"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempFolder program(L"brivon-run");
    ASSERT_TRUE(WriteBytes(program / L"Programa.exe", kOld));
    ASSERT_TRUE(WriteBytes(program / L"Datos.MDB", "datos"));
    testing::LoopbackHttpServer server;
    ASSERT_TRUE(server.Start());
    HttpReply reply;
    reply.body = kNew;
    server.ServeDefault(reply);

    RunUpdateIn(program.path(), c.path.empty() ? "" : "http://127.0.0.1:" + std::to_string(server.port()) + c.path);

    EXPECT_EQ(ReadBytes(program / L"Programa.exe"), c.replacesProgram ? kNew : kOld);
    EXPECT_FALSE(Exists(program / L"Programa2.exe"));
    EXPECT_EQ(ReadBytes(program / L"Datos.MDB"), "datos");
    if (c.stored) {
      EXPECT_EQ(ReadBytes(program / c.stored), kNew);
    }
    EXPECT_EQ(testing::MarkersOf(testing::LogTexts(program / L"actualizador_registros\\descargas.csv")), c.markers);
    EXPECT_EQ(server.Requests().size(), c.path.empty() ? 0u : 1u);
  }
}

}  // namespace
}  // namespace brivon
