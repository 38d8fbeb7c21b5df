#include "mount_point_argument.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>

#include "commands.h"

void RequireRoot(const std::string& what) {
  if (geteuid() != 0) throw CommandError(what + " needs root (FUSE, loop devices, file system mounts): run it with sudo");
}

std::string ExistingDirectory(const std::string& path) {
  char resolved[PATH_MAX];
  if (!realpath(path.c_str(), resolved) || !std::filesystem::is_directory(resolved))
    throw CommandError(path + " is not a folder");
  return resolved;
}
