// Real NTFS volumes in files for the copy tests: made with mkntfs, mounted with ntfs-3g, and
// the NTFS blobs (reparse data, security descriptors) that ntfs-3g takes as attributes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Mounts need root and /dev/fuse. Without them a test is skipped, unless
// HARVESTA_REQUIRE_MOUNTS is set: then it fails, so that CI cannot pass without these tests.
bool MountsPossible();
#define REQUIRE_MOUNTS()                                                              \
  do {                                                                                \
    if (!MountsPossible()) {                                                          \
      if (getenv("HARVESTA_REQUIRE_MOUNTS")) FAIL() << "needs root and /dev/fuse";    \
      GTEST_SKIP() << "needs root and /dev/fuse";                                     \
    }                                                                                 \
  } while (false)

// The program's exit status (-1 when it could not be run); its output is not shown.
int RunProgram(const std::vector<std::string>& arguments);

void MakeNtfsVolume(const std::string& image, int sizeMiB);

// An ntfs-3g mount for the object's lifetime; the unmount returns once ntfs-3g has ended.
class NtfsMount {
 public:
  NtfsMount(std::string image, std::string mountPoint, const std::string& options);
  ~NtfsMount();
  NtfsMount(const NtfsMount&) = delete;
  NtfsMount& operator=(const NtfsMount&) = delete;
  bool Mounted() const { return mounted_; }
  const std::string& Root() const { return mountPoint_; }
  void Unmount();

 private:
  std::string mountPoint_;
  int daemon_ = -1;
  bool mounted_ = false;
};

// IO_REPARSE_TAG_MOUNT_POINT with the target "\??\<target>".
std::vector<uint8_t> JunctionData(const std::string& target);
// IO_REPARSE_TAG_SYMLINK, absolute ("\??\<target>") or relative.
std::vector<uint8_t> SymbolicLinkData(const std::string& target, bool relative);
// A self-relative descriptor: owner Administrators, group SYSTEM, a DACL with allow and deny
// entries for a domain user, a SACL auditing Everyone; protected DACL when asked.
std::vector<uint8_t> SecurityDescriptor(bool protectedDacl);

// Makes an NTFS file's record unreadable in the volume image (its update sequence no longer
// matches), as a damaged block of a backup does; inode as ntfs-3g shows it.
void DamageFileRecord(const std::string& image, uint64_t inode);
