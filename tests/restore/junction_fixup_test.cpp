// What Wine can show of the junction walk. It has no reparse data to read or write, but shows
// a Unix link to a folder as a reparse point: the walk makes its twin folder on the destination
// and does not walk into it. Plain folders leave the destination alone.
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

// The build's walk tree: source\plain\deeper, and source\plain\link, a link to a folder
// outside the source that holds a further link.
std::string WalkTree() { return PathFromEnvironment("HARVESTA_WALK_TREE"); }

TEST(FixJunctionPoints, MakesTheTwinOfALinkAndDoesNotWalkIntoIt) {
  const std::string source = WalkTree() + "\\source\\";
  ASSERT_EQ(source.substr(0, 2), "Z:");
  const DWORD attributes = GetFileAttributesA((source + "plain\\link").c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  // The same path on C:, which lies inside the Wine prefix.
  const std::string destination = "C" + source.substr(1);
  RemoveTree(destination);

  EXPECT_EQ(FixJunctionPoints(source + "*", 'C'), 1);
  const DWORD twin = GetFileAttributesA((destination + "plain\\link").c_str());
  EXPECT_NE(twin, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(twin & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(PathExists(destination + "plain\\link\\inner-link")) << "walked into the link";
  EXPECT_FALSE(PathExists(destination + "plain\\deeper")) << "a plain folder was made on the destination";

  // Down to C:\ again, as far as this test made the folders.
  RemoveTree(destination);
  for (std::string folder = destination.substr(0, destination.size() - 1); folder.size() > 3;
       folder = folder.substr(0, folder.rfind('\\')))
    RemoveDirectoryA(folder.c_str());
}

TEST(CopySecurity, MissingPathsCopyNothing) {
  TestFolder folder("security");
  const std::string missing = folder.Path() + "missing";
  EXPECT_EQ(CopySecurity(missing, folder.Path()), 0u);
  EXPECT_EQ(CopySecurity(folder.Path(), missing), 0u);
  EXPECT_FALSE(PathExists(missing));
}

}  // namespace
