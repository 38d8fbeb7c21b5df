// The texts of one partition row of the partition list, column by column.
#pragma once
#include <array>
#include <string>

#include "partition_list.h"

constexpr std::array<const char*, 10> kPartitionColumnHeaders = {
    "Original location", "Backup Date", "Backup ID",   "Capacity",     "Used Space",
    "Free Space",        "File System", "Compression", "No. of files", "Intelligent Sector Copy"};

std::string OriginalLocationText(const VolumeInfo& volume);
std::string CompressionText(int32_t level);  // "None", "Medium", "High"; the number otherwise
std::array<std::string, 10> PartitionColumnTexts(const PartitionRow& row);
