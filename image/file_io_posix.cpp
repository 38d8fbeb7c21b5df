#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_io.h"

// Opened without blocking, so that a FIFO or device under an image's name cannot hang the
// caller, and kept only when it is a regular file.
std::FILE* OpenFileForReading(const std::string& path) {
  int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return nullptr;
  struct stat status;
  std::FILE* file = nullptr;
  if (fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) &&
      fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK) == 0)
    file = fdopen(descriptor, "rb");
  if (!file) close(descriptor);
  return file;
}

std::FILE* OpenFileForWriting(const std::string& path) { return std::fopen(path.c_str(), "wb"); }
int SeekFile(std::FILE* file, int64_t offset, int origin) { return fseeko(file, offset, origin); }
int64_t TellFile(std::FILE* file) { return ftello(file); }
