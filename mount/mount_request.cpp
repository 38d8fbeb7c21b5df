#include "mount_request.h"

#include <map>

MountValues MakeMountValues(const ImageSet& set, const CImageFile& image,
                            const ImagePartition& partition) {
  const VolumeInfo& volume = partition.Volume;
  const CPartitionBlocks& blocks = partition.Blocks;
  MountValues values;
  values.FormatVersion = image.Version;
  values.DiskLength = volume.VolumeLength();
  values.SectorSizeUnits = volume.BytesPerSector() / 512;
  values.BlockCount = blocks.BlockCount;
  values.BlockSize = volume.BlockSize();
  values.Compressed = image.CompressionLevel;
  values.IndexOffset = blocks.IndexOffset;
  values.RawRegionLength = volume.RawRegionLength();
  values.RawRegionOffset = blocks.RawRegionOffset;
  values.RawRegionFile = blocks.RawRegionFile;
  values.FileCount = uint32_t{image.FileNumber} + 1;
  values.CatalogueNumber = image.FileNumber;
  values.CataloguePath = image.FilePath;
  std::map<uint16_t, CStdString> located;
  for (const FileRef& ref : volume.FileRefs) {
    // A number listed twice would make the record name one slot twice, which the driver
    // refuses (the partition could never be mounted): each is listed, and its file opened, once.
    auto [found, added] = located.try_emplace(ref.Number);
    if (!added) continue;
    LocateFileNumber(set, ref.Number, found->second);
    values.Files.push_back({ref.Number, found->second});
  }
  // The catalogue file holds the block index, so it is always listed, even for a file 0 whose
  // partition names no files.
  bool catalogueListed = false;
  for (const MountFile& file : values.Files) catalogueListed |= file.Number == image.FileNumber;
  if (!catalogueListed) values.Files.push_back({image.FileNumber, image.FilePath});
  values.Key = MakeKeyField(image);
  values.PasswordFlag = image.PasswordFlag;
  values.PasswordDigest = image.PasswordDigest;
  return values;
}
