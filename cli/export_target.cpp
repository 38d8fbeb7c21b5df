#include "export_target.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "commands.h"

namespace {

std::string NameOf(const ExportTargetOptions& options) {
  return options.Output == "-" ? "stdout" : options.Output;
}

// Hard links, symbolic links and other names of the same file are the same device and inode.
void RefuseImageFile(const struct stat& output, const ExportTargetOptions& options) {
  auto same = [&](const std::string& path) {
    struct stat image {};
    return stat(path.c_str(), &image) == 0 && image.st_dev == output.st_dev &&
           image.st_ino == output.st_ino;
  };
  bool clash = same(options.ImagePath);
  for (const ImageSet& set : options.Listing->Sets)
    for (auto* list : {&set.CatalogueFiles, &set.OtherFiles})
      for (const auto& image : *list) clash = clash || same(image->FilePath);
  if (clash)
    throw CommandError("refusing to write " + NameOf(options) +
                       ": it is a file of the image's backup");
}

[[noreturn]] void RefuseOverwrite(const ExportTargetOptions& options) {
  throw CommandError("refusing to overwrite " + options.Output +
                     ": it exists (--force writes over it)");
}

void RefuseTerminal(int fd, const ExportTargetOptions& options) {
  if (isatty(fd) == 1)
    throw CommandError("refusing to write binary data to the terminal " + NameOf(options) +
                       ": redirect it or name an output file");
}

}  // namespace

void CheckExportTarget(const ExportTargetOptions& options) {
  const bool toStdout = options.Output == "-";
  if (toStdout) RefuseTerminal(STDOUT_FILENO, options);
  if (!options.Listing) return;
  struct stat output {};
  if (toStdout ? fstat(STDOUT_FILENO, &output) != 0 : stat(options.Output.c_str(), &output) != 0)
    return;
  RefuseImageFile(output, options);
  if (!toStdout && S_ISREG(output.st_mode) && !options.Force) RefuseOverwrite(options);
}

ExportTarget OpenExportTarget(const ExportTargetOptions& options) {
  ExportTarget target{
      .Path = options.Output, .Name = NameOf(options), .ToStdout = options.Output == "-"};
  struct stat output {};
  if (target.ToStdout) {
    target.Fd = STDOUT_FILENO;
  } else {
    const bool exists = stat(options.Output.c_str(), &output) == 0;
    // O_EXCL on a block device fails while a file system is mounted from it; pipes and
    // character devices such as /dev/null are written as they are.
    const int flags = !exists || S_ISREG(output.st_mode)
                          ? (options.Force ? O_CREAT : O_CREAT | O_EXCL)
                      : S_ISBLK(output.st_mode) ? O_EXCL
                                                : 0;
    target.Fd = open(options.Output.c_str(), O_WRONLY | O_CLOEXEC | flags, 0644);
    if (target.Fd < 0 && errno == EEXIST) RefuseOverwrite(options);
    if (target.Fd < 0 && errno == EBUSY)
      throw CommandError("refusing to write " + target.Name + ": the device is in use (mounted?)");
    if (target.Fd < 0)
      throw CommandError("cannot create " + target.Name + ": " + std::strerror(errno));
  }
  try {
    if (fstat(target.Fd, &output) != 0)
      throw CommandError("cannot examine " + target.Name + ": " + std::strerror(errno));
    RefuseImageFile(output, options);
    RefuseTerminal(target.Fd, options);
    target.Regular = S_ISREG(output.st_mode);
    target.Device = S_ISBLK(output.st_mode);
    if (!target.ToStdout && target.Regular && ftruncate(target.Fd, 0) != 0)
      throw CommandError("cannot write " + target.Name + ": " + std::strerror(errno));
  } catch (...) {
    if (!target.ToStdout) close(target.Fd);
    throw;
  }
  return target;
}

void CheckTargetRoom(const ExportTarget& target, uint64_t partitionSize) {
  if (!target.Device) return;
  uint64_t room = 0;
  if (ioctl(target.Fd, BLKGETSIZE64, &room) != 0)
    throw CommandError("cannot learn the size of " + target.Name + ": " + std::strerror(errno));
  if (room < partitionSize)
    throw CommandError("refusing to write " + target.Name + ": it holds " + std::to_string(room) +
                       " bytes, the partition " + std::to_string(partitionSize));
}

void DiscardExportTarget(ExportTarget& target) {
  if (target.ToStdout || target.Fd < 0) return;
  close(target.Fd);
  target.Fd = -1;
  if (target.Regular) unlink(target.Path.c_str());
}

void CloseExportTarget(ExportTarget& target) {
  if (target.ToStdout || target.Fd < 0) return;
  const int status = close(target.Fd);
  target.Fd = -1;
  if (status != 0) throw CommandError("cannot write " + target.Name + ": " + std::strerror(errno));
}
