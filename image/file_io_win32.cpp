#include <io.h>
#include <windows.h>

#include "file_io.h"

// Kept only when it is a disk file: a reserved device name such as "CON.qvimg" opens the
// device, whose reads would block.
std::FILE* OpenFileForReading(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file && GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != FILE_TYPE_DISK) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

std::FILE* OpenFileForWriting(const std::string& path) { return std::fopen(path.c_str(), "wb"); }
int SeekFile(std::FILE* file, int64_t offset, int origin) { return _fseeki64(file, offset, origin); }
int64_t TellFile(std::FILE* file) { return _ftelli64(file); }
