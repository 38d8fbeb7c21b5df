#include "image_file.h"

#include <algorithm>
#include <cstring>

#include "file_io.h"
#include "password.h"

const char* const kInvalidFile = "Invalid File";
const char* const kMoreRecentVersion = "File is from a more recent version of Quillon";
const char* const kFileError = "File Error";
const char* const kFileOpenFailed = "cannot open the file";

namespace {
// A negative count reads no entries. Above its limit a count is refused, so that what it
// allocates and loops over stays bounded even where a sparse file makes bytes free; within
// it, entries are read as they come and a count the file cannot back ends at its last byte.
int32_t ReadCount(CStdArchive& archive, int32_t limit) {
  int32_t count = 0;
  archive >> count;
  if (count > limit) throw kInvalidFile;
  return std::max(count, 0);
}

template <size_t N>
void ReadBytes(CStdArchive& archive, std::array<uint8_t, N>& bytes) {
  for (auto& b : bytes) archive >> b;
}

void ReadVolume(CStdArchive& archive, VolumeInfo& volume, int32_t& fileRefsLeft) {
  ReadBytes(archive, volume.Reserved);
  uint16_t keptWord = 0;
  archive >> volume.DriveLetter >> volume.Text >> volume.Label >> volume.MinorOrder >> keptWord;
  volume.KeptByte = static_cast<uint8_t>(keptWord);
  archive >> volume.MajorOrder >> volume.Value >> volume.FlaggedRaw;
  volume.WarningFlag = volume.FlaggedRaw >> 31;
  volume.FlaggedValue = volume.WarningFlag ? volume.FlaggedRaw & 0x7FFFFFFF : 0;
  archive >> volume.VolumeTime;
  for (auto& extent : volume.Extents) archive >> extent;
  for (auto& count : volume.Counts) archive >> count;
  bool withText = archive.Version() >= 4;
  int32_t refCount = ReadCount(archive, std::min(kMaxFileRefs, fileRefsLeft));
  fileRefsLeft -= refCount;
  for (int32_t i = 0; i < refCount; ++i) {
    FileRef ref;
    archive >> ref.Number;
    if (withText) archive >> ref.Text >> ref.Value;
    volume.FileRefs.push_back(std::move(ref));
  }
}

void ReadBlockTable(CStdArchive& archive, CPartitionBlocks& blocks) {
  archive >> blocks.RawRegionFile >> blocks.RawRegionOffset >> blocks.Value;
  ReadBytes(archive, blocks.RawRegionDigest);
  archive >> blocks.BlockCount;
  blocks.IndexOffset = static_cast<uint64_t>(archive.GetPosition());
  // Skipped with one seek, never read: an index that runs past the end of the file costs
  // nothing here, and whoever reads the index checks it against the file.
  archive.Seek(static_cast<int64_t>(blocks.IndexSize(archive.Version())), CStdArchive::kCurrent);
}
}  // namespace

CImageFile::~CImageFile() { WipeText(Password); }

void CImageFile::Serialize(CStdArchive& archive) {
  if (archive.FileSize() < kTrailerSize) throw kInvalidFile;
  StoredSize = static_cast<uint64_t>(archive.FileSize());
  fileRefsLeft_ = kMaxCatalogueFileRefs;
  archive.Seek(-static_cast<int64_t>(kTrailerSize - kTrailerMagicAt), CStdArchive::kEnd);
  char magic[sizeof kImageMagic];
  if (archive.Read(magic, sizeof magic) != sizeof magic ||
      std::memcmp(magic, kImageMagic, sizeof magic) != 0)
    throw kInvalidFile;
  archive >> Version;
  if (Version > kCurrentImageVersion) throw kMoreRecentVersion;
  archive.SetVersion(Version);
  Digest storedDigest;
  archive.Read(storedDigest.data(), storedDigest.size());  // read, never checked

  archive.Seek(-static_cast<int64_t>(kTrailerSize), CStdArchive::kEnd);
  archive >> CatalogueOffset;
  // An offset at or past the end leaves nothing to read: the first field's read says so.
  archive.Seek(static_cast<int64_t>(std::min(CatalogueOffset, StoredSize)), CStdArchive::kBegin);

  ReadBytes(archive, Id);
  uint16_t value5 = 0;
  uint8_t fileBackup = 0;
  archive >> FileNumber >> BackupNumber >> HeaderText >> value5 >> fileBackup;
  HeaderValue5 = value5;
  FileBackup = fileBackup ? 1 : 0;
  if (FileBackup) ReadFileBackupBlock(archive);
  uint8_t secondIdFlag = 0;
  archive >> secondIdFlag;
  SecondIdFlag = secondIdFlag;
  if (SecondIdFlag) ReadBytes(archive, SecondId);
  uint16_t value11 = 0, cipher = 0, low14 = 0, fullCopy = 0, passwordFlag = 0, high18 = 0,
           splitFlag = 0;
  uint32_t backupTime = 0;
  archive >> SplitSize >> value11 >> cipher >> CompressionLevel >> low14 >> fullCopy >>
      HeaderValue16 >> passwordFlag >> high18 >> splitFlag >> HeaderText20 >> backupTime;
  HeaderValue11 = value11;
  CipherType = cipher;
  HeaderValue14_18 = low14 | uint32_t{high18} << 16;
  FullCopy = fullCopy;
  PasswordFlag = passwordFlag;
  SplitSizeFlag = splitFlag;
  BackupTime = backupTime;
  ReadBytes(archive, PasswordDigest);
  archive >> CatalogueFlag;
  if (CatalogueFlag) {
    int32_t diskCount = 0;
    archive >> diskCount;
    if (diskCount < 0 || diskCount > kMaxDisks) throw kFileError;
    for (int32_t i = 0; i < diskCount; ++i) {
      Disks.push_back(std::make_unique<ImageDisk>());
      ReadDisk(archive, *Disks.back());
    }
  }
}

void CImageFile::ReadFileBackupBlock(CStdArchive& archive) {
  int32_t count = 0;
  archive >> BackupText1 >> BackupText2 >> BackupValue1 >> BackupValue2 >> count;
  if (count < 0 || count > kMaxFileBackupStrings) throw kInvalidFile;
  for (int32_t i = 0; i < count; ++i) archive >> BackupStrings.emplace_back();
}

void CImageFile::ReadDisk(CStdArchive& archive, ImageDisk& disk) {
  archive >> disk.Number;
  ReadBytes(archive, disk.Reserved);
  for (auto& text : disk.Texts) archive >> text;
  auto& g = disk.Geometry;
  archive >> g.Cylinders >> g.MediaType >> g.TracksPerCylinder >> g.SectorsPerTrack >>
      g.BytesPerSector;
  uint32_t trackBytes = Version <= 1 ? kMbrSize : kFirstTrackSize;
  // A raw read: a track cut short by the end of the file fails at the next field.
  archive.Read(disk.FirstTrack.data(), trackBytes);
  archive >> disk.Value;
  int32_t recordCount = ReadCount(archive, kMaxPartitionsPerDisk);
  for (int32_t i = 0; i < recordCount; ++i) {
    ExtendedBootRecord& record = disk.ExtendedBootRecords.emplace_back();
    ReadBytes(archive, record.Sector);
    ReadBytes(archive, record.Value);
  }
  int32_t partitionCount = ReadCount(archive, kMaxPartitionsPerDisk);
  for (int32_t i = 0; i < partitionCount; ++i) {
    auto partition = std::make_unique<ImagePartition>();
    partition->Disk = &disk;
    ReadPartition(archive, *partition);
    disk.Partitions.push_back(std::move(partition));
  }
}

void CImageFile::ReadPartition(CStdArchive& archive, ImagePartition& partition) {
  archive >> partition.Start >> partition.Length >> partition.Value64;
  ReadBytes(archive, partition.TableEntry);
  ReadVolume(archive, partition.Volume, fileRefsLeft_);
  archive >> partition.Value;
  ReadBlockTable(archive, partition.Blocks);
}

std::unique_ptr<CImageFile> LoadImageFile(const CStdString& path) {
  std::FILE* file = OpenFileForReading(path);
  if (!file) throw kFileOpenFailed;
  CStdArchive archive(file, 1);
  auto image = std::make_unique<CImageFile>();
  image->FilePath = path;
  image->Serialize(archive);
  return image;
}

CStdString FormatImageId(const ImageId& id) {
  static const char kHex[] = "0123456789ABCDEF";
  CStdString text;
  for (uint8_t b : id) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}
