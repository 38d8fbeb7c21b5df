#include "mount_drive_win32.h"

#include <windows.h>
#include <winioctl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "message_sink.h"
#include "mount_record.h"
#include "system_error_text.h"

namespace {

bool IsDriveLetter(char letter) { return letter >= 'A' && letter <= 'Z'; }

std::string DosName(char letter) { return {letter, ':'}; }

std::string DeviceName(unsigned deviceNumber) {
  char name[64];
  snprintf(name, sizeof name, VAULTDISK_DEVICE_NAME_FORMAT, deviceNumber);
  return name;
}

// "\\.\X:" to mount and probe, "\\?\X:" to unmount: the drive itself, not its file system.
HANDLE OpenDrive(const char* prefix, char letter, DWORD access) {
  const std::string path = prefix + DosName(letter);
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_NO_BUFFERING, nullptr);
}

bool RemoveMapping(char letter) {
  return DefineDosDeviceA(DDD_REMOVE_DEFINITION, DosName(letter).c_str(), nullptr);
}

// Tells the user, takes the letter back, and leaves the cause as the last error for the caller.
int FailMappedMount(char letter, DWORD error) {
  ShowMessage(SystemErrorText(error));
  RemoveMapping(letter);
  SetLastError(error);
  return -1;
}

// The device number a mounted virtual drive stands on, or -1 when the letter is not one.
int MountedDeviceNumber(char letter) {
  char target[520] = "";
  if (!QueryDosDeviceA(DosName(letter).c_str(), target, sizeof target)) return -1;
  // Drives that may be slow to open are left alone. A drive with no root directory is not: a
  // virtual drive whose file system the system does not mount has none (under Wine, none ever
  // has), and passing it over would hand its device out twice.
  const std::string root = DosName(letter) + "\\";
  switch (GetDriveTypeA(root.c_str())) {
    case DRIVE_CDROM:
    case DRIVE_RAMDISK:
    case DRIVE_REMOTE:
      return -1;
  }
  HANDLE drive = OpenDrive("\\\\.\\", letter, GENERIC_READ);
  if (drive == INVALID_HANDLE_VALUE) return -1;
  // Only the driver's devices answer the query, and only while mounted.
  uint8_t reply[kMountQueryReplySize];
  DWORD returned = 0;
  const bool answered = DeviceIoControl(drive, IOCTL_IMAGE_QUERY, nullptr, 0, reply, sizeof reply, &returned, nullptr);
  CloseHandle(drive);
  if (!answered) return -1;

  // "\Device\Vaultdisk\Vaultdisk3": one digit per device.
  const size_t length = strnlen(target, sizeof target);
  if (length < 9) return -1;
  const int digit = target[length - 1] - '0';
  return digit >= 0 && digit < int(kMaxVirtualDrives) ? digit : -1;
}

}  // namespace

int MountImageDrive(unsigned deviceNumber, const uint8_t* record, uint32_t recordSize, char letter) {
  if (!IsDriveLetter(letter)) {
    SetLastError(ERROR_INVALID_DRIVE);
    return -1;
  }
  HANDLE drive = OpenDrive("\\\\.\\", letter, GENERIC_READ | GENERIC_WRITE);
  if (drive != INVALID_HANDLE_VALUE) {
    CloseHandle(drive);
    SetLastError(ERROR_BUSY);
    return -1;
  }
  if (!DefineDosDeviceA(DDD_RAW_TARGET_PATH, DosName(letter).c_str(), DeviceName(deviceNumber).c_str()))
    return -1;

  drive = OpenDrive("\\\\.\\", letter, GENERIC_READ | GENERIC_WRITE);
  if (drive == INVALID_HANDLE_VALUE) return FailMappedMount(letter, GetLastError());
  DWORD returned = 0;
  const bool mounted = DeviceIoControl(drive, IOCTL_IMAGE_MOUNT, const_cast<uint8_t*>(record), recordSize,
                                       nullptr, 0, &returned, nullptr);
  const DWORD error = GetLastError();
  CloseHandle(drive);
  return mounted ? 0 : FailMappedMount(letter, error);
}

int UnmountImageDrive(char letter) {
  if (!IsDriveLetter(letter)) {
    SetLastError(ERROR_INVALID_DRIVE);
    return -1;
  }
  HANDLE drive = OpenDrive("\\\\?\\", letter, GENERIC_READ | GENERIC_WRITE);
  if (drive == INVALID_HANDLE_VALUE) return -1;
  // Neither result changes what follows: the letter goes either way.
  DWORD returned = 0;
  DeviceIoControl(drive, IOCTL_IMAGE_UNMOUNT, nullptr, 0, nullptr, 0, &returned, nullptr);
  DeviceIoControl(drive, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
  CloseHandle(drive);
  return RemoveMapping(letter) ? 0 : -1;
}

bool DriveLetterMapped(char letter) {
  char target[520];
  return QueryDosDeviceA(DosName(letter).c_str(), target, sizeof target) != 0;
}

char ChooseDriveLetter() {
  for (char letter = 'D'; letter <= 'Z'; ++letter)
    if (!DriveLetterMapped(letter)) return letter;
  return 'X';
}

std::vector<unsigned> ListUsedDeviceNumbers() {
  std::vector<unsigned> used;
  // Z is left out: with C to Y there are more letters than devices.
  for (char letter = 'C'; letter <= 'Y'; ++letter)
    if (const int number = MountedDeviceNumber(letter); number >= 0) used.push_back(unsigned(number));
  return used;
}

std::vector<unsigned> ListFreeDeviceNumbers() {
  bool used[kMaxVirtualDrives] = {};
  for (unsigned number : ListUsedDeviceNumbers()) used[number] = true;
  std::vector<unsigned> free;
  for (unsigned number = 0; number < kMaxVirtualDrives; ++number)
    if (!used[number]) free.push_back(number);
  return free;
}
