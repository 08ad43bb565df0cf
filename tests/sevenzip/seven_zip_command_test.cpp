#include <windows.h>

#include <gtest/gtest.h>

#include "sevenzip/seven_zip_command.h"

namespace brivon {
namespace {

// Every path reaches 7-Zip whole, inside its quotes; "-o" takes its folder joined to it.
TEST(SevenZipCommandTest, WorkedExamplesGiveTheseExactLines) {
  const std::wstring tool = L"C:\\Program Files\\Mi App\\7za.exe";
  struct Case {
    std::wstring line, expected;
  } cases[] = {
      {ExtractCommandLine(tool, L"C:\\Program Files\\Mi App\\Paquete.zip", L"C:\\Program Files\\Mi App\\Paquete"),
       L"\"C:\\Program Files\\Mi App\\7za.exe\" x \"C:\\Program Files\\Mi App\\Paquete.zip\" "
       L"-o\"C:\\Program Files\\Mi App\\Paquete\" -y"},
      {ListCommandLine(tool, L"C:\\A\\x.zip"), L"\"C:\\Program Files\\Mi App\\7za.exe\" l -slt -sccUTF-8 \"C:\\A\\x.zip\""},
      {FolderArchiveCommandLine(tool, L"C:\\A\\actualizaciones\\251206_093015",
                                L"C:\\A\\actualizaciones\\251206_093015.nuevo.zip", true),
       L"\"C:\\Program Files\\Mi App\\7za.exe\" a -tzip -mx1 -bso0 -bsp0 -ssw -y "
       L"\"C:\\A\\actualizaciones\\251206_093015.nuevo.zip\" \"C:\\A\\actualizaciones\\251206_093015\\*\""},
      {FolderArchiveCommandLine(tool, L"C:\\A\\actualizaciones\\251206_093015",
                                L"C:\\A\\actualizaciones\\251206_093015.nuevo.zip", false),
       L"\"C:\\Program Files\\Mi App\\7za.exe\" a -tzip -mx1 -mmt=off -bso0 -bsp0 -ssw -y "
       L"\"C:\\A\\actualizaciones\\251206_093015.nuevo.zip\" \"C:\\A\\actualizaciones\\251206_093015\\*\""},
      {FileArchiveCommandLine(tool, L"C:\\A\\versiones\\251206_093015_brivon.exe",
                              L"C:\\A\\versiones\\251206_093015_brivon.nuevo.zip"),
       L"\"C:\\Program Files\\Mi App\\7za.exe\" a -tzip -mx1 -mmt=off -bso0 -bsp0 -ssw -y "
       L"\"C:\\A\\versiones\\251206_093015_brivon.nuevo.zip\" \"C:\\A\\versiones\\251206_093015_brivon.exe\""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.line, c.expected);
}

// Threads only when the files beside the largest hold enough to be compressed meanwhile.
TEST(SevenZipCommandTest, ArchiveThreadsOnlyForEnoughBesideTheLargest) {
  constexpr uint64_t MB = 1024 * 1024;
  struct Case {
    const char* name;
    std::vector<uint64_t> sizes;
    bool threads;
  } cases[] = {
      {"no file", {}, false},
      {"one file: nothing to share out", {800 * MB}, false},
      {"a program and a small database", {117 * 1024, 4 * MB}, false},
      {"4 MB beside the database, in two files", {3 * MB, 200 * MB, MB}, true},
      {"two alike: either is the largest", {4 * MB, 4 * MB}, true},
      {"one byte short beside a large database", {4 * MB - 1, 300 * MB}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(ArchiveThreadsPayOff(c.sizes), c.threads) << c.name;
}

}  // namespace
}  // namespace brivon
