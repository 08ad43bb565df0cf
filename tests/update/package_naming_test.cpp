#include "update/package_naming.h"
#include "update/update_plan.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <set>
#include <string>

namespace brivon {
namespace {

TEST(PackageNamingTest, NameFromUrl) {
  struct Case {
    const char* url;
    const wchar_t* name;
  } cases[] = {
      {"https://h.example.com/a/Programa.exe?v=7#nota", L"Programa.exe"},
      {"https://h.example.com/a/Paquete.zip", L"Paquete.zip"},
      {"https://h.example.com/a/", L"descarga.bin"},
      {"", L"descarga.bin"},
      {"https://h.example.com/a/Programa.exe?next=/b/Otro.zip", L"Programa.exe"},
      {"https://h.example.com/a/Programa.exe#x/y.zip", L"Programa.exe"},
      {"https://h.example.com/a/a:b.exe", L"a_b.exe"},
      {"https://h.example.com/a/Mi Programa.exe", L"Mi Programa.exe"},
      {"https://h.example.com/a/Mi%20Programa.exe", L"Mi%20Programa.exe"},
      {"https://h.example.com/a/Actualizaci\xc3\xb3n.zip", L"Actualizaci__n.zip"},
      {"https://h.example.com/a/x<>\"|*\\y.exe", L"x______y.exe"},
      {"https://h.example.com/a/tab\tnl\x7f.exe", L"tab_nl\x7f.exe"},
      {"Programa.exe", L"Programa.exe"},
      {"https://127.0.0.1:8080", L"127.0.0.1_8080"},
      {"https://h.example.com/a/archivo.tar.gz", L"archivo.tar.gz"},
      // Names Windows changes or refuses fall back.
      {"https://h.example.com/a/Programa.exe.", L"descarga.bin"},
      {"https://h.example.com/a/Programa.exe%20", L"Programa.exe%20"},
      {"https://h.example.com/a/Programa.exe ", L"descarga.bin"},
      {"https://h.example.com/a/.zip", L"descarga.bin"},
      {"https://h.example.com/a/.exe?v=1", L"descarga.bin"},
      {"https://h.example.com/a/..", L"descarga.bin"},
      {"https://h.example.com/a/COM1.exe", L"descarga.bin"},
      {"https://h.example.com/a/nul.zip", L"descarga.bin"},
      {"https://h.example.com/a/Con", L"descarga.bin"},
      {"https://h.example.com/a/AUX .tar.gz", L"descarga.bin"},
      {"https://h.example.com/a/lpt9.bin", L"descarga.bin"},
      {"https://h.example.com/a/COM10.exe", L"COM10.exe"},
      {"https://h.example.com/a/Console.exe", L"Console.exe"},
      {"https://h.example.com/a/nula.zip", L"nula.zip"},
  };
  for (const auto& c : cases) EXPECT_EQ(PackageFileNameFromUrl(c.url), c.name) << c.url;
}

TEST(PackageNamingTest, OverlongNameFallsBack) {
  std::string base = "https://h.example.com/a/";
  EXPECT_EQ(PackageFileNameFromUrl(base + std::string(251, 'p') + ".exe"), std::wstring(251, L'p') + L".exe");
  EXPECT_EQ(PackageFileNameFromUrl(base + std::string(252, 'p') + ".exe"), L"descarga.bin");
}

TEST(PackageNamingTest, EveryByteBecomesOneSafeCodeUnit) {
  for (int first = 1; first < 256; first += 120) {
    std::string segment = "p";
    for (int b = first; b < first + 120 && b < 256; ++b) {
      segment.push_back(static_cast<char>(b == '/' || b == '?' || b == '#' ? 'a' : b));
    }
    std::wstring name = PackageFileNameFromUrl(segment + ".bin");
    ASSERT_EQ(name.size(), segment.size() + 4) << first;
    for (wchar_t unit : name) {
      EXPECT_TRUE(unit >= 0x20 && unit <= 0x7F) << static_cast<int>(unit);
      EXPECT_EQ(std::wstring(L"<>:\"/\\|?*").find(unit), std::wstring::npos) << static_cast<int>(unit);
    }
  }
}

TEST(PackageNamingTest, StripExtension) {
  struct Case {
    const wchar_t* text;
    const wchar_t* stripped;
  } cases[] = {
      {L"Programa.exe", L"Programa"},
      {L"C:\\App\\Paquete.zip", L"C:\\App\\Paquete"},
      {L"archivo.tar.gz", L"archivo.tar"},
      {L".exe", L""},
      {L"C:\\Mi.Carpeta\\Paquete", L"C:\\Mi.Carpeta\\Paquete"},
      {L"C:/Mi.Carpeta/Paquete", L"C:/Mi.Carpeta/Paquete"},
      {L"Paquete", L"Paquete"},
      {L"", L""},
      {L"C:\\App\\Paquete.", L"C:\\App\\Paquete"},
  };
  for (const auto& c : cases) EXPECT_EQ(StripExtension(c.text), c.stripped) << c.text;
}

TEST(PackageNamingTest, ZipTestLooksOnlyAtTheLastExtension) {
  struct Case {
    const wchar_t* text;
    bool zip;
  } cases[] = {
      {L"Paquete.zip", true},     {L"Paquete.ZIP", true},      {L"Paquete.Zip", true},
      {L"C:\\A\\Paquete.zip", true}, {L"Paquete.zip.exe", false}, {L"Paquete", false},
      {L"Paquete.zipx", false},   {L"Paquete.zi", false},      {L"zip", false},
      {L".zip", true},            {L"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsZipPackage(c.text), c.zip) << c.text;
}

TEST(PackageNamingTest, DataFilesAndTheProgramsOwnAreNeverReplacedByAPackage) {
  struct Case {
    const wchar_t* name;
    bool kept;
  } cases[] = {
      {L"Datos.MDB", true},       {L"datos.mdb", true},          {L"Empresa.BDORVA", true},
      {L"BRIVON.EXE", true},      {L"7za.exe", true},            {L"actualizador_registros", true},
      {L"Actualizaciones", true}, {L"versiones", true},          {L"ayuda.dll", false},
      {L"Datos.MDB.txt", false},  {L"descarga.bin", false},      {L"brivon2.exe", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsNeverReplacedByPackage(c.name), c.kept) << c.name;
}

}  // namespace
}  // namespace brivon

namespace brivon {
namespace {

// Where a package goes and what it replaces, from its name and what stands in the folder.
TEST(UpdatePlanTest, APackageReplacesOnlyWhatItMay) {
  const std::wstring app = L"C:\\App";
  // Files by their long names; FACTUR~1.EXE is FacturaOrva.exe's short name.
  const std::set<std::wstring> files = {L"c:\\app\\facturaorva.exe", L"c:\\app\\7za.exe", L"c:\\app\\datos.mdb",
                                        L"c:\\app\\ayuda.pdf", L"c:\\app\\paquete.zip", L"c:\\app\\paquete_1.zip"};
  const std::set<std::wstring> taken = {L"c:\\app\\factur~1.exe", L"c:\\app\\paquete", L"c:\\app\\otro.zip"};
  auto lower = [](std::wstring p) {
    for (wchar_t& c : p) c = static_cast<wchar_t>(std::towlower(c));
    return p;
  };
  PathTest isNamesake = [&](const std::wstring& p) { return files.count(lower(p)) > 0; };
  PathTest isTaken = [&](const std::wstring& p) { return files.count(lower(p)) > 0 || taken.count(lower(p)) > 0; };
  struct Row {
    const wchar_t* name;
    PackageKind kind;
    const wchar_t* target;
    bool replacesProgram, keepsReplaced;
    const wchar_t* extractionFolder;
  } rows[] = {
      {L"FacturaOrva.exe", PackageKind::Executable, L"C:\\App\\FacturaOrva.exe", true, false, L""},
      {L"FACTURAORVA.EXE", PackageKind::Executable, L"C:\\App\\FACTURAORVA.EXE", true, false, L""},
      {L"Nuevo.exe", PackageKind::Executable, L"C:\\App\\Nuevo.exe", false, false, L""},
      {L"FACTUR~1.EXE", PackageKind::Executable, L"C:\\App\\FACTUR~1_1.EXE", false, false, L""},
      {L"7za.exe", PackageKind::Executable, L"C:\\App\\7za_1.exe", false, false, L""},
      {L"Paquete.zip", PackageKind::Zip, L"C:\\App\\Paquete_2.zip", false, false, L"C:\\App\\Paquete_2"},
      {L"Otro.zip", PackageKind::Zip, L"C:\\App\\Otro_1.zip", false, false, L"C:\\App\\Otro_1"},
      {L"Nuevo.zip", PackageKind::Zip, L"C:\\App\\Nuevo.zip", false, false, L"C:\\App\\Nuevo"},
      {L"Datos.MDB", PackageKind::Other, L"C:\\App\\Datos_1.MDB", false, false, L""},
      {L"ayuda.pdf", PackageKind::Other, L"C:\\App\\ayuda.pdf", false, true, L""},
      {L"descarga.bin", PackageKind::Other, L"C:\\App\\descarga.bin", false, false, L""},
  };
  for (const Row& row : rows) {
    const UpdatePlan plan = PlanUpdate(app, row.name, isTaken, isNamesake);
    EXPECT_EQ(plan.refusal, nullptr) << row.name;
    EXPECT_EQ(plan.kind, row.kind) << row.name;
    EXPECT_EQ(plan.target, row.target) << row.name;
    EXPECT_EQ(plan.replacesProgram, row.replacesProgram) << row.name;
    EXPECT_EQ(plan.keepsReplaced, row.keepsReplaced) << row.name;
    EXPECT_EQ(plan.extractionFolder, row.extractionFolder) << row.name;
    EXPECT_EQ(plan.setAside, StripExtension(plan.target) + L"2.exe") << row.name;
  }
  PathTest everything = [](const std::wstring&) { return true; };
  EXPECT_STREQ(PlanUpdate(app, L"Paquete.zip", everything, isNamesake).refusal, "ERROR_PAQUETE_NOMBRE_LIBRE");
}

}  // namespace
}  // namespace brivon
