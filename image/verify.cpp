#include "verify.h"

#include <algorithm>
#include <memory>
#include <set>

#include "block_index.h"
#include "file_io.h"
#include "md5.h"

namespace {

bool Cancelled(const VerifySources& sources) {
  return sources.Cancel && sources.Cancel->load(std::memory_order_relaxed);
}

std::optional<Digest> StoredCatalogueDigest(const CImageFile& image) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(OpenFileForReading(image.FilePath), std::fclose);
  Digest digest{};
  if (!file || SeekFile(file.get(), -int64_t{sizeof digest}, SEEK_END) != 0 ||
      std::fread(digest.data(), 1, digest.size(), file.get()) != digest.size())
    return std::nullopt;
  return digest;
}

FileCheck CheckCatalogue(const CImageFile& image) {
  FileCheck check;
  check.File = image.FilePath;
  if (image.Version < 3) return check;
  const std::optional<Digest> stored = StoredCatalogueDigest(image);
  if (!stored) {
    check.Problems.push_back({"catalogue of " + image.FilePath, "its digest cannot be read", image.FilePath, {}});
    return check;
  }
  // The digest covers every index; one that cannot be read is reported with its partition.
  std::vector<std::vector<BlockEntry>> indexes;
  std::string ignored;
  for (const auto& disk : image.Disks)
    for (const auto& partition : disk->Partitions) {
      std::optional<std::vector<BlockEntry>> index = ReadBlockIndex(image, partition->Blocks, &ignored);
      if (!index) return check;
      indexes.push_back(std::move(*index));
    }
  if (CatalogueDigest(image, indexes, image.Version) == *stored) {
    check.Digest = DigestCheck::Ok;
  } else if (image.Version == 4 && CatalogueDigest(image, indexes, 3) == *stored) {
    check.Digest = DigestCheck::Ok;
    check.Version3Form = true;
  } else {
    check.Digest = DigestCheck::Mismatch;
    check.Problems.push_back({"catalogue of " + image.FilePath, "digest mismatch", image.FilePath, {}});
  }
  return check;
}

std::string StatusText(ReadStatus status) {
  switch (status) {
    case kReadFileFailed: return "cannot be read from its file";
    case kReadDataError: return "does not decode";
    default: return "cannot be read";
  }
}

// The path of the set's file with the number; empty when the set has none.
std::string FileOfNumber(const ImageSet* set, uint16_t number) {
  CStdString path;
  if (set) LocateFileNumber(*set, number, path);
  return path;
}

constexpr uint32_t kRawPiece = 1u << 20;

// The raw region in pieces: its length comes from the image and may be anything. Returns
// false when the partition's bytes cannot be laid out for its digests.
bool CheckRawRegion(VerifyDisk& disk, const Digest& stored, const std::string& where,
                    const std::string& file, std::vector<VerifyProblem>& problems,
                    ContentDigests& content) {
  const uint64_t rawLength = disk.RawLength();
  if (rawLength > disk.Size()) {
    problems.push_back({where, "longer (" + std::to_string(rawLength) + " bytes) than the partition", file, {}});
    return false;
  }
  Md5Stream md5;
  std::vector<uint8_t> piece(std::min<uint64_t>(rawLength, kRawPiece));
  for (uint64_t offset = 0; offset < rawLength;) {
    const uint32_t length = uint32_t(std::min<uint64_t>(kRawPiece, rawLength - offset));
    const ReadStatus status = disk.Read(offset, length, piece.data());
    if (status == kReadFileFailed) {
      problems.push_back({where,
                          "runs past the end of its image file or cannot be read (at byte " +
                              std::to_string(offset) + " of " + std::to_string(rawLength) + ")",
                          file, {}});
    } else if (status != kReadOk) {
      problems.push_back({where, StatusText(status), file, {}});
    }
    if (status != kReadOk) {
      content.AddZeros(rawLength - offset);
      return true;
    }
    md5.Add(piece.data(), length);
    content.Add(piece.data(), length);
    offset += length;
  }
  if (md5.Finish() != stored) problems.push_back({where, "MD5 mismatch", file, {}});
  return true;
}

// Block i's share of the partition's bytes: the blocks follow the raw region, the last one
// cut at the partition's end.
uint64_t BlockSpan(const VerifyDisk& disk, uint32_t block) {
  const uint64_t start = disk.RawLength() + uint64_t{block} * disk.BlockSize();
  return start >= disk.Size() ? 0 : std::min<uint64_t>(disk.BlockSize(), disk.Size() - start);
}

PartitionCheck CheckPartition(const FolderListing& listing, size_t row, const VerifySources& sources,
                              bool& cancelled) {
  const PartitionRow& partitionRow = listing.Rows[row];
  const CImageFile& image = *partitionRow.Image;
  const ImageSet* set = FindSet(listing.Sets, image.Id);
  const std::string name = "partition " + std::to_string(row + 1);
  const CPartitionBlocks& blocks = partitionRow.Partition->Blocks;
  PartitionCheck check;
  check.Row = row + 1;

  std::string error;
  std::optional<std::vector<BlockEntry>> index = ReadBlockIndex(image, blocks, &error);
  if (!index) {
    check.Problems.push_back({name + " block index", error, image.FilePath, {}});
    return check;
  }
  check.Blocks = index->size();
  std::unique_ptr<VerifyDisk> disk = sources.Open(partitionRow, &error);
  if (!disk) {
    check.Problems.push_back({name, error, image.FilePath, {}});
    return check;
  }
  ContentDigests content(sources.Digests);
  bool digestible =
      CheckRawRegion(*disk, blocks.RawRegionDigest, name + " raw region",
                     FileOfNumber(set, blocks.RawRegionFile), check.Problems, content);
  uint64_t digested = disk->RawLength();

  std::vector<uint8_t> data;
  const auto count = static_cast<uint32_t>(index->size());
  for (uint32_t i = 0; i < count; ++i) {
    if (Cancelled(sources)) {
      cancelled = true;
      digestible = false;
      break;
    }
    const BlockEntry& entry = (*index)[i];
    const ReadStatus status = disk->ReadBlock(i, data);
    std::string what;
    if (status != kReadOk) what = StatusText(status);
    else if (Md5(data.data(), data.size()) != entry.BlockDigest) what = "MD5 mismatch";
    const uint64_t span = digestible ? BlockSpan(*disk, i) : 0;
    const uint64_t good = what.empty() ? std::min<uint64_t>(span, data.size()) : 0;
    content.Add(data.data(), size_t(good));
    content.AddZeros(span - good);
    digested += span;
    if (!what.empty()) {
      // A block that is not stored has nothing in a data file: its digest is in the catalogue.
      std::string file = entry.LengthAndMethod ? FileOfNumber(set, entry.FileNumber) : image.FilePath;
      check.Problems.push_back({name + " block " + std::to_string(i), what, std::move(file), i});
    }
    ++check.BlocksChecked;
    if (sources.Progress) sources.Progress(row, i + 1, count);
  }
  check.RawLength = disk->RawLength();
  if (digestible && sources.Digests.Any()) {
    content.AddZeros(disk->Size() - std::min(digested, disk->Size()));
    check.Digests = content.Finish();
  }
  return check;
}

}  // namespace

std::vector<VerifyProblem> VerifyReport::Problems() const {
  std::vector<VerifyProblem> all;
  for (const FileCheck& file : Files) all.insert(all.end(), file.Problems.begin(), file.Problems.end());
  for (const PartitionCheck& partition : Partitions)
    all.insert(all.end(), partition.Problems.begin(), partition.Problems.end());
  return all;
}

VerifyReport VerifyBackup(const FolderListing& listing, const VerifySources& sources) {
  VerifyReport report;
  // Every file of the sets the listed partitions come from.
  std::set<ImageId> setIds;
  for (const PartitionRow& row : listing.Rows) setIds.insert(row.Image->Id);
  for (const ImageSet& set : listing.Sets) {
    if (!setIds.count(set.Id)) continue;
    for (const auto* list : {&set.CatalogueFiles, &set.OtherFiles})
      for (const auto& image : *list) {
        if (Cancelled(sources)) {
          report.Cancelled = true;
          return report;
        }
        report.Files.push_back(CheckCatalogue(*image));
      }
  }
  for (size_t row = 0; row < listing.Rows.size() && !report.Cancelled; ++row)
    report.Partitions.push_back(CheckPartition(listing, row, sources, report.Cancelled));
  return report;
}

const char* DigestCheckText(DigestCheck check) {
  switch (check) {
    case DigestCheck::Ok: return "ok";
    case DigestCheck::Mismatch: return "mismatch";
    default: return "not checked";
  }
}
