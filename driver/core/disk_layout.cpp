#include "block_reader.h"

uint32_t IndexEntrySize(const VirtualDiskLayout* layout) {
  return layout->FormatVersion < 3 ? 12u : kMaxIndexEntrySize;
}

bool IsValidLayout(const VirtualDiskLayout* layout) {
  if (layout->BlockSize == 0 || layout->BlockSize > kMaxBlockSize) return false;
  if (layout->CipherType > 3) return false;
  if (layout->FileCount == 0 || layout->RawFileSlot >= layout->FileCount) return false;
  if (layout->SectorSize == 0) return false;
  // Both sides report the length as a signed 64-bit size (partition length, file size).
  if (layout->DiskLength > uint64_t(INT64_MAX)) return false;
  // Every byte the layout can address must have a representable position.
  uint64_t blockBytes = uint64_t(layout->BlockCount) * layout->BlockSize;
  if (SumOverflows(layout->RawLength, blockBytes)) return false;
  if (SumOverflows(layout->RawOffset, layout->RawLength)) return false;
  uint64_t indexBytes = uint64_t(layout->BlockCount) * IndexEntrySize(layout);
  if (SumOverflows(layout->IndexOffset, indexBytes)) return false;
  return true;
}
