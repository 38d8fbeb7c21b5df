// libFuzzer: bytes as a mount request, parsed from an exactly sized heap copy (ASan sees any
// read past it). An accepted record's entries lie inside it; a refused one leaves no key.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "mount_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  const std::vector<uint8_t> record(data, data + size);
  ParsedMountRecord parsed;
  memset(&parsed, 0xAA, sizeof parsed);
  if (!ParseMountRecord(record.data(), uint32_t(size), &parsed)) {
    for (uint8_t byte : parsed.Key)
      if (byte != 0) abort();
    return 0;
  }
  const uint8_t* end = record.data() + size;
  MountFileCursor cursor = FirstMountFile(&parsed);
  MountFileEntry entry;
  uint32_t entries = 0;
  while (NextMountFile(&cursor, &entry)) {
    const auto* path = reinterpret_cast<const uint8_t*>(entry.Path);
    if (entry.PathLength == 0 || path + entry.PathLength + 3 > end || path[entry.PathLength] != 0) abort();
    if (entry.Slot >= parsed.Layout.FileCount) abort();
    ++entries;
  }
  if (entries != parsed.FileEntryCount) abort();
  uint8_t reply[kMountQueryReplySize];
  FillMountQueryReply(&parsed.Layout, reply);
  return 0;
}
