// The records nested in an image catalogue: disks, partitions, volume records, file references
// and block tables, in the field order they are stored in.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "image_format.h"
#include "std_archive.h"

class CImageFile;
struct ImageDisk;
struct ImagePartition;

using Digest = std::array<uint8_t, 16>;

constexpr uint32_t kFirstTrackSize = 63 * 512;  // held whole; versions 0 and 1 store 512 bytes
constexpr uint32_t kMbrSize = 512;

struct FileRef {
  uint16_t Number = 0;
  CStdString Text;     // from version 4 on
  uint32_t Value = 0;  // from version 4 on
};

struct VolumeInfo {
  ImagePartition* Partition = nullptr;
  std::array<uint8_t, 12> Reserved{};
  char DriveLetter = 0;  // 0 when the volume had none
  CStdString Text;
  CStdString Label;
  uint16_t MinorOrder = 0;
  uint8_t KeptByte = 0;  // stored as 16 bits, only the low byte kept
  int32_t MajorOrder = 0;
  int32_t Value = 0;
  uint32_t FlaggedRaw = 0;    // as read
  uint32_t WarningFlag = 0;   // bit 31 of FlaggedRaw
  uint32_t FlaggedValue = 0;  // bits 0-30 when the flag is set, else 0
  uint32_t VolumeTime = 0;
  std::array<uint64_t, 6> Extents{};  // [0] region start, [1] volume length, [2] block area start
  std::array<uint32_t, 8> Counts{};   // [1] sectors/cluster, [2] bytes/sector, [3] free clusters,
                                      // [4] total clusters, [7] block size
  std::vector<FileRef> FileRefs;

  uint64_t RegionStart() const { return Extents[0]; }
  uint64_t VolumeLength() const { return Extents[1]; }
  uint64_t BlockAreaStart() const { return Extents[2]; }
  // Wraps like the stored values do when a catalogue has block area start below region start.
  uint64_t RawRegionLength() const { return Extents[2] - Extents[0]; }
  uint32_t SectorsPerCluster() const { return Counts[1]; }
  uint32_t BytesPerSector() const { return Counts[2]; }
  uint32_t FreeClusters() const { return Counts[3]; }
  uint32_t TotalClusters() const { return Counts[4]; }
  uint32_t BlockSize() const { return Counts[7]; }
  // Three 32-bit factors can pass 64 bits: a hostile product saturates rather than wraps.
  uint64_t Capacity() const { return SizeOfClusters(Counts[4]); }
  uint64_t FreeSpace() const { return SizeOfClusters(Counts[3]); }
  // A hostile catalogue can claim more free than total space: never a negative used space.
  uint64_t UsedSpace() const {
    const uint64_t capacity = Capacity(), freeSpace = FreeSpace();
    return capacity > freeSpace ? capacity - freeSpace : 0;
  }
  uint64_t SizeOfClusters(uint32_t clusters) const {
    uint64_t size = 0;
    if (__builtin_mul_overflow(uint64_t{clusters} * Counts[1], Counts[2], &size)) return UINT64_MAX;
    return size;
  }
};

class CPartitionBlocks {
 public:
  virtual ~CPartitionBlocks() = default;

  ImagePartition* Partition = nullptr;
  uint16_t RawRegionFile = 0;
  uint64_t RawRegionOffset = 0;
  uint32_t Value = 0;
  Digest RawRegionDigest{};
  uint32_t BlockCount = 0;
  uint64_t IndexOffset = 0;  // file position of the block index, recorded while loading

  // The index's bytes in a file of version; it may run past the end of a damaged file.
  uint64_t IndexSize(uint16_t version) const;
  uint64_t IndexEnd(uint16_t version) const { return IndexOffset + IndexSize(version); }
};

inline uint64_t CPartitionBlocks::IndexSize(uint16_t version) const {
  return uint64_t{BlockCount} * IndexBytesPerBlock(version);
}

struct ImagePartition {
  ImagePartition() {
    Volume.Partition = this;
    Blocks.Partition = this;
  }
  ImagePartition(const ImagePartition&) = delete;
  ImagePartition& operator=(const ImagePartition&) = delete;

  uint64_t Start = 0;
  uint64_t Length = 0;
  uint64_t Value64 = 0;
  std::array<uint8_t, 16> TableEntry{};  // the partition's MBR entry; byte 4 is its type
  VolumeInfo Volume;
  int32_t Value = 0;
  CPartitionBlocks Blocks;

  // Links owned by the partition list.
  ImageDisk* Disk = nullptr;
  CImageFile* Image = nullptr;
  int32_t Mark = 0;

  uint8_t TypeByte() const { return TableEntry[4]; }
};

struct ExtendedBootRecord {
  std::array<uint8_t, 512> Sector{};
  std::array<uint8_t, 8> Value{};
};

struct DiskGeometry {
  int64_t Cylinders = 0;
  uint32_t MediaType = 0;
  uint32_t TracksPerCylinder = 0;
  uint32_t SectorsPerTrack = 0;
  uint32_t BytesPerSector = 0;
};

struct ImageDisk {
  int32_t Number = 0;
  std::array<uint8_t, 4> Reserved{};
  std::array<CStdString, 5> Texts;
  DiskGeometry Geometry;
  std::vector<uint8_t> FirstTrack = std::vector<uint8_t>(kFirstTrackSize, 0);
  uint32_t Value = 0;
  std::vector<ExtendedBootRecord> ExtendedBootRecords;
  std::vector<std::unique_ptr<ImagePartition>> Partitions;

  uint32_t Signature() const {  // bytes 440-443 of the first track
    return FirstTrack[440] | FirstTrack[441] << 8 | FirstTrack[442] << 16 |
           uint32_t{FirstTrack[443]} << 24;
  }
};
