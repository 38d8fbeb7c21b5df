#include <windows.h>

#include "partition_list.h"

std::vector<std::string> ListFolderNames(const std::string& folder) {
  std::vector<std::string> names;
  std::string pattern = folder;
  if (pattern.empty() || (pattern.back() != '\\' && pattern.back() != '/')) pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  // Files only: folders and devices are never images.
  do
    if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
      names.emplace_back(found.cFileName);
  while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}
