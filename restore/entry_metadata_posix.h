// What a copied path carries besides its data, written after the data and, for a folder,
// after its contents. Each returns the fields it could not write, as "field: reason".
#pragma once
#include <sys/stat.h>

#include <string>
#include <vector>

// Every user.* extended attribute (on ntfs-3g: every alternate data stream).
std::vector<std::string> CopyStreams(const std::string& source, const std::string& destination);
// Permission bits and access and modification times, not following a link.
std::vector<std::string> CopyModeAndTimes(const std::string& destination, const struct stat& source);
// Only the times: for a folder whose contents changed after it was copied.
std::vector<std::string> CopyTimes(const std::string& destination, const struct stat& source);
