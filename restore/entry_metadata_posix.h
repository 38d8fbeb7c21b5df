// What a copied path carries besides its data, written after the data and, for a folder,
// after its contents. Each returns the fields it could not write, as "field: reason".
#pragma once
#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "ntfs_metadata_posix.h"

// Every user.* extended attribute (on ntfs-3g: every alternate data stream), read and written
// in two steps so that the reading can go ahead of the writing.
struct SourceStreams {
  std::vector<std::pair<std::string, AttributeValue>> Streams;  // name without "user."
  int ListError = 0;
};
SourceStreams ReadStreams(const std::string& source);
std::vector<std::string> WriteStreams(const std::string& destination, const SourceStreams& streams);
std::vector<std::string> CopyStreams(const std::string& source, const std::string& destination);
// Permission bits and access and modification times, not following a link.
std::vector<std::string> CopyModeAndTimes(const std::string& destination, const struct stat& source);
// Only the times: for a folder whose contents changed after it was copied.
std::vector<std::string> CopyTimes(const std::string& destination, const struct stat& source);
