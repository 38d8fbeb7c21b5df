// The Linux copy of a restore: every file and folder of the mounted image partition onto the
// mounted destination, keeping what a Windows volume needs when both sides are NTFS.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TreeCopyProgress {
  uint64_t Files = 0, Bytes = 0;
  uint64_t TotalFiles = 0, TotalBytes = 0;
};

class TreeCopyObserver {  // the command's terminal and --log; tests record
 public:
  virtual ~TreeCopyObserver() = default;
  // Every path written (files, folders, links, reparse points).
  virtual void Copied(const std::string& relativePath) = 0;
  // Every path that could not be copied whole, with the system's reason.
  virtual void Problem(const std::string& relativePath, const std::string& what) = 0;
  // At most ~10 times a second.
  virtual void Progress(const TreeCopyProgress& progress) = 0;
  // Polled often; true stops the copy as soon as possible.
  virtual bool Cancelled() = 0;
};

struct TreeCopyOptions {
  // Both sides are ntfs-3g mounts: keep streams, attributes, times, security, reparse data.
  bool NtfsMetadata = false;
  // At the root only, as the Windows copy's "<SRC>System Volume Information".
  std::vector<std::string> ExcludedFolders = {"System Volume Information"};
  // By name anywhere.
  std::vector<std::string> ExcludedFiles = {"pagefile.sys", "hiberfil.sys"};
};

struct TreeCopyResult {
  uint64_t Files = 0, Bytes = 0;
  size_t Problems = 0;
  bool Cancelled = false;
};

// Copies every file and folder below sourceRoot into destinationRoot (which exists), skipping
// reparse points (junctions, symbolic links: the reparse step re-creates them) and the
// excluded names. Never follows a link out of the source. Folder times are set after their
// contents. A file that cannot be read whole is a Problem and is not left behind half
// written; so is a file the copy was cancelled in.
TreeCopyResult CopyTree(const std::string& sourceRoot, const std::string& destinationRoot,
                        const TreeCopyOptions& options, TreeCopyObserver& observer);
