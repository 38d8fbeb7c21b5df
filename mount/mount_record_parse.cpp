#include "mount_record.h"

namespace {

// A file list entry is at least one path byte, its NUL and the 16-bit slot.
constexpr uint32_t kSmallestEntry = 4;

bool ReadEntry(const uint8_t* at, const uint8_t* end, MountFileEntry* entry, const uint8_t** next) {
  const uint8_t* nul = at;
  while (nul < end && *nul != 0) ++nul;
  if (nul == end || nul == at || end - nul < 3) return false;
  entry->Path = reinterpret_cast<const char*>(at);
  entry->PathLength = uint32_t(nul - at);
  entry->Slot = uint16_t(nul[1] | (nul[2] << 8));
  *next = nul + 3;
  return true;
}

// Slots checked per pass over the list: the bitmap stays small enough for a kernel stack, and
// the most slots a record can count (65535) take eight passes.
constexpr uint32_t kSlotsPerPass = 8192;

// A slot named twice would have one file shadow another. The list is well formed.
bool SlotsAreDistinct(const ParsedMountRecord* parsed, uint32_t slotCount) {
  for (uint32_t first = 0; first < slotCount; first += kSlotsPerPass) {
    uint8_t seen[kSlotsPerPass / 8] = {};
    MountFileCursor cursor = FirstMountFile(parsed);
    MountFileEntry entry;
    while (NextMountFile(&cursor, &entry)) {
      if (entry.Slot < first || entry.Slot - first >= kSlotsPerPass) continue;
      const uint32_t bit = entry.Slot - first;
      if (seen[bit / 8] & (1u << (bit % 8))) return false;
      seen[bit / 8] |= uint8_t(1u << (bit % 8));
    }
  }
  return true;
}

}  // namespace

bool ParseMountRecord(const uint8_t* record, uint32_t size, ParsedMountRecord* parsed) {
  if (record == nullptr || size < kMountRecordHeaderSize + kSmallestEntry) return false;
  MountRecord fixed;
  __builtin_memcpy(&fixed, record, sizeof(fixed));
  if (fixed.FileEntryCount == 0 || fixed.FileListLength > size - kMountRecordHeaderSize)
    return false;

  VirtualDiskLayout& layout = parsed->Layout;
  layout.FormatVersion = fixed.FormatVersion;
  layout.DiskLength = fixed.DiskLength;
  layout.SectorSize = fixed.SectorSizeUnits == 0 ? 512u : fixed.SectorSizeUnits * 512u;
  layout.BlockCount = fixed.BlockCount;
  layout.BlockSize = fixed.BlockSize;
  layout.Compressed = fixed.Compressed;
  layout.IndexOffset = fixed.IndexOffset;
  layout.RawLength = fixed.RawLength;
  layout.RawOffset = fixed.RawOffset;
  layout.CipherType = fixed.CipherType;
  __builtin_memcpy(layout.Key, fixed.KeyField, sizeof(layout.Key));
  layout.FileCount = fixed.FileSlotCount;
  layout.RawFileSlot = fixed.RawFileSlot;
  if (!IsValidLayout(&layout)) return false;

  parsed->FileEntryCount = fixed.FileEntryCount;
  parsed->FileList = record + kMountRecordHeaderSize;
  parsed->FileListLength = fixed.FileListLength;

  MountFileCursor cursor = FirstMountFile(parsed);
  MountFileEntry entry;
  for (uint32_t i = 0; i < fixed.FileEntryCount; ++i) {
    const uint8_t* next = nullptr;
    if (!ReadEntry(cursor.Next, cursor.End, &entry, &next)) return false;
    if (entry.Slot >= fixed.FileSlotCount) return false;
    cursor.Next = next;
  }
  if (cursor.Next != cursor.End) return false;  // bytes beyond the last entry
  return SlotsAreDistinct(parsed, fixed.FileSlotCount);
}

MountFileCursor FirstMountFile(const ParsedMountRecord* parsed) {
  return {parsed->FileList, parsed->FileList + parsed->FileListLength};
}

bool NextMountFile(MountFileCursor* cursor, MountFileEntry* entry) {
  const uint8_t* next = nullptr;
  if (!ReadEntry(cursor->Next, cursor->End, entry, &next)) return false;
  cursor->Next = next;
  return true;
}

void FillMountQueryReply(const VirtualDiskLayout* layout, uint8_t reply[kMountQueryReplySize]) {
  MountRecord fixed;
  __builtin_memset(&fixed, 0, sizeof(fixed));
  fixed.FormatVersion = layout->FormatVersion;
  fixed.DiskLength = layout->DiskLength;
  fixed.SectorSizeUnits = uint8_t(layout->SectorSize / 512);
  fixed.BlockCount = layout->BlockCount;
  fixed.BlockSize = layout->BlockSize;
  fixed.Compressed = layout->Compressed;
  fixed.IndexOffset = layout->IndexOffset;
  fixed.RawLength = layout->RawLength;
  fixed.RawOffset = layout->RawOffset;
  fixed.CipherType = layout->CipherType;
  __builtin_memset(reply, 0, kMountQueryReplySize);
  __builtin_memcpy(reply, &fixed, sizeof(fixed));
}
