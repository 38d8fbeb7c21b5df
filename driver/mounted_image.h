// What a mount holds while it lasts: the open image files by slot and the read path over
// them, with its buffers and decoded-block cache. Created and destroyed by the worker thread.
#pragma once
#include "kernel.h"
#include "block_reader.h"

struct MountedImage {
  BlockReader Reader;
  uint8_t* Work;        // the reader's buffers and cache
  USHORT FileCount;
  HANDLE FileHandles[1];  // FileCount slots; null where no file was opened
};

// Allocates everything the layout needs, with no file opened yet, and expands key into the
// reader: the reader's cipher context is the one place the driver keeps it. Returns
// STATUS_INSUFFICIENT_RESOURCES with nothing allocated when the pool cannot provide it.
NTSTATUS CreateMountedImage(const VirtualDiskLayout* layout, const uint8_t* key, MountedImage** image);

// Closes every open file and frees all the image's memory; the key schedule is wiped first.
void DestroyMountedImage(MountedImage* image);
