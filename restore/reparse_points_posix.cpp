#include "reparse_points_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <set>

#include "entry_metadata_posix.h"
#include "link_target_posix.h"
#include "ntfs_metadata_posix.h"
#include "tree_walk_posix.h"

namespace {

class ReparseStep {
 public:
  ReparseStep(const std::string& source, const std::string& destination, const TreeCopyOptions& options,
              TreeCopyObserver& observer)
      : source_(source), destination_(destination), options_(options), observer_(observer) {}

  int Run() {
    const TreeListing listing = ListTree(source_, options_, [this] { return observer_.Cancelled(); });
    if (!listing.RootListed) return 0;
    std::set<std::string> holders;
    for (const TreeEntry& entry : listing.Entries) {
      if (observer_.Cancelled()) break;
      // A root given as a link is not listed at all (nothing is followed out of the source).
      if (entry.Error || entry.Relative.empty() || !S_ISLNK(entry.Status.st_mode)) continue;
      if (options_.NtfsMetadata ? MakeNtfs(entry) : MakeLink(entry)) holders.insert(ParentOf(entry.Relative));
    }
    // The new entries changed the times of the folders holding them.
    for (const std::string& folder : holders) {
      const std::string from = JoinPath(source_, folder), to = JoinPath(destination_, folder);
      struct stat status {};
      const std::vector<std::string> failures =
          options_.NtfsMetadata ? WriteNtfsTimes(to, ReadNtfsFields(from))
          : lstat(from.c_str(), &status) == 0 ? CopyTimes(to, status)
                                              : std::vector<std::string>{FailureText("times", errno)};
      for (const std::string& failure : failures) observer_.Problem(ShownPath(folder), failure);
    }
    return 1;
  }

 private:
  bool MakeNtfs(const TreeEntry& entry) {
    const std::string from = JoinPath(source_, entry.Relative), to = JoinPath(destination_, entry.Relative);
    const AttributeValue reparse = ReadAttribute(from, kNtfsReparseAttribute);
    if (!reparse.Bytes && reparse.Error != ENODATA)
      return Problem(entry, FailureText("reading the reparse data", reparse.Error));
    const NtfsFields fields = ReadNtfsFields(from);
    if (!reparse.Bytes) {
      // A link ntfs-3g wrote for Linux: written the same way it is the same file again.
      if (const int error = MakeSymbolicLink(from, to)) return Problem(entry, FailureText("creating the link", error));
    } else if (const int error = MakeEmpty(to, WindowsAttributesOf(fields) & kFileAttributeDirectory)) {
      return Problem(entry, FailureText("creating", error));
    }
    for (const std::string& failure : CopyStreams(from, to)) Problem(entry, failure);
    for (const std::string& failure : WriteNtfsFields(to, fields)) Problem(entry, failure);
    // Last: ntfs-3g takes reparse data on a folder that is not empty, Windows would not, and
    // the path is briefly unreadable once it has it.
    if (reparse.Bytes)
      if (const int error = WriteAttribute(to, kNtfsReparseAttribute, *reparse.Bytes))
        return Problem(entry, FailureText("writing the reparse data", error));
    observer_.Copied(entry.Relative);
    return true;
  }

  bool MakeLink(const TreeEntry& entry) {
    const std::string from = JoinPath(source_, entry.Relative), to = JoinPath(destination_, entry.Relative);
    const std::optional<std::string> target = LinkText(from);
    if (!target) return Problem(entry, FailureText("reading the link", errno));
    const std::optional<std::string> inside = TargetInsideVolume(*target, entry.Relative, source_);
    if (!inside) return Problem(entry, "link to " + *target + ", outside the volume: not copied");
    if (symlink(RelativeLinkText(entry.Relative, *inside).c_str(), to.c_str()) != 0)
      return Problem(entry, FailureText("creating the link", errno));
    for (const std::string& failure : CopyTimes(to, entry.Status)) Problem(entry, failure);
    observer_.Copied(entry.Relative);
    return true;
  }

  static std::optional<std::string> LinkText(const std::string& path) {
    std::string text(4096, '\0');
    const ssize_t length = readlink(path.c_str(), text.data(), text.size());
    if (length < 0 || size_t(length) >= text.size()) return std::nullopt;
    text.resize(size_t(length));
    return text;
  }

  static int MakeSymbolicLink(const std::string& from, const std::string& to) {
    const std::optional<std::string> target = LinkText(from);
    if (!target) return errno ? errno : ENAMETOOLONG;
    return symlink(target->c_str(), to.c_str()) == 0 ? 0 : errno;
  }

  // An empty folder or file to carry the reparse data; one left by an earlier run is reused.
  static int MakeEmpty(const std::string& path, bool folder) {
    if (folder) {
      if (mkdir(path.c_str(), 0700) == 0) return 0;
      if (errno != EEXIST) return errno;
      if (rmdir(path.c_str()) != 0) return errno;  // only when empty
      return mkdir(path.c_str(), 0700) == 0 ? 0 : errno;
    }
    const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor < 0) return errno;
    close(descriptor);
    return 0;
  }

  bool Problem(const TreeEntry& entry, const std::string& what) {
    observer_.Problem(ShownPath(entry.Relative), what);
    return false;
  }

  const std::string& source_;
  const std::string& destination_;
  const TreeCopyOptions& options_;
  TreeCopyObserver& observer_;
};

}  // namespace

int RecreateReparsePoints(const std::string& sourceRoot, const std::string& destinationRoot,
                          const TreeCopyOptions& options, TreeCopyObserver& observer) {
  return ReparseStep(sourceRoot, destinationRoot, options, observer).Run();
}
