#include "gui_images.h"

#include <windows.h>

#include <cstdio>

#include "test_images.h"

namespace {

void EmptyFolder(const std::string& folder) {
  WIN32_FIND_DATAA entry;
  const HANDLE search = FindFirstFileA((folder + "*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA((folder + entry.cFileName).c_str());
  } while (FindNextFileA(search, &entry));
  FindClose(search);
}

}  // namespace

std::string FreshImageFolder(const std::string& name) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string folder = std::string(temp) + "harvesta-gui-images\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  folder += name + "\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  EmptyFolder(folder);
  return folder;
}

WriterPartition RawPartition(const std::string& folder, const std::string& name, uint64_t size, uint32_t seed) {
  WriterPartition partition;
  partition.SourcePath = folder + name + ".raw";
  const std::vector<uint8_t> bytes = MakeVolumeBytes(size, 65536, seed);
  if (FILE* file = std::fopen(partition.SourcePath.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
  return partition;
}

std::vector<std::string> WriteImageFiles(const ImageWriterOptions& options) {
  std::vector<std::string> files = WriteImage(options);
  for (const WriterDisk& disk : options.Disks)
    for (const WriterPartition& partition : disk.Partitions) DeleteFileA(partition.SourcePath.c_str());
  return files;
}

bool CutInHalf(const std::string& path) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool cut = GetFileSizeEx(file, &size);
  size.QuadPart /= 2;
  cut = cut && SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  return CloseHandle(file) && cut;
}
