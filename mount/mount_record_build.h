// Building the mount record of one partition from the values its loaded image gives, and the
// NT path form the record carries image file paths in.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mount_request.h"

// "\\server\share\f" becomes "\??\UNC\server\share\f"; any other path gets "\??\" in front.
std::string NtPathFromWin32(std::string_view path);
// The inverse, for tools that open the files a record names.
std::string Win32PathFromNtPath(std::string_view ntPath);

// The record (fixed part and file list) for values, key field included. Returns nullopt and
// sets *error when the values cannot be sent: a file of the set is missing, a value does not
// fit its field, or the result would not pass ParseMountRecord.
std::optional<std::vector<uint8_t>> BuildMountRecord(const MountValues& values, std::string* error);
