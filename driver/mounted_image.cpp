#include "mounted_image.h"

namespace {

// Decoded blocks kept per mount: a file system reads 4 KiB at a time and comes back to the
// same metadata blocks, so a few blocks go a long way; the budget bounds big block sizes.
constexpr uint32_t kDecodedCacheBudget = 2u << 20;
constexpr uint32_t kDecodedCacheMaxBlocks = 16;

uint32_t DecodedBlocksFor(uint32_t blockSize) {
  uint32_t blocks = kDecodedCacheBudget / blockSize;
  if (blocks < 1) return 1;
  return blocks < kDecodedCacheMaxBlocks ? blocks : kDecodedCacheMaxBlocks;
}

bool ReadImageFile(void* context, uint32_t slot, uint64_t offset, uint8_t* buffer,
                   uint32_t length, uint32_t* bytesRead) {
  auto* image = static_cast<MountedImage*>(context);
  *bytesRead = 0;
  if (slot >= image->FileCount || !image->FileHandles[slot] || offset > uint64_t(MAXLONGLONG))
    return false;
  IO_STATUS_BLOCK io;
  LARGE_INTEGER position;
  position.QuadPart = LONGLONG(offset);
  NTSTATUS status = ZwReadFile(image->FileHandles[slot], nullptr, nullptr, nullptr, &io, buffer,
                               length, &position, nullptr);
  if (status == STATUS_END_OF_FILE) return true;  // nothing there: the reader sees 0 bytes
  if (status != STATUS_SUCCESS) return false;
  *bytesRead = uint32_t(io.Information);
  return true;
}

}  // namespace

NTSTATUS CreateMountedImage(const VirtualDiskLayout* layout, const uint8_t* key, MountedImage** image) {
  *image = nullptr;
  const uint32_t decodedBlocks = DecodedBlocksFor(layout->BlockSize);
  const uint64_t workSize = BlockReaderWorkSize(layout, decodedBlocks);
  if (workSize == 0) return STATUS_INVALID_PARAMETER;
  if (SIZE_T(workSize) != workSize) return STATUS_INSUFFICIENT_RESOURCES;  // x86

  const SIZE_T imageSize = FIELD_OFFSET(MountedImage, FileHandles) + layout->FileCount * sizeof(HANDLE);
  auto* created = static_cast<MountedImage*>(AllocatePool(imageSize));
  if (!created) return STATUS_INSUFFICIENT_RESOURCES;
  created->FileCount = layout->FileCount;
  created->Work = static_cast<uint8_t*>(AllocatePool(SIZE_T(workSize)));
  if (!created->Work) {
    FreePool(created);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  FileSource files = {ReadImageFile, created};
  if (!InitBlockReader(&created->Reader, layout, key, files, created->Work, workSize, decodedBlocks)) {
    DestroyMountedImage(created);
    return STATUS_INVALID_PARAMETER;
  }
  *image = created;
  return STATUS_SUCCESS;
}

void DestroyMountedImage(MountedImage* image) {
  for (USHORT slot = 0; slot < image->FileCount; ++slot) {
    if (image->FileHandles[slot]) ZwClose(image->FileHandles[slot]);
  }
  RtlSecureZeroMemory(&image->Reader, sizeof image->Reader);
  FreePool(image->Work);
  FreePool(image);
}
