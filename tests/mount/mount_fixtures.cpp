#include "mount_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "mount_record_build.h"
#include "password.h"

WrittenImage WriteShape(const TempFolder& folder, const ImageShape& shape, int partitions) {
  std::vector<uint8_t> volume = MakeVolumeBytes(shape.VolumeLength, 5);
  // Block 4 all zeros: a block that is not stored.
  const uint64_t zeroBlock = shape.RawLength + 4ull * shape.BlockSize;
  if (zeroBlock + shape.BlockSize <= volume.size())
    std::fill_n(volume.begin() + int64_t(zeroBlock), shape.BlockSize, 0);
  return WriteVolumeImage(folder, std::move(volume), shape, partitions);
}

WrittenImage WriteVolumeImage(const TempFolder& folder, std::vector<uint8_t> volume, const ImageShape& shape,
                              int partitions) {
  WrittenImage written{std::move(volume), {}, shape.Cipher ? "secret" : ""};
  WriteWholeFile(folder.File("volume.raw"), written.Source);
  ImageWriterOptions options;
  options.OutputPath = folder.File("set.qvimg");
  options.Version = shape.Version;
  options.CompressionLevel = shape.Compression;
  options.Method = shape.Method;
  options.Password = written.Password;
  if (shape.Cipher) options.CipherType = shape.Cipher;
  options.SplitSize = shape.SplitSize;
  options.BlockSize = shape.BlockSize;
  options.BackupTime = 1700000000;
  WriterDisk disk{0, 0x11223344, 0, {}};
  for (int i = 0; i < partitions; ++i)
    disk.Partitions.push_back({folder.File("volume.raw"), 0x07, {}, 0, "System", shape.RawLength});
  options.Disks = {disk};
  written.Paths = WriteImage(options);
  return written;
}

std::vector<uint8_t> RecordFor(const WrittenImage& image, size_t partition,
                               const std::function<void(MountValues&)>& edit) {
  std::vector<ImageSet> sets = LoadSets(image.Paths);
  const CImageFile& catalogue = *sets[0].CatalogueFiles[0];
  MountValues values = MakeMountValues(sets[0], catalogue, *catalogue.Disks[0]->Partitions[partition]);
  values.Key = MakeKeyField(catalogue.PasswordFlag, catalogue.CipherType, image.Password);
  if (edit) edit(values);
  std::string error;
  auto record = BuildMountRecord(values, &error);
  EXPECT_TRUE(record.has_value()) << error;
  return record.value_or(std::vector<uint8_t>{});
}
