// The sibling-program table, the file version and the report text.
#include "checkin/product_detection.h"

#include <gtest/gtest.h>

#include <cctype>
#include <vector>

#include "checkin/file_version.h"
#include "checkin/version_resource.h"
#include "common/text.h"
#include "support/test_env.h"

namespace brivon {
namespace {

using testing::TempFolder;

std::wstring Fixture(const wchar_t* name) { return testing::TestToolPath(name); }

bool CopyInto(const std::wstring& from, const std::wstring& to) { return ::CopyFileW(from.c_str(), to.c_str(), FALSE); }

TEST(CheckinReportTest, LinesKeysAndLineEndsAreExact) {
  struct Case {
    const char* identifier;
    const char* version;
    const char* expected;
  } cases[] = {
      {"ContaOrva", "10.2.0.15",
       "{\n  \"actualizador_version\": \"1.25.1112\",\n  \"Programa\": \"ContaOrva\",\n  \"Version\": \"10.2.0.15\"\n}"},
      {"TpvOrva", "No disponible",
       "{\n  \"actualizador_version\": \"1.25.1112\",\n  \"Programa\": \"TpvOrva\",\n  \"Version\": \"No disponible\"\n}"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatCheckinReport(c.identifier, c.version), c.expected);
}

TEST(ProductTableTest, RowsAreBareLowerCaseExecutablesWithSpacelessIdentifiers) {
  for (const Product& product : kProductTable) {
    std::string name = product.executable;
    SCOPED_TRACE(name);
    EXPECT_GT(name.size(), 4u);
    EXPECT_EQ(name.substr(name.size() - 4), ".exe");
    EXPECT_EQ(name.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ\\/ "), std::string::npos);
    for (char c : std::string(product.identifier)) EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(c)));
  }
}

TEST(FindInstalledProductTest, FirstPresentFileInTableOrderWins) {
  struct Case {
    const char* name;
    std::vector<int> files;    // rows whose executable is a file in the folder
    std::vector<int> folders;  // rows whose executable name is taken by a folder
    int expected;              // -1: nothing found
  } cases[] = {
      {"empty folder", {}, {}, -1},
      {"second and fourth", {1, 3}, {}, 1},
      {"last only", {4}, {}, 4},
      {"all five", {0, 1, 2, 3, 4}, {}, 0},
      {"folder named like the first", {2}, {0}, 2},
      {"only folders", {}, {0, 1, 2, 3, 4}, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    for (int row : c.files)
      ASSERT_TRUE(testing::WriteBytes(ProductPath(folder.path(), kProductTable[row]), "MZ"));
    for (int row : c.folders)
      ASSERT_TRUE(::CreateDirectoryW(ProductPath(folder.path(), kProductTable[row]).c_str(), nullptr));
    auto found = FindInstalledProduct(folder.path());
    if (c.expected < 0) {
      EXPECT_FALSE(found.has_value());
    } else {
      ASSERT_TRUE(found.has_value());
      EXPECT_STREQ(found->identifier, kProductTable[c.expected].identifier);
    }
  }
}

TEST(ReadFileVersionTest, ReportsTheFileVersionNeverTheProductVersion) {
  TempFolder folder;
  ASSERT_TRUE(testing::WriteBytes(folder / L"texto.exe", "not an executable"));
  ASSERT_TRUE(testing::WriteBytes(folder / L"vacio.exe", ""));
  ASSERT_TRUE(::CreateDirectoryW((folder / L"carpeta.exe").c_str(), nullptr));
  // readHere: the image's own bytes give the answer, without the system loading it as a library.
  struct Case {
    std::wstring path;
    const char* expected;
    bool readHere;
  } cases[] = {
      {Fixture(L"fixture_sibling_10_2_0_15.exe"), "10.2.0.15", true},  // product version 3.0.0.0
      {Fixture(L"fixture_sibling_3_0_0_0.exe"), "3.0.0.0", true},      // product version 10.2.0.15
      {Fixture(L"fixture_sibling_65535_0_65535_1.exe"), "65535.0.65535.1", true},
      {Fixture(L"fixture_sibling_unversioned.exe"), "No disponible", false},
      {folder / L"texto.exe", "No disponible", false},
      {folder / L"vacio.exe", "No disponible", false},
      {folder / L"carpeta.exe", "No disponible", false},
      {folder / L"ausente.exe", "No disponible", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadFileVersion(c.path), c.expected) << NarrowLow8(c.path);
    EXPECT_EQ(ReadFixedFileVersion(c.path).has_value(), c.readHere) << NarrowLow8(c.path);
  }
}

TEST(ComposeCheckinReportTest, AppendsOnlyWhileTheExecutableIsAFile) {
  TempFolder folder;
  const Product& product = kProductTable[1];
  std::string buffer = "previo";
  EXPECT_FALSE(ComposeCheckinReport(folder.path(), product, buffer));
  ASSERT_TRUE(::CreateDirectoryW(ProductPath(folder.path(), product).c_str(), nullptr));
  EXPECT_FALSE(ComposeCheckinReport(folder.path(), product, buffer));
  EXPECT_EQ(buffer, "previo");

  ::RemoveDirectoryW(ProductPath(folder.path(), product).c_str());
  ASSERT_TRUE(CopyInto(Fixture(L"fixture_sibling_10_2_0_15.exe"), ProductPath(folder.path(), product)));
  EXPECT_TRUE(ComposeCheckinReport(folder.path(), product, buffer));
  EXPECT_EQ(buffer, "previo" + FormatCheckinReport("ContaOrva", "10.2.0.15"));
}

}  // namespace
}  // namespace brivon
