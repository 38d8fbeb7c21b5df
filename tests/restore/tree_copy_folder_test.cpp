// The copy between other file systems: a tmpfs tree onto an ext4 folder keeps data, times,
// permission bits, holes, hard links and user attributes where ext4 takes them; links whose
// target lies in the tree come back as relative links. And a copy cancelled within a file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "image_fixtures.h"
#include "link_target_posix.h"
#include "ntfs_test_volume.h"
#include "recording_copy_observer.h"
#include "reparse_points_posix.h"
#include "tree_copy_posix.h"

namespace fs = std::filesystem;

namespace {

// A folder in tmpfs (the temporary folder is on ext4 here).
class MemoryFolder {
 public:
  MemoryFolder() {
    char pattern[] = "/dev/shm/harvesta-copy-XXXXXX";
    if (mkdtemp(pattern)) path_ = pattern;
  }
  ~MemoryFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

std::vector<uint8_t> Pattern(size_t length) {
  std::vector<uint8_t> bytes(length);
  for (size_t at = 0; at < length; ++at) bytes[at] = uint8_t(at * 7 + at / 4096 + 1);
  return bytes;
}

void SetTimes(const std::string& path, time_t access, time_t modification, long nanoseconds) {
  const timespec times[2] = {{access, nanoseconds}, {modification, nanoseconds + 1}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

struct stat Status(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
  return status;
}

bool Listed(const std::vector<std::string>& paths, const std::string& path) {
  return std::find(paths.begin(), paths.end(), path) != paths.end();
}

class FolderCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(memory_.Path().empty());
    source_ = memory_.Path();
    destination_ = fs::canonical(folder_.Path()).string();
  }

  MemoryFolder memory_;
  TempFolder folder_;
  std::string source_, destination_;
};

TEST_F(FolderCopyTest, KeepsDataTimesModesHolesLinksAndAttributes) {
  const std::string s = source_;
  fs::create_directories(s + "/docs/deeper");
  WriteWholeFile(s + "/docs/deeper/report.txt", Pattern(5000));
  WriteWholeFile(s + "/tool.sh", Pattern(300));
  ASSERT_EQ(chmod((s + "/tool.sh").c_str(), 0751), 0);
  ASSERT_EQ(chmod((s + "/docs/deeper").c_str(), 0750), 0);
  WriteWholeFile(s + "/big.bin", Pattern(3 * 1048576 + 17));
  WriteWholeFile(s + "/one.txt", Pattern(40));
  ASSERT_EQ(link((s + "/one.txt").c_str(), (s + "/docs/two.txt").c_str()), 0);
  {
    std::fstream sparse(s + "/sparse.bin", std::ios::out | std::ios::binary);
    sparse.seekp(8 << 20);
    sparse << "middle";
  }
  fs::resize_file(s + "/sparse.bin", 16 << 20);
  const std::string note = "a note";
  ASSERT_EQ(lsetxattr((s + "/one.txt").c_str(), "user.note", note.data(), note.size(), 0), 0);
  // More than the one block ext4 keeps for a file's attributes.
  const std::vector<uint8_t> large(6000, 'x');
  ASSERT_EQ(lsetxattr((s + "/big.bin").c_str(), "user.large", large.data(), large.size(), 0), 0);
  ASSERT_EQ(symlink((s + "/docs/deeper").c_str(), (s + "/docs/inside").c_str()), 0);
  ASSERT_EQ(symlink("../tool.sh", (s + "/docs/relative").c_str()), 0);
  ASSERT_EQ(symlink("/etc/hostname", (s + "/outside").c_str()), 0);
  ASSERT_EQ(symlink("../../..", (s + "/docs/above").c_str()), 0);
  WriteWholeFile(s + "/docs/pagefile.sys", Pattern(10));
  for (const char* path : {"docs/deeper/report.txt", "tool.sh", "big.bin", "one.txt", "sparse.bin", "docs/deeper", "docs", ""})
    SetTimes(s + "/" + path, 1000000000, 1200000000, 123456789);

  RecordingCopyObserver observer;
  const TreeCopyOptions options;
  const TreeCopyResult result = CopyTree(source_, destination_, options, observer);
  EXPECT_EQ(RecreateReparsePoints(source_, destination_, options, observer), 1);
  EXPECT_FALSE(result.Cancelled);
  EXPECT_EQ(result.Files, 6u);
  EXPECT_EQ(result.Bytes, 5000u + 300 + 3 * 1048576 + 17 + 40 + (16 << 20));

  const std::string d = destination_;
  for (const char* path : {"docs/deeper/report.txt", "tool.sh", "big.bin", "sparse.bin", "docs/deeper", "docs", ""}) {
    const struct stat from = Status(s + "/" + path), to = Status(d + "/" + path);
    EXPECT_EQ(from.st_mode, to.st_mode) << path;
    EXPECT_EQ(from.st_mtim.tv_sec, to.st_mtim.tv_sec) << path;
    EXPECT_EQ(from.st_mtim.tv_nsec, to.st_mtim.tv_nsec) << path;
    // As the source had it before the copy read it (a folder's is the one it had when the
    // reparse step put its times back: a read-only source keeps it).
    if (S_ISREG(to.st_mode)) {
      EXPECT_EQ(to.st_atim.tv_sec, 1000000000) << path;
    }
  }
  for (const char* path : {"docs/deeper/report.txt", "tool.sh", "big.bin", "one.txt", "docs/two.txt", "sparse.bin"})
    EXPECT_EQ(ReadWholeFile(s + "/" + path), ReadWholeFile(d + "/" + path)) << path;
  EXPECT_EQ(Status(d + "/one.txt").st_ino, Status(d + "/docs/two.txt").st_ino);
  EXPECT_LE(Status(d + "/sparse.bin").st_blocks * 512, 64 * 1024) << "the holes were written out";
  char value[64] = {};
  EXPECT_EQ(lgetxattr((d + "/one.txt").c_str(), "user.note", value, sizeof value), ssize_t(note.size()));
  EXPECT_EQ(value, note);
  EXPECT_EQ(fs::read_symlink(d + "/docs/inside"), "deeper");
  EXPECT_EQ(fs::read_symlink(d + "/docs/relative"), "../tool.sh");
  EXPECT_FALSE(fs::exists(fs::symlink_status(d + "/outside")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(d + "/docs/above")));
  EXPECT_FALSE(fs::exists(d + "/docs/pagefile.sys"));
  // Refusals are named, the rest of the copy is whole.
  EXPECT_EQ(observer.problems["big.bin"].size(), 1u);
  EXPECT_EQ(observer.problems["outside"], std::vector<std::string>{"link to /etc/hostname, outside the volume: not copied"});
  EXPECT_EQ(observer.problems["docs/above"].size(), 1u);
  EXPECT_EQ(observer.problems.size(), 3u) << ::testing::PrintToString(observer.problems);
  ASSERT_FALSE(observer.reported.empty());
  EXPECT_EQ(observer.reported.back().TotalFiles, 6u);
  EXPECT_EQ(observer.reported.back().Bytes, result.Bytes);
  EXPECT_EQ(observer.reported.back().TotalBytes, result.Bytes);
}

TEST_F(FolderCopyTest, CancelledWithinAFileLeavesNoPartOfIt) {
  fs::create_directories(source_ + "/first");
  WriteWholeFile(source_ + "/first/small.txt", Pattern(100));
  WriteWholeFile(source_ + "/large.bin", Pattern(24 << 20));
  RecordingCopyObserver observer;
  const std::string partial = destination_ + "/large.bin";
  // Stops as soon as part of the large file has reached the destination.
  observer.cancelWhen = [&] {
    struct stat status {};
    return stat(partial.c_str(), &status) == 0 && status.st_size >= (2 << 20);
  };
  const TreeCopyResult result = CopyTree(source_, destination_, {}, observer);
  EXPECT_TRUE(result.Cancelled);
  EXPECT_FALSE(fs::exists(partial));
  EXPECT_FALSE(Listed(observer.copied, "large.bin"));
  EXPECT_LT(result.Bytes, uint64_t(24) << 20);
  for (const std::string& copied : observer.copied)
    if (fs::is_regular_file(source_ + "/" + copied)) {
      EXPECT_EQ(ReadWholeFile(source_ + "/" + copied), ReadWholeFile(destination_ + "/" + copied)) << copied;
    }
}

// A file whose data cannot be read (EIO, as from a damaged block of a mounted image): the
// process's own memory, bound over a file of the tree, read from address 0.
TEST_F(FolderCopyTest, UnreadableFileIsNamedAndTheCopyGoesOn) {
  REQUIRE_MOUNTS();
  for (const char* name : {"before.txt", "damaged.bin", "after.txt"}) WriteWholeFile(source_ + "/" + name, Pattern(5000));
  const std::string damaged = source_ + "/damaged.bin";
  ASSERT_EQ(RunProgram({"mount", "--bind", "/proc/" + std::to_string(getpid()) + "/mem", damaged}), 0);
  const struct Unbind {
    std::string path;
    ~Unbind() { RunProgram({"umount", path}); }
  } unbind{damaged};
  RecordingCopyObserver observer;
  const TreeCopyResult result = CopyTree(source_, destination_, {}, observer);
  EXPECT_EQ(observer.problems, (std::map<std::string, std::vector<std::string>>{
                                   {"damaged.bin", {"reading: Input/output error"}}}));
  EXPECT_EQ(result.Problems, 1u);
  EXPECT_FALSE(fs::exists(destination_ + "/damaged.bin"));
  EXPECT_FALSE(Listed(observer.copied, "damaged.bin"));
  for (const char* name : {"before.txt", "after.txt"}) EXPECT_EQ(ReadWholeFile(destination_ + "/" + name), Pattern(5000));
}

TEST(LinkTargetTest, PlacesInsideTheVolume) {
  struct Case {
    const char* Target;
    const char* Link;
    std::optional<std::string> Inside;
  };
  for (const Case& c : std::vector<Case>{
           {"/mnt/vol/Users", "Documents and Settings", "Users"},
           {"/mnt/vol//Data/./x", "a/b", "Data/x"},
           {"/mnt/vol", "a", ""},
           {"/mnt/volume/x", "a", std::nullopt},
           {"/mnt/vol/.NTFS-3G/C:/Users", "a", std::nullopt},
           {"/etc/passwd", "a", std::nullopt},
           {"../x", "a/b", "x"},
           {"../../x", "a/b", std::nullopt},
           {"c/../../..", "a/b", std::nullopt},
           {"", "a", std::nullopt}}) {
    EXPECT_EQ(TargetInsideVolume(c.Target, c.Link, "/mnt/vol"), c.Inside) << c.Target << " from " << c.Link;
  }
  EXPECT_EQ(RelativeLinkText("a/b/link", "a/c/x"), "../c/x");
  EXPECT_EQ(RelativeLinkText("link", "Users"), "Users");
  EXPECT_EQ(RelativeLinkText("a/link", ""), "..");
  EXPECT_EQ(RelativeLinkText("a/link", "a"), ".");
}

}  // namespace
