#include "text_helpers.h"

#include <cstdio>

#include "partition_types.h"

std::string FormatSize(uint64_t bytes) {
  struct Unit {
    uint64_t Divisor;
    const char* Name;
    int Decimals;
  };
  static constexpr Unit kUnits[] = {
      {1ull << 40, "TB", 3}, {1ull << 30, "GB", 3}, {1ull << 20, "MB", 2}, {1ull << 10, "KB", 0}};
  Unit unit{1, "B", 0};
  for (const Unit& candidate : kUnits)
    if (bytes > candidate.Divisor) {
      unit = candidate;
      break;
    }
  char text[64];
  std::snprintf(text, sizeof text, "%.*f %s", unit.Decimals,
                static_cast<double>(bytes) / static_cast<double>(unit.Divisor), unit.Name);
  return text;
}

std::string PartitionFileSystemText(uint8_t type) { return PartitionTypeName(type); }
