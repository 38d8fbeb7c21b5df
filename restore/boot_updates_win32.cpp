#include "boot_updates_win32.h"

#include <windows.h>
#include <winioctl.h>

#include <vector>

namespace {

constexpr LONGLONG kMaxBootConfigurationSize = 64ll << 20;

struct Handle {
  HANDLE Value = INVALID_HANDLE_VALUE;
  Handle(HANDLE value) : Value(value) {}
  ~Handle() {
    if (Value != INVALID_HANDLE_VALUE) CloseHandle(Value);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool Valid() const { return Value != INVALID_HANDLE_VALUE; }
};

std::string VolumePath(char letter) { return std::string("\\\\.\\") + letter + ':'; }

HANDLE OpenDevice(const std::string& path, DWORD access) {
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

HANDLE OpenFileForUpdate(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool IsNtfs(char letter) {
  char name[260], fileSystem[10];
  return GetVolumeInformationA(DriveRoot(letter).c_str(), name, sizeof name, nullptr, nullptr, nullptr,
                               fileSystem, sizeof fileSystem) &&
         lstrcmpiA(fileSystem, "NTFS") == 0;
}

bool ReadAll(HANDLE file, void* buffer, DWORD length) {
  DWORD read = 0;
  return ReadFile(file, buffer, length, &read, nullptr) && read == length;
}

bool WriteAll(HANDLE file, const void* buffer, DWORD length) {
  DWORD written = 0;
  return WriteFile(file, buffer, length, &written, nullptr) && written == length;
}

bool Rewind(HANDLE file) {
  LARGE_INTEGER start{};
  return SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
}

}  // namespace

std::string DriveRoot(char letter) { return std::string(1, letter) + ":\\"; }

BootSectorError UpdatePartitionBootSector(char sourceLetter, char destinationLetter) {
  if (!IsNtfs(sourceLetter)) return BootSectorError::SourceNotNtfs;
  if (!IsNtfs(destinationLetter)) return BootSectorError::DestinationNotNtfs;
  std::vector<uint8_t> sourceArea(kBootAreaSize), destinationArea(kBootAreaSize);
  {
    Handle source(OpenDevice(VolumePath(sourceLetter), GENERIC_READ));
    if (!source.Valid()) return BootSectorError::SourceNotOpened;
    if (!ReadAll(source.Value, sourceArea.data(), kBootAreaSize)) return BootSectorError::SourceNotRead;
  }
  Handle destination(OpenDevice(VolumePath(destinationLetter), GENERIC_READ | GENERIC_WRITE));
  if (!destination.Valid()) return BootSectorError::DestinationNotOpened;
  if (!ReadAll(destination.Value, destinationArea.data(), kBootAreaSize)) return BootSectorError::DestinationNotRead;
  MergeBootArea(sourceArea, destinationArea);
  if (!Rewind(destination.Value)) return BootSectorError::DestinationNotRewound;
  if (!WriteAll(destination.Value, sourceArea.data(), kBootAreaSize)) return BootSectorError::DestinationNotWritten;
  return BootSectorError::None;
}

DestinationDisk UpdateDestinationDisk(char destinationLetter, uint32_t imageSignature, DiskRecordChoices choices) {
  DestinationDisk found;
  Handle volume(OpenDevice(VolumePath(destinationLetter), GENERIC_READ));
  if (!volume.Valid()) return found;
  // Room for exactly one extent: a volume spanning disks is not a partition to edit.
  VOLUME_DISK_EXTENTS extents{};
  DWORD returned = 0;
  if (!DeviceIoControl(volume.Value, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, &extents, sizeof extents,
                       &returned, nullptr) ||
      extents.NumberOfDiskExtents != 1)
    return found;
  found.PartitionOffset = uint64_t(extents.Extents[0].StartingOffset.QuadPart);
  const DWORD diskNumber = extents.Extents[0].DiskNumber;
  if (diskNumber > 9) return found;
  Handle disk(OpenDevice("\\\\.\\PHYSICALDRIVE" + std::to_string(diskNumber), GENERIC_READ | GENERIC_WRITE));
  if (!disk.Valid()) return found;

  std::vector<uint8_t> layout(5120);
  if (!DeviceIoControl(disk.Value, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, layout.data(), DWORD(layout.size()),
                       &returned, nullptr) ||
      reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(layout.data())->PartitionStyle != PARTITION_STYLE_MBR)
    return found;  // a GUID partition table has no record to edit
  std::vector<uint8_t> record(kMasterBootRecordSize);
  if (!ReadAll(disk.Value, record.data(), kMasterBootRecordSize)) return found;

  DWORD sectorsPerCluster, bytesPerSector = 0, freeClusters, clusters;
  if (choices.MarkActive && !GetDiskFreeSpaceA(DriveRoot(destinationLetter).c_str(), &sectorsPerCluster,
                                               &bytesPerSector, &freeClusters, &clusters))
    bytesPerSector = 0;
  found.Record = EditDiskRecord(record, imageSignature, choices, found.PartitionOffset, bytesPerSector);
  if (found.Record && found.Record->MustWrite)
    found.RecordWritten = Rewind(disk.Value) && WriteAll(disk.Value, record.data(), kMasterBootRecordSize);
  return found;
}

int UpdateBootConfiguration(const std::string& destinationRoot, const BootConfigurationRewrite& rewrite) {
  Handle file(OpenFileForUpdate(destinationRoot + "Boot\\BCD"));
  if (!file.Valid()) return 0;
  LARGE_INTEGER size{};
  // The store is a registry hive of well under a MiB; a file far larger (sparse, perhaps) is
  // not one and is not read into memory.
  if (!GetFileSizeEx(file.Value, &size) || size.QuadPart <= 0 || size.QuadPart > kMaxBootConfigurationSize)
    return 0;
  std::vector<uint8_t> store(size_t(size.QuadPart));
  DWORD read = 0;
  if (!ReadFile(file.Value, store.data(), DWORD(store.size()), &read, nullptr) || read == 0) return 0;
  store.resize(read);
  if (RewriteBootConfiguration(store, rewrite) && Rewind(file.Value))
    WriteAll(file.Value, store.data(), DWORD(store.size()));
  return 1;
}

void MarkBootStatus(const std::string& destinationRoot) {
  Handle file(OpenFileForUpdate(destinationRoot + "Windows\\bootstat.dat"));
  if (!file.Valid()) return;
  uint8_t status[kBootStatusSize];
  if (!ReadAll(file.Value, status, sizeof status) || !SetBootStatusFlag(status)) return;
  if (Rewind(file.Value)) WriteAll(file.Value, status, sizeof status);
}
