#include "block_reader.h"
#include "little_endian.h"

IndexEntryFields LoadIndexEntry(const uint8_t* entry, uint16_t formatVersion) {
  if (formatVersion < 3) {
    const uint64_t locationWord = LoadLe64(entry);
    return {locationWord & 0x00FFFFFFFFFFFFFFull, uint32_t(LoadLe32(entry + 8)),
            uint16_t(locationWord >> 56)};
  }
  return {LoadLe64(entry), uint32_t(LoadLe32(entry + 24)), uint16_t(LoadLe16(entry + 28))};
}

bool IsValidLayout(const VirtualDiskLayout* layout) {
  if (layout->BlockSize == 0 || layout->BlockSize > kMaxBlockSize) return false;
  if (layout->CipherType > kMaxCipherType) return false;
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
