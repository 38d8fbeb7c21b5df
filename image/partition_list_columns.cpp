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
  return {OriginalLocationText(volume),
          FormatDateTime(image.BackupTime, 1, 2),
          FormatImageId(image.Id),
          FormatSize(volume.Capacity()),
          FormatSize(volume.UsedSpace()),
          FormatSize(volume.FreeSpace()),
          "    " + PartitionFileSystemText(row.Partition->TypeByte()),
          CompressionText(image.CompressionLevel),
          std::to_string(volume.FileRefs.size()),
          image.FullCopy ? "No" : "Yes"};
}
