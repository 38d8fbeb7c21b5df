#include "mount_record_build.h"

#include <cstring>
#include <limits>

#include "mount_record.h"

namespace {

constexpr std::string_view kNtPrefix = "\\??\\";
constexpr std::string_view kNtUncPrefix = "\\??\\UNC\\";

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

bool AppendFileList(const MountValues& values, std::vector<uint8_t>& list, std::string* error) {
  for (const MountFile& file : values.Files) {
    if (file.Path.empty())
      return Fail(error, "file " + std::to_string(file.Number) + " of the image set is missing");
    if (file.Number >= values.FileCount)
      return Fail(error, "file " + std::to_string(file.Number) + " lies beyond the catalogue file");
    std::string path = NtPathFromWin32(file.Path);
    if (path.find('\0') != std::string::npos) return Fail(error, "file path holds a NUL byte");
    list.insert(list.end(), path.begin(), path.end());
    list.push_back(0);
    list.push_back(uint8_t(file.Number));
    list.push_back(uint8_t(file.Number >> 8));
  }
  return true;
}

}  // namespace

std::string NtPathFromWin32(std::string_view path) {
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\')
    return std::string(kNtUncPrefix) + std::string(path.substr(2));
  return std::string(kNtPrefix) + std::string(path);
}

std::string Win32PathFromNtPath(std::string_view ntPath) {
  if (ntPath.starts_with(kNtUncPrefix)) return "\\\\" + std::string(ntPath.substr(kNtUncPrefix.size()));
  if (ntPath.starts_with(kNtPrefix)) return std::string(ntPath.substr(kNtPrefix.size()));
  return std::string(ntPath);
}

std::optional<std::vector<uint8_t>> BuildMountRecord(const MountValues& values, std::string* error) {
  constexpr uint32_t kMax16 = std::numeric_limits<uint16_t>::max();
  if (values.FileCount == 0 || values.FileCount > kMax16)
    return Fail(error, "the catalogue file number cannot be sent"), std::nullopt;
  if (values.SectorSizeUnits > 255) return Fail(error, "sector size too large"), std::nullopt;
  if (values.Files.size() > kMax16) return Fail(error, "too many image files"), std::nullopt;

  std::vector<uint8_t> list;
  if (!AppendFileList(values, list, error)) return std::nullopt;
  if (list.size() > kMax16) return Fail(error, "image file paths too long"), std::nullopt;

  MountRecord fixed{};
  fixed.FormatVersion = values.FormatVersion;
  fixed.DiskLength = values.DiskLength;
  fixed.SectorSizeUnits = uint8_t(values.SectorSizeUnits);
  fixed.BlockCount = values.BlockCount;
  fixed.BlockSize = values.BlockSize;
  fixed.Compressed = uint32_t(values.Compressed);
  fixed.IndexOffset = values.IndexOffset;
  fixed.RawLength = values.RawRegionLength;
  fixed.RawOffset = values.RawRegionOffset;
  fixed.CipherType = values.Key.CipherType;
  fixed.FileListLength = uint16_t(list.size());
  fixed.FileEntryCount = uint16_t(values.Files.size());
  fixed.FileSlotCount = uint16_t(values.FileCount);
  fixed.RawFileSlot = values.RawRegionFile;
  std::memcpy(fixed.KeyField, values.Key.Key.data(), sizeof(fixed.KeyField));

  std::vector<uint8_t> record(sizeof(fixed));
  std::memcpy(record.data(), &fixed, sizeof(fixed));
  record.insert(record.end(), list.begin(), list.end());
  ParsedMountRecord parsed;
  if (!ParseMountRecord(record.data(), uint32_t(record.size()), &parsed))
    return Fail(error, "the image's values for this partition are out of range"), std::nullopt;
  return record;
}
