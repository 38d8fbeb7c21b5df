// Writes image sets in every shape the reader accepts, from raw partition images (plain files):
// versions 0-6, one file or a set split over several, several disks and partitions, raw region
// plus blocks, compression, encryption, and file backups (*.qvbak).
#pragma once
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "image_file.h"

struct WriterPartition {
  std::string SourcePath;         // raw partition image; its size is the volume length
  uint8_t Type = 0x07;            // partition type byte
  std::optional<uint64_t> Start;  // byte offset on the disk; default: after the previous one
  char DriveLetter = 0;
  std::string Label;
  uint64_t RawRegionLength = 0;   // leading bytes stored raw (file backups: the FAT32 boot area)
  uint32_t BytesPerSector = 512;
  uint32_t SectorsPerCluster = 8;
  uint64_t FreeBytes = 0;         // shown as free space
  bool Warning = false;           // the volume record's flag bit
  int32_t MajorOrder = 0;
  uint16_t MinorOrder = 0;
};

struct WriterDisk {
  int32_t Number = 0;
  uint32_t Signature = 0x48415256;  // first track bytes 440-443
  uint32_t ExtendedBootRecords = 0;  // how many EBR records to write
  std::vector<WriterPartition> Partitions;
};

enum class BlockMethod {
  Method1,     // method byte 1
  ByteTokens,  // method byte 0
  Alternate,   // method 1 for even blocks, byte tokens for odd ones
};

struct ImageWriterOptions {
  // Single file: written at OutputPath. Split: "<stem>-NN<ext>" beside it, NN the file number.
  std::string OutputPath;
  // Split: the first file written at OutputPath itself (the others still "<stem>-NN<ext>"), so
  // that the path the user gave names a member of the set.
  bool FirstFileAtOutputPath = false;
  uint16_t Version = kCurrentImageVersion;
  bool Version3Digest = false;  // version 4 only: store the digest of the version-3 serialization
  bool FileBackup = false;  // one disk, one FAT32 partition (type 0x0C), 64 KiB blocks
  uint32_t BlockSize = 65536;
  int32_t CompressionLevel = 0;  // 0 none, 1, 2
  BlockMethod Method = BlockMethod::Method1;
  std::string Password;      // Windows-1252 bytes; empty: not protected
  uint16_t CipherType = 3;   // 1, 2, 3 when a password is given
  uint64_t SplitSize = 0;    // start a new file once stored data reaches this; 0: one file
  ImageId Id{};              // all zero: random
  uint16_t BackupNumber = 0;
  uint16_t FirstFileNumber = 0;  // above 0 for a later backup run that extends a set
  uint32_t BackupTime = 0;   // 0: now
  bool FullCopy = false;
  std::vector<WriterDisk> Disks;
};

struct ImageWriterError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Returns the paths written, in file number order; the last one holds the catalogue.
std::vector<std::string> WriteImage(const ImageWriterOptions& options);
