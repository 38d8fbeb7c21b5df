#include "loop_disk.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "mount_table.h"

namespace {

std::string Output(const std::string& command) {
  std::string text;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return text;
  std::array<char, 256> chunk{};
  while (fgets(chunk.data(), int(chunk.size()), pipe)) text += chunk.data();
  pclose(pipe);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

}  // namespace

const char* MissingForMounts() {
  if (geteuid() != 0) return "needs root";
  if (access("/dev/fuse", R_OK | W_OK) != 0) return "needs /dev/fuse";
  const std::string tools = "sfdisk partx mkntfs mkfs.vfat ntfs-3g";
  if (Quietly("for tool in " + tools + "; do command -v $tool || exit 1; done") != 0)
    return "needs sfdisk, partx, mkntfs, mkfs.vfat and ntfs-3g";
  return nullptr;
}

int Quietly(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

LoopDisk::LoopDisk(const std::string& path, int sizeMiB, const std::string& sfdiskScript) {
  if (Quietly("truncate -s " + std::to_string(sizeMiB) + "M '" + path + "'") != 0) return;
  if (Quietly("printf '" + sfdiskScript + "' | sfdisk -q '" + path + "'") != 0) return;
  disk_ = Output("losetup -f --show -P '" + path + "'");
  // This kernel does not scan the table on attach: partx adds the partitions.
  if (!disk_.empty() &&
      (Quietly("partx -a " + disk_) != 0 || access(Partition().c_str(), F_OK) != 0))
    Quietly("partx -u " + disk_);
  if (!disk_.empty() && access(Partition().c_str(), F_OK) != 0) {
    Quietly("losetup -d " + disk_);
    disk_.clear();
  }
}

LoopDisk::~LoopDisk() {
  if (disk_.empty()) return;
  // Whatever a failed test left mounted from the disk goes first, or the detach would wait.
  for (const MountedAt& mount : MountTable())
    if (mount.Entry.Source == disk_ || mount.Entry.Source.starts_with(disk_ + "p"))
      Quietly("umount -l '" + mount.Point + "'");
  // ntfs-3g closes the device a moment after its umount returns: until then it is busy.
  const std::string backing =
      "/sys/block/" + disk_.substr(disk_.rfind('/') + 1) + "/loop/backing_file";
  for (int tries = 0; tries < 50 && access(backing.c_str(), F_OK) == 0; ++tries) {
    if (tries > 0) usleep(100000);
    Quietly("partx -d " + disk_);
    Quietly("losetup -d " + disk_);
  }
}

std::string ReadHead(const std::string& path, size_t length, size_t offset) {
  std::ifstream file(path, std::ios::binary);
  file.seekg(std::streamoff(offset));
  std::string bytes(length, '\0');
  file.read(bytes.data(), std::streamsize(length));
  bytes.resize(size_t(file.gcount()));
  return bytes;
}
