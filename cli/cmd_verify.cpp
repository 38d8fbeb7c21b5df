// harvesta verify IMAGE [--json]: prints the report of the verify library call, as text or as
// JSON. Exit status 1 on any problem.
#include <fmt/core.h>

#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "commands.h"
#include "image_access.h"
#include "listing_failure.h"
#include "mounted_verify_disk.h"
#include "progress.h"
#include "verify.h"

namespace {

struct VerifyOptions {
  std::string ImagePath;
  bool Json = false;
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
  for (const PartitionCheck& partition : report.Partitions)
    partitions.push_back({{"row", partition.Row}, {"blocks", partition.Blocks},
                          {"raw_length", partition.RawLength}, {"ok", partition.Ok()},
                          {"problems", ProblemsJson(partition.Problems)}});
  fmt::print("{}\n", nlohmann::json{{"ok", ok}, {"files", files}, {"lacking_files", LackingJson(lacking)},
                                    {"partitions", partitions}}.dump(2));
}

void PrintText(const VerifyReport& report, const std::vector<VerifyProblem>& problems) {
  for (const FileCheck& file : report.Files)
    fmt::print("{}: catalogue digest {}\n", file.File, DigestCheckText(file.Digest));
  for (const PartitionCheck& partition : report.Partitions)
    fmt::print("partition {}: {} blocks, {}\n", partition.Row, partition.Blocks, partition.Ok() ? "ok" : "DAMAGED");
  for (const VerifyProblem& problem : problems) std::cerr << problem.Where << ": " << problem.What << '\n';
}

void RunVerify(const VerifyOptions& options) {
  std::vector<LackingSetFile> lacking;  // the partitions whose files are all there are still checked
  FolderListing listing = LoadListingEvenIncomplete(options.ImagePath, &lacking);
  const PasswordSource passwords(options.Password);
  std::optional<ProgressBar> progress;
  size_t progressRow = SIZE_MAX;
  VerifySources sources{
      .Open = [&](const PartitionRow& row, std::string* error) -> std::unique_ptr<VerifyDisk> {
        if (!PartitionFilesPresent(listing, *row.Partition)) {
          *error = "a file holding its data is lacking";
          return nullptr;
        }
        return OpenVerifyDisk(MountRecordFor(listing, row, passwords), error);
      },
      .Progress = [&](size_t row, uint32_t done, uint32_t total) {
        if (row != progressRow) progress.emplace("verify partition " + std::to_string(row + 1), total);
        progressRow = row;
        progress->Update(done);
      },
  };
  const VerifyReport report = VerifyBackup(listing, sources);
  progress.reset();
  std::vector<VerifyProblem> problems = report.Problems();
  for (const LackingSetFile& file : lacking) problems.push_back({"backup set", file.Text(), file.Path, {}});
  if (options.Json) PrintJson(report, lacking, problems.empty());
  else PrintText(report, problems);
  const int status = lacking.empty() ? kExitFailure : LackingFilesFailure(options.ImagePath, lacking).Status;
  if (!problems.empty()) throw CommandError(std::to_string(problems.size()) + " problem(s) found", status);
}

}  // namespace

void AddVerifyCommand(CLI::App& app) {
  auto options = std::make_shared<VerifyOptions>();
  CLI::App* command = app.add_subcommand("verify", "Check an image's digests against its contents");
  command->add_option("IMAGE", options->ImagePath, "A *.qvimg or *.qvbak file of the backup")->required();
  command->add_flag("--json", options->Json, "Print the results as JSON");
  command->add_option("--password-file", options->Password.PasswordFile,
                      "Read the password from the file's first line (else HARVESTA_PASSWORD or a prompt)");
  command->callback([options] { RunVerify(*options); });
}
