#include "mount_record.h"

#include "little_endian.h"

namespace {

// A file list entry is at least one path byte, its NUL and the 16-bit slot.
constexpr uint32_t kSmallestEntry = 4;

bool ReadEntry(const uint8_t* at, const uint8_t* end, MountFileEntry* entry, const uint8_t** next) {
  const uint8_t* nul = at;
  while (nul < end && *nul != 0) ++nul;
  if (nul == end || nul == at || end - nul < 3) return false;
  entry->Path = reinterpret_cast<const char*>(at);
  entry->PathLength = uint32_t(nul - at);
  entry->Slot = LoadLe16(nul + 1);
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

// A write the compiler may not drop because the bytes are never read again: the kernel has no
// secure-zero routine this freestanding file may call.
void WipeBytes(void* bytes, uint32_t size) {
  volatile uint8_t* at = static_cast<volatile uint8_t*>(bytes);
  while (size--) *at++ = 0;
}

}  // namespace

bool ParseMountRecord(const uint8_t* record, uint32_t size, ParsedMountRecord* parsed) {
  // A refused record leaves no key behind: the key is the last thing copied, once all else passed.
  WipeBytes(parsed->Key, sizeof(parsed->Key));
  if (record == nullptr || size < kMountRecordHeaderSize + kSmallestEntry) return false;
  // The fixed fields around the key, never the key itself.
  MountRecord fixed;
  constexpr uint32_t kKeyAt = __builtin_offsetof(MountRecord, KeyField);
  constexpr uint32_t kAfterKey = kKeyAt + sizeof(fixed.KeyField);
  __builtin_memcpy(&fixed, record, kKeyAt);
  __builtin_memset(fixed.KeyField, 0, sizeof(fixed.KeyField));
  __builtin_memcpy(reinterpret_cast<uint8_t*>(&fixed) + kAfterKey, record + kAfterKey,
                   kMountRecordHeaderSize - kAfterKey);
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
  if (!SlotsAreDistinct(parsed, fixed.FileSlotCount)) return false;
  __builtin_memcpy(parsed->Key, record + kKeyAt, sizeof(parsed->Key));
  return true;
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
