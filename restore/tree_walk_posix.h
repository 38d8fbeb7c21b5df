// The source tree listed once, parents before their contents, without following links and
// without the excluded names; the copy and the reparse step both work from this list.
#pragma once
#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

struct TreeCopyOptions;

struct TreeEntry {
  std::string Relative;  // "" for the root, else "dir/name"
  struct stat Status {};
  int Error = 0;  // errno of the entry's stat or of listing it (a folder); Status is then unset
};

struct TreeListing {
  std::vector<TreeEntry> Entries;  // the root first
  bool RootListed = false;
  bool Cancelled = false;
};

// Every entry comes after its folder (so the reverse order visits contents before their
// folder). cancelled is polled between folders.
TreeListing ListTree(const std::string& root, const TreeCopyOptions& options, const std::function<bool()>& cancelled);

inline std::string JoinPath(const std::string& root, const std::string& relative) {
  return relative.empty() ? root : root + "/" + relative;
}
// The name reported for an entry: "." for the root.
inline std::string ShownPath(const std::string& relative) { return relative.empty() ? "." : relative; }
inline std::string ParentOf(const std::string& relative) {
  const size_t slash = relative.rfind('/');
  return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}
