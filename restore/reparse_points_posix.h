// The junction step of a Linux restore: the reparse points the copy skipped, made again.
#pragma once
#include <string>

#include "tree_copy_posix.h"

// Re-creates below destinationRoot every reparse point (junction, Windows symbolic link) found
// below sourceRoot, with its reparse data as stored: an empty folder or file first, then its
// streams, security, attributes and times, the reparse data last; the times of the folder
// holding it are put back afterwards. A symbolic link that ntfs-3g wrote for Linux (no reparse
// data) is made again as such. Reparse points are never walked into. 1 when the source root
// could be listed, 0 otherwise.
//
// Without NtfsMetadata (another file system on either side) there is no reparse data to
// write: a link whose target lies inside the source volume becomes a relative symbolic link
// to the same place in the destination; any other is a Problem and is skipped.
int RecreateReparsePoints(const std::string& sourceRoot, const std::string& destinationRoot,
                          const TreeCopyOptions& options, TreeCopyObserver& observer);
