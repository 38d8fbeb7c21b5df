// harvesta export IMAGE --partition N OUTPUT: the partition's bytes into OUTPUT ("-" for
// stdout). A file output is sparse where the partition reads as zeros.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
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
    uint64_t failedAt = offset;
    if (disk.Read(offset, length, chunk.data(), &failedAt) != kReadOk) {
      const int64_t block = disk.BlockAt(failedAt);
      throw CommandError("partition " + std::to_string(options.Partition) + ": cannot read bytes at offset " +
                         std::to_string(failedAt) +
                         (block >= 0 ? " (block " + std::to_string(block) + ")" : std::string(" (raw region)")) +
                         ": damaged image?");
    }
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
  int fd = toStdout ? STDOUT_FILENO
                    : open(options.Output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw CommandError("cannot create " + options.Output + ": " + std::strerror(errno));
  // Ctrl-C ends the copy through the loop, so that no half-written output is left behind.
  auto previous = std::signal(SIGINT, [](int) { interrupted = true; });
  try {
    CopyPartition(disk, fd, toStdout, options);
  } catch (...) {
    std::signal(SIGINT, previous);
    if (!toStdout) {
      struct stat target{};
      bool regular = fstat(fd, &target) == 0 && S_ISREG(target.st_mode);
      close(fd);
      if (regular) unlink(options.Output.c_str());  // never leave a half-written copy
    }
    throw;
  }
  std::signal(SIGINT, previous);
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
