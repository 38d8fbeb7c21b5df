#include "partition_list_columns.h"

#include "text_helpers.h"

std::string OriginalLocationText(const VolumeInfo& volume) {
  std::string label = volume.Label.empty() ? "<No Name>" : volume.Label;
  if (!volume.DriveLetter) return label;
  return label + " (" + volume.DriveLetter + ":)";
}

std::string CompressionText(int32_t level) {
  switch (level) {
    case 0: return "None";
    case 1: return "Medium";
    case 2: return "High";
    default: return std::to_string(level);
  }
}

std::array<std::string, 10> PartitionColumnTexts(const PartitionRow& row) {
  const VolumeInfo& volume = row.Partition->Volume;
  const CImageFile& image = *row.Image;
  // A hostile catalogue can claim more free than total space: show no negative used space.
  uint64_t capacity = volume.Capacity(), freeSpace = volume.FreeSpace();
  return {OriginalLocationText(volume),
          FormatDateTime(image.BackupTime, 1, 2),
          FormatImageId(image.Id),
          FormatSize(capacity),
          FormatSize(capacity > freeSpace ? capacity - freeSpace : 0),
          FormatSize(freeSpace),
          "    " + PartitionFileSystemText(row.Partition->TypeByte()),
          CompressionText(image.CompressionLevel),
          std::to_string(volume.FileRefs.size()),
          image.FullCopy ? "No" : "Yes"};
}
