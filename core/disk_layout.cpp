#include "block_reader.h"

namespace {

uint64_t Load(const uint8_t* bytes, uint32_t width) {
  uint64_t value = 0;
  for (uint32_t i = width; i-- > 0;) value = (value << 8) | bytes[i];
  return value;
}

}  // namespace

uint32_t IndexEntrySize(const VirtualDiskLayout* layout) {
  return layout->FormatVersion < 3 ? 12u : kMaxIndexEntrySize;
}

IndexEntryFields LoadIndexEntry(const uint8_t* entry, uint16_t formatVersion) {
  if (formatVersion < 3) {
    const uint64_t locationWord = Load(entry, 8);
    return {locationWord & 0x00FFFFFFFFFFFFFFull, uint32_t(Load(entry + 8, 4)),
            uint16_t(locationWord >> 56)};
  }
  return {Load(entry, 8), uint32_t(Load(entry + 24, 4)), uint16_t(Load(entry + 28, 2))};
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
