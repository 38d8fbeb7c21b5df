#include "image_writer.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <random>
#include <set>
#include <utility>

#include "catalogue_store.h"
#include "cipher.h"
#include "codec_encode.h"
#include "file_io.h"
#include "image_format.h"
#include "md5.h"
#include "password.h"

namespace {
constexpr uint32_t kFileBackupBlockSize = 65536;
constexpr uint64_t kPartitionAlignment = 1u << 20;

[[noreturn]] void Fail(const std::string& message) { throw ImageWriterError(message); }

void Check(bool condition, const std::string& message) {
  if (!condition) Fail(message);
}

class SourceFile {
 public:
  explicit SourceFile(const std::string& path) : path_(path), file_(OpenFileForReading(path)) {
    Check(file_ != nullptr, "cannot open " + path);
    Check(SeekFile(file_, 0, SEEK_END) == 0 && (size_ = TellFile(file_)) >= 0 &&
              SeekFile(file_, 0, SEEK_SET) == 0,
          "cannot size " + path);
  }
  ~SourceFile() { std::fclose(file_); }
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;

  uint64_t Size() const { return static_cast<uint64_t>(size_); }
  // Reads length bytes at the current position; bytes past the end read as zeros.
  void ReadPadded(uint8_t* buffer, size_t length) {
    size_t got = std::fread(buffer, 1, length, file_);
    Check(got == length || std::feof(file_), "cannot read " + path_);
    if (got < length) std::memset(buffer + got, 0, length - got);
  }

 private:
  std::string path_;
  std::FILE* file_;
  int64_t size_ = 0;
};

// FAT32 boot area (boot sector, information sector, allocation tables): the raw region of a
// file backup.
uint64_t Fat32BootAreaLength(const std::string& path) {
  SourceFile source(path);
  uint8_t sector[512];
  source.ReadPadded(sector, sizeof sector);
  auto u16 = [&](int at) { return uint32_t{sector[at]} | uint32_t{sector[at + 1]} << 8; };
  uint32_t bytesPerSector = u16(11), reserved = u16(14), fats = sector[16];
  uint32_t sectorsPerFat = u16(36) | u16(38) << 16;
  Check(sector[510] == 0x55 && sector[511] == 0xAA && u16(22) == 0 && sectorsPerFat != 0 &&
            bytesPerSector >= 512 && fats != 0,
        path + " is not a FAT32 volume");
  uint64_t length = (uint64_t{reserved} + uint64_t{fats} * sectorsPerFat) * bytesPerSector;
  Check(length <= source.Size(), path + " is shorter than its FAT32 boot area");
  return length;
}

void PutTableEntry(std::array<uint8_t, 16>& entry, uint8_t type, uint64_t start, uint64_t length) {
  auto put32 = [&](int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) entry[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  entry = {};
  entry[1] = entry[5] = 0xFE;  // CHS fields saturated: the LBA fields count
  entry[2] = entry[3] = entry[6] = entry[7] = 0xFF;
  entry[4] = type;
  put32(8, static_cast<uint32_t>(start / 512));
  put32(12, static_cast<uint32_t>(std::min<uint64_t>(length / 512, 0xFFFFFFFF)));
}

class SetWriter {
 public:
  explicit SetWriter(const ImageWriterOptions& options) : options_(options) {}
  ~SetWriter() {
    if (out_) std::fclose(out_);
  }

  std::vector<std::string> Write();

 private:
  void Validate();
  void FillHeader();
  void AddDisk(const WriterDisk& spec);
  void WritePartition(const WriterPartition& spec, ImagePartition& partition,
                      std::vector<BlockEntry>& index);
  BlockEntry StoreBlock(std::vector<uint8_t>& block, uint32_t blockNumber);
  std::string PathOf(uint16_t fileNumber) const;
  uint16_t CurrentNumber() const {
    return static_cast<uint16_t>(options_.FirstFileNumber + paths_.size() - 1);
  }
  void OpenNextFile();
  void SplitIfFull();
  void WriteBytes(const void* data, size_t length);
  void FinishFile(bool withCatalogue);
  void RemoveWrittenFiles();

  const ImageWriterOptions& options_;
  CImageFile image_;
  std::vector<std::vector<BlockEntry>> indexes_;
  std::vector<std::string> paths_;
  std::FILE* out_ = nullptr;
  uint64_t position_ = 0;
  uint32_t blockSize_ = 0;
  CipherContext cipher_{};
  std::unique_ptr<CompressWorkspace> workspace_ = std::make_unique<CompressWorkspace>();
  std::vector<uint8_t> coded_;
};

void SetWriter::Validate() {
  Check(!options_.OutputPath.empty(), "no output path");
  Check(options_.Version <= kCurrentImageVersion, "format version must be 0 to 6");
  Check(!options_.Version3Digest || options_.Version == 4, "only version 4 may carry a version-3 digest");
  Check(options_.CompressionLevel >= 0 && options_.CompressionLevel <= 2,
        "compression level must be 0, 1 or 2");
  Check(options_.Password.empty() || (options_.CipherType >= 1 && options_.CipherType <= 3),
        "cipher type must be 1, 2 or 3");
  Check(!options_.Disks.empty() && options_.Disks.size() <= static_cast<size_t>(kMaxDisks),
        "an image holds 1 to 10 disks");
  for (const WriterDisk& disk : options_.Disks) Check(!disk.Partitions.empty(), "a disk without partitions");
  if (options_.FileBackup)
    Check(options_.Disks.size() == 1 && options_.Disks[0].Partitions.size() == 1,
          "a file backup holds one disk with one partition");
  blockSize_ = options_.FileBackup ? kFileBackupBlockSize : options_.BlockSize;
  Check(blockSize_ >= 512 && blockSize_ <= kMaxWrittenBlockSize && blockSize_ % 512 == 0,
        "block size must be a multiple of 512 up to 4 MiB");
  // Every input opens before any output is created.
  for (const WriterDisk& disk : options_.Disks)
    for (const WriterPartition& partition : disk.Partitions) SourceFile{partition.SourcePath};
}

void SetWriter::FillHeader() {
  image_.Version = options_.Version;
  image_.Id = options_.Id;
  if (image_.Id == ImageId{}) {
    std::random_device random;
    for (auto& b : image_.Id) b = static_cast<uint8_t>(random());
  }
  image_.BackupNumber = options_.BackupNumber;
  image_.HeaderText = "harvesta make-image";
  image_.FileBackup = options_.FileBackup ? 1 : 0;
  if (options_.FileBackup) {
    image_.BackupText1 = options_.Disks[0].Partitions[0].SourcePath;
    image_.BackupStrings = {"*.*"};
  }
  image_.SplitSize = options_.SplitSize;
  image_.SplitSizeFlag = options_.SplitSize ? 1 : 0;
  image_.CompressionLevel = options_.CompressionLevel;
  image_.FullCopy = options_.FullCopy ? 1 : 0;
  if (!options_.Password.empty()) {
    image_.PasswordFlag = 1;
    image_.CipherType = options_.CipherType;
    image_.PasswordDigest = Md5(options_.Password.data(), options_.Password.size());
    KeyField key = MakeKeyField(1, options_.CipherType, options_.Password);
    SetCipherKey(&cipher_, key.Key.data(), CipherKeyBits(key.CipherType));
  }
  image_.BackupTime = options_.BackupTime ? options_.BackupTime : std::time(nullptr);
}

std::string SetWriter::PathOf(uint16_t fileNumber) const {
  if (!options_.SplitSize) return options_.OutputPath;
  if (options_.FirstFileAtOutputPath && fileNumber == options_.FirstFileNumber) return options_.OutputPath;
  const std::string& path = options_.OutputPath;
  size_t dot = path.rfind('.');
  size_t separator = path.find_last_of("\\/");
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator))
    dot = path.size();
  char number[8];
  std::snprintf(number, sizeof number, "-%02u", unsigned{fileNumber});
  return path.substr(0, dot) + number + path.substr(dot);
}

void SetWriter::OpenNextFile() {
  Check(options_.FirstFileNumber + paths_.size() < 0xFFFF, "too many files");
  std::string path = PathOf(static_cast<uint16_t>(options_.FirstFileNumber + paths_.size()));
  out_ = OpenFileForWriting(path);
  Check(out_ != nullptr, "cannot create " + path);
  paths_.push_back(path);  // only what this run created is removed when it fails
  position_ = 0;
}

void SetWriter::RemoveWrittenFiles() {
  if (out_) std::fclose(out_);
  out_ = nullptr;
  for (const std::string& path : paths_) std::remove(path.c_str());
  paths_.clear();
}


// Stored data goes to a new file once the current one has reached the split size.
void SetWriter::SplitIfFull() {
  if (!options_.SplitSize || position_ < options_.SplitSize) return;
  FinishFile(false);
  OpenNextFile();
}

void SetWriter::WriteBytes(const void* data, size_t length) {
  if (length == 0) return;  // data may be null then (an empty vector's buffer)
  Check(std::fwrite(data, 1, length, out_) == length, "cannot write " + paths_.back());
  position_ += length;
}

void SetWriter::FinishFile(bool withCatalogue) {
  image_.FileNumber = CurrentNumber();
  image_.CatalogueFlag = withCatalogue ? 1 : 0;
  image_.CatalogueOffset = position_;
  std::vector<std::vector<BlockEntry>> none;
  const auto& indexes = withCatalogue ? indexes_ : none;
  std::vector<uint8_t> catalogue = StoreCatalogue(image_, indexes, CatalogueForm::File);
  const Digest digest = CatalogueDigest(image_, indexes, options_.Version3Digest ? 3 : image_.Version);
  WriteBytes(catalogue.data(), catalogue.size());
  WriteBytes(digest.data(), digest.size());
  std::FILE* finished = std::exchange(out_, nullptr);
  Check(std::fclose(finished) == 0, "cannot write " + paths_.back());
}

BlockEntry SetWriter::StoreBlock(std::vector<uint8_t>& block, uint32_t blockNumber) {
  BlockEntry entry;
  entry.BlockDigest = Md5(block.data(), block.size());
  entry.FileNumber = CurrentNumber();
  if (std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0; }))
    return entry;  // stored length 0: reads as zeros

  uint8_t method = kMethodByteTokens;
  uint32_t length = blockSize_;
  coded_.assign(2 * size_t{blockSize_} + 16, 0);
  if (options_.CompressionLevel) {
    bool method1 = options_.Method == BlockMethod::Method1 ||
                   (options_.Method == BlockMethod::Alternate && blockNumber % 2 == 0);
    method = method1 ? kMethodWordStream : kMethodByteTokens;
    auto capacity = static_cast<uint32_t>(2 * blockSize_);
    length = method1 ? CompressMethod1(block.data(), blockSize_, coded_.data(), capacity,
                                       workspace_.get())
                     : CompressByteTokens(block.data(), blockSize_, coded_.data(), capacity,
                                          workspace_.get());
    Check(length != 0, "block compression failed");
  } else {
    std::copy(block.begin(), block.end(), coded_.begin());
  }
  if (image_.PasswordFlag) {
    length = (length + 15) / 16 * 16;  // zero padding, counted in the stored length
    Check(length <= 2 * blockSize_, "encrypted block exceeds twice the block size");
    EncryptCbc(&cipher_, coded_.data(), static_cast<int32_t>(length));
  }
  entry.Offset = position_;
  entry.LengthAndMethod = length | uint32_t{method} << kMethodShift;
  WriteBytes(coded_.data(), length);
  return entry;
}

void SetWriter::WritePartition(const WriterPartition& spec, ImagePartition& partition,
                               std::vector<BlockEntry>& index) {
  SourceFile source(spec.SourcePath);
  uint64_t volumeLength = source.Size();
  uint64_t rawLength = options_.FileBackup ? Fat32BootAreaLength(spec.SourcePath)
                                           : spec.RawRegionLength;
  Check(rawLength <= volumeLength, spec.SourcePath + ": raw region longer than the volume");
  uint64_t blockCount = (volumeLength - rawLength + blockSize_ - 1) / blockSize_;
  Check(blockCount <= 0xFFFFFFFF, spec.SourcePath + ": too many blocks");
  Check(spec.BytesPerSector >= 512 && spec.BytesPerSector % 512 == 0 && spec.SectorsPerCluster,
        "bytes per sector must be a multiple of 512, sectors per cluster nonzero");

  VolumeInfo& volume = partition.Volume;
  volume.DriveLetter = spec.DriveLetter;
  volume.Label = spec.Label;
  volume.MajorOrder = spec.MajorOrder;
  volume.MinorOrder = spec.MinorOrder;
  volume.FlaggedRaw = spec.Warning ? 0x80000000u : 0;
  volume.WarningFlag = spec.Warning ? 1 : 0;
  volume.VolumeTime = static_cast<uint32_t>(image_.BackupTime);
  // Region start is the partition's start, so readers must subtract it to get the raw length.
  volume.Extents = {partition.Start, volumeLength, partition.Start + rawLength, 0, 0, 0};
  uint64_t clusterSize = uint64_t{spec.SectorsPerCluster} * spec.BytesPerSector;
  volume.Counts = {0,
                   spec.SectorsPerCluster,
                   spec.BytesPerSector,
                   static_cast<uint32_t>(std::min<uint64_t>(spec.FreeBytes / clusterSize, 0xFFFFFFFF)),
                   static_cast<uint32_t>(std::min<uint64_t>(volumeLength / clusterSize, 0xFFFFFFFF)),
                   0,
                   0,
                   blockSize_};

  std::set<uint16_t> usedFiles;
  CPartitionBlocks& blocks = partition.Blocks;
  std::vector<uint8_t> raw(rawLength);
  source.ReadPadded(raw.data(), raw.size());
  blocks.RawRegionDigest = Md5(raw.data(), raw.size());
  if (rawLength) {
    SplitIfFull();
    usedFiles.insert(CurrentNumber());
  }
  blocks.RawRegionFile = CurrentNumber();
  blocks.RawRegionOffset = position_;
  WriteBytes(raw.data(), raw.size());

  std::vector<uint8_t> block(blockSize_);
  for (uint32_t i = 0; i < blockCount; ++i) {
    source.ReadPadded(block.data(), block.size());  // the last block padded with zeros
    SplitIfFull();
    BlockEntry entry = StoreBlock(block, i);
    if (entry.LengthAndMethod) usedFiles.insert(entry.FileNumber);
    index.push_back(entry);
  }
  blocks.BlockCount = static_cast<uint32_t>(blockCount);
  for (uint16_t number : usedFiles) volume.FileRefs.push_back({number, PathOf(number), 0});
}

void SetWriter::AddDisk(const WriterDisk& spec) {
  auto disk = std::make_unique<ImageDisk>();
  disk->Number = spec.Number;
  disk->Texts = {"Harvesta test disk", "", "", "", ""};
  uint64_t next = kPartitionAlignment;
  uint64_t diskEnd = 0;
  for (const WriterPartition& partitionSpec : spec.Partitions) {
    auto partition = std::make_unique<ImagePartition>();
    partition->Disk = disk.get();
    partition->Start = partitionSpec.Start.value_or(next);
    indexes_.emplace_back();
    WritePartition(partitionSpec, *partition, indexes_.back());
    partition->Length = partition->Volume.VolumeLength();
    uint8_t type = options_.FileBackup ? 0x0C : partitionSpec.Type;
    PutTableEntry(partition->TableEntry, type, partition->Start, partition->Length);
    uint64_t end = partition->Start + partition->Length;
    next = (end + kPartitionAlignment - 1) / kPartitionAlignment * kPartitionAlignment;
    diskEnd = std::max(diskEnd, end);
    disk->Partitions.push_back(std::move(partition));
  }

  // Master boot record: signature, the first four partitions' entries, boot signature.
  auto& track = disk->FirstTrack;
  for (int i = 0; i < 4; ++i) track[440 + i] = static_cast<uint8_t>(spec.Signature >> (8 * i));
  for (size_t i = 0; i < std::min<size_t>(4, disk->Partitions.size()); ++i)
    std::copy_n(disk->Partitions[i]->TableEntry.begin(), 16, track.begin() + 446 + 16 * i);
  track[510] = 0x55;
  track[511] = 0xAA;
  for (uint32_t i = 0; i < spec.ExtendedBootRecords; ++i) {
    ExtendedBootRecord record;
    record.Sector[510] = 0x55;
    record.Sector[511] = 0xAA;
    record.Value[0] = static_cast<uint8_t>(i + 1);
    disk->ExtendedBootRecords.push_back(record);
  }
  disk->Geometry = {static_cast<int64_t>(diskEnd / (255 * 63 * 512) + 1), 12, 255, 63, 512};
  image_.Disks.push_back(std::move(disk));
}

std::vector<std::string> SetWriter::Write() {
  Validate();
  FillHeader();
  try {
    OpenNextFile();
    for (const WriterDisk& disk : options_.Disks) AddDisk(disk);
    FinishFile(true);
  } catch (...) {
    RemoveWrittenFiles();  // a failed run leaves no partial image behind
    throw;
  }
  return paths_;
}
}  // namespace

std::vector<std::string> WriteImage(const ImageWriterOptions& options) {
  return SetWriter(options).Write();
}
