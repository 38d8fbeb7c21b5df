// CImageFile: one image file's catalogue in memory (header, disks, partitions, block tables),
// loaded from the trailer and catalogue through a loading CStdArchive.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "image_records.h"
#include "std_archive.h"

using ImageId = std::array<uint8_t, 8>;

constexpr uint16_t kCurrentImageVersion = 6;
constexpr char kImageMagic[22] = "__79241006_2651_11D4_";  // 21 characters and a zero byte
// The trailer ends the file: catalogue offset (8 bytes), magic, version (2), catalogue digest.
constexpr uint32_t kTrailerMagicAt = 8;
constexpr uint32_t kTrailerSize = kTrailerMagicAt + sizeof kImageMagic + 2 + 16;
static_assert(kTrailerSize == 48);
constexpr int32_t kMaxDisks = 10;
constexpr int32_t kMaxFileBackupStrings = 500;
// Sane limits of counts the format leaves open. A disk has at most 256 partitions (and so as
// many extended boot records); a file number is 16 bits, so a partition's data lies in at most
// 65536 files.
constexpr int32_t kMaxPartitionsPerDisk = 256;
// 65536 files. Partitions follow one another through the files of a set, so the partitions of
// one catalogue name each file once, a file where one partition ends and the next begins twice.
constexpr int32_t kMaxFileRefs = 65536;
constexpr int32_t kMaxCatalogueFileRefs = kMaxFileRefs + kMaxDisks * kMaxPartitionsPerDisk;

// The system's messages, thrown as `const char*`.
extern const char* const kInvalidFile;       // "Invalid File"
extern const char* const kMoreRecentVersion;  // "File is from a more recent version of Quillon"
extern const char* const kFileError;          // "File Error"

class CImageFile {
 public:
  CImageFile() = default;
  virtual ~CImageFile();  // wipes Password
  CImageFile(const CImageFile&) = delete;
  CImageFile& operator=(const CImageFile&) = delete;

  // Loads trailer and catalogue; block indexes are skipped (their positions kept, whether or
  // not they lie inside the file) and the digest is not checked. Counts are bounded by the
  // format's limits and entries are read as they come.
  void Serialize(CStdArchive& archive);

  uint16_t Version = kCurrentImageVersion;
  uint32_t FileBackup = 0;  // 0 or 1
  uint32_t CipherType = 0;
  CStdString FilePath;
  uint64_t StoredSize = 0;  // bytes in the file when its catalogue was read

  // File-backup parameters (not interpreted).
  CStdString BackupText1, BackupText2;
  int32_t BackupValue1 = 0, BackupValue2 = 0;
  std::vector<CStdString> BackupStrings;

  std::vector<std::unique_ptr<ImageDisk>> Disks;

  ImageId Id{};
  ImageId SecondId{};
  uint32_t SecondIdFlag = 0;
  uint16_t FileNumber = 0;
  uint16_t BackupNumber = 0;
  uint8_t CatalogueFlag = 0;
  uint64_t CatalogueOffset = 0;
  CStdString HeaderText;
  uint32_t HeaderValue5 = 0;
  uint64_t SplitSize = 0;
  uint32_t HeaderValue11 = 0;
  int32_t CompressionLevel = 0;
  uint32_t FullCopy = 0;
  uint32_t PasswordFlag = 0;
  uint32_t SplitSizeFlag = 0;
  CStdString Password;  // the accepted entry, Windows-1252 bytes; never stored in a file
  Digest PasswordDigest{};
  CStdString HeaderText20;
  int64_t BackupTime = 0;  // seconds since 1970, UTC
  uint32_t HeaderValue14_18 = 0;
  uint16_t HeaderValue16 = 0;

 private:
  void ReadFileBackupBlock(CStdArchive& archive);
  void ReadDisk(CStdArchive& archive, ImageDisk& disk);
  void ReadPartition(CStdArchive& archive, ImagePartition& partition);

  int32_t fileRefsLeft_ = 0;
};

// Opens path, loads its catalogue and sets its path: the one way an image file is read.
// Throws the reader's message; a file that does not open, or is no regular file, throws
// kFileOpenFailed.
extern const char* const kFileOpenFailed;  // "cannot open the file"
std::unique_ptr<CImageFile> LoadImageFile(const CStdString& path);

// 8-byte identifier as 16 upper-case hex digits.
CStdString FormatImageId(const ImageId& id);
