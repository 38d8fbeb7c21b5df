#include "format_volume_posix.h"

#include <strings.h>

namespace {

bool Named(const std::string& fileSystem, const char* name) {
  return strcasecmp(fileSystem.c_str(), name) == 0;
}

}  // namespace

std::vector<std::string> FormatCommand(const RestoreTarget& target, const std::string& label,
                                       const std::string& fileSystem, uint32_t clusterSize) {
  const uint32_t sector = target.LogicalBlockSize;
  if (sector == 0 || clusterSize < sector || clusterSize % sector != 0) return {};
  const std::string start = std::to_string(target.PartitionOffset / sector);
  if (Named(fileSystem, "NTFS")) {
    // mkntfs cannot learn a partition's start and geometry from a loop or USB partition and
    // would write a boot sector that does not boot: hidden sectors must be the start.
    std::vector<std::string> command{"mkntfs", "--quick", "-p", start, "-H",
                                     "255",    "-S",      "63", "-c",  std::to_string(clusterSize)};
    if (!label.empty()) command.insert(command.end(), {"-L", label});
    command.push_back(target.Path);
    return command;
  }
  if (Named(fileSystem, "FAT32")) {
    std::vector<std::string> command{
        "mkfs.vfat", "-F", "32", "-s", std::to_string(clusterSize / sector), "-h", start};
    // A FAT label holds 11 characters; mkfs.vfat refuses a longer one.
    if (!label.empty()) command.insert(command.end(), {"-n", label.substr(0, 11)});
    command.push_back(target.Path);
    return command;
  }
  return {};
}
