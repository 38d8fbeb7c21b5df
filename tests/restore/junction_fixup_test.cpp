// What Wine can show of the junction walk: its drive has no reparse points to copy, so a walk
// over plain folders must leave the destination alone and a missing folder is reported.
#include <windows.h>

#include <gtest/gtest.h>

#include "junction_fixup_win32.h"
#include "wine_files.h"

namespace {

TEST(FixJunctionPoints, PlainFoldersLeaveTheDestinationAlone) {
  TestFolder source("junction-source"), destination("junction-destination");
  CreateDirectoryA((source.Path() + "a").c_str(), nullptr);
  CreateDirectoryA((source.Path() + "a\\b").c_str(), nullptr);
  WriteBytes(source.Path() + "a\\b\\file", {1});
  // The destination drive is the one the test folders lie on; its folder stays empty.
  EXPECT_EQ(FixJunctionPoints(source.Path() + "*", destination.Path()[0]), 1);
  WIN32_FIND_DATAA entry;
  const HANDLE find = FindFirstFileA((destination.Path() + "*").c_str(), &entry);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  int entries = 0;
  do ++entries;
  while (FindNextFileA(find, &entry));
  FindClose(find);
  EXPECT_EQ(entries, 2) << "only . and ..";

  EXPECT_EQ(FixJunctionPoints(source.Path() + "missing\\*", 'E'), 0);
}

TEST(CopySecurity, MissingPathsCopyNothing) {
  TestFolder folder("security");
  const std::string missing = folder.Path() + "missing";
  EXPECT_EQ(CopySecurity(missing, folder.Path()), 0u);
  EXPECT_EQ(CopySecurity(folder.Path(), missing), 0u);
  EXPECT_FALSE(PathExists(missing));
}

}  // namespace
