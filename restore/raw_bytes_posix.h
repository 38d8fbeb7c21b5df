// Reading and writing a few bytes of a device or file in place, for the boot repairs and the
// target's file system check.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Exactly length bytes at offset; nullopt when the file is shorter or cannot be read.
std::optional<std::vector<uint8_t>> ReadBytesAt(const std::string& path, uint64_t offset,
                                                size_t length);
// All of a regular file of at most maxSize bytes; nullopt otherwise.
std::optional<std::vector<uint8_t>> ReadSmallFile(const std::string& path, uint64_t maxSize);
// Writes bytes at offset of an existing file or device and waits until they are on it.
bool WriteBytesAt(const std::string& path, uint64_t offset, std::span<const uint8_t> bytes);

// An NTFS boot sector: its OEM name at byte 3.
bool IsNtfsBootSector(std::span<const uint8_t> sector);
