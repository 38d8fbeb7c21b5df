#include <windows.h>

#include <gtest/gtest.h>

#include "path_names.h"
#include "privileges_win32.h"
#include "program_paths_win32.h"
#include "wine_files.h"
#include "wow64_win32.h"

namespace {

TEST(ModuleFilePath, NamesAFileNextToTheProgramOrTheProgramItself) {
  EXPECT_EQ(ModuleFilePath("Harvesta.ini"), PathFolder(ThisProgramPath()) + "Harvesta.ini");
  EXPECT_EQ(ModuleFilePath("QUILLON.exe"), ThisProgramPath());
}

TEST(CreateDirectoryPath, CreatesEveryMissingParentAndLeavesWhatExists) {
  TestFolder folder("create-path");
  CreateDirectoryPath(folder.Path() + "a\\b\\c\\");
  EXPECT_TRUE(PathExists(folder.Path() + "a\\b\\c"));
  WriteBytes(folder.Path() + "a\\b\\keep.txt", {1});
  CreateDirectoryPath(folder.Path() + "a\\b");
  EXPECT_TRUE(PathExists(folder.Path() + "a\\b\\keep.txt"));
  // A name taken by a file stays a file, and nothing below it appears.
  CreateDirectoryPath(folder.Path() + "a\\b\\keep.txt\\d");
  EXPECT_FALSE(PathExists(folder.Path() + "a\\b\\keep.txt\\d"));
}

TEST(Privileges, UnknownOrUnheldPrivilegesFailAndTheBackupSetIsTried) {
  HANDLE token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
  EXPECT_EQ(SetPrivilege(token, "SeNoSuchPrivilege", true), 0);
  CloseHandle(token);
  EXPECT_EQ(EnableBackupPrivileges(), 1);
}

TEST(Wow64, ASixtyFourBitProcessIsNotRedirected) {
  EXPECT_FALSE(IsWow64());
  // Without WOW64 the switches change nothing: the system folder stays where it is.
  char before[MAX_PATH], after[MAX_PATH];
  GetSystemDirectoryA(before, sizeof before);
  DisableFsRedirection();
  RevertFsRedirection();
  GetSystemDirectoryA(after, sizeof after);
  EXPECT_STREQ(before, after);
}

}  // namespace
