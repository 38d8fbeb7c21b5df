#include "program_paths_win32.h"

#include <windows.h>

#include "path_names.h"

void CreateDirectoryPath(std::string path) {
  if (!path.empty() && path.back() == '\\') path.pop_back();
  if (path.empty() || GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return;
  // Beyond the third character: the parent is a folder, not the root "E:\" or "\\".
  if (const size_t slash = path.rfind('\\'); slash != std::string::npos && slash > 2)
    CreateDirectoryPath(path.substr(0, slash));
  CreateDirectoryA(path.c_str(), nullptr);
}

std::string ModuleFilePath(const std::string& fileName) {
  char module[256] = "";
  GetModuleFileNameA(nullptr, module, sizeof module - 1);
  if (lstrcmpiA(fileName.c_str(), "quillon.exe") == 0) return module;
  return PathFolder(module) + fileName;
}
