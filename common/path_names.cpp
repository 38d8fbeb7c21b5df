#include "path_names.h"

namespace {
size_t LastSeparator(const std::string& path) { return path.find_last_of("\\/"); }
}  // namespace

std::string PathFolder(const std::string& path) {
  size_t separator = LastSeparator(path);
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// Only a dot within the file name starts the extension: a dotted folder name stays a folder.
std::string PathBaseName(const std::string& path) {
  size_t separator = LastSeparator(path);
  std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
  return name.substr(0, name.rfind('.'));
}
