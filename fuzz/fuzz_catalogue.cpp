// libFuzzer: bytes as an image file, loaded through the catalogue reader. A damaged or hostile
// file ends in one of the reader's messages, never in an over-read, a huge allocation or UB.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "image_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One in-memory file, rewritten for every input and opened by its path as any image file.
  static const int fd = memfd_create("image.qvimg", 0);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size)) abort();
  try {
    LoadImageFile(path);
  } catch (const char*) {
    // the reader's message
  }
  return 0;
}
