#include "tree_walk_posix.h"

#include <dirent.h>
#include <strings.h>

#include <cerrno>

#include "tree_copy_posix.h"

namespace {

// errno on failure.
int ListFolder(const std::string& path, std::vector<std::string>& names) {
  DIR* folder = opendir(path.c_str());
  if (!folder) return errno;
  errno = 0;
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
    errno = 0;
  }
  const int error = errno;
  closedir(folder);
  return error;
}

// Windows compares names without regard to case.
bool Matches(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& candidate : names)
    if (strcasecmp(candidate.c_str(), name.c_str()) == 0) return true;
  return false;
}

bool IsExcluded(const TreeCopyOptions& options, const std::string& relativeFolder, const std::string& name,
                bool isFolder) {
  if (isFolder) return relativeFolder.empty() && Matches(options.ExcludedFolders, name);
  return Matches(options.ExcludedFiles, name);
}

}  // namespace

TreeListing ListTree(const std::string& root, const TreeCopyOptions& options, const std::function<bool()>& cancelled) {
  TreeListing listing;
  TreeEntry top;
  if (lstat(root.c_str(), &top.Status) != 0) top.Error = errno;
  listing.Entries.push_back(top);
  // An explicit stack, so that a deep tree cannot exhaust the call stack.
  std::vector<size_t> folders{0};
  while (!folders.empty()) {
    if (cancelled()) {
      listing.Cancelled = true;
      break;
    }
    const size_t index = folders.back();
    folders.pop_back();
    if (listing.Entries[index].Error || !S_ISDIR(listing.Entries[index].Status.st_mode)) continue;
    const std::string relative = listing.Entries[index].Relative;
    std::vector<std::string> names;
    if (const int error = ListFolder(JoinPath(root, relative), names)) {
      listing.Entries[index].Error = error;
      continue;
    }
    if (index == 0) listing.RootListed = true;
    const size_t first = listing.Entries.size();
    for (const std::string& name : names) {
      TreeEntry entry;
      entry.Relative = relative.empty() ? name : relative + "/" + name;
      if (lstat(JoinPath(root, entry.Relative).c_str(), &entry.Status) != 0) entry.Error = errno;
      if (IsExcluded(options, relative, name, !entry.Error && S_ISDIR(entry.Status.st_mode))) continue;
      listing.Entries.push_back(std::move(entry));
    }
    // Pushed in reverse so that the folders are listed in their listing order.
    for (size_t at = listing.Entries.size(); at > first; --at) folders.push_back(at - 1);
  }
  return listing;
}
