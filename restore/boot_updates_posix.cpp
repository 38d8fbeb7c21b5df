#include "boot_updates_posix.h"

#include <strings.h>

#include <filesystem>
#include <vector>

#include "raw_bytes_posix.h"
#include "restore_steps_posix.h"

namespace {

namespace fs = std::filesystem;

// The store is a registry hive of well under a MiB; a far larger file is not one.
constexpr uint64_t kMaxBootConfigurationSize = 64ull << 20;
constexpr uint8_t kProtectiveGptType = 0xEE;
constexpr size_t kPartitionTable = 446, kEntrySize = 16, kTypeByte = 4;

// NTFS keeps the case a name was written with; Windows looks names up without it.
std::optional<std::string> FindIgnoringCase(const std::string& root,
                                            std::initializer_list<const char*> components) {
  fs::path path = root;
  for (const char* component : components) {
    std::error_code failed;
    if (fs::exists(path / component, failed)) {
      path /= component;
      continue;
    }
    std::optional<fs::path> match;
    for (const auto& entry : fs::directory_iterator(path, failed))
      if (strcasecmp(entry.path().filename().c_str(), component) == 0) {
        match = entry.path();
        break;
      }
    if (!match) return std::nullopt;
    path = *match;
  }
  return path.string();
}

bool IsGuidPartitionTable(std::span<const uint8_t> record) {
  for (size_t entry = 0; entry < 4; ++entry)
    if (record[kPartitionTable + entry * kEntrySize + kTypeByte] == kProtectiveGptType) return true;
  return false;
}

}  // namespace

int PosixBootUpdates::UpdatePartitionBootSector(char sourceLetter, char, BootSectorError& error) {
  auto fail = [&](BootSectorError why) {
    error = why;
    return 0;
  };
  const std::optional<std::string> sourceFile = drives_.DiskFile(sourceLetter);
  const std::optional<std::vector<uint8_t>> source =
      sourceFile ? ReadBytesAt(*sourceFile, 0, kBootAreaSize) : std::nullopt;
  if (source && !IsNtfsBootSector(*source)) return fail(BootSectorError::SourceNotNtfs);
  if (!target_.IsDevice()) return fail(BootSectorError::DestinationNotOpened);
  // A mounted file system would write its own idea of these sectors over ours.
  if (!mount_.Unmount()) return fail(BootSectorError::DestinationNotOpened);
  const std::optional<std::vector<uint8_t>> destination =
      ReadBytesAt(target_.Path, 0, kBootAreaSize);
  if (destination && !IsNtfsBootSector(*destination))
    return fail(BootSectorError::DestinationNotNtfs);
  if (!sourceFile) return fail(BootSectorError::SourceNotOpened);
  if (!source) return fail(BootSectorError::SourceNotRead);
  if (!destination) return fail(BootSectorError::DestinationNotRead);
  std::vector<uint8_t> merged = *source;
  MergeBootArea(merged, *destination);
  if (!WriteBytesAt(target_.Path, 0, merged)) return fail(BootSectorError::DestinationNotWritten);
  error = BootSectorError::None;
  return 1;
}

DestinationDisk PosixBootUpdates::UpdateDiskRecord(char, uint32_t imageSignature,
                                                   DiskRecordChoices choices) {
  DestinationDisk found;
  if (target_.Kind != TargetKind::Partition) return found;
  found.PartitionOffset = target_.PartitionOffset;
  std::optional<std::vector<uint8_t>> record =
      ReadBytesAt(target_.DiskPath, 0, kMasterBootRecordSize);
  if (!record || IsGuidPartitionTable(*record)) return found;
  found.Record = EditDiskRecord(*record, imageSignature, choices, found.PartitionOffset,
                                target_.LogicalBlockSize);
  if (found.Record && found.Record->MustWrite)
    found.RecordWritten = WriteBytesAt(target_.DiskPath, 0, *record);
  return found;
}

int PosixBootUpdates::UpdateBootConfiguration(char, const BootConfigurationRewrite& rewrite) {
  const std::optional<std::string> root = mount_.Root();
  const std::optional<std::string> file =
      root ? FindIgnoringCase(*root, {"Boot", "BCD"}) : std::nullopt;
  std::optional<std::vector<uint8_t>> store =
      file ? ReadSmallFile(*file, kMaxBootConfigurationSize) : std::nullopt;
  if (!store) return 0;
  if (RewriteBootConfiguration(*store, rewrite)) WriteBytesAt(*file, 0, *store);
  return 1;
}

void PosixBootUpdates::MarkBootStatus(char) {
  const std::optional<std::string> root = mount_.Root();
  const std::optional<std::string> file =
      root ? FindIgnoringCase(*root, {"Windows", "bootstat.dat"}) : std::nullopt;
  if (!file) return;
  std::optional<std::vector<uint8_t>> status = ReadBytesAt(*file, 0, kBootStatusSize);
  if (status && SetBootStatusFlag(*status)) WriteBytesAt(*file, 0, *status);
}
