// Text shown for sizes, dates and partition types, the same in every list and log.
#pragma once
#include <cstdint>
#include <string>

// Byte count with a unit from B to TB; thresholds are strict (1024 bytes is "1024 B").
std::string FormatSize(uint64_t bytes);
// Local date and time: Windows formats with the user's locale and the GetDateFormat and
// GetTimeFormat flags given (1 short date, 2 no seconds); elsewhere "YYYY-MM-DD HH:MM".
std::string FormatDateTime(int64_t seconds, uint32_t dateFlags, uint32_t timeFlags);
// Display name of the partition type byte.
std::string PartitionFileSystemText(uint8_t type);
