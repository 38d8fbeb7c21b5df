#include "boot_records.h"

#include <algorithm>

namespace {
constexpr size_t kParameterBlockFrom = 11, kParameterBlockEnd = 84;
constexpr size_t kDiskSignatureAt = 440;
constexpr size_t kPartitionEntriesAt = 446, kPartitionEntrySize = 16, kPartitionEntries = 4;
constexpr size_t kStartingSectorInEntry = 8;
constexpr uint8_t kActive = 0x80, kInactive = 0x00;
constexpr size_t kReferenceSignatureAt = 24;
// The scan stops this far before the end, one byte short of what a reference needs, as the
// program always has; the last possible position is never examined.
constexpr int64_t kScanStopsBeforeEnd = 28;
constexpr size_t kBootStatusFlagAt = 11;

uint64_t LoadLittleEndian(const uint8_t* bytes, int width) {
  uint64_t value = 0;
  for (int k = width - 1; k >= 0; --k) value = value << 8 | bytes[k];
  return value;
}

void StoreLittleEndian(uint8_t* bytes, uint64_t value, int width) {
  for (int k = 0; k < width; ++k) bytes[k] = static_cast<uint8_t>(value >> (8 * k));
}

bool MarkActivePartition(uint8_t* record, uint64_t partitionOffset, uint32_t bytesPerSector) {
  bool matches[kPartitionEntries] = {};
  for (size_t n = 0; n < kPartitionEntries; ++n) {
    uint64_t startingSector = LoadLittleEndian(
        record + kPartitionEntriesAt + kPartitionEntrySize * n + kStartingSectorInEntry, 4);
    matches[n] = startingSector != 0 && bytesPerSector != 0 &&
                 startingSector * bytesPerSector == partitionOffset;
  }
  if (std::none_of(std::begin(matches), std::end(matches), [](bool m) { return m; })) return false;
  for (size_t n = 0; n < kPartitionEntries; ++n)
    record[kPartitionEntriesAt + kPartitionEntrySize * n] = matches[n] ? kActive : kInactive;
  return true;
}

bool Matches(const uint8_t* at, const DeviceReference& reference) {
  return LoadLittleEndian(at, 8) == reference.PartitionOffset &&
         LoadLittleEndian(at + kReferenceSignatureAt, 4) == reference.Signature;
}
}  // namespace

bool MergeBootArea(std::span<uint8_t> sourceArea, std::span<const uint8_t> destinationArea) {
  if (sourceArea.size() < kBootAreaSize || destinationArea.size() < kBootAreaSize) return false;
  std::copy(destinationArea.begin() + kParameterBlockFrom,
            destinationArea.begin() + kParameterBlockEnd, sourceArea.begin() + kParameterBlockFrom);
  return true;
}

std::optional<DiskRecordEdit> EditDiskRecord(std::span<uint8_t> record, uint32_t imageSignature,
                                             DiskRecordChoices choices, uint64_t partitionOffset,
                                             uint32_t bytesPerSector) {
  if (record.size() < kMasterBootRecordSize) return std::nullopt;
  DiskRecordEdit edit;
  uint8_t* signature = record.data() + kDiskSignatureAt;
  edit.Previous = static_cast<uint32_t>(LoadLittleEndian(signature, 4));
  bool activeMatched =
      choices.MarkActive && MarkActivePartition(record.data(), partitionOffset, bytesPerSector);
  if (choices.ReplaceDiskId) StoreLittleEndian(signature, imageSignature, 4);
  edit.Written = choices.ReplaceDiskId ? imageSignature : edit.Previous;
  edit.MustWrite = choices.ReplaceDiskId || activeMatched;
  return edit;
}

std::optional<BootConfigurationRewrite> ChooseBootConfigurationRewrite(
    bool updateBootConfiguration, const DeviceReference& image,
    const DestinationDisk& destination) {
  if (!updateBootConfiguration || !destination.Record || destination.PartitionOffset == 0)
    return std::nullopt;
  const DiskRecordEdit& record = *destination.Record;
  BootConfigurationRewrite rewrite{
      image,
      {destination.PartitionOffset, destination.RecordWritten ? record.Written : record.Previous}};
  if (rewrite.Key == rewrite.Replacement) return std::nullopt;
  return rewrite;
}

bool RewriteBootConfiguration(std::span<uint8_t> store, const BootConfigurationRewrite& rewrite) {
  bool changed = false;
  const auto length = static_cast<int64_t>(store.size());
  for (int64_t i = 0; i < length - kScanStopsBeforeEnd; ++i) {
    uint8_t* at = store.data() + i;
    if (!Matches(at, rewrite.Key)) continue;
    StoreLittleEndian(at, rewrite.Replacement.PartitionOffset, 8);
    StoreLittleEndian(at + kReferenceSignatureAt, rewrite.Replacement.Signature, 4);
    changed = true;
  }
  return changed;
}

bool SetBootStatusFlag(std::span<uint8_t> status) {
  if (status.size() < kBootStatusSize) return false;
  status[kBootStatusFlagAt] = 1;
  return true;
}
