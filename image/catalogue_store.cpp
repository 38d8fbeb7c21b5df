#include "catalogue_store.h"

#include <stdexcept>

#include "md5.h"

namespace {
class ByteWriter {
 public:
  std::vector<uint8_t> Bytes;

  template <typename T>
  void Put(T value) {
    auto bits = static_cast<std::make_unsigned_t<T>>(value);
    for (size_t i = 0; i < sizeof(T); ++i) Bytes.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  }
  void PutBytes(const void* data, size_t length) {
    auto* bytes = static_cast<const uint8_t*>(data);
    Bytes.insert(Bytes.end(), bytes, bytes + length);
  }
  template <size_t N>
  void PutBytes(const std::array<uint8_t, N>& bytes) { PutBytes(bytes.data(), N); }
  void PutString(const CStdString& s) {
    if (s.size() < 0xFF) {
      Put<uint8_t>(static_cast<uint8_t>(s.size()));
    } else if (s.size() < 0xFFFE) {
      Put<uint8_t>(0xFF);
      Put<uint16_t>(static_cast<uint16_t>(s.size()));
    } else {
      Put<uint8_t>(0xFF);
      Put<uint16_t>(0xFFFF);
      Put<uint32_t>(static_cast<uint32_t>(s.size()));
    }
    PutBytes(s.data(), s.size());
  }
};

void StoreVolume(ByteWriter& out, const VolumeInfo& volume, uint16_t version) {
  out.PutBytes(volume.Reserved);
  out.Put<char>(volume.DriveLetter);
  out.PutString(volume.Text);
  out.PutString(volume.Label);
  out.Put<uint16_t>(volume.MinorOrder);
  out.Put<uint16_t>(volume.KeptByte);
  out.Put<int32_t>(volume.MajorOrder);
  out.Put<int32_t>(volume.Value);
  out.Put<uint32_t>(volume.FlaggedRaw);
  out.Put<uint32_t>(volume.VolumeTime);
  for (uint64_t extent : volume.Extents) out.Put<uint64_t>(extent);
  for (uint32_t count : volume.Counts) out.Put<uint32_t>(count);
  out.Put<int32_t>(static_cast<int32_t>(volume.FileRefs.size()));
  for (const FileRef& ref : volume.FileRefs) {
    out.Put<uint16_t>(ref.Number);
    if (version >= 4) {
      out.PutString(ref.Text);
      out.Put<uint32_t>(ref.Value);
    }
  }
}

void StoreIndex(ByteWriter& out, const std::vector<BlockEntry>& index, bool oldLayout) {
  if (!oldLayout) {
    for (const BlockEntry& entry : index) {
      out.Put<uint64_t>(entry.Offset);
      out.PutBytes(entry.BlockDigest);
      out.Put<uint32_t>(entry.LengthAndMethod);
      out.Put<uint16_t>(entry.FileNumber);
    }
    return;
  }
  for (const BlockEntry& entry : index) {
    out.Put<uint64_t>((entry.Offset & 0x00FFFFFFFFFFFFFFull) | uint64_t{entry.FileNumber} << 56);
    out.Put<uint32_t>(entry.LengthAndMethod);
  }
  for (const BlockEntry& entry : index) out.PutBytes(entry.BlockDigest);
}

void StorePartition(ByteWriter& out, const ImagePartition& partition,
                    const std::vector<BlockEntry>& index, uint16_t version, CatalogueForm form) {
  out.Put<uint64_t>(partition.Start);
  out.Put<uint64_t>(partition.Length);
  out.Put<uint64_t>(partition.Value64);
  out.PutBytes(partition.TableEntry);
  StoreVolume(out, partition.Volume, version);
  out.Put<int32_t>(partition.Value);
  const CPartitionBlocks& blocks = partition.Blocks;
  out.Put<uint16_t>(blocks.RawRegionFile);
  out.Put<uint64_t>(blocks.RawRegionOffset);
  out.Put<uint32_t>(blocks.Value);
  out.PutBytes(blocks.RawRegionDigest);
  out.Put<uint32_t>(static_cast<uint32_t>(index.size()));
  StoreIndex(out, index, form == CatalogueForm::File && version <= 2);
}

void StoreDisk(ByteWriter& out, const ImageDisk& disk, const std::vector<BlockEntry>* indexes,
               uint16_t version, CatalogueForm form) {
  out.Put<int32_t>(disk.Number);
  out.PutBytes(disk.Reserved);
  for (const CStdString& text : disk.Texts) out.PutString(text);
  out.Put<int64_t>(disk.Geometry.Cylinders);
  out.Put<uint32_t>(disk.Geometry.MediaType);
  out.Put<uint32_t>(disk.Geometry.TracksPerCylinder);
  out.Put<uint32_t>(disk.Geometry.SectorsPerTrack);
  out.Put<uint32_t>(disk.Geometry.BytesPerSector);
  bool mbrOnly = form == CatalogueForm::File && version <= 1;
  out.PutBytes(disk.FirstTrack.data(), mbrOnly ? kMbrSize : kFirstTrackSize);
  out.Put<uint32_t>(disk.Value);
  out.Put<int32_t>(static_cast<int32_t>(disk.ExtendedBootRecords.size()));
  for (const ExtendedBootRecord& record : disk.ExtendedBootRecords) {
    out.PutBytes(record.Sector);
    out.PutBytes(record.Value);
  }
  out.Put<int32_t>(static_cast<int32_t>(disk.Partitions.size()));
  for (size_t i = 0; i < disk.Partitions.size(); ++i)
    StorePartition(out, *disk.Partitions[i], indexes[i], version, form);
}

// version stands for image.Version wherever the catalogue says which version it is.
std::vector<uint8_t> Store(const CImageFile& image, const std::vector<std::vector<BlockEntry>>& indexes,
                           CatalogueForm form, uint16_t version) {
  size_t partitionCount = 0;
  for (const auto& disk : image.Disks) partitionCount += disk->Partitions.size();
  if (image.CatalogueFlag && indexes.size() != partitionCount)
    throw std::invalid_argument("StoreCatalogue: one block index per partition");
  ByteWriter out;
  out.PutBytes(image.Id);
  out.Put<uint16_t>(image.FileNumber);
  out.Put<uint16_t>(image.BackupNumber);
  out.PutString(image.HeaderText);
  out.Put<uint16_t>(static_cast<uint16_t>(image.HeaderValue5));
  out.Put<uint8_t>(image.FileBackup ? 1 : 0);
  if (image.FileBackup) {
    out.PutString(image.BackupText1);
    out.PutString(image.BackupText2);
    out.Put<int32_t>(image.BackupValue1);
    out.Put<int32_t>(image.BackupValue2);
    out.Put<int32_t>(static_cast<int32_t>(image.BackupStrings.size()));
    for (const CStdString& text : image.BackupStrings) out.PutString(text);
  }
  out.Put<uint8_t>(static_cast<uint8_t>(image.SecondIdFlag));
  if (image.SecondIdFlag) out.PutBytes(image.SecondId);
  out.Put<uint64_t>(image.SplitSize);
  out.Put<uint16_t>(static_cast<uint16_t>(image.HeaderValue11));
  out.Put<uint16_t>(static_cast<uint16_t>(image.CipherType));
  out.Put<int32_t>(image.CompressionLevel);
  out.Put<uint16_t>(static_cast<uint16_t>(image.HeaderValue14_18));
  out.Put<uint16_t>(static_cast<uint16_t>(image.FullCopy));
  out.Put<uint16_t>(image.HeaderValue16);
  out.Put<uint16_t>(static_cast<uint16_t>(image.PasswordFlag));
  out.Put<uint16_t>(static_cast<uint16_t>(image.HeaderValue14_18 >> 16));
  out.Put<uint16_t>(static_cast<uint16_t>(image.SplitSizeFlag));
  out.PutString(image.HeaderText20);
  out.Put<uint32_t>(static_cast<uint32_t>(image.BackupTime));
  out.PutBytes(image.PasswordDigest);
  out.Put<uint8_t>(image.CatalogueFlag);
  if (image.CatalogueFlag) {
    out.Put<int32_t>(static_cast<int32_t>(image.Disks.size()));
    size_t first = 0;
    for (const auto& disk : image.Disks) {
      StoreDisk(out, *disk, indexes.data() + first, version, form);
      first += disk->Partitions.size();
    }
  }
  out.Put<uint64_t>(image.CatalogueOffset);
  out.PutBytes(kImageMagic, sizeof kImageMagic);
  out.Put<uint16_t>(version);
  return std::move(out.Bytes);
}
}  // namespace

std::vector<uint8_t> StoreCatalogue(const CImageFile& image,
                                    const std::vector<std::vector<BlockEntry>>& indexes,
                                    CatalogueForm form) {
  return Store(image, indexes, form, image.Version);
}

Digest CatalogueDigest(const CImageFile& image, const std::vector<std::vector<BlockEntry>>& indexes,
                       uint16_t version) {
  const std::vector<uint8_t> form = Store(image, indexes, CatalogueForm::Digest, version);
  return Md5(form.data(), form.size());
}
