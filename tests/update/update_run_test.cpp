// Update runs whose package name alone decides what happens, against the loopback server, and
// what the start-up repair makes of a run cut off. The worked examples, the fault matrix and the
// kill matrix run through brivon.exe in the update_*_e2e_test.cpp files.
#include "update/update_run.h"

#include <gtest/gtest.h>

#include <regex>

#include "servers/loopback_http_server.h"
#include "support/archive_reading.h"
#include "support/log_lines.h"
#include "support/test_env.h"
#include "update/update_record.h"
#include "update/update_repair.h"

namespace brivon {
namespace {

using testing::Exists;
using testing::HttpReply;
using testing::ReadBytes;
using testing::WriteBytes;

// Real Windows programs: only such a file takes the program's name.
const std::string& OldProgram() {
  static const std::string bytes = ReadBytes(testing::TestToolPath(L"fixture_sibling_10_2_0_15.exe"));
  return bytes;
}
const std::string& NewProgram() {
  static const std::string bytes = ReadBytes(testing::TestToolPath(L"fixture_sibling_65535_0_65535_1.exe"));
  return bytes;
}

TEST(RunUpdateTest, ThePackageNameDecidesWhatIsReplaced) {
  const std::string& kOld = OldProgram();
  const std::string& kNew = NewProgram();
  ASSERT_FALSE(kOld.empty());
  ASSERT_FALSE(kNew.empty());
  const std::string tool = ReadBytes(testing::ArchiveToolPath());
  const std::string filterPage = "<html><body>Sitio bloqueado por la empresa</body></html>";
  struct Case {
    const char* name;
    std::string path;          // the package URL's path; empty: an empty URL
    const wchar_t* stored;     // where the package lands; null: nowhere
    bool replacesProgram;      // Programa.exe becomes the package
    std::vector<std::string> markers;
    const std::string* body = nullptr;  // what the server answers; the new program unless given
    size_t folderLength = 0;            // a program folder of that many characters; 0: a short one
    bool pendingRecord = false;         // an earlier update's record is there, its repair not done
  } cases[] = {
      {"empty URL", "", nullptr, false, {"URL_VACIA"}},
      {"no file name", "/descargas/", L"descarga.bin", false, {"DESCARGA"}},
      {"executable without a namesake", "/descargas/Otro.exe", L"Otro.exe", false, {"DESCARGA"}},
      {"upper-case extension", "/descargas/Programa.EXE", L"Programa.exe", true,
       {"EJECUTABLE_NO_VERIFICADO", "RENOMBRADO_A_2", "DESCARGA", "ARCHIVO_ANTERIOR_A_ACTUALIZACIONES", "COPIA_OK",
        "COPIA_PATRON_SIN_RESULTADOS", "COPIA_PATRONES_RESUMEN", "ZIP_CARPETA"}},
      // The archive tool is checked against its pin when fetched: no package takes its place.
      {"named like the archive tool", "/pkg/7za.exe", L"7za_1.exe", false, {"PAQUETE_NOMBRE_LIBRE", "DESCARGA"}},
      // A web filter's own page, answered with status 200, is no Windows program.
      {"a filter's page instead of the program", "/descargas/Programa.exe", nullptr, false, {"EJECUTABLE_RECHAZADO"},
       &filterPage},
      // Past 248 characters the folder, and past 260 the files under it, need the long form on
      // Windows (Wine needs none: these rows show that the long form is well made).
      {"a program folder of 240 characters", "/descargas/Programa.exe", L"Programa.exe", true,
       {"EJECUTABLE_NO_VERIFICADO", "RENOMBRADO_A_2", "DESCARGA", "ARCHIVO_ANTERIOR_A_ACTUALIZACIONES", "COPIA_OK",
        "COPIA_PATRON_SIN_RESULTADOS", "COPIA_PATRONES_RESUMEN", "ZIP_CARPETA"},
       nullptr, 240},
      // Nothing is written over it: the program it set aside is where only that record says.
      {"an earlier update's repair pending", "/descargas/Programa.exe", nullptr, false, {"ACTUALIZACION_OMITIDA"},
       nullptr, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempFolder root(L"brivon-run");
    std::wstring folder = root.path();
    if (c.folderLength > folder.size() + 1) {
      folder += L"\\" + std::wstring(c.folderLength - folder.size() - 1, L'p');
      ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr));
    }
    auto program = [&](const std::wstring& name) { return folder + L"\\" + name; };
    ASSERT_TRUE(WriteBytes(program(L"Programa.exe"), kOld));
    ASSERT_TRUE(WriteBytes(program(L"Datos.MDB"), "datos"));
    ASSERT_TRUE(WriteBytes(program(L"7za.exe"), tool));
    testing::LoopbackHttpServer server;
    ASSERT_TRUE(server.Start());
    HttpReply reply;
    reply.body = c.body ? *c.body : kNew;
    server.ServeDefault(reply);
    const std::string pending = "brivon-actualizacion 1\nun registro de otra ejecucion\n";
    if (c.pendingRecord) {
      ASSERT_TRUE(::CreateDirectoryW(program(L"actualizador_registros").c_str(), nullptr));
      ASSERT_TRUE(WriteBytes(UpdateRecordPath(folder), pending));
    }

    RunUpdateIn(folder, c.path.empty() ? "" : "http://127.0.0.1:" + std::to_string(server.port()) + c.path);

    EXPECT_TRUE(ReadBytes(program(L"Programa.exe")) == (c.replacesProgram ? kNew : kOld));
    EXPECT_FALSE(Exists(program(L"Programa2.exe")));
    EXPECT_EQ(ReadBytes(program(L"Datos.MDB")), "datos");
    EXPECT_TRUE(ReadBytes(program(L"7za.exe")) == tool);
    EXPECT_FALSE(Exists(program(L"Programa.exe.parcial")));
    if (c.stored) {
      EXPECT_TRUE(ReadBytes(program(c.stored)) == kNew);
    }
    EXPECT_EQ(testing::MarkersOf(testing::LogTexts(program(L"actualizador_registros\\descargas.csv"))), c.markers);
    EXPECT_EQ(server.Requests().size(), c.path.empty() || c.pendingRecord ? 0u : 1u);
    // A whole run leaves no record; one it did not write stays as it was.
    EXPECT_EQ(ReadBytes(UpdateRecordPath(folder)), c.pendingRecord ? pending : "");
  }
}

const FileIdentity kOldProgram{true, 1000, 7};
const FileIdentity kNewProgram{true, 2000, 9};
const FileIdentity kLeftover{true, 50, 3};
const FileIdentity kDownloaded{true, 3000, 11};  // the ZIP package as it was downloaded
const FileIdentity kNone{};
const std::string kNewSha256(64, 'a');
const std::string kZeroedSha256(64, 'b');  // the new program's size, its tail zeroed by a power cut
const std::string kOtherSha256(64, 'c');

UpdateRecord ExeRecord() {
  UpdateRecord r;
  r.programFolder = L"C:\\App";
  r.package = r.installed = L"C:\\App\\Programa.exe";
  r.installedBefore = r.packageBefore = kOldProgram;
  r.setAside = L"C:\\App\\Programa2.exe";
  return r;
}

// As the run writes it once the new program is known, before the program is set aside.
UpdateRecord ExeRecordKnowingTheNewProgram() {
  UpdateRecord r = ExeRecord();
  r.newProgram = kNewProgram;
  r.newProgramSha256 = kNewSha256;
  return r;
}

// Cut off once the package was downloaded and 7-Zip had started on it, unless said otherwise.
UpdateRecord ZipRecord(bool candidateChosen) {
  UpdateRecord r;
  r.programFolder = L"C:\\App";
  r.package = L"C:\\App\\Paquete.zip";
  r.isZip = true;
  r.extractionFolder = L"C:\\App\\Paquete";
  r.packageDownloaded = kDownloaded;
  r.extractionStarted = true;
  if (candidateChosen) {
    r.installed = L"C:\\App\\Programa.exe";
    r.installedBefore = kOldProgram;
    r.setAside = L"C:\\App\\Programa2.exe";
    r.newProgram = kNewProgram;
    r.newProgramSha256 = kNewSha256;
  }
  return r;
}

// What stands under the program's name, as the repair judges it: the new program only whole, by
// the content recorded before it took the name.
TEST(StartupRepairTest, TheNewProgramIsInPlaceOnlyWhole) {
  using P = ProgramInPlace;
  struct Case {
    const char* name;
    UpdateRecord record;
    FileIdentity installed;
    std::string sha256;  // of the file under the name, as read
    P judged;
    bool lookupFailed = false;
  } cases[] = {
      {"the name empty", ExeRecordKnowingTheNewProgram(), kNone, "", P::Missing},
      {"the name unreadable", ExeRecordKnowingTheNewProgram(), kNone, "", P::Unknown, true},
      {"the old program", ExeRecordKnowingTheNewProgram(), kOldProgram, "", P::Old},
      {"the new program whole", ExeRecordKnowingTheNewProgram(), kNewProgram, kNewSha256, P::New},
      {"the new program copied in (another time, the same content)", ExeRecordKnowingTheNewProgram(),
       FileIdentity{true, 2000, 10}, kNewSha256, P::New},
      {"the new program's size, its tail zeroed", ExeRecordKnowingTheNewProgram(), kNewProgram, kZeroedSha256,
       P::Damaged},
      {"a file of another size put there meanwhile", ExeRecordKnowingTheNewProgram(), kLeftover, kOtherSha256,
       P::Other},
      {"a file that cannot be read", ExeRecordKnowingTheNewProgram(), kNewProgram, "", P::Unknown},
      // A record that knows no content (of an earlier version) can tell only the old program.
      {"a record without the new program's content", ExeRecord(), kNewProgram, "", P::New},
  };
  for (const Case& c : cases) {
    RepairFacts facts;
    facts.installed = c.installed;
    facts.installedMissing = !c.lookupFailed && !c.installed.exists;
    facts.installedSha256 = c.sha256;
    EXPECT_EQ(JudgeProgramInPlace(c.record, facts), c.judged) << c.name;
  }
}

TEST(StartupRepairTest, AnInterruptedUpdateIsRolledBackUnlessTheNewProgramIsIn) {
  using S = RepairStep;
  UpdateRecord withLeftover = ExeRecord();
  withLeftover.setAsideBefore = kLeftover;
  UpdateRecord zipKept = ZipRecord(true);
  zipKept.keptCopy = L"C:\\App\\actualizaciones\\251206_093015\\Programa.exe";
  UpdateRecord folderOfBefore = ZipRecord(false);
  folderOfBefore.extractionFolderExisted = true;
  folderOfBefore.extractionStarted = false;
  UpdateRecord namedLikeAFile = ZipRecord(false);
  namedLikeAFile.packageBefore = kLeftover;
  UpdateRecord midDownload = ZipRecord(false);  // neither the package nor the folder the run's yet
  midDownload.packageDownloaded = kNone;
  midDownload.extractionStarted = false;
  UpdateRecord replacing;  // a package replacing a file of the user's, which was kept first
  replacing.programFolder = L"C:\\App";
  replacing.package = L"C:\\App\\ayuda.pdf";
  replacing.packageBefore = kLeftover;
  replacing.replacedKept = L"C:\\App\\actualizaciones\\251206_093015\\ayuda.pdf";
  // A copy of the new program made beside its name, cut off before its rename.
  RepairFacts copyCut{true, kNone, kNone, kOldProgram, kNone, false};
  copyCut.stagingCopyExists = true;
  // The new program in, whole or with its tail zeroed by a power cut after its rename.
  RepairFacts newWhole{false, kNewProgram, kNewProgram, kOldProgram, kNone, false};
  newWhole.installedSha256 = kNewSha256;
  RepairFacts newZeroed = newWhole;
  newZeroed.installedSha256 = kZeroedSha256;
  RepairFacts zipNewIn{false, kDownloaded, kNewProgram, kNone, kOldProgram, true};
  zipNewIn.installedSha256 = kNewSha256;
  RepairFacts zipNewZeroed = zipNewIn;
  zipNewZeroed.installedSha256 = kZeroedSha256;
  RepairFacts newZeroedNoOld = newZeroed;
  newZeroedNoOld.setAside = kNone;
  RepairFacts otherInPlace{false, kLeftover, kLeftover, kOldProgram, kNone, false};
  otherInPlace.installedSha256 = kOtherSha256;
  // The previous version kept, a data-file copy cut off before its rename beside it.
  RepairFacts dataCopyCut{false, kDownloaded, kNewProgram, kNone, kOldProgram, false};
  dataCopyCut.installedSha256 = kNewSha256;
  dataCopyCut.stagedDataCopies = true;
  // The user's file named in the record, cut off before it moved: its folder stands empty.
  RepairFacts keptFolderEmpty{true, kLeftover, kNone, kNone, kNone, false, kNone};
  keptFolderEmpty.emptyKeptFolder = true;
  struct Case {
    const char* name;
    UpdateRecord record;
    RepairFacts facts;  // partial, package, installed, set-aside, kept copy, extraction folder
    std::vector<RepairStep> steps;
    bool lookupFailed = false;  // the names absent from the facts could not be looked up (a share
                                // reconnecting); otherwise they were not found
  } cases[] = {
      {"cut mid-download", ExeRecord(), {true, kNone, kNone, kOldProgram, kNone, false},
       {S::DeletePartial, S::RestoreFromSetAside}},
      {"cut between set-aside and download", ExeRecord(), {false, kNone, kNone, kOldProgram, kNone, false},
       {S::RestoreFromSetAside}},
      {"new program in, old one still set aside", ExeRecord(), {false, kNewProgram, kNewProgram, kOldProgram, kNone, false},
       {S::KeepSetAsideAsPrevious}},
      {"new program in, old one kept", ExeRecord(), {false, kNewProgram, kNewProgram, kNone, kNone, false}, {}},
      {"cut before anything changed", withLeftover, {false, kOldProgram, kOldProgram, kLeftover, kNone, false}, {}},
      {"a leftover of before beside the new program", withLeftover,
       {false, kNewProgram, kNewProgram, kLeftover, kNone, false}, {}},
      {"zip cut mid-download", midDownload, {true, kNone, kNone, kNone, kNone, false}, {S::DeletePartial}},
      {"zip cut mid-extraction", ZipRecord(false), {false, kDownloaded, kNone, kNone, kNone, true},
       {S::DeletePackage, S::RemoveExtractionFolder}},
      {"zip cut with the old program only in the updates folder", zipKept,
       {false, kDownloaded, kNone, kNone, kOldProgram, true},
       {S::RestoreFromKeptCopy, S::DeletePackage, S::RemoveExtractionFolder}},
      {"zip cut with the old program set aside", ZipRecord(true), {false, kDownloaded, kNone, kOldProgram, kNone, true},
       {S::RestoreFromSetAside, S::DeletePackage, S::RemoveExtractionFolder}},
      {"zip cut after the new program came in", zipKept, zipNewIn, {S::DeletePackage, S::RemoveExtractionFolderIfEmpty}},
      {"zip whose folder was there before", folderOfBefore, {false, kDownloaded, kNone, kNone, kNone, true},
       {S::DeletePackage}},
      {"zip under the name of a file that was there", namedLikeAFile, {false, kLeftover, kNone, kNone, kNone, false},
       {}},
      // Saved by a person while the package downloaded: neither is the run's.
      {"a file of the user's under the package's name, made mid-download", midDownload,
       {true, kLeftover, kNone, kNone, kNone, false}, {S::DeletePartial}},
      {"a folder of the user's under the extraction folder's name, made mid-download", midDownload,
       {true, kNone, kNone, kNone, kNone, true}, {S::DeletePartial}},
      {"another file than the one downloaded under the package's name", ZipRecord(false),
       {false, kLeftover, kNone, kNone, kNone, true}, {S::RemoveExtractionFolder}},
      {"cut before the package took the place of the user's file", replacing,
       {true, kNone, kNone, kNone, kNone, false, kLeftover}, {S::DeletePartial, S::RestoreReplacedFile}},
      {"cut after the package took its place", replacing, {false, kNewProgram, kNone, kNone, kNone, false, kLeftover},
       {}},
      {"cut once the record named where the user's file goes, before it moved", replacing, keptFolderEmpty,
       {S::DeletePartial, S::RemoveEmptyKeptFolder}},
      {"cut with the new program copied beside its name", ExeRecord(), copyCut,
       {S::DeletePartial, S::DeleteStagingCopy, S::RestoreFromSetAside}},
      {"the program's name unreadable: nothing put back", ExeRecord(),
       {false, kNone, kNone, kOldProgram, kNone, false}, {}, true},
      {"the kept copy's name unreadable: nothing put back", zipKept, {false, kDownloaded, kNone, kNone, kOldProgram, true},
       {S::DeletePackage, S::RemoveExtractionFolder}, true},
      {"the user's file's name unreadable: nothing put back", replacing,
       {true, kNone, kNone, kNone, kNone, false, kLeftover}, {S::DeletePartial}, true},
      {"the new program whole, the old one set aside", ExeRecordKnowingTheNewProgram(), newWhole,
       {S::KeepSetAsideAsPrevious}},
      {"the new program's tail zeroed, the old one set aside", ExeRecordKnowingTheNewProgram(), newZeroed,
       {S::SetDamagedAside, S::RestoreFromSetAside}},
      {"the new program's tail zeroed, the old one in the updates folder", zipKept, zipNewZeroed,
       {S::SetDamagedAside, S::RestoreFromKeptCopy, S::DeletePackage, S::RemoveExtractionFolder}},
      {"the new program's tail zeroed, no old one at hand", ExeRecordKnowingTheNewProgram(), newZeroedNoOld, {}},
      {"another file under the name: left until the name is free", ExeRecordKnowingTheNewProgram(), otherInPlace, {}},
      {"a data-file copy cut off before its rename", zipKept, dataCopyCut,
       {S::DeletePackage, S::DeleteStagedDataCopies}},
  };
  for (const Case& c : cases) {
    RepairFacts facts = c.facts;
    facts.installedMissing = !c.lookupFailed && !facts.installed.exists;
    facts.packageMissing = !c.lookupFailed && !facts.package.exists;
    EXPECT_EQ(PlanRepair(c.record, facts), c.steps) << c.name;
  }
}

TEST(StartupRepairTest, OnlyAWholeRecordOfThisFolderIsActedOn) {
  UpdateRecord record = ZipRecord(true);
  record.packageUrl = "http://127.0.0.1/Paquete.zip\r\nforjada";
  record.packageBefore = kLeftover;
  record.keptCopy = L"C:\\App\\actualizaciones\\251206_093015\\Programa.exe";
  const std::string text = FormatUpdateRecord(record);
  UpdateRecord back;
  ASSERT_TRUE(ParseUpdateRecord(text, back));
  EXPECT_EQ(FormatUpdateRecord(back), text);
  EXPECT_EQ(back.packageUrl, "http://127.0.0.1/Paquete.zip  forjada");
  EXPECT_TRUE(IsRecordOfFolder(back, L"C:\\app"));  // letter case aside
  back.extractionFolder = L"C:\\App\\Paquete_12";  // a free name beside a folder of the user's
  EXPECT_TRUE(IsRecordOfFolder(back, L"C:\\App"));

  const std::string head = "brivon-actualizacion 1\n";
  struct Broken {
    const char* name;
    std::string text;
  } broken[] = {
      {"empty", ""},
      {"cut short", text.substr(0, text.size() / 2)},
      {"no end line", text.substr(0, text.rfind("fin"))},
      {"another header", "brivon-actualizacion 2\n" + text.substr(head.size())},
      {"an unknown key", head + "borrar=C:\\Windows\n" + text.substr(head.size())},
      {"a repeated key", head + "tipo=exe\n" + text.substr(head.size())},
      {"text after the end", text + "tipo=exe\n"},
      {"a bad identity", std::regex_replace(text, std::regex("paquete_antes=[^\n]*"), "paquete_antes=50,x")},
  };
  for (const Broken& b : broken) EXPECT_FALSE(ParseUpdateRecord(b.text, back)) << b.name;

  auto changed = [&](auto edit) {
    UpdateRecord r = record;
    edit(r);
    return r;
  };
  struct Foreign {
    const char* name;
    UpdateRecord record;
  } foreign[] = {
      {"another folder", changed([](UpdateRecord& r) { r.programFolder = L"C:\\Otra"; })},
      {"a package elsewhere", changed([](UpdateRecord& r) { r.package = L"C:\\Windows\\Paquete.zip"; })},
      {"a package deeper down", changed([](UpdateRecord& r) { r.package = L"C:\\App\\datos\\Paquete.zip"; })},
      {"an extraction folder not the package's", changed([](UpdateRecord& r) { r.extractionFolder = L"C:\\App"; })},
      {"an extraction folder named past the package's",
       changed([](UpdateRecord& r) { r.extractionFolder = L"C:\\App\\Paquete_x"; })},
      {"an extraction folder in a parent step",
       changed([](UpdateRecord& r) { r.extractionFolder = L"C:\\App\\Paquete_1\\.."; })},
      {"a program in a parent step", changed([](UpdateRecord& r) { r.installed = L"C:\\App\\..\\x.exe"; })},
      {"a set-aside not its own", changed([](UpdateRecord& r) { r.setAside = L"C:\\App\\Datos.MDB"; })},
      {"a kept copy outside the updates folder",
       changed([](UpdateRecord& r) { r.keptCopy = L"C:\\App\\Programa.exe"; })},
  };
  for (const Foreign& f : foreign) EXPECT_FALSE(IsRecordOfFolder(f.record, L"C:\\App")) << f.name;

  // Written through a mapped drive, read through the folder's own path: the same folder by its
  // volume and file number, so its paths move over; any other folder's record stays foreign.
  UpdateRecord mapped = record;
  mapped.folderId = "1234abcd-0000000000000042";
  ASSERT_TRUE(ParseUpdateRecord(FormatUpdateRecord(mapped), back));
  EXPECT_EQ(back.folderId, mapped.folderId);
  struct Rebase {
    const char* name;
    std::string id;  // the folder's here
    bool rebased;
  } rebases[] = {{"the same folder", mapped.folderId, true},
                 {"another folder", "1234abcd-0000000000000043", false},
                 {"a folder that cannot be opened", "", false}};
  for (const Rebase& r : rebases) {
    UpdateRecord moved = mapped;
    moved.programFolder = L"Q:\\Datos\\App";
    for (std::wstring* path : {&moved.package, &moved.installed, &moved.setAside, &moved.extractionFolder, &moved.keptCopy}) {
      *path = L"Q:\\Datos" + path->substr(2);
    }
    EXPECT_FALSE(IsRecordOfFolder(moved, L"C:\\App")) << r.name;
    EXPECT_EQ(RebaseUpdateRecord(moved, L"C:\\App", r.id), r.rebased) << r.name;
    EXPECT_EQ(IsRecordOfFolder(moved, L"C:\\App"), r.rebased) << r.name;
    if (r.rebased) {
      EXPECT_EQ(moved.keptCopy, record.keptCopy) << r.name;
    }
  }
}

}  // namespace
}  // namespace brivon
