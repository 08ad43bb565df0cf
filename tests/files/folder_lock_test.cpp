#include "files/folder_lock.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace brivon {
namespace {

using testing::Exists;

// Another spelling of the folder opens the same file, as another machine would: it is refused.
// The same spelling within this process joins the hold (the update worker, the repair).
TEST(FolderLockTest, OneHolderPerFolderWhateverPathReachesIt) {
  testing::TempFolder root(L"brivon-lock");
  const std::wstring folder = root / L"Carpeta del programa de gestion";
  const std::wstring other = root / L"Otra";
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW(other.c_str(), nullptr));
  wchar_t shortName[MAX_PATH] = {};
  ASSERT_GT(::GetShortPathNameW(folder.c_str(), shortName, MAX_PATH), 0u);
  ASSERT_NE(std::wstring(shortName), folder);  // the system gave it an 8.3 name
  {
    FolderLock first(folder);
    ASSERT_TRUE(first.held());
    EXPECT_TRUE(Exists(FolderLockPath(folder)));
    struct Row {
      const char* name;
      std::wstring path;
      FolderLockState state;
    } rows[] = {
        {"the same path joins", folder, FolderLockState::Held},
        {"its 8.3 name", shortName, FolderLockState::TakenElsewhere},
        {"a trailing separator", folder + L"\\.", FolderLockState::TakenElsewhere},
        {"another folder", other, FolderLockState::Held},
        {"a folder that is not there", root / L"falta", FolderLockState::Unavailable},
    };
    for (const Row& row : rows) {
      FolderLock second(row.path);
      EXPECT_EQ(second.state(), row.state) << row.name;
    }
    EXPECT_TRUE(first.held());  // a joiner's end does not end the hold
    // The file is opened by no one else meanwhile, as from another machine.
    HANDLE raw = ::CreateFileW(FolderLockPath(folder).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(raw, INVALID_HANDLE_VALUE);
    if (raw != INVALID_HANDLE_VALUE) ::CloseHandle(raw);
  }
  EXPECT_FALSE(Exists(FolderLockPath(folder)));  // deleted with the last holder
  FolderLock again(shortName);
  EXPECT_TRUE(again.held());
}

}  // namespace
}  // namespace brivon
