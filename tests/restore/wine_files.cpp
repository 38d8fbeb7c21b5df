#include "wine_files.h"

#include <windows.h>

#include <cstdlib>

void RemoveTree(const std::string& folder) {
  WIN32_FIND_DATAA entry;
  const HANDLE find = FindFirstFileA((folder + "*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(folder + name + "\\");
      else
        DeleteFileA((folder + name).c_str());
    } while (FindNextFileA(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryA(folder.c_str());
}

TestFolder::TestFolder(const std::string& name) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  path_ = std::string(temp) + name + "-" + std::to_string(GetCurrentProcessId()) + "\\";
  RemoveTree(path_);
  CreateDirectoryA(path_.c_str(), nullptr);
}

TestFolder::~TestFolder() { RemoveTree(path_); }

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::vector<uint8_t> bytes(GetFileSize(file, nullptr));
  DWORD read = 0;
  ReadFile(file, bytes.data(), DWORD(bytes.size()), &read, nullptr);
  CloseHandle(file);
  bytes.resize(read);
  return bytes;
}

bool PathExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string PathFromEnvironment(const char* name) {
  const char* value = getenv(name);
  std::string path = value ? value : "";
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string ThisProgramPath() {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, path, sizeof path);
  return path;
}
