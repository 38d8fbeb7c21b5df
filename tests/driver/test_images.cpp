#include "test_images.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "codec.h"
#include "partition_list.h"
#include "mount_record.h"
#include "mount_record_build.h"
#include "mount_request.h"
#include "password.h"

namespace {

std::string TestFolder(const char* name) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string folder = std::string(temp) + "harvesta-driver-test";
  CreateDirectoryA(folder.c_str(), nullptr);
  folder += std::string("\\") + name;
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && written;
}

// FileSource over the image's files, slot = file number.
bool ReadImageFile(void* context, uint32_t slot, uint64_t offset, uint8_t* buffer, uint32_t length,
                   uint32_t* bytesRead) {
  const auto& files = *static_cast<const std::vector<std::string>*>(context);
  *bytesRead = 0;
  if (slot >= files.size()) return false;
  FILE* file = fopen(files[slot].c_str(), "rb");
  if (!file) return false;
  if (_fseeki64(file, int64_t(offset), SEEK_SET) == 0) *bytesRead = uint32_t(fread(buffer, 1, length, file));
  fclose(file);
  return true;
}

}  // namespace

bool LocateStoredBlock(const TestImage& image, uint32_t block, BlockLocation* location) {
  ParsedMountRecord parsed;
  if (!ParseMountRecord(image.Record.data(), uint32_t(image.Record.size()), &parsed)) return false;
  std::vector<uint8_t> work(BlockReaderWorkSize(&parsed.Layout, 1));
  BlockReader reader;
  const FileSource files = {ReadImageFile, const_cast<std::vector<std::string>*>(&image.Files)};
  return !work.empty() && InitBlockReader(&reader, &parsed.Layout, parsed.Key, files, work.data(), work.size(), 1) &&
         LocateBlock(&reader, block, location) == kReadOk;
}

bool BreakStoredBlock(const TestImage& image, uint32_t block) {
  BlockLocation location;
  if (!LocateStoredBlock(image, block, &location) || location.StoredLength == 0) return false;
  std::vector<uint8_t> stored(location.StoredLength);
  FILE* file = fopen(image.Files[location.Slot].c_str(), "r+b");
  if (!file) return false;
  bool written = _fseeki64(file, int64_t(location.FileOffset), SEEK_SET) == 0 &&
                 fread(stored.data(), 1, stored.size(), file) == stored.size();
  stored.back() ^= 0xFF;
  written = written && _fseeki64(file, int64_t(location.FileOffset), SEEK_SET) == 0 &&
            fwrite(stored.data(), 1, stored.size(), file) == stored.size();
  written = fclose(file) == 0 && written;
  std::vector<uint8_t> decoded(image.Volume.size());
  uint32_t capacity = uint32_t(decoded.size());
  return written && DecompressBlock(location.Method, stored.data(), uint32_t(stored.size()), decoded.data(),
                                    &capacity) != kDecodeOk;
}

std::vector<uint8_t> MakeVolumeBytes(uint64_t size, uint32_t blockSize, uint32_t seed) {
  std::vector<uint8_t> volume(size);
  uint32_t state = seed | 1;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  static const char kText[] = "The quick brown fox jumps over the lazy dog. 0123456789\r\n";
  for (uint64_t at = 0; at < size; ++at) {
    const uint64_t block = at / blockSize;
    const uint64_t chunk = at / 4096;
    if (block % 5 == 2) continue;  // whole zero blocks: not stored at all
    volume[at] = chunk % 3 == 1 ? uint8_t(kText[at % (sizeof kText - 1)]) : uint8_t(next());
  }
  return volume;
}

TestImage MakeTestImage(const ImageShape& shape) {
  TestImage image;
  image.Folder = TestFolder(shape.Name);
  // Several blocks, a partial last one, and whatever raw region the shape asks for.
  const uint64_t size = shape.RawRegion + 9 * uint64_t(shape.BlockSize) + 3 * 512;
  image.Volume = MakeVolumeBytes(size, shape.BlockSize, shape.Version * 1000u + shape.BlockSize);
  const std::string source = image.Folder + "\\volume.raw";
  if (!WriteWholeFile(source, image.Volume)) {
    image.Error = "cannot write " + source;
    return image;
  }

  ImageWriterOptions options;
  options.OutputPath = image.Folder + "\\image.qvimg";
  options.Version = shape.Version;
  options.BlockSize = shape.BlockSize;
  options.CompressionLevel = shape.Compression;
  options.Method = shape.Method;
  if (shape.CipherType) {
    options.Password = kTestImagePassword;
    options.CipherType = shape.CipherType;
  }
  options.SplitSize = shape.SplitSize;
  WriterPartition partition;
  partition.SourcePath = source;
  partition.RawRegionLength = shape.RawRegion;
  WriterDisk disk;
  disk.Partitions.push_back(partition);
  options.Disks.push_back(disk);
  try {
    image.Files = WriteImage(options);
  } catch (const std::exception& error) {
    image.Error = std::string("writer: ") + error.what();
    return image;
  }
  DeleteFileA(source.c_str());

  FolderListing listing = LoadImageFolder(image.Files.back(), ScanRule::QvimgExact);
  if (listing.Rows.empty()) {
    image.Error = "listing: " + listing.Message + " " + listing.ChosenFileError;
    return image;
  }
  const PartitionRow& row = listing.Rows.front();
  for (const ImageSet& set : listing.Sets) {
    if (set.Id != row.Image->Id) continue;
    MountValues values = MakeMountValues(set, *row.Image, *row.Partition);
    if (shape.CipherType) {
      if (!PasswordMatches(values.PasswordDigest, kTestImagePassword)) {
        image.Error = "the password does not match the image's digest";
        return image;
      }
      values.Key = MakeKeyField(values.PasswordFlag, row.Image->CipherType, kTestImagePassword);
    }
    std::string error;
    auto record = BuildMountRecord(values, &error);
    if (!record) {
      image.Error = "record: " + error;
      return image;
    }
    image.Record = std::move(*record);
    return image;
  }
  image.Error = "no set holds the listed image";
  return image;
}

void RemoveTestImage(const TestImage& image) {
  for (const std::string& file : image.Files) DeleteFileA(file.c_str());
  RemoveDirectoryA(image.Folder.c_str());
}
