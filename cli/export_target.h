// Where export writes, checked so that nothing of value is written over by mistake: never a
// file of the image's backup (under any name), an existing file only with --force, binary data
// never to a terminal, a block device only when it holds the whole partition and nothing has it
// open exclusively (a mounted file system does). A device needs no --force: naming it is the
// point of writing to it, and --force never lets a too-small one through.
#pragma once
#include <cstdint>
#include <string>

#include "partition_list.h"

struct ExportTarget {
  int Fd = -1;
  std::string Path;
  std::string Name;  // "stdout" or the path, for messages
  bool ToStdout = false;
  bool Regular = false;  // sparse, cut to the partition's length, removed when the export fails
  bool Device = false;
};

struct ExportTargetOptions {
  std::string Output;  // "-" for stdout
  bool Force = false;
  const FolderListing* Listing = nullptr;  // null: only what needs no image (a terminal)
  std::string ImagePath;
};

// What can be told from the name alone, before a password is asked or a byte is read.
void CheckExportTarget(const ExportTargetOptions& options);
// Opens the output and checks it again as opened (the name may have changed since); a regular
// file is truncated only then. Throws CommandError.
ExportTarget OpenExportTarget(const ExportTargetOptions& options);
// A device smaller than the partition is refused before anything is written to it.
void CheckTargetRoom(const ExportTarget& target, uint64_t partitionSize);
// Closes the output; a regular file is removed, so that no half-written copy is left.
void DiscardExportTarget(ExportTarget& target);
// Closes the output of a finished export. Throws CommandError when the last bytes fail.
void CloseExportTarget(ExportTarget& target);
