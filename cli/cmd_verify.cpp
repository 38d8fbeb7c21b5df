// harvesta verify IMAGE [--json]: the catalogue digest of every file of the backup (versions 3
// and later), each partition's raw region MD5 and every block's MD5 against its decoded bytes.
// Exit status 1 on any mismatch.
#include <fmt/core.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <optional>
#include <nlohmann/json.hpp>
#include <set>

#include "block_index_file.h"
#include "commands.h"
#include "file_io.h"
#include "image_access.h"
#include "md5.h"
#include "mounted_disk.h"
#include "progress.h"

namespace {

struct VerifyOptions {
  std::string ImagePath;
  bool Json = false;
  PasswordOptions Password;
};

struct Problem {
  std::string Where;  // "catalogue of FILE", "partition N raw region", "partition N block I"
  std::string What;
};

Digest StoredCatalogueDigest(const CImageFile& image) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(OpenFileForReading(image.FilePath), std::fclose);
  Digest digest{};
  if (!file || SeekFile(file.get(), -16, SEEK_END) != 0 ||
      std::fread(digest.data(), 1, 16, file.get()) != 16)
    throw CommandError("cannot read " + image.FilePath);
  return digest;
}

std::vector<std::vector<BlockEntry>> AllIndexes(const CImageFile& image) {
  std::vector<std::vector<BlockEntry>> indexes;
  for (const auto& disk : image.Disks)
    for (const auto& partition : disk->Partitions) indexes.push_back(ReadBlockIndex(image, partition->Blocks));
  return indexes;
}

// "ok", "mismatch" or "not checked" (versions before 3 carry no meaningful digest; a block
// index that cannot be read is reported with its partition).
std::string CheckCatalogue(CImageFile& image) {
  if (image.Version < 3) return "not checked";
  const Digest stored = StoredCatalogueDigest(image);
  std::vector<std::vector<BlockEntry>> indexes;
  try {
    indexes = AllIndexes(image);
  } catch (const CommandError&) {
    return "not checked";
  }
  auto matches = [&] {
    std::vector<uint8_t> form = StoreCatalogue(image, indexes, CatalogueForm::Digest);
    return Md5(form.data(), form.size()) == stored;
  };
  if (matches()) return "ok";
  if (image.Version == 4) {  // may carry the digest of its version-3 serialization
    image.Version = 3;
    bool asVersion3 = matches();
    image.Version = 4;
    if (asVersion3) return "ok";
  }
  return "mismatch";
}

std::string StatusText(ReadStatus status) {
  switch (status) {
    case kReadFileFailed: return "cannot be read from its file";
    case kReadDataError: return "does not decode";
    default: return "cannot be read";
  }
}

constexpr uint32_t kRawPiece = 1u << 20;

// The raw region in pieces: its length comes from the image and may be anything.
void CheckRawRegion(MountedDisk& disk, const Digest& stored, const std::string& where,
                    std::vector<Problem>& problems) {
  const uint64_t rawLength = disk.Layout().RawLength;
  if (rawLength > disk.Size()) {
    problems.push_back({where, "longer (" + std::to_string(rawLength) + " bytes) than the partition"});
    return;
  }
  Md5Stream md5;
  std::vector<uint8_t> piece(std::min<uint64_t>(rawLength, kRawPiece));
  for (uint64_t offset = 0; offset < rawLength;) {
    const uint32_t length = uint32_t(std::min<uint64_t>(kRawPiece, rawLength - offset));
    ReadStatus status = disk.Read(offset, length, piece.data());
    if (status == kReadFileFailed) {
      problems.push_back({where, "runs past the end of its image file or cannot be read (at byte " +
                                     std::to_string(offset) + " of " + std::to_string(rawLength) + ")"});
      return;
    }
    if (status != kReadOk) {
      problems.push_back({where, StatusText(status)});
      return;
    }
    md5.Add(piece.data(), length);
    offset += length;
  }
  if (md5.Finish() != stored) problems.push_back({where, "MD5 mismatch"});
}

nlohmann::json CheckPartition(const FolderListing& listing, size_t row, PasswordKeeper& passwords,
                              std::vector<Problem>& problems) {
  const PartitionRow& partitionRow = listing.Rows[row];
  const std::string name = "partition " + std::to_string(row + 1);
  const CPartitionBlocks& blocks = partitionRow.Partition->Blocks;
  size_t before = problems.size();
  auto result = [&](size_t blockCount, uint64_t rawLength) {
    nlohmann::json bad = nlohmann::json::array();
    for (size_t p = before; p < problems.size(); ++p)
      bad.push_back({{"where", problems[p].Where}, {"problem", problems[p].What}});
    return nlohmann::json{{"row", row + 1}, {"blocks", blockCount}, {"raw_length", rawLength},
                          {"ok", bad.empty()}, {"problems", bad}};
  };

  std::vector<BlockEntry> index;
  try {
    index = ReadBlockIndex(*partitionRow.Image, blocks);
  } catch (const CommandError& e) {
    problems.push_back({name + " block index", e.what()});
    return result(0, 0);
  }
  std::optional<MountedDisk> opened;
  try {
    // Verify compares every block's digest itself, naming a mismatch as such.
    opened.emplace(MountRecordFor(listing, partitionRow, passwords),
                   MountedDiskOptions{.CheckDigests = false, .Pool = nullptr});
  } catch (const MountedDiskError& e) {
    problems.push_back({name, e.what()});
    return result(index.size(), 0);
  }
  MountedDisk& disk = *opened;
  CheckRawRegion(disk, blocks.RawRegionDigest, name + " raw region", problems);

  ProgressBar progress("verify " + name, index.size());
  std::vector<uint8_t> data;
  for (uint32_t i = 0; i < index.size(); ++i) {
    BlockLocation location;
    ReadStatus status = disk.ReadBlock(i, data, &location);
    if (status != kReadOk) problems.push_back({name + " block " + std::to_string(i), StatusText(status)});
    else if (Md5(data.data(), data.size()) != index[i].BlockDigest)
      problems.push_back({name + " block " + std::to_string(i), "MD5 mismatch"});
    progress.Update(i + 1);
  }
  return result(index.size(), disk.Layout().RawLength);
}

void RunVerify(const VerifyOptions& options) {
  FolderListing listing = LoadListing(options.ImagePath);
  PasswordKeeper passwords(options.Password);
  std::vector<Problem> problems;

  // Every file of the sets the listed partitions come from.
  std::set<ImageId> setIds;
  for (const PartitionRow& row : listing.Rows) setIds.insert(row.Image->Id);
  nlohmann::json files = nlohmann::json::array();
  for (ImageSet& set : listing.Sets) {
    if (!setIds.count(set.Id)) continue;
    for (auto* list : {&set.CatalogueFiles, &set.OtherFiles})
      for (auto& image : *list) {
        std::string result = CheckCatalogue(*image);
        if (result == "mismatch") problems.push_back({"catalogue of " + image->FilePath, "digest mismatch"});
        files.push_back({{"file", image->FilePath}, {"catalogue_digest", result}});
      }
  }
  nlohmann::json partitions = nlohmann::json::array();
  for (size_t row = 0; row < listing.Rows.size(); ++row)
    partitions.push_back(CheckPartition(listing, row, passwords, problems));

  if (options.Json) {
    fmt::print("{}\n", nlohmann::json{{"ok", problems.empty()}, {"files", files},
                                      {"partitions", partitions}}.dump(2));
  } else {
    for (const auto& file : files)
      fmt::print("{}: catalogue digest {}\n", file["file"].get<std::string>(),
                 file["catalogue_digest"].get<std::string>());
    for (const auto& partition : partitions)
      fmt::print("partition {}: {} blocks, {}\n", partition["row"].get<size_t>(),
                 partition["blocks"].get<size_t>(), partition["ok"].get<bool>() ? "ok" : "DAMAGED");
    for (const Problem& problem : problems) std::cerr << problem.Where << ": " << problem.What << '\n';
  }
  if (!problems.empty()) throw CommandError(std::to_string(problems.size()) + " problem(s) found");
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
