// Catalogues written byte by byte from the format's field tables, not by the image writer: a
// mistake made the same way in writer and reader cannot pass here. One case per version's
// distinct fields (first track width, index form, file references), with the optional header
// blocks; one block of each is read back through the core read path from the handmade index.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "block_reader.h"
#include "image_file.h"
#include "image_fixtures.h"

namespace {

// Little-endian values and length-prefixed strings, appended in the order they are named.
class ByteBuilder {
 public:
  ByteBuilder& U8(uint64_t v) { return Le(v, 1); }
  ByteBuilder& U16(uint64_t v) { return Le(v, 2); }
  ByteBuilder& U32(uint64_t v) { return Le(v, 4); }
  ByteBuilder& U64(uint64_t v) { return Le(v, 8); }
  ByteBuilder& Fill(size_t count, uint8_t value) {
    bytes_.insert(bytes_.end(), count, value);
    return *this;
  }
  ByteBuilder& Raw(const std::vector<uint8_t>& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  ByteBuilder& Text(const std::string& text) {  // shorter than 255 characters: one length byte
    U8(text.size());
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    return *this;
  }
  size_t Size() const { return bytes_.size(); }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  ByteBuilder& Le(uint64_t v, int width) {
    for (int i = 0; i < width; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  std::vector<uint8_t> bytes_;
};

constexpr uint16_t kFileNumber = 2;  // slots 0 and 1 are other files of the set
constexpr uint32_t kBlockSize = 512;
constexpr uint32_t kRawLength = 100;
constexpr uint64_t kRawOffset = 16;
constexpr uint64_t kBlockOffset = kRawOffset + kRawLength;
constexpr uint64_t kSecondPartitionStart = 0x1122334455667788ull;

struct CatalogueCase {
  const char* Name;
  uint16_t Version;
  bool FileBackup;
  bool SecondId;
};

struct HandmadeFile {
  std::vector<uint8_t> Bytes;
  uint64_t IndexOffset = 0;  // of the first partition's index
  std::vector<uint8_t> Volume;  // the first partition's bytes
};

// Stored data (junk, raw region, block 0), then the catalogue: one disk with two partitions,
// the first of two blocks (block 0 stored plain in this file, block 1 not stored), the second
// of one block; then fields 25 to 27 and the digest.
HandmadeFile MakeFile(const CatalogueCase& c) {
  HandmadeFile made;
  ByteBuilder b;
  b.Fill(kRawOffset, 0xEE);
  for (uint32_t i = 0; i < kRawLength; ++i) made.Volume.push_back(static_cast<uint8_t>('r' + i % 7));
  for (uint32_t i = 0; i < kBlockSize; ++i) made.Volume.push_back(static_cast<uint8_t>(i * 13 + 1));
  b.Raw(made.Volume);
  made.Volume.insert(made.Volume.end(), kBlockSize, 0);
  const uint64_t catalogue = b.Size();

  b.Raw({0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}).U16(kFileNumber).U16(7);  // fields 1-3
  b.Text("header text").U16(0xBEEF).U8(c.FileBackup ? 5 : 0);                          // fields 4-6
  if (c.FileBackup) b.Text("source").Text("target").U32(-3).U32(4).U32(2).Text("a").Text("bc");
  b.U8(c.SecondId ? 9 : 0);                                                             // field 8
  if (c.SecondId) b.Raw({9, 8, 7, 6, 5, 4, 3, 2});
  b.U64(650u << 20).U16(0x0B0B).U16(0).U32(0);  // split size, value, cipher type, compression
  b.U16(0x1234).U16(1).U16(0x0F0F).U16(0).U16(0x5678).U16(1);  // fields 14-19
  b.Text("field 20").U32(1700000000).Fill(16, 0xD1).U8(1);     // fields 20-23
  b.U32(1);                                                     // disk count

  b.U32(0x80).Raw({1, 2, 3, 4});  // disk number, 4 bytes
  for (const char* text : {"disk a", "disk b", "disk c", "disk d", "disk e"}) b.Text(text);
  b.U64(1023).U32(12).U32(255).U32(63).U32(512);  // geometry
  const uint32_t track = c.Version <= 1 ? 512 : 63 * 512;
  std::vector<uint8_t> firstTrack(track, 0x11);
  firstTrack[440] = 0xA1, firstTrack[441] = 0xB2, firstTrack[442] = 0xC3, firstTrack[443] = 0xD4;
  firstTrack.back() = 0x77;
  b.Raw(firstTrack).U32(0x44).U32(1).Fill(512, 0x55).Fill(8, 0x66);  // value, one boot record
  b.U32(2);                                                          // partition count

  struct Entry { uint64_t Offset; uint32_t Length; uint16_t File; };
  auto partition = [&](uint64_t start, const std::vector<Entry>& entries, bool first) {
    b.U64(start).U64(1124).U64(3);
    b.Fill(4, 0).U8(0x07).Fill(11, 0);                                      // table entry
    b.Fill(12, 0x22).U8('E').Text("volume text").Text("LABEL").U16(3).U16(0x1FF);
    b.U32(5).U32(6).U32(0x80000009).U32(1600000000);
    b.U64(1000).U64(made.Volume.size()).U64(1000 + kRawLength).U64(0).U64(0).U64(0);
    b.U32(0).U32(8).U32(512).U32(10).U32(20).U32(0).U32(0).U32(kBlockSize);
    b.U32(2);  // file references
    for (uint16_t number : {uint16_t(1), kFileNumber}) {
      b.U16(number);
      if (c.Version >= 4) b.Text("ref " + std::to_string(number)).U32(100 + number);
    }
    b.U32(0x33);                                                     // partition value
    b.U16(kFileNumber).U64(kRawOffset).U32(0x99).Fill(16, 0xAA);     // block table
    b.U32(entries.size());
    if (first) made.IndexOffset = b.Size();
    if (c.Version <= 2) {
      for (const Entry& e : entries) b.U64(e.Offset | uint64_t{e.File} << 56).U32(e.Length);
      b.Fill(16 * entries.size(), 0xDD);
    } else {
      for (const Entry& e : entries) b.U64(e.Offset).Fill(16, 0xDD).U32(e.Length).U16(e.File);
    }
  };
  partition(1 << 20, {{kBlockOffset, kBlockSize, kFileNumber}, {0x4321, 0, kFileNumber}}, true);
  partition(kSecondPartitionStart, {{0x4321, 0, kFileNumber}}, false);

  b.U64(catalogue).Raw(std::vector<uint8_t>(kImageMagic, kImageMagic + sizeof kImageMagic));
  b.U16(c.Version).Fill(16, 0);  // digest: never checked
  made.Bytes = b.Bytes();
  return made;
}

struct FileSlot {
  const std::vector<uint8_t>* Bytes;
};

bool ReadSlot(void* context, uint32_t slot, uint64_t offset, uint8_t* buffer, uint32_t length,
              uint32_t* bytesRead) {
  const std::vector<uint8_t>& file = *static_cast<FileSlot*>(context)->Bytes;
  if (slot != kFileNumber) return false;  // the other files of the set are absent
  uint64_t available = offset < file.size() ? file.size() - offset : 0;
  *bytesRead = static_cast<uint32_t>(std::min<uint64_t>(available, length));
  std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(offset), *bytesRead, buffer);
  return true;
}

// The partition's bytes through the core read path, with the layout a mount takes from it.
std::vector<uint8_t> ReadThroughCore(const CImageFile& image, const ImagePartition& partition,
                                     const std::vector<uint8_t>& file) {
  const VolumeInfo& volume = partition.Volume;
  VirtualDiskLayout layout{};
  layout.FormatVersion = image.Version;
  layout.DiskLength = volume.VolumeLength();
  layout.SectorSize = volume.BytesPerSector();
  layout.BlockCount = partition.Blocks.BlockCount;
  layout.BlockSize = volume.BlockSize();
  layout.Compressed = static_cast<uint32_t>(image.CompressionLevel);
  layout.IndexOffset = partition.Blocks.IndexOffset;
  layout.RawLength = volume.RawRegionLength();
  layout.RawOffset = partition.Blocks.RawRegionOffset;
  layout.FileCount = static_cast<uint16_t>(image.FileNumber + 1);
  layout.RawFileSlot = partition.Blocks.RawRegionFile;
  FileSlot slot{&file};
  std::vector<uint8_t> work(BlockReaderWorkSize(&layout, 1));
  BlockReader reader;
  EXPECT_TRUE(InitBlockReader(&reader, &layout, nullptr, {ReadSlot, &slot}, work.data(), work.size(), 1));
  std::vector<uint8_t> bytes(layout.DiskLength, 0xAB);
  EXPECT_EQ(ReadVirtualDisk(&reader, 0, static_cast<uint32_t>(bytes.size()), bytes.data(), nullptr), kReadOk);
  return bytes;
}

class HandmadeCatalogue : public testing::TestWithParam<CatalogueCase> {};

TEST_P(HandmadeCatalogue, LoadsEveryFieldAndReadsItsBlocks) {
  const CatalogueCase& c = GetParam();
  const HandmadeFile made = MakeFile(c);
  TempFolder folder;
  const std::string path = folder.File("handmade.qvimg");
  WriteWholeFile(path, made.Bytes);
  std::unique_ptr<CImageFile> image;
  try {
    image = LoadImageFile(path);
  } catch (const char* message) {
    FAIL() << message;
  }

  EXPECT_EQ(image->Version, c.Version);
  EXPECT_EQ(FormatImageId(image->Id), "0123456789ABCDEF");
  EXPECT_EQ(image->FileNumber, kFileNumber);
  EXPECT_EQ(image->BackupNumber, 7);
  EXPECT_EQ(image->HeaderText, "header text");
  EXPECT_EQ(image->HeaderValue5, 0xBEEFu);
  EXPECT_EQ(image->FileBackup, c.FileBackup ? 1u : 0u);
  if (c.FileBackup) {
    EXPECT_EQ(image->BackupText1, "source");
    EXPECT_EQ(image->BackupText2, "target");
    EXPECT_EQ(image->BackupValue1, -3);
    EXPECT_EQ(image->BackupValue2, 4);
    EXPECT_EQ(image->BackupStrings, (std::vector<CStdString>{"a", "bc"}));
  }
  EXPECT_EQ(image->SecondIdFlag, c.SecondId ? 9u : 0u);
  EXPECT_EQ(FormatImageId(image->SecondId), c.SecondId ? "0908070605040302" : "0000000000000000");
  EXPECT_EQ(image->SplitSize, 650u << 20);
  EXPECT_EQ(image->HeaderValue11, 0x0B0Bu);
  EXPECT_EQ(image->HeaderValue14_18, 0x56781234u);
  EXPECT_EQ(image->FullCopy, 1u);
  EXPECT_EQ(image->HeaderValue16, 0x0F0F);
  EXPECT_EQ(image->SplitSizeFlag, 1u);
  EXPECT_EQ(image->HeaderText20, "field 20");
  EXPECT_EQ(image->BackupTime, 1700000000);
  Digest digest;
  digest.fill(0xD1);
  EXPECT_EQ(image->PasswordDigest, digest);
  EXPECT_EQ(image->CatalogueOffset, kBlockOffset + kBlockSize);

  ASSERT_EQ(image->Disks.size(), 1u);
  const ImageDisk& disk = *image->Disks[0];
  EXPECT_EQ(disk.Number, 0x80);
  EXPECT_EQ(disk.Texts[4], "disk e");
  EXPECT_EQ(disk.Geometry.SectorsPerTrack, 63u);
  EXPECT_EQ(disk.Geometry.BytesPerSector, 512u);
  EXPECT_EQ(disk.Signature(), 0xD4C3B2A1u);
  if (c.Version <= 1) {
    EXPECT_EQ(disk.FirstTrack[511], 0x77);
    EXPECT_EQ(disk.FirstTrack[512], 0) << "only the boot record is stored";
  } else {
    EXPECT_EQ(disk.FirstTrack[512], 0x11);
    EXPECT_EQ(disk.FirstTrack.back(), 0x77);
  }
  EXPECT_EQ(disk.Value, 0x44u);
  ASSERT_EQ(disk.ExtendedBootRecords.size(), 1u);
  EXPECT_EQ(disk.ExtendedBootRecords[0].Sector[511], 0x55);
  EXPECT_EQ(disk.ExtendedBootRecords[0].Value[0], 0x66);

  ASSERT_EQ(disk.Partitions.size(), 2u);
  const ImagePartition& partition = *disk.Partitions[0];
  EXPECT_EQ(partition.Start, 1u << 20);
  EXPECT_EQ(partition.Length, 1124u);
  EXPECT_EQ(partition.TypeByte(), 0x07);
  const VolumeInfo& volume = partition.Volume;
  EXPECT_EQ(volume.DriveLetter, 'E');
  EXPECT_EQ(volume.Label, "LABEL");
  EXPECT_EQ(volume.MinorOrder, 3);
  EXPECT_EQ(volume.KeptByte, 0xFF);
  EXPECT_EQ(volume.MajorOrder, 5);
  EXPECT_EQ(volume.WarningFlag, 1u);
  EXPECT_EQ(volume.FlaggedValue, 9u);
  EXPECT_EQ(volume.RawRegionLength(), kRawLength);
  EXPECT_EQ(volume.VolumeLength(), made.Volume.size());
  EXPECT_EQ(volume.Capacity(), 20u * 8 * 512);
  EXPECT_EQ(volume.BlockSize(), kBlockSize);
  ASSERT_EQ(volume.FileRefs.size(), 2u);
  EXPECT_EQ(volume.FileRefs[1].Number, kFileNumber);
  EXPECT_EQ(volume.FileRefs[1].Text, c.Version >= 4 ? "ref 2" : "");
  EXPECT_EQ(volume.FileRefs[1].Value, c.Version >= 4 ? 102u : 0u);
  EXPECT_EQ(partition.Value, 0x33);
  const CPartitionBlocks& blocks = partition.Blocks;
  EXPECT_EQ(blocks.RawRegionFile, kFileNumber);
  EXPECT_EQ(blocks.RawRegionOffset, kRawOffset);
  EXPECT_EQ(blocks.Value, 0x99u);
  EXPECT_EQ(blocks.BlockCount, 2u);
  EXPECT_EQ(blocks.IndexOffset, made.IndexOffset);
  // The next partition starts where the skipped index ends: 28 or 30 bytes per entry.
  EXPECT_EQ(disk.Partitions[1]->Start, kSecondPartitionStart);
  EXPECT_EQ(disk.Partitions[1]->Blocks.BlockCount, 1u);

  EXPECT_EQ(ReadThroughCore(*image, partition, made.Bytes), made.Volume);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, HandmadeCatalogue,
    testing::Values(CatalogueCase{"v1_boot_record_only", 1, false, false},
                    CatalogueCase{"v2_old_index_second_id", 2, false, true},
                    CatalogueCase{"v3_long_index_file_backup", 3, true, false},
                    CatalogueCase{"v4_file_refs_with_text", 4, false, true},
                    CatalogueCase{"v6_file_backup_second_id", 6, true, true}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
