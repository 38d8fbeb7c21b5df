// Byte edits that make a restored destination bootable: the partition boot area, the disk
// signature and active flag of the master boot record, the device references of the copied
// boot configuration store, and the boot status file. Each works on bytes already read; the
// caller reads and writes the sectors and files.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

inline constexpr size_t kBootAreaSize = 8192;
inline constexpr size_t kMasterBootRecordSize = 512;
inline constexpr size_t kBootStatusSize = 12;

// The source's boot code around the destination's own parameter block: bytes 11 to 83 of the
// destination (bytes per sector up to the boot sector checksum) are copied over the source.
// False, and nothing changed, when either area is shorter than kBootAreaSize.
bool MergeBootArea(std::span<uint8_t> sourceArea, std::span<const uint8_t> destinationArea);

struct DiskRecordChoices {
  bool MarkActive = false;
  bool ReplaceDiskId = false;
};
struct DiskRecordEdit {
  bool MustWrite = false;
  uint32_t Previous = 0;  // disk signature at byte 440 as read
  uint32_t Written = 0;   // disk signature at byte 440 once the record is written
};
// Replace disk ID puts the image's signature at byte 440; mark active alone keeps the previous
// one there and writes the record all the same, so that the choice takes effect. Mark active
// makes the entries whose starting sector times the sector size is the partition offset active
// and all others inactive; when none matches (an empty entry, starting sector 0, never does;
// nor does any entry with a sector size of 0) the table is left as it was. Refused (nullopt,
// nothing changed) for a record shorter than kMasterBootRecordSize.
std::optional<DiskRecordEdit> EditDiskRecord(std::span<uint8_t> record, uint32_t imageSignature,
                                             DiskRecordChoices choices, uint64_t partitionOffset,
                                             uint32_t bytesPerSector);

// A device reference in the boot configuration: an 8-byte partition offset, and 24 bytes after
// its start a 4-byte disk signature.
struct DeviceReference {
  uint64_t PartitionOffset = 0;
  uint32_t Signature = 0;
  bool operator==(const DeviceReference&) const = default;
};
struct BootConfigurationRewrite {
  DeviceReference Key;
  DeviceReference Replacement;
};

// What the destination's disk step found: its partition offset (0 when unknown), the edit of
// its master boot record when the record was read, and whether that record was written.
struct DestinationDisk {
  uint64_t PartitionOffset = 0;
  std::optional<DiskRecordEdit> Record;
  bool RecordWritten = false;
};
// The copied store names the imaged disk and partition; they are replaced by the signature the
// destination disk now carries (the one written, else the one read) and the destination
// partition offset. nullopt when nothing is to be rewritten: the update was not asked for, the
// record was not read, the destination offset is unknown, or the references already name the
// destination.
std::optional<BootConfigurationRewrite> ChooseBootConfigurationRewrite(
    bool updateBootConfiguration, const DeviceReference& image, const DestinationDisk& destination);

// Rewrites in place every reference equal to the key, scanning each byte position i while
// i < length - 28: a file shorter than 29 bytes is not scanned, and a reference that ends on
// the file's last byte is not matched. Returns whether any reference was rewritten.
bool RewriteBootConfiguration(std::span<uint8_t> store, const BootConfigurationRewrite& rewrite);

// Byte 11 of the boot status file set to 1; false (nothing changed, nothing to write) when
// fewer than kBootStatusSize bytes were read.
bool SetBootStatusFlag(std::span<uint8_t> status);
