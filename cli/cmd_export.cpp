// harvesta export IMAGE --partition N OUTPUT: the partition's bytes into OUTPUT ("-" for
// stdout). A file output is sparse where the partition reads as zeros. The output is never a
// file of the image's own set, and an interrupted export leaves no partial file behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "commands.h"
#include "image_access.h"
#include "mounted_disk.h"
#include "progress.h"

namespace {

struct ExportOptions {
  std::string ImagePath;
  std::string Output;
  int Partition = 0;
  bool NoCheck = false;
  PasswordOptions Password;
};

constexpr uint32_t kChunk = 1u << 20;
constexpr uint32_t kHoleUnit = 4096;

std::atomic<bool> interrupted{false};
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Ctrl-C, a closed terminal and a plain kill all end the copy through its loop, so that no
// half-written output is left behind.
class StopSignals {
 public:
  StopSignals() {
    struct sigaction action{};
    action.sa_handler = [](int) { interrupted = true; };
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &action, &previous_[i]);
  }
  ~StopSignals() {
    for (size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &previous_[i], nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  struct sigaction previous_[std::size(kStopSignals)]{};
};

// Writing over one of the files being read would destroy the backup; hard links, symbolic
// links and other names of the same file are the same device and inode.
void RefuseImageFile(const struct stat& output, const std::string& name, const FolderListing& listing,
                     const std::string& imagePath) {
  auto same = [&](const std::string& path) {
    struct stat image{};
    return stat(path.c_str(), &image) == 0 && image.st_dev == output.st_dev && image.st_ino == output.st_ino;
  };
  bool clash = same(imagePath);
  for (const ImageSet& set : listing.Sets)
    for (auto* list : {&set.CatalogueFiles, &set.OtherFiles})
      for (const auto& image : *list) clash = clash || same(image->FilePath);
  if (clash) throw CommandError("refusing to write " + name + ": it is a file of the image's backup");
}

bool AllZero(const uint8_t* data, size_t length) {
  return std::all_of(data, data + length, [](uint8_t b) { return b == 0; });
}

void WriteAll(int fd, const uint8_t* data, size_t length, const std::string& name) {
  while (length > 0) {
    ssize_t n = write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw CommandError("cannot write " + name + ": " + std::strerror(errno));
    data += n;
    length -= size_t(n);
  }
}

// Writes a chunk at its position, leaving 4 KiB runs of zeros as holes.
void WriteSparse(int fd, uint64_t position, const uint8_t* data, size_t length, const std::string& name) {
  for (size_t at = 0; at < length;) {
    size_t unit = std::min<size_t>(kHoleUnit, length - at);
    size_t run = at;
    bool zero = AllZero(data + at, unit);
    while (run < length && AllZero(data + run, std::min<size_t>(kHoleUnit, length - run)) == zero)
      run += std::min<size_t>(kHoleUnit, length - run);
    if (!zero) {
      if (lseek(fd, off_t(position + at), SEEK_SET) < 0) throw CommandError("cannot seek in " + name);
      WriteAll(fd, data + at, run - at, name);
    }
    at = run;
  }
}

// Holes and the final length apply to regular files; devices and pipes get every byte.
void CopyPartition(MountedDisk& disk, int fd, bool toStdout, const ExportOptions& options) {
  const std::string name = toStdout ? "stdout" : options.Output;
  struct stat target{};
  const bool sparse = fstat(fd, &target) == 0 && S_ISREG(target.st_mode);
  ProgressBar progress("export", disk.Size());
  std::vector<uint8_t> chunk(kChunk);
  for (uint64_t offset = 0; offset < disk.Size();) {
    if (interrupted) throw CommandError("interrupted");
    uint32_t length = uint32_t(std::min<uint64_t>(kChunk, disk.Size() - offset));
    ReadFailure failure{};
    if (disk.Read(offset, length, chunk.data(), &failure) != kReadOk)
      throw CommandError("partition " + std::to_string(options.Partition) + ": cannot read " +
                         disk.FailureText(failure) + ": damaged image?");
    if (sparse) WriteSparse(fd, offset, chunk.data(), length, name);
    else WriteAll(fd, chunk.data(), length, name);
    offset += length;
    progress.Update(offset);
  }
  if (sparse && ftruncate(fd, off_t(disk.Size())) != 0)
    throw CommandError("cannot write " + name + ": " + std::strerror(errno));
}

void RunExport(const ExportOptions& options) {
  FolderListing listing = LoadListing(options.ImagePath);
  PasswordKeeper passwords(options.Password);
  MountedDisk disk(MountRecordFor(listing, ChoosePartition(listing, options.Partition), passwords),
                   {.CheckDigests = !options.NoCheck, .Pool = nullptr});

  const bool toStdout = options.Output == "-";
  const std::string name = toStdout ? "stdout" : options.Output;
  struct stat output{};
  if (toStdout ? fstat(STDOUT_FILENO, &output) == 0 : stat(options.Output.c_str(), &output) == 0)
    RefuseImageFile(output, name, listing, options.ImagePath);
  StopSignals stopSignals;
  // Truncated only once the file opened is known not to be an image file: the name may have
  // changed since the check above.
  int fd = toStdout ? STDOUT_FILENO : open(options.Output.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw CommandError("cannot create " + options.Output + ": " + std::strerror(errno));
  if (!toStdout) {
    try {
      if (fstat(fd, &output) != 0) throw CommandError("cannot examine " + name + ": " + std::strerror(errno));
      RefuseImageFile(output, name, listing, options.ImagePath);
    } catch (...) {
      close(fd);
      throw;
    }
  }
  try {
    if (!toStdout && S_ISREG(output.st_mode) && ftruncate(fd, 0) != 0)
      throw CommandError("cannot write " + name + ": " + std::strerror(errno));
    CopyPartition(disk, fd, toStdout, options);
  } catch (...) {
    if (!toStdout) {
      struct stat target{};
      bool regular = fstat(fd, &target) == 0 && S_ISREG(target.st_mode);
      close(fd);
      if (regular) unlink(options.Output.c_str());  // never leave a half-written copy
    }
    throw;
  }
  if (!toStdout && close(fd) != 0) throw CommandError("cannot write " + options.Output);
}

}  // namespace

void AddExportCommand(CLI::App& app) {
  auto options = std::make_shared<ExportOptions>();
  CLI::App* command = app.add_subcommand("export", "Write a partition's bytes to a file or stdout");
  command->add_option("IMAGE", options->ImagePath, "A *.qvimg or *.qvbak file of the backup")->required();
  command->add_option("--partition", options->Partition, "Row number from harvesta list")->required();
  command->add_option("OUTPUT", options->Output, "Output file, - for stdout")->required();
  command->add_flag("--no-check", options->NoCheck,
                    "Copy blocks without checking them against their digests (damage goes unnoticed)");
  command->add_option("--password-file", options->Password.PasswordFile,
                      "Read the password from the file's first line (else HARVESTA_PASSWORD or a prompt)");
  command->callback([options] { RunExport(*options); });
}
