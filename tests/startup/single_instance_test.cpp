#include "startup/single_instance.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace brivon {
namespace {

TEST(SingleInstanceTest, OneNamePerFolderWhateverItsSpelling) {
  const std::wstring a = SingleInstanceMutexName(L"C:\\Programas\\Orvane");
  EXPECT_EQ(a.rfind(L"Global\\Brivon-", 0), 0u);  // every signed-in user's instance meets it
  EXPECT_EQ(a.find(L'\\', 7), std::wstring::npos);  // no backslash after the namespace
  EXPECT_EQ(SingleInstanceMutexName(L"C:\\Programas\\Orvane", L"Local"), L"Local" + a.substr(6));
  EXPECT_EQ(SingleInstanceMutexName(L"c:\\programas\\ORVANE"), a);
  EXPECT_EQ(SingleInstanceMutexName(L"C:\\Programas\\Orvane\\"), a);
  EXPECT_NE(SingleInstanceMutexName(L"C:\\Programas\\Orvane2"), a);
  EXPECT_NE(SingleInstanceMutexName(L"D:\\Programas\\Orvane"), a);
}

TEST(SingleInstanceTest, ASecondGuardForTheSameFolderIsRefused) {
  SingleInstanceGuard first(L"C:\\brivon-test-instancia");
  EXPECT_TRUE(first.held());
  UniqueHandle global(::OpenMutexW(SYNCHRONIZE, FALSE, SingleInstanceMutexName(L"C:\\brivon-test-instancia").c_str()));
  EXPECT_TRUE(global);  // held in the global namespace
  // Another process would see the same; within one process a second create finds it too.
  SingleInstanceGuard second(L"c:\\BRIVON-TEST-INSTANCIA");
  EXPECT_FALSE(second.held());
  SingleInstanceGuard other(L"C:\\brivon-test-otra");
  EXPECT_TRUE(other.held());
}

TEST(SingleInstanceTest, AFolderStartedByItsShortNameIsTheSameFolder) {
  testing::TempFolder root;
  const std::wstring folder = root / L"Carpeta del programa de gestion";
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  wchar_t shortName[MAX_PATH] = {};
  const DWORD length = ::GetShortPathNameW(folder.c_str(), shortName, MAX_PATH);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
  EXPECT_NE(std::wstring(shortName), folder);  // the system gave it an 8.3 name
  SingleInstanceGuard first(folder);
  EXPECT_TRUE(first.held());
  SingleInstanceGuard second(shortName);
  EXPECT_FALSE(second.held());
}

}  // namespace
}  // namespace brivon
