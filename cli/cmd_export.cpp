// harvesta export IMAGE --partition N OUTPUT: the partition's bytes into OUTPUT ("-" for
// stdout). A file output is sparse where the partition reads as zeros. What OUTPUT may be is
// export_target.h's to decide; an interrupted or failed export leaves no partial file behind,
// but one that wrote zeros for unreadable blocks (--zero-bad) keeps its output.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <fmt/format.h>

#include "commands.h"
#include "digest_option.h"
#include "export_target.h"
#include "image_access.h"
#include "mounted_disk.h"
#include "progress.h"
#include "stop_signals.h"

namespace {

struct ExportOptions {
  std::string ImagePath;
  std::string Output;
  int Partition = 0;
  bool NoCheck = false;
  bool Force = false;
  bool ZeroBad = false;
  bool Quiet = false;
  DigestRequest Digests;
  PasswordOptions Password;
};

constexpr uint32_t kChunk = 1u << 20;
constexpr uint32_t kHoleUnit = 4096;
constexpr uint32_t kRawSalvageUnit = 64u << 10;  // what one unreadable raw-region read costs

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

// The end of the piece that one failure at offset costs: its block, or a slice of the raw region.
uint64_t SalvageUnitEnd(const VirtualDiskLayout& layout, uint64_t offset) {
  if (offset < layout.RawLength) return std::min(layout.RawLength, offset + kRawSalvageUnit);
  if (layout.BlockSize == 0) return layout.DiskLength;
  const uint64_t block = (offset - layout.RawLength) / layout.BlockSize;
  return layout.RawLength + (block + 1) * layout.BlockSize;
}

// A chunk that did not read whole, read again piece by piece: what still fails is zeros, and
// is listed on stderr. Returns the number of pieces zeroed.
uint64_t SalvageChunk(MountedDisk& disk, uint64_t offset, uint32_t length, uint8_t* chunk,
                      int row) {
  uint64_t zeroed = 0;
  for (uint64_t at = offset; at < offset + length;) {
    const uint64_t end = std::min<uint64_t>(offset + length, SalvageUnitEnd(disk.Layout(), at));
    const auto piece = uint32_t(end - at);
    ReadFailure failure{};
    if (disk.Read(at, piece, chunk + (at - offset), &failure) != kReadOk) {
      std::memset(chunk + (at - offset), 0, piece);
      std::fprintf(stderr, "partition %d: zeroed %u %s\n", row, piece,
                   disk.FailureText(failure).c_str());
      ++zeroed;
    }
    at = end;
  }
  return zeroed;
}

// Holes and the final length apply to regular files; devices and pipes get every byte.
// Returns the number of unreadable pieces written as zeros.
uint64_t CopyPartition(MountedDisk& disk, ExportTarget& target, const ExportOptions& options,
                       ContentDigests& digests, ProgressBar& progress) {
  std::vector<uint8_t> chunk(kChunk);
  uint64_t zeroed = 0;
  for (uint64_t offset = 0; offset < disk.Size();) {
    if (StopSignals::Raised())
      throw CommandError("export interrupted after " + TransferFigures(offset, disk.Size(), 0) +
                             (target.Regular ? "; the partial output was removed" : ""),
                         kExitCancelled);
    const auto length = uint32_t(std::min<uint64_t>(kChunk, disk.Size() - offset));
    ReadFailure failure{};
    if (disk.Read(offset, length, chunk.data(), &failure) != kReadOk) {
      if (!options.ZeroBad)
        throw CommandError("partition " + std::to_string(options.Partition) + ": cannot read " +
                               disk.FailureText(failure) +
                               ": damaged image? (--zero-bad writes zeros for it)",
                           kExitDamagedImage);
      zeroed += SalvageChunk(disk, offset, length, chunk.data(), options.Partition);
    }
    digests.Add(chunk.data(), length);
    if (target.Regular) WriteSparse(target.Fd, offset, chunk.data(), length, target.Name);
    else WriteAll(target.Fd, chunk.data(), length, target.Name);
    offset += length;
    progress.Update(offset);
  }
  if (target.Regular && ftruncate(target.Fd, off_t(disk.Size())) != 0)
    throw CommandError("cannot write " + target.Name + ": " + std::strerror(errno));
  return zeroed;
}

void RunExport(const ExportOptions& options) {
  const ExportTargetOptions targetOptions{.Output = options.Output,
                                          .Force = options.Force,
                                          .Listing = nullptr,
                                          .ImagePath = options.ImagePath};
  if (options.Output == "-") CheckExportTarget(targetOptions);  // a terminal: before any prompt
  FolderListing listing = LoadListing(options.ImagePath);
  ExportTargetOptions checked = targetOptions;
  checked.Listing = &listing;
  CheckExportTarget(checked);
  PasswordSource passwords(options.Password);
  MountedDisk disk(MountRecordFor(listing, ChoosePartition(listing, options.Partition), passwords),
                   {.CheckDigests = !options.NoCheck, .Pool = nullptr});

  StopSignals stopSignals;
  ExportTarget target = OpenExportTarget(checked);
  ContentDigests digests(options.Digests);
  ProgressBar progress("export", disk.Size(), options.Quiet);
  uint64_t zeroed = 0;
  try {
    CheckTargetRoom(target, disk.Size());
    zeroed = CopyPartition(disk, target, options, digests, progress);
    CloseExportTarget(target);
  } catch (...) {
    progress.Clear();
    DiscardExportTarget(target);
    throw;
  }
  progress.Finish(disk.Size());
  // Beside a copy on stdout, the digests go with the other messages.
  const std::string lines = DigestLines("", digests.Finish());
  std::fputs(lines.c_str(), target.ToStdout ? stderr : stdout);
  if (zeroed)
    throw CommandError(fmt::format("partition {}: {} unreadable piece(s) written as zeros",
                                   options.Partition, zeroed),
                       kExitDamagedImage);
}

}  // namespace

void AddExportCommand(CLI::App& app) {
  auto options = std::make_shared<ExportOptions>();
  CLI::App* command =
      app.add_subcommand("export", "Write a partition's bytes to a file, a device or stdout");
  command->add_option("IMAGE", options->ImagePath, "A *.qvimg or *.qvbak file of the backup")->required();
  command->add_option("--partition", options->Partition, "Row number from harvesta list")->required();
  command->add_option("OUTPUT", options->Output, "Output file or block device, - for stdout")
      ->required();
  command->add_flag("--no-check", options->NoCheck,
                    "Copy blocks without checking them against their digests (damage goes unnoticed)");
  command->add_flag("--force", options->Force,
                    "Write over an existing file (a device needs no --force)");
  command->add_flag(
      "-w,--zero-bad", options->ZeroBad,
      "Write zeros for blocks that cannot be read, list them, keep the output (exit status 4)");
  command->add_flag("-q,--quiet", options->Quiet, "No progress bar and no summary line");
  AddDigestOption(*command, options->Digests);
  command->add_option("--password-file", options->Password.PasswordFile,
                      "Read the password from the file's first line (else HARVESTA_PASSWORD or a prompt)");
  command->callback([options] { RunExport(*options); });
}
