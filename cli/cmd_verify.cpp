// harvesta verify IMAGE [--json] [--hash md5,sha256]: prints the report of the verify library
// call, as text or as JSON. Exit status 4 when it found problems; Ctrl-C ends it with what was
// checked so far and exit status 130.
#include <fmt/core.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "commands.h"
#include "digest_option.h"
#include "image_access.h"
#include "mounted_verify_disk.h"
#include "progress.h"
#include "stop_signals.h"
#include "verify.h"

namespace {

struct VerifyOptions {
  std::string ImagePath;
  bool Json = false;
  bool Quiet = false;
  DigestRequest Digests;
  PasswordOptions Password;
};

nlohmann::json ProblemsJson(const std::vector<VerifyProblem>& problems) {
  nlohmann::json list = nlohmann::json::array();
  for (const VerifyProblem& problem : problems) list.push_back({{"where", problem.Where}, {"problem", problem.What}});
  return list;
}

nlohmann::json LackingJson(const std::vector<LackingSetFile>& lacking) {
  nlohmann::json list = nlohmann::json::array();
  for (const LackingSetFile& file : lacking) {
    nlohmann::json entry = {{"file", file.Path.empty() ? nullptr : nlohmann::json(file.Path)},
                            {"number", file.Number}, {"problem", file.Text()}};
    if (file.Reason == LackingSetFile::Why::Truncated)
      entry.update({{"size", file.Size}, {"expected_at_least", file.ExpectedAtLeast}});
    list.push_back(std::move(entry));
  }
  return list;
}

void PrintJson(const VerifyReport& report, const std::vector<LackingSetFile>& lacking, bool ok) {
  nlohmann::json files = nlohmann::json::array();
  for (const FileCheck& file : report.Files)
    files.push_back({{"file", file.File}, {"catalogue_digest", DigestCheckText(file.Digest)}});
  nlohmann::json partitions = nlohmann::json::array();
  for (const PartitionCheck& partition : report.Partitions) {
    nlohmann::json entry{{"row", partition.Row},
                         {"blocks", partition.Blocks},
                         {"blocks_checked", partition.BlocksChecked},
                         {"raw_length", partition.RawLength},
                         {"ok", partition.Ok()},
                         {"problems", ProblemsJson(partition.Problems)}};
    for (const NamedDigest& digest : partition.Digests) entry[digest.Name] = digest.Hex;
    partitions.push_back(std::move(entry));
  }
  nlohmann::json whole{{"ok", ok}, {"files", files}, {"lacking_files", LackingJson(lacking)},
                       {"partitions", partitions}};
  if (report.Cancelled) whole["cancelled"] = true;
  fmt::print("{}\n", whole.dump(2));
}

void PrintText(const VerifyReport& report, const std::vector<VerifyProblem>& problems) {
  for (const FileCheck& file : report.Files)
    fmt::print("{}: catalogue digest {}\n", file.File, DigestCheckText(file.Digest));
  for (const PartitionCheck& partition : report.Partitions) {
    const bool whole = partition.BlocksChecked == partition.Blocks;
    fmt::print("partition {}: {} blocks, {}\n", partition.Row, partition.Blocks,
               !partition.Ok() ? "DAMAGED"
               : whole         ? "ok"
                               : "not checked to its end");
    std::fputs(DigestLines(fmt::format("partition {} ", partition.Row), partition.Digests).c_str(),
               stdout);
  }
  std::fflush(stdout);
  for (const VerifyProblem& problem : problems) std::cerr << problem.Where << ": " << problem.What << '\n';
}

uint64_t BlocksChecked(const VerifyReport& report) {
  uint64_t blocks = 0;
  for (const PartitionCheck& partition : report.Partitions) blocks += partition.BlocksChecked;
  return blocks;
}

void RunVerify(const VerifyOptions& options) {
  std::vector<LackingSetFile> lacking;  // the partitions whose files are all there are still checked
  FolderListing listing = LoadListingEvenIncomplete(options.ImagePath, &lacking);
  // Every password first: a prompt is over before Ctrl-C means "stop checking".
  const PasswordSource passwords(options.Password);
  for (const PartitionRow& row : listing.Rows) UnlockImage(row, passwords);

  StopSignals stopSignals;
  std::optional<ProgressBar> progress;
  // Of the partition being checked, and of those before it.
  uint64_t diskSize = 0, rawLength = 0, partitionBytes = 0, earlierBytes = 0;
  uint32_t blockSize = 0;
  const auto started = std::chrono::steady_clock::now();
  VerifySources sources{
      .Open =
          [&](const PartitionRow& row, std::string* error) -> std::unique_ptr<VerifyDisk> {
            if (!PartitionFilesPresent(listing, *row.Partition)) {
              *error = "a file holding its data is lacking";
              return nullptr;
            }
            std::unique_ptr<VerifyDisk> disk = OpenVerifyDisk(MountRecordFor(listing, row), error);
            if (disk) {
              earlierBytes += partitionBytes;
              diskSize = disk->Size();
              rawLength = std::min(disk->RawLength(), diskSize);
              blockSize = disk->BlockSize();
              partitionBytes = rawLength;
              progress.emplace(fmt::format("verify partition {}", &row - listing.Rows.data() + 1),
                               diskSize, options.Quiet);
            }
            return disk;
          },
      .Progress =
          [&](size_t, uint32_t done, uint32_t total) {
            partitionBytes = std::min(diskSize, rawLength + uint64_t{done} * blockSize);
            progress->Update(partitionBytes);
            if (done == total) progress.reset();
          },
      .Cancel = &StopSignals::Raised(),
      .Digests = options.Digests,
  };
  const VerifyReport report = VerifyBackup(listing, sources);
  progress.reset();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::vector<VerifyProblem> problems = report.Problems();
  for (const LackingSetFile& file : lacking) problems.push_back({"backup set", file.Text(), file.Path, {}});
  if (options.Json) PrintJson(report, lacking, report.Ok() && lacking.empty());
  else PrintText(report, problems);
  if (report.Cancelled)
    throw CommandError(
        fmt::format("verify interrupted: {} file(s), {} of {} partition(s), {} block(s) checked, "
                    "{} problem(s) so far",
                    report.Files.size(), report.Partitions.size(), listing.Rows.size(),
                    BlocksChecked(report), problems.size()),
        kExitCancelled);
  if (!options.Quiet)
    fmt::print(stderr, "verify: {}\n", TransferSummary(earlierBytes + partitionBytes, seconds));
  if (!problems.empty())
    throw CommandError(std::to_string(problems.size()) + " problem(s) found", kExitDamagedImage);
}

}  // namespace

void AddVerifyCommand(CLI::App& app) {
  auto options = std::make_shared<VerifyOptions>();
  CLI::App* command = app.add_subcommand("verify", "Check an image's digests against its contents");
  command->add_option("IMAGE", options->ImagePath, "A *.qvimg or *.qvbak file of the backup")->required();
  command->add_flag("--json", options->Json, "Print the results as JSON");
  command->add_flag("-q,--quiet", options->Quiet, "No progress bar and no summary line");
  AddDigestOption(*command, options->Digests);
  command->add_option("--password-file", options->Password.PasswordFile,
                      "Read the password from the file's first line (else HARVESTA_PASSWORD or a prompt)");
  command->callback([options] { RunVerify(*options); });
}
