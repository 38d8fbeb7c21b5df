// The mount record: the one request the program sends the driver to mount a partition, and at
// the same offsets (0 to 46 and 79) the driver's query reply. Packed, little-endian, followed
// by the file list. Included by the driver: freestanding, no allocation.
#pragma once
#include <stdint.h>

#include "block_reader.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the record is laid out little-endian");

constexpr uint32_t IOCTL_IMAGE_MOUNT = 0x8000E000;
constexpr uint32_t IOCTL_IMAGE_UNMOUNT = 0x8000E004;
constexpr uint32_t IOCTL_IMAGE_QUERY = 0x80006008;

// The driver's disk devices, by device number. Macros: the driver needs them as wide literals
// (L"" VAULTDISK_DEVICE_NAME_FORMAT), the program as narrow ones.
#define VAULTDISK_DEVICE_DIRECTORY "\\Device\\Vaultdisk"
#define VAULTDISK_DEVICE_NAME_FORMAT VAULTDISK_DEVICE_DIRECTORY "\\Vaultdisk%u"

#pragma pack(push, 1)
struct MountRecord {
  uint16_t FormatVersion;
  uint64_t DiskLength;
  uint8_t SectorSizeUnits;  // bytes per sector / 512; 0 means 512 bytes
  uint32_t BlockCount;
  uint32_t BlockSize;
  uint32_t Compressed;
  uint64_t IndexOffset;
  uint64_t RawLength;
  uint64_t RawOffset;
  uint8_t KeyField[kMaxKeyBytes];
  uint16_t CipherType;
  uint16_t FileListLength;
  uint16_t FileEntryCount;
  uint16_t FileSlotCount;
  uint16_t RawFileSlot;
  // File list: per entry an NT path ("\??\C:\..." or "\??\UNC\server\...") in ANSI
  // characters, NUL-terminated, then its 16-bit file slot.
};
#pragma pack(pop)

constexpr uint32_t kMountRecordHeaderSize = 89;
constexpr uint32_t kMountQueryReplySize = 90;
static_assert(sizeof(MountRecord) == kMountRecordHeaderSize);
static_assert(__builtin_offsetof(MountRecord, SectorSizeUnits) == 10);
static_assert(__builtin_offsetof(MountRecord, KeyField) == 47);
static_assert(__builtin_offsetof(MountRecord, CipherType) == 79);
static_assert(__builtin_offsetof(MountRecord, RawFileSlot) == 87);

// One file list entry as found in the record: Path points into the record and is not
// NUL-terminated within PathLength (the NUL follows it).
struct MountFileEntry {
  const char* Path;
  uint32_t PathLength;
  uint16_t Slot;
};

// A record that passed ParseMountRecord: its values, its key, and its file list to walk with
// NextMountFile. Points into the record, which must outlive it. Whoever parses wipes Key once
// the reader has expanded it.
struct ParsedMountRecord {
  VirtualDiskLayout Layout;
  uint8_t Key[kMaxKeyBytes];
  uint16_t FileEntryCount;
  const uint8_t* FileList;
  uint32_t FileListLength;
};

struct MountFileCursor {
  const uint8_t* Next;
  const uint8_t* End;
};

// Validates size bytes of a mount request completely before anything uses it: the fixed part
// and a file list of at least one entry within the input, FileListLength covering exactly
// FileEntryCount entries, each a nonempty NUL-terminated path and a slot below the slot count
// that no other entry names, and values the read path accepts (IsValidLayout). The key is copied
// into parsed->Key only once all of that passed; false leaves the key zero and the rest
// of *parsed unspecified.
bool ParseMountRecord(const uint8_t* record, uint32_t size, ParsedMountRecord* parsed);

MountFileCursor FirstMountFile(const ParsedMountRecord* parsed);
// The next entry of a parsed record's file list; false after the last.
bool NextMountFile(MountFileCursor* cursor, MountFileEntry* entry);

// The 90-byte query reply for a mounted layout (offsets 0 to 46 and 79; the rest zero).
void FillMountQueryReply(const VirtualDiskLayout* layout, uint8_t reply[kMountQueryReplySize]);
