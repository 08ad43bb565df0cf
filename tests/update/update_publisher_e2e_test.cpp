// The publisher check: a signed program is replaced only by a new executable of its own
// publisher, in both flows; an unsigned program is replaced as ever, the log saying unverified.
#include <windows.h>

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "files/authenticode_check.h"
#include "support/log_lines.h"
#include "update/update_end_to_end_support.h"

namespace brivon {
namespace update_e2e {
namespace {

TEST_F(UpdateEndToEnd, OnlyTheSamePublisherReplacesASignedProgram) {
  const std::wstring signedDir = testing::BuiltPath(BRIVON_TEST_SIGNED_DIR, L"firmados");
  auto fixture = [&](const wchar_t* name) { return ReadBytes(signedDir + L"\\" + name); };
  if (!testing::RunningUnderWine() && ReadSignature(signedDir + L"\\old_firmado_A.exe").state != SignatureState::Valid) {
    GTEST_SKIP() << testing::kNeedsTrustedTestRoots;
  }
  const std::string signedOld = fixture(L"old_firmado_A.exe");
  const std::string sameSigner = fixture(L"nuevo_firmado_A.exe");
  ASSERT_FALSE(signedOld.empty());
  ASSERT_FALSE(sameSigner.empty());
  struct Row {
    const char* name;
    std::string installed;
    std::string fresh;
    bool replaced;
    std::string verdict;  // the marker of the publisher line
  } rows[] = {
      {"signed installed, same publisher", signedOld, sameSigner, true, "EJECUTABLE_VERIFICADO"},
      {"signed installed, unsigned new", signedOld, newExe_, false, "EJECUTABLE_RECHAZADO"},
      {"signed installed, another publisher", signedOld, fixture(L"nuevo_firmado_B.exe"), false, "EJECUTABLE_RECHAZADO"},
      {"signed installed, a byte changed after signing", signedOld, fixture(L"nuevo_alterado.exe"), false,
       "EJECUTABLE_RECHAZADO"},
      {"signed installed, same subject from another issuer", signedOld, fixture(L"nuevo_firmado_A_otra_ca.exe"),
       false, "EJECUTABLE_RECHAZADO"},
      {"unsigned installed, any new", oldExe_, fixture(L"nuevo_firmado_B.exe"), true, "EJECUTABLE_NO_VERIFICADO"},
  };
  for (const Row& row : rows) {
    for (bool zip : {false, true}) {
      SCOPED_TRACE(std::string(row.name) + (zip ? ", ZIP package" : ", executable package"));
      TempFolder root(L"brivon-firma");
      const std::wstring folder = MakeProgramFolder(root);
      const std::wstring sibling = folder + L"\\" + kSibling;
      ASSERT_TRUE(WriteBytes(sibling, row.installed));
      const std::string path = zip ? "/descargas/Paquete.zip" : "/descargas/FacturaOrva.exe";
      server_.Serve(path, HttpReply{200, zip ? MakeZip({{L"FacturaOrva.exe", row.fresh}}) : row.fresh});
      server_.Serve(kCheckinPath, HttpReply{200, AlertDocument(UpdateAlert(Url(path))), "application/json"});

      WindowsSeen seen = Run(folder);
      EXPECT_FALSE(seen.run.timedOut);
      EXPECT_EQ(seen.run.exitCode, 0u);
      EXPECT_TRUE(ReadBytes(sibling) == (row.replaced ? row.fresh : row.installed)) << "the program is not the expected one";
      EXPECT_FALSE(Exists(folder + L"\\FacturaOrva2.exe"));
      EXPECT_EQ(ReadBytes(folder + L"\\Datos.MDB"), kMdb);
      EXPECT_EQ(ReadBytes(folder + L"\\Empresa.BDORVA"), kBd);
      const auto lines = testing::LogTexts(folder, L"descargas.csv");
      const auto verdict = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.rfind(row.verdict + ";", 0) == 0;
      });
      EXPECT_NE(verdict, lines.end()) << row.verdict;
    }
  }
}

}  // namespace
}  // namespace update_e2e
}  // namespace brivon
