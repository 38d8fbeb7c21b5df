// harvesta restore IMAGE --partition N --to TARGET: the partition's files onto a partition (or
// into a folder), optionally formatted first and made bootable after, by the same workflow as
// the program's Start button (RunRestore) over the Linux steps. Everything it mounts is gone
// again when it ends, whichever way it ends.
#include <iostream>
#include <memory>

#include "commands.h"
#include "completion_report.h"
#include "copy_runner_posix.h"
#include "image_access.h"
#include "junction_walk_posix.h"
#include "progress.h"
#include "restore_copy_log.h"
#include "restore_refusals_posix.h"
#include "restore_steps_posix.h"
#include "restore_terminal.h"
#include "run_restore.h"
#include "stop_signals.h"

namespace {

struct RestoreOptions {
  std::string ImagePath;
  int Partition = 0;
  std::string Target;
  std::string Format;  // "", "ntfs" or "fat32"
  uint32_t ClusterSize = 0;
  bool Bootable = false;
  bool NoActive = false;
  bool NoDiskId = false;
  bool NoBootSector = false;
  bool NoBcd = false;
  std::string Command;
  bool Yes = false;
  std::string Log;
  PasswordOptions Password;
};

// The cluster list's index of a size from 512 to 32768 bytes; nullopt for any other size.
std::optional<int> ClusterIndexOf(uint32_t bytes) {
  for (int index = 0; index < kClusterIndexCount; ++index)
    if (ClusterSizeBytes(index) == bytes) return index;
  return std::nullopt;
}

void CheckUsage(const RestoreOptions& options) {
  auto usage = [](const std::string& text) { throw CommandError(text, kExitUsage); };
  if (!options.Format.empty() && options.Format != "ntfs" && options.Format != "fat32")
    usage("--format takes ntfs or fat32");
  if (options.ClusterSize != 0 && options.Format.empty()) usage("--cluster-size needs --format");
  if (options.ClusterSize != 0 && !ClusterIndexOf(options.ClusterSize))
    usage("--cluster-size takes 512, 1024, 2048, 4096, 8192, 16384 or 32768");
  const bool bootFlags = options.NoActive || options.NoDiskId || options.NoBootSector || options.NoBcd;
  if (bootFlags && !options.Bootable)
    usage("--no-active, --no-disk-id, --no-boot-sector and --no-bcd need --bootable");
}

RestoreChoices ChoicesFrom(const RestoreOptions& options) {
  RestoreChoices choices;
  choices.Format = !options.Format.empty();
  const bool fat32 = options.Format == "fat32";
  choices.FileSystemIndex = fat32 ? kFileSystemFat32 : kFileSystemNtfs;
  choices.FileSystemName = fat32 ? "FAT32" : "NTFS";
  if (options.ClusterSize != 0) choices.ClusterIndex = *ClusterIndexOf(options.ClusterSize);
  choices.Bootable = options.Bootable;
  choices.Boot = {.MarkActive = !options.NoActive,
                  .ReplaceDiskId = !options.NoDiskId,
                  .ReplaceBootSector = !options.NoBootSector,
                  .UpdateBootConfiguration = !options.NoBcd};
  choices.RunCopy = true;
  choices.CommandTemplate = options.Command;
  return choices;
}

RestoreTarget TargetOf(const RestoreOptions& options) {
  std::string error;
  std::optional<RestoreTarget> target = DescribeRestoreTarget(options.Target, error);
  if (!target) throw CommandError(error, kExitUsage);
  if (!target->IsDevice() && (!options.Format.empty() || options.Bootable))
    throw CommandError(target->Path + " is a folder: --format and --bootable need a block device "
                       "(a folder only takes a copy)", kExitUsage);
  return *target;
}

// Checked against the target's own identity before any mount or password: a refused target
// must not cost a password prompt.
void RefuseTarget(const RestoreTarget& target, const ImageSet& set, const ImagePartition& partition,
                  const RestoreOptions& options) {
  DestinationMount unmounted(target, std::string{});
  PosixRestoreVolumes volumes(target, unmounted);
  const TargetRequest request{.Format = !options.Format.empty(),
                              .Fat32 = options.Format == "fat32",
                              .Bootable = options.Bootable};
  if (auto reason = RefuseRestoreTarget(target, set, partition, request, volumes))
    throw CommandError(*reason);
}

// Why the copy did not do its whole job; nullopt when it did.
std::optional<std::string> CopyFailure(const PosixCopyOutcome& copy, const RestoreCopyLog& log) {
  if (!copy.BuiltIn && copy.ExitCode != 0)
    return "the copy command ended with exit status " + std::to_string(copy.ExitCode) + ": " +
           copy.CommandLine;
  if (log.Problems() != 0)
    return "restore failed: " + std::to_string(log.Problems()) + " problem(s), the first: " +
           log.FirstProblem();
  return std::nullopt;
}

void Report(const RestoreOptions& options, const RestoreTarget& target, const PosixCopyOutcome& copy,
            const RestoreCopyLog& log, const std::string& completion) {
  std::cout << completion << ": partition " << options.Partition << " restored to " << target.Path;
  if (copy.BuiltIn)
    std::cout << ", " << copy.Tree.Files << " files, " << TransferSummary(copy.Tree.Bytes, log.Seconds());
  std::cout << std::endl;
}

void RunRestoreCommand(const RestoreOptions& options) {
  CheckUsage(options);
  const RestoreTarget target = TargetOf(options);
  FolderListing listing = LoadListing(options.ImagePath);
  const PartitionRow& row = ChoosePartition(listing, options.Partition);
  RefuseTarget(target, SetOf(listing, *row.Image), *row.Partition, options);
  UnlockImage(row, PasswordSource(options.Password));

  const StopSignals stopSignals;
  StatusLine line;
  TerminalRestoreUi ui(options.Yes, line);
  RestoreCopyLog log(options.Log, line);
  PosixRestoreSteps system(ui, target);
  std::string destinationError;
  const FolderOfLetter folders = [&](char letter) -> std::string {
    if (letter != kTargetLetter) return system.SourceRoot(letter).value_or("");
    return system.DestinationRoot(&destinationError).value_or("");
  };
  PosixCopyRunner copy(folders, log);
  PosixJunctionWalk junctions(folders, log);
  RestoreSteps steps = system.Steps(copy, junctions);

  const RestoreSource source{row.Image->FilePath, listing.Sets, row.Partition};
  const RestoreChoices choices = PosixTargetChoices(target, ChoicesFrom(options));
  RestoreStatus status;
  const int result = RunRestore(source, choices, status, steps);
  system.Release();
  line.Clear();
  if (!copy.Outcome().CommandLine.empty())
    log.Note("command: " + copy.Outcome().CommandLine + " (exit status " +
             std::to_string(copy.Outcome().ExitCode) + ")");

  if (status.Cancelled || StopSignals::Raised()) throw CommandError("Cancelled", kExitCancelled);
  if (!destinationError.empty()) throw CommandError(destinationError);
  if (result != 1) throw CommandError("restore failed");
  if (auto failure = CopyFailure(copy.Outcome(), log)) throw CommandError(*failure);
  const std::optional<std::string> completion = CompletionReport(result, status, choices);
  Report(options, target, copy.Outcome(), log, completion.value_or("Complete"));
}

}  // namespace

void AddRestoreCommand(CLI::App& app) {
  auto options = std::make_shared<RestoreOptions>();
  CLI::App* command = app.add_subcommand("restore", "Restore a partition's files onto a partition or into a folder");
  command->add_option("IMAGE", options->ImagePath, "A *.qvimg or *.qvbak file of the backup")->required();
  command->add_option("--partition", options->Partition, "Row number from harvesta list")->required();
  command->add_option("--to", options->Target, "A block device holding a partition (/dev/sdb1), or a folder")
      ->required();
  command->add_option("--format", options->Format, "Format the target first: ntfs or fat32");
  command->add_option("--cluster-size", options->ClusterSize, "Cluster size in bytes, 512 to 32768 (default 4096)");
  command->add_flag("--bootable", options->Bootable,
                    "Make the target bootable: active flag, disk signature, boot sector, boot configuration");
  command->add_flag("--no-active", options->NoActive, "With --bootable: leave the active flag as it is");
  command->add_flag("--no-disk-id", options->NoDiskId, "With --bootable: keep the disk's own signature");
  command->add_flag("--no-boot-sector", options->NoBootSector, "With --bootable: keep the target's boot code");
  command->add_flag("--no-bcd", options->NoBcd, "With --bootable: leave \\Boot\\BCD as it is");
  command->add_option("--command", options->Command,
                      "Copy with this command (/bin/sh) instead: <SRC> and <DST> become the two folders");
  command->add_flag("-y,--yes", options->Yes, "Answer yes to the question before formatting");
  command->add_option("--log", options->Log, "Write every copied path and every problem to this file");
  command->add_option("--password-file", options->Password.PasswordFile,
                      "Read the password from the file's first line (else HARVESTA_PASSWORD or a prompt)");
  command->callback([options] { RunRestoreCommand(*options); });
}
