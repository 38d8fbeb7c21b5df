// The mount table reader takes every line the kernel may write, and odd ones, without throwing:
// escapes are undone only where they are whole, and a line that is not one yields nothing.
#include "mount_table.h"

#include <gtest/gtest.h>

namespace {

struct LineCase {
  const char* Name;
  const char* Line;
  bool Parsed;
  const char* MountPoint;
  const char* Type;
  const char* Source;
};

const LineCase kLines[] = {
    {"ntfs-3g on a disk file", "36 25 0:52 / /mnt/a\\040b rw,nosuid - fuseblk /run/h/disk/1.img rw", true,
     "/mnt/a b", "fuseblk", "/run/h/disk/1.img"},
    {"optional fields before the separator", "40 25 7:3 / /m rw shared:1 master:2 - ext4 /dev/loop3 ro", true,
     "/m", "ext4", "/dev/loop3"},
    {"escape cut short at the end", "1 2 0:1 / /m\\04 rw - tmpfs x rw", true, "/m\\04", "tmpfs", "x"},
    {"not an octal escape", "1 2 0:1 / /m\\9zz rw - tmpfs x rw", true, "/m\\9zz", "tmpfs", "x"},
    {"backslash as the last byte", "1 2 0:1 / /m\\ rw - tmpfs a\\ rw", true, "/m\\", "tmpfs", "a\\"},
    {"no source", "1 2 0:1 / /m rw - tmpfs", true, "/m", "tmpfs", ""},
    {"no separator", "1 2 0:1 / /m rw tmpfs x rw", false, "", "", ""},
    {"too few fields", "1 2 0:1", false, "", "", ""},
    {"empty", "", false, "", "", ""},
    {"separator but no type", "1 2 0:1 / /m rw - ", false, "", "", ""},
};

TEST(MountTable, LinesParseOrYieldNothing) {
  for (const LineCase& c : kLines) {
    SCOPED_TRACE(c.Name);
    std::string point;
    const std::optional<MountEntry> entry = ParseMountLine(c.Line, &point);
    ASSERT_EQ(entry.has_value(), c.Parsed);
    if (!entry) continue;
    EXPECT_EQ(point, c.MountPoint);
    EXPECT_EQ(entry->Type, c.Type);
    EXPECT_EQ(entry->Source, c.Source);
  }
}

}  // namespace
