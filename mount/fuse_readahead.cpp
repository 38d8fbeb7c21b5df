#include "fuse_readahead.h"

#include <fstream>

#include "mount_table.h"

bool SetFuseReadahead(const std::string& mountPoint, uint32_t kib) {
  // Found in the mount table, not by stat(): stat on the mount point would wait for this
  // daemon, which does not serve requests yet.
  const std::optional<MountEntry> mount = MountAt(mountPoint);
  if (!mount) return false;
  std::ofstream setting("/sys/class/bdi/" + mount->Device + "/read_ahead_kb");
  setting << kib << '\n';
  setting.flush();
  return bool(setting);
}
