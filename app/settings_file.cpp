#include "settings_file.h"

#include <cstdio>
#include <cstring>

std::string ReadCommandTemplate(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return {};
  char buffer[kSettingsReadLimit] = {};
  size_t read = std::fread(buffer, 1, sizeof buffer, file);
  std::fclose(file);
  return std::string(buffer, strnlen(buffer, read));
}
