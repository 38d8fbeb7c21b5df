// The Linux mounted drive in this very process, on real parts: an ext4 volume made by
// mkfs.ext4, its image, FUSE, a loop device and the kernel's ext4. Mounting shows the volume's
// files read-only on the mount point; unmounting, by Unmount or by losing the object, leaves
// no mount, no loop device and no runtime folder behind. Needs root and /dev/fuse.
#include "mounted_drive_posix.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "mount_fixtures.h"
#include "mount_table.h"
#include "runtime_folder.h"

namespace {

namespace fs = std::filesystem;

constexpr char kGreeting[] = "read through FUSE, a loop device and ext4\n";

std::string ReadText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Loop devices whose backing file lies in folder.
std::vector<std::string> LoopDevicesIn(const std::string& folder) {
  std::vector<std::string> devices;
  std::error_code ignored;
  for (const fs::directory_entry& block : fs::directory_iterator("/sys/block", ignored)) {
    const std::string backing = ReadText(block.path().string() + "/loop/backing_file");
    if (backing.starts_with(folder + "/")) devices.push_back(block.path().filename().string());
  }
  return devices;
}

class PosixMountedDriveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0 || access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "needs root and /dev/fuse";
    const fs::path tree = folder_.Path() / "tree";
    fs::create_directories(tree / "notes");
    std::ofstream(tree / "notes" / "greeting.txt") << kGreeting;
    const std::string volume = folder_.File("ext4.vol");
    const std::string command = "mkfs.ext4 -q -F -d '" + tree.string() + "' '" + volume + "' 8M >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    image_ = WriteVolumeImage(folder_, ReadWholeFile(volume), {.Name = "ext4", .Compression = 1, .Cipher = 1});
    mountPoint_ = fs::canonical(folder_.Path()).string() + "/mnt";
    fs::create_directory(mountPoint_);
    runtime_ = RuntimeFolder(mountPoint_);
  }

  std::unique_ptr<PosixMountedDrive> Mounted() {
    auto drive = std::make_unique<PosixMountedDrive>(PosixDriveOptions{.MountPoint = mountPoint_});
    MountFailure failure;
    EXPECT_EQ(drive->Mount(RecordFor(image_), failure), 0) << failure.Text;
    return drive;
  }

  // What a mount leaves: empty when nothing of it is there.
  std::vector<std::string> Left() {
    std::vector<std::string> left;
    if (MountAt(mountPoint_)) left.push_back("a mount on the mount point");
    if (MountAt(runtime_ + "/disk")) left.push_back("the FUSE layer");
    for (const std::string& device : LoopDevicesIn(runtime_)) left.push_back("loop device " + device);
    if (fs::exists(runtime_)) left.push_back("the runtime folder");
    return left;
  }

  TempFolder folder_;
  WrittenImage image_;
  std::string mountPoint_;
  std::string runtime_;
};

TEST_F(PosixMountedDriveTest, MountsInProcessAndReadsAFile) {
  std::unique_ptr<PosixMountedDrive> drive = Mounted();
  EXPECT_EQ(drive->Root(), mountPoint_);
  EXPECT_TRUE(drive->FileSystemMounted());
  EXPECT_EQ(drive->Kind(), FileSystemKind::Ext);
  EXPECT_EQ(ReadText(drive->Root() + "/notes/greeting.txt"), kGreeting);

  struct statvfs status{};
  ASSERT_EQ(statvfs(mountPoint_.c_str(), &status), 0);
  for (unsigned long flag : {ST_RDONLY, ST_NOSUID, ST_NODEV, ST_NOEXEC})
    EXPECT_TRUE(status.f_flag & flag) << flag;

  // A second drive on the same mount point is refused while the first holds it.
  PosixMountedDrive second({.MountPoint = mountPoint_});
  MountFailure failure;
  EXPECT_EQ(second.Mount(RecordFor(image_), failure), -1);
  EXPECT_NE(failure.Text.find("in use by another harvesta mount"), std::string::npos) << failure.Text;
  EXPECT_FALSE(failure.UserTold);
  EXPECT_EQ(ReadText(drive->Root() + "/notes/greeting.txt"), kGreeting);
  EXPECT_EQ(drive->Unmount(), 0);
}

TEST_F(PosixMountedDriveTest, UnmountLeavesNothingAndABusyDriveStays) {
  std::unique_ptr<PosixMountedDrive> drive = Mounted();
  ASSERT_EQ(LoopDevicesIn(runtime_).size(), 1u) << "the ext4 stands on a loop device over the disk file";

  const int open = ::open((mountPoint_ + "/notes/greeting.txt").c_str(), O_RDONLY);
  ASSERT_GE(open, 0);
  EXPECT_EQ(drive->Unmount(), -1) << "a file is open on it";
  EXPECT_EQ(ReadText(mountPoint_ + "/notes/greeting.txt"), kGreeting);
  close(open);

  EXPECT_EQ(drive->Unmount(), 0);
  EXPECT_EQ(Left(), std::vector<std::string>{});
  EXPECT_EQ(drive->Unmount(), 0) << "nothing left to undo";
}

TEST_F(PosixMountedDriveTest, LosingTheDriveUnmountsEvenWhenBusy) {
  std::unique_ptr<PosixMountedDrive> drive = Mounted();
  const int open = ::open((mountPoint_ + "/notes/greeting.txt").c_str(), O_RDONLY);
  ASSERT_GE(open, 0);
  drive.reset();
  EXPECT_EQ(ReadText(mountPoint_ + "/notes/greeting.txt"), "") << "served after its drive went";
  close(open);
  // The lazily unmounted ext4 lets go of its loop device on the last close, which the kernel
  // finishes on its own time.
  for (int i = 0; i < 100 && !Left().empty(); ++i) usleep(50000);
  EXPECT_EQ(Left(), std::vector<std::string>{});
}

// What a plain umount does: the daemon's wait ends, at once when nobody uses the file system,
// and after a lazy unmount only once its last user let go, who reads on until then.
TEST_F(PosixMountedDriveTest, AnUnmountFromOutsideEndsTheWaitOnceNothingHoldsIt) {
  for (const bool lazy : {false, true}) {
    SCOPED_TRACE(lazy ? "lazy" : "plain");
    std::unique_ptr<PosixMountedDrive> drive = Mounted();
    const int open = lazy ? ::open((mountPoint_ + "/notes/greeting.txt").c_str(), O_RDONLY) : -1;
    ASSERT_EQ(umount2(mountPoint_.c_str(), lazy ? MNT_DETACH : 0), 0);
    std::atomic<bool> ended = false;
    std::thread waiter([&] {
      drive->WaitForEnd();
      ended = true;
    });
    if (lazy) {
      usleep(600000);  // more than one look of the drive at its disk file
      EXPECT_FALSE(ended) << "ended while the file system was still in use";
      char bytes[sizeof(kGreeting)] = {};
      EXPECT_EQ(pread(open, bytes, sizeof(bytes) - 1, 0), ssize_t(sizeof(kGreeting) - 1));
      EXPECT_STREQ(bytes, kGreeting);
      close(open);
    }
    waiter.join();
    EXPECT_EQ(drive->Unmount(), 0);
    for (int i = 0; i < 100 && !Left().empty(); ++i) usleep(50000);
    EXPECT_EQ(Left(), std::vector<std::string>{});
  }
}

TEST_F(PosixMountedDriveTest, FailedMountLeavesNothing) {
  PosixMountedDrive drive({.MountPoint = mountPoint_});
  MountFailure failure;
  std::vector<uint8_t> record = RecordFor(image_, 0, [](MountValues& values) { values.Key = {}; });
  EXPECT_EQ(drive.Mount(std::move(record), failure), -1);
  EXPECT_NE(failure.Text, "");
  EXPECT_EQ(Left(), std::vector<std::string>{});
}

}  // namespace
