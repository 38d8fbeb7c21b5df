// NTFS to NTFS through ntfs-3g, as a Linux restore copies: a source volume holding every kind
// of thing a Windows volume keeps, copied onto a fresh volume, then both mounted again and
// compared field by field.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "image_fixtures.h"
#include "ntfs_metadata_posix.h"
#include "ntfs_test_volume.h"
#include "recording_copy_observer.h"
#include "reparse_points_posix.h"
#include "tree_copy_posix.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> RandomBytes(size_t length, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(length);
  for (uint8_t& byte : bytes) byte = uint8_t(random());
  return bytes;
}

std::vector<uint8_t> BigEndian(uint64_t value, int bytes) {
  std::vector<uint8_t> out;
  for (int at = bytes - 1; at >= 0; --at) out.push_back(uint8_t(value >> (8 * at)));
  return out;
}

void Set(const std::string& path, const std::string& name, const std::vector<uint8_t>& value) {
  EXPECT_EQ(WriteAttribute(path, name, value), 0) << name << " on " << path;
}

std::optional<std::vector<uint8_t>> Get(const std::string& path, const std::string& name) {
  return ReadAttribute(path, name).Bytes;
}

std::set<std::string> Streams(const std::string& path) {
  std::set<std::string> names;
  for (const std::string& name : ListAttributes(path).Names)
    if (name.starts_with("user.")) names.insert(name);
  return names;
}

// Everything below a root, not following links; damaged entries are listed too.
std::set<std::string> Paths(const std::string& root) {
  std::set<std::string> paths;
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; it != end; it.increment(error))
    paths.insert(it->path().string().substr(root.size() + 1));
  return paths;
}

// The names the copy leaves out, and the file whose record is damaged.
const std::set<std::string> kLeftOut = {"System Volume Information", "System Volume Information/tracking.log",
                                        "pagefile.sys", "hiberfil.sys", "Docs/pagefile.sys", "damaged.txt"};

class NtfsTreeCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_MOUNTS();
    root_ = fs::canonical(folder_.Path()).string();
    source_ = root_ + "/source.ntfs";
    destination_ = root_ + "/destination.ntfs";
    sourceAt_ = root_ + "/src";
    destinationAt_ = root_ + "/dst";
    fs::create_directories(sourceAt_);
    fs::create_directories(destinationAt_);
    MakeNtfsVolume(source_, 96);
    MakeNtfsVolume(destination_, 96);
    uint64_t damaged = 0;
    {
      NtfsMount fill(source_, sourceAt_, "rw");
      ASSERT_TRUE(fill.Mounted());
      Fill(sourceAt_);
      struct stat status {};
      ASSERT_EQ(lstat((sourceAt_ + "/damaged.txt").c_str(), &status), 0);
      damaged = status.st_ino;
    }
    {
      // A stream over 64 KiB: only the Windows stream interface writes it.
      NtfsMount streams(source_, sourceAt_, "rw,streams_interface=windows");
      ASSERT_TRUE(streams.Mounted());
      WriteWholeFile(sourceAt_ + "/Readme.txt:huge", RandomBytes(100000, 9));
    }
    DamageFileRecord(source_, damaged);
  }

  void Fill(const std::string& m) {
    for (const char* folder : {"Docs/a/b/c", "Users/Public", "Data", "Hidden folder", "Secret", "Locked",
                               "System Volume Information", "Docs/System Volume Information"})
      fs::create_directories(m + "/" + folder);
    WriteWholeFile(m + "/Readme.txt", Text("hello\n"));
    Set(m + "/Readme.txt", "user.Zone.Identifier", Text("[ZoneTransfer]\r\nZoneId=3\r\n"));
    WriteWholeFile(m + "/Docs/a/b/c/deep.txt", Text("deep down\n"));
    WriteWholeFile(m + "/big.bin", RandomBytes(3 * 1048576 + 12345, 1));
    Set(m + "/big.bin", "user.bigstream", RandomBytes(60000, 2));
    Set(m + "/Docs", "user.FolderNote", Text("a stream on a folder"));
    WriteWholeFile(m + "/Users/Public/desktop.ini", Text("[.ShellClassInfo]\r\n"));
    WriteWholeFile(m + "/Data/kept.txt", Text("data\n"));
    for (const auto& [name, attributes] : std::vector<std::pair<std::string, uint32_t>>{
             {"hidden.txt", 0x22}, {"system.txt", 0x24}, {"readonly.txt", 0x21}}) {
      WriteWholeFile(m + "/" + name, Text(name));
      Set(m + "/" + name, kNtfsAttribAttribute, BigEndian(attributes, 4));
    }
    Set(m + "/Hidden folder", kNtfsAttribAttribute, BigEndian(0x12, 4));
    // Compressing what is written into it.
    fs::create_directory(m + "/Compressed");
    Set(m + "/Compressed", kNtfsAttribAttribute, BigEndian(0x810, 4));
    WriteWholeFile(m + "/Compressed/text.txt", std::vector<uint8_t>(200000, 'c'));
    // Read-only, holding a file and a junction: its attributes must block neither.
    WriteWholeFile(m + "/Locked/inside.txt", Text("inside\n"));
    WriteWholeFile(m + "/Secret/secret.txt", Text("secret\n"));
    Set(m + "/Secret", kNtfsAclAttribute, SecurityDescriptor(true));
    Set(m + "/Secret/secret.txt", kNtfsAclAttribute, SecurityDescriptor(false));
    Set(m + "/Readme.txt", "system.ntfs_crtime_be", BigEndian(0x01d0000000000000, 8));
    Set(m + "/Docs/a", "system.ntfs_crtime_be", BigEndian(0x01c0000000000000, 8));
    WriteWholeFile(m + "/Docs/hard.txt", Text("one file, two names\n"));
    ASSERT_EQ(link((m + "/Docs/hard.txt").c_str(), (m + "/hard2.txt").c_str()), 0);
    {
      std::fstream sparse(m + "/sparse.bin", std::ios::out | std::ios::binary);
      sparse << "head";
      sparse.seekp(20 << 20);
      sparse << "tail";
    }
    fs::resize_file(m + "/sparse.bin", 32 << 20);
    // A header of zeros: a hibernation file that says it holds nothing, or ntfs-3g mounts the
    // volume read-only from then on.
    WriteWholeFile(m + "/hiberfil.sys", std::vector<uint8_t>(4096));
    for (const char* name : {"pagefile.sys", "Docs/pagefile.sys",
                             "System Volume Information/tracking.log", "Docs/System Volume Information/kept.txt"})
      WriteWholeFile(m + "/" + name, Text(name));
    ASSERT_EQ(symlink("Readme.txt", (m + "/linux link").c_str()), 0);
    WriteWholeFile(m + "/damaged.txt", Text("lost\n"));
    // Reparse points: everything else first, the reparse data last.
    struct Point {
      std::string Name;
      bool Folder;
      std::vector<uint8_t> Data;
    };
    for (const Point& point : std::vector<Point>{
             {"Documents and Settings", true, JunctionData("C:\\Users")},
             {"DataLink", true, JunctionData("X:\\Data")},
             {"Locked/Link", true, JunctionData("C:\\Data")},
             {"Elsewhere", true, JunctionData("D:\\Elsewhere\\Target")},
             {"readme link.txt", false, SymbolicLinkData("C:\\Readme.txt", false)},
             {"Docs/up.txt", false, SymbolicLinkData("..\\Readme.txt", true)},
             {"Docs/datadir", true, SymbolicLinkData("..\\Data", true)}}) {
      const std::string path = m + "/" + point.Name;
      if (point.Folder) fs::create_directory(path);
      else WriteWholeFile(path, {});
      Set(path, kNtfsAclAttribute, SecurityDescriptor(point.Name == "Documents and Settings"));
      Set(path, kNtfsAttribAttribute, BigEndian(0x06, 4));
      Set(path, kNtfsReparseAttribute, point.Data);
    }
    Set(m + "/Locked", kNtfsAttribAttribute, BigEndian(0x11, 4));
  }

  void ExpectSameEntry(const std::string& relative) {
    SCOPED_TRACE(relative);
    const std::string from = sourceAt_ + "/" + relative, to = destinationAt_ + "/" + relative;
    struct stat source {}, copy {};
    ASSERT_EQ(lstat(from.c_str(), &source), 0);
    ASSERT_EQ(lstat(to.c_str(), &copy), 0) << "missing";
    EXPECT_EQ(source.st_mode & S_IFMT, copy.st_mode & S_IFMT);
    if (S_ISREG(source.st_mode)) {
      EXPECT_EQ(ReadWholeFile(from), ReadWholeFile(to));
    }
    std::set<std::string> streams = Streams(from);
    if (relative == "Readme.txt") streams.erase("user.huge");  // reported, see below
    EXPECT_EQ(streams, Streams(to));
    for (const std::string& stream : streams) EXPECT_EQ(Get(from, stream), Get(to, stream)) << stream;
    for (const char* field : {kNtfsAttribAttribute, kNtfsAclAttribute, kNtfsReparseAttribute})
      EXPECT_EQ(Get(from, field), Get(to, field)) << field;
    const std::optional<std::vector<uint8_t>> times = Get(from, kNtfsTimesAttribute), copied = Get(to, kNtfsTimesAttribute);
    ASSERT_TRUE(times && copied && times->size() >= kNtfsTimesWritten && copied->size() >= kNtfsTimesWritten);
    EXPECT_TRUE(std::equal(times->begin(), times->begin() + kNtfsTimesWritten, copied->begin()))
        << "creation, write or access time";
    if (S_ISLNK(source.st_mode) && !Get(from, kNtfsReparseAttribute)) {
      EXPECT_EQ(fs::read_symlink(from), fs::read_symlink(to));
    }
  }

  TempFolder folder_;
  std::string root_, source_, destination_, sourceAt_, destinationAt_;
};

TEST_F(NtfsTreeCopyTest, KeepsEveryFieldOfEveryPath) {
  const TreeCopyOptions options{.NtfsMetadata = true};
  RecordingCopyObserver observer;
  {
    NtfsMount source(source_, sourceAt_, "ro");
    NtfsMount destination(destination_, destinationAt_, "rw");
    ASSERT_TRUE(source.Mounted() && destination.Mounted());
    const TreeCopyResult result = CopyTree(sourceAt_, destinationAt_, options, observer);
    EXPECT_FALSE(result.Cancelled);
    EXPECT_EQ(RecreateReparsePoints(sourceAt_, destinationAt_, options, observer), 1);
  }
  // The damaged file is named and the copy went on; the stream too large for the attribute
  // interface is named with it.
  EXPECT_EQ(observer.problems.size(), 2u) << ::testing::PrintToString(observer.problems);
  ASSERT_EQ(observer.problems["damaged.txt"].size(), 1u);
  EXPECT_EQ(observer.problems["damaged.txt"][0], "reading: Input/output error");
  EXPECT_EQ(observer.problems["Readme.txt"],
            std::vector<std::string>{"alternate data stream huge: Argument list too long"});
  for (const char* reparse : {"Documents and Settings", "DataLink", "Elsewhere", "readme link.txt", "Docs/up.txt"})
    EXPECT_NE(std::find(observer.copied.begin(), observer.copied.end(), reparse), observer.copied.end()) << reparse;

  NtfsMount source(source_, sourceAt_, "ro");
  NtfsMount destination(destination_, destinationAt_, "ro");
  ASSERT_TRUE(source.Mounted() && destination.Mounted());
  std::set<std::string> expected;
  for (const std::string& path : Paths(sourceAt_))
    if (!kLeftOut.count(path)) expected.insert(path);
  EXPECT_EQ(Paths(destinationAt_), expected);
  ExpectSameEntry(".");
  for (const std::string& path : expected) ExpectSameEntry(path);

  struct stat first {}, second {}, sparse {};
  ASSERT_EQ(lstat((destinationAt_ + "/Docs/hard.txt").c_str(), &first), 0);
  ASSERT_EQ(lstat((destinationAt_ + "/hard2.txt").c_str(), &second), 0);
  EXPECT_EQ(first.st_ino, second.st_ino);
  EXPECT_EQ(first.st_nlink, 2u);
  ASSERT_EQ(lstat((destinationAt_ + "/sparse.bin").c_str(), &sparse), 0);
  EXPECT_LE(sparse.st_blocks * 512, 1 << 20) << "the holes were written out";
}

}  // namespace
