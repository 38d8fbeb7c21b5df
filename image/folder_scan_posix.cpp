#include <dirent.h>
#include <sys/stat.h>

#include "partition_list.h"

// Regular files only (a link counts as what it points to): a FIFO or device named like an
// image would block the read of the whole folder.
std::vector<std::string> ListFolderNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* directory = opendir(folder.c_str());
  if (!directory) return names;
  while (const dirent* entry = readdir(directory)) {
    bool regular = entry->d_type == DT_REG;
    if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      struct stat status;
      regular = fstatat(dirfd(directory), entry->d_name, &status, 0) == 0 && S_ISREG(status.st_mode);
    }
    if (regular) names.emplace_back(entry->d_name);
  }
  closedir(directory);
  return names;
}
