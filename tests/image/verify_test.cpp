// The verify library call over images the writer wrote, each damaged in one place: what the
// report says about every file and partition, which block and which file each problem names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>

#include "block_index.h"
#include "image_fixtures.h"
#include "mount_record_build.h"
#include "mounted_verify_disk.h"
#include "password.h"
#include "verify.h"

namespace {

constexpr uint32_t kBlockSize = 16384;
constexpr uint64_t kRawLength = 8192;

// The written set as its catalogue file describes it: where each block and the raw region lie.
struct WrittenSet {
  std::vector<std::string> Paths;  // by file number
  std::unique_ptr<CImageFile> Catalogue;
  std::vector<BlockEntry> Index;   // of its one partition

  const CPartitionBlocks& Blocks() const { return Catalogue->Disks[0]->Partitions[0]->Blocks; }
  // The first block stored in a file other than the catalogue's, else the first stored block.
  uint32_t StoredBlock() const {
    for (bool elsewhere : {true, false})
      for (uint32_t i = 0; i < Index.size(); ++i)
        if (Index[i].LengthAndMethod && (!elsewhere || Index[i].FileNumber != Catalogue->FileNumber)) return i;
    ADD_FAILURE() << "no stored block";
    return 0;
  }
};

void FlipByte(const std::string& path, uint64_t at) {
  std::vector<uint8_t> bytes = ReadWholeFile(path);
  bytes.at(at) ^= 0x10;
  WriteWholeFile(path, bytes);
}

template <typename T>
void PutAt(const std::string& path, uint64_t at, T value) {
  std::vector<uint8_t> bytes = ReadWholeFile(path);
  for (size_t i = 0; i < sizeof value; ++i) bytes.at(at + i) = static_cast<uint8_t>(uint64_t(value) >> (8 * i));
  WriteWholeFile(path, bytes);
}

VerifySources SourcesFor(const FolderListing& listing) {
  VerifySources sources;
  sources.Open = [&listing](const PartitionRow& row, std::string* error) -> std::unique_ptr<VerifyDisk> {
    std::optional<std::vector<uint8_t>> record = BuildMountRecord(
        MakeMountValues(*FindSet(listing.Sets, row.Image->Id), *row.Image, *row.Partition), error);
    return record ? OpenVerifyDisk(std::move(*record), error) : nullptr;
  };
  return sources;
}

FolderListing Listing(const std::string& path, const std::string& password) {
  FolderListing listing = LoadImageFolder(path, ScanRule::ImagesAnyCase);
  EXPECT_EQ(listing.Message, "");
  for (const PartitionRow& row : listing.Rows)
    if (row.Image->PasswordFlag) {
      EXPECT_EQ(AcceptPassword(*row.Partition->Image, password), PasswordEntry::Accepted);
    }
  return listing;
}

struct Expected {
  DigestCheck CatalogueDigest = DigestCheck::Ok;  // of the catalogue file
  bool Version3Form = false;
  std::string Where;  // of the one problem; empty: none
  const char* What = nullptr;  // null: any text
  std::string File;
  std::optional<uint32_t> Block;
};

Expected Intact(DigestCheck digest = DigestCheck::Ok, bool version3Form = false) {
  return {digest, version3Form, "", nullptr, "", std::nullopt};
}
Expected Damaged(DigestCheck digest, std::string where, const char* what, std::string file,
                 std::optional<uint32_t> block = std::nullopt) {
  return {digest, false, std::move(where), what, std::move(file), block};
}

// A volume of length bytes, and the image of one disk holding it partitions times, written
// with options at img.qvimg; returns the paths written.
std::vector<std::string> WriteVolumeImage(const TempFolder& folder, ImageWriterOptions options,
                                          size_t length, int partitions = 1, uint64_t rawLength = 0) {
  WriteWholeFile(folder.File("p.raw"), MakeVolumeBytes(length, 5));
  WriterDisk disk;
  for (int i = 0; i < partitions; ++i) {
    WriterPartition partition;
    partition.SourcePath = folder.File("p.raw");
    partition.RawRegionLength = rawLength;
    disk.Partitions.push_back(partition);
  }
  options.OutputPath = folder.File("img.qvimg");
  options.BlockSize = kBlockSize;
  options.Disks = {disk};
  return WriteImage(options);
}

struct Case {
  const char* Name;
  uint16_t Version;
  bool Version3Digest;
  int32_t Compression;
  std::string Password;
  uint64_t SplitSize;
  std::function<Expected(const WrittenSet&)> Damage;
};

const Case kCases[] = {
    {"intact, compressed, encrypted and split", 6, false, 2, "secret", 40000,
     [](const WrittenSet&) { return Intact(); }},
    {"version 4 with the version-3 digest", 4, true, 0, "", 0,
     [](const WrittenSet&) { return Intact(DigestCheck::Ok, true); }},
    {"version 2: no digest to check", 2, false, 1, "", 0,
     [](const WrittenSet&) { return Intact(DigestCheck::NotChecked); }},
    {"catalogue digest flipped", 6, false, 0, "", 0,
     [](const WrittenSet& set) {
       FlipByte(set.Paths.back(), ReadWholeFile(set.Paths.back()).size() - 1);
       return Damaged(DigestCheck::Mismatch, "catalogue of " + set.Paths.back(), "digest mismatch",
                      set.Paths.back());
     }},
    {"stored block flipped in a data file", 6, false, 0, "", 40000,
     [](const WrittenSet& set) {
       const uint32_t block = set.StoredBlock();
       const BlockEntry& entry = set.Index[block];
       FlipByte(set.Paths.at(entry.FileNumber), entry.Offset + 100);
       return Damaged(DigestCheck::Ok, "partition 1 block " + std::to_string(block), "MD5 mismatch",
                      set.Paths.at(entry.FileNumber), block);
     }},
    {"encrypted compressed block flipped", 5, false, 1, "secret", 40000,
     [](const WrittenSet& set) {
       const uint32_t block = set.StoredBlock();
       const BlockEntry& entry = set.Index[block];
       FlipByte(set.Paths.at(entry.FileNumber), entry.Offset + 3);
       return Damaged(DigestCheck::Ok, "partition 1 block " + std::to_string(block), nullptr,
                      set.Paths.at(entry.FileNumber), block);
     }},
    {"raw region flipped", 3, false, 0, "", 0,
     [](const WrittenSet& set) {
       const std::string& file = set.Paths.at(set.Blocks().RawRegionFile);
       FlipByte(file, set.Blocks().RawRegionOffset + 7);
       return Damaged(DigestCheck::Ok, "partition 1 raw region", "MD5 mismatch", file);
     }},
    {"raw region of 3 GiB in a small file", 2, false, 0, "", 0,
     [](const WrittenSet& set) {
       // The block area start follows the region start and the volume length in the catalogue.
       const VolumeInfo& volume = set.Catalogue->Disks[0]->Partitions[0]->Volume;
       std::vector<uint8_t> bytes = ReadWholeFile(set.Paths.back());
       uint64_t extents[] = {volume.RegionStart(), volume.VolumeLength(), volume.BlockAreaStart()};
       auto* pattern = reinterpret_cast<const uint8_t*>(extents);
       auto at = std::search(bytes.begin(), bytes.end(), pattern, pattern + sizeof extents) - bytes.begin();
       PutAt<uint64_t>(set.Paths.back(), uint64_t(at) + 8, volume.VolumeLength() + (3ull << 30));
       PutAt<uint64_t>(set.Paths.back(), uint64_t(at) + 16, volume.RegionStart() + (3ull << 30));
       return Damaged(DigestCheck::NotChecked, "partition 1 raw region",
                      "runs past the end of its image file or cannot be read (at byte 0 of 3221225472)",
                      set.Paths.back());
     }},
    {"block count past the end of the file", 6, false, 0, "", 0,
     [](const WrittenSet& set) {
       PutAt<uint32_t>(set.Paths.back(), set.Blocks().IndexOffset - 4, 0x7FFFFFFF);
       return Damaged(DigestCheck::NotChecked, "partition 1 block index", nullptr, set.Paths.back());
     }},
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.Name; }

class VerifyDamage : public ::testing::TestWithParam<Case> {};

TEST_P(VerifyDamage, ReportNamesTheDamageItsBlockAndItsFile) {
  const Case& c = GetParam();
  TempFolder folder;
  ImageWriterOptions options;
  options.Version = c.Version;
  options.Version3Digest = c.Version3Digest;
  options.CompressionLevel = c.Compression;
  options.Password = c.Password;
  options.SplitSize = c.SplitSize;
  WrittenSet written{WriteVolumeImage(folder, options, 6 * kBlockSize + kRawLength + 1000, 1, kRawLength),
                     nullptr, {}};
  written.Catalogue = LoadImageFile(written.Paths.back());
  std::string error;
  written.Index = ReadBlockIndex(*written.Catalogue, written.Blocks(), &error).value();
  ASSERT_EQ(written.Index.size(), 6u + 1);
  const Expected expected = c.Damage(written);

  FolderListing listing = Listing(written.Paths.back(), c.Password);
  ASSERT_EQ(listing.Rows.size(), 1u);
  const VerifyReport report = VerifyBackup(listing, SourcesFor(listing));
  EXPECT_FALSE(report.Cancelled);
  ASSERT_EQ(report.Files.size(), written.Paths.size());
  for (const FileCheck& file : report.Files) {
    const bool catalogue = file.File == written.Paths.back();
    EXPECT_EQ(file.Digest, catalogue || expected.CatalogueDigest == DigestCheck::NotChecked
                               ? expected.CatalogueDigest : DigestCheck::Ok) << file.File;
    EXPECT_EQ(file.Version3Form, expected.Version3Form) << file.File;
  }
  ASSERT_EQ(report.Partitions.size(), 1u);
  const PartitionCheck& partition = report.Partitions[0];
  EXPECT_EQ(partition.Row, 1u);
  const std::vector<VerifyProblem> problems = report.Problems();
  if (expected.Where.empty()) {
    EXPECT_TRUE(report.Ok());
    EXPECT_TRUE(problems.empty()) << problems[0].Where << ": " << problems[0].What;
    EXPECT_EQ(partition.Blocks, written.Index.size());
    EXPECT_EQ(partition.BlocksChecked, written.Index.size());
    EXPECT_EQ(partition.RawLength, kRawLength);
    return;
  }
  EXPECT_FALSE(report.Ok());
  ASSERT_EQ(problems.size(), 1u);
  const VerifyProblem& problem = problems[0];
  EXPECT_EQ(problem.Where, expected.Where);
  if (expected.What) {
    EXPECT_EQ(problem.What, expected.What);
  }
  EXPECT_FALSE(problem.What.empty());
  EXPECT_EQ(problem.File, expected.File);
  EXPECT_EQ(problem.Block, expected.Block);
}

INSTANTIATE_TEST_SUITE_P(Image, VerifyDamage, ::testing::ValuesIn(kCases), [](const auto& info) {
  std::string name;
  for (char ch : std::string(info.param.Name)) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
  return name;
});

// Set while the first partition is checked: the report stops there and is not a pass.
TEST(Verify, CancelStopsAtTheNextBlock) {
  TempFolder folder;
  const std::vector<std::string> paths = WriteVolumeImage(folder, {}, 6 * kBlockSize, 2);
  FolderListing listing = Listing(paths.back(), "");
  std::atomic<bool> cancel = false;
  VerifySources sources = SourcesFor(listing);
  sources.Cancel = &cancel;
  sources.Progress = [&](size_t, uint32_t done, uint32_t) { cancel = done == 2; };
  const VerifyReport report = VerifyBackup(listing, sources);
  EXPECT_TRUE(report.Cancelled);
  EXPECT_FALSE(report.Ok());
  ASSERT_EQ(report.Partitions.size(), 1u);
  EXPECT_EQ(report.Partitions[0].BlocksChecked, 2u);
  EXPECT_TRUE(report.Problems().empty());
}

// The record is built from the image alone: without its accepted password the blocks of an
// encrypted image decode to garbage, and every stored block is a problem.
TEST(Verify, BlocksOfAnEncryptedImageNeedThePasswordOnTheImage) {
  TempFolder folder;
  ImageWriterOptions options;
  options.Password = "secret";
  const std::string path = WriteVolumeImage(folder, options, 4 * kBlockSize).back();
  FolderListing locked = LoadImageFolder(path, ScanRule::ImagesAnyCase);
  EXPECT_EQ(AcceptPassword(*locked.Rows[0].Partition->Image, "Secret"), PasswordEntry::Wrong);
  EXPECT_EQ(locked.Rows[0].Image->Password, "");
  const VerifyReport withoutPassword = VerifyBackup(locked, SourcesFor(locked));
  EXPECT_FALSE(withoutPassword.Ok());
  EXPECT_EQ(withoutPassword.Files[0].Digest, DigestCheck::Ok);  // the catalogue is not encrypted
  FolderListing unlocked = Listing(path, "secret");
  EXPECT_TRUE(VerifyBackup(unlocked, SourcesFor(unlocked)).Ok());
}

}  // namespace
