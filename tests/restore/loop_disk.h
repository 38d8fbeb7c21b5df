// A disk file with a partition table written by sfdisk, attached as a loop device with its
// partitions: the Linux restore's real target. Detached, with everything mounted from it, when
// the object goes.
#pragma once
#include <string>

// Skips the test without root and /dev/fuse, fails it when HARVESTA_REQUIRE_MOUNTS is set.
#define SKIP_WITHOUT_MOUNTS()                                    \
  do {                                                           \
    if (const char* why = MissingForMounts()) {                  \
      if (std::getenv("HARVESTA_REQUIRE_MOUNTS")) FAIL() << why; \
      GTEST_SKIP() << why;                                       \
    }                                                            \
  } while (false)
const char* MissingForMounts();

class LoopDisk {
 public:
  // sizeMiB of sparse file at path, the sfdisk script written into it; Attached() tells
  // whether the loop device and its first partition are there.
  LoopDisk(const std::string& path, int sizeMiB, const std::string& sfdiskScript);
  ~LoopDisk();
  LoopDisk(const LoopDisk&) = delete;
  LoopDisk& operator=(const LoopDisk&) = delete;

  bool Attached() const { return !disk_.empty(); }
  const std::string& Disk() const { return disk_; }  // "/dev/loop3"
  std::string Partition() const { return disk_ + "p1"; }

 private:
  std::string disk_;
};

// The first length bytes of a device or file; shorter when it is.
std::string ReadHead(const std::string& path, size_t length, size_t offset = 0);
// A command's exit status, its output dropped.
int Quietly(const std::string& command);
