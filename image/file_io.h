// The few file calls the image code needs beyond standard C: 64-bit positions and opening by
// the platform's path form.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

// Regular files only, opened without ever blocking; nullptr for anything else.
std::FILE* OpenFileForReading(const std::string& path);
std::FILE* OpenFileForWriting(const std::string& path);
int SeekFile(std::FILE* file, int64_t offset, int origin);  // 0 on success
int64_t TellFile(std::FILE* file);                           // -1 on failure
