#include "mounted_drive_win32.h"

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

// Leaves the cause as the last error as well, for callers that speak in system error codes.
int Fail(DWORD error, bool userTold, MountFailure& failure) {
  failure = {userTold, SystemErrorText(error)};
  SetLastError(error);
  return -1;
}

// Tells the user and takes the letter back.
int FailMappedMount(char letter, DWORD error, MountFailure& failure) {
  ShowMessage(SystemErrorText(error));
  RemoveMapping(letter);
  return Fail(error, true, failure);
}

// The record carries the key: zeroed where it lies before its memory goes.
void Wipe(std::vector<uint8_t>& record) { SecureZeroMemory(record.data(), record.size()); }

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

int Win32MountedDrive::Mount(std::vector<uint8_t> record, MountFailure& failure) {
  const int result = MountRecord(record, failure);
  Wipe(record);
  return result;
}

int Win32MountedDrive::MountRecord(const std::vector<uint8_t>& record, MountFailure& failure) {
  if (!IsDriveLetter(letter_)) return Fail(ERROR_INVALID_DRIVE, false, failure);
  HANDLE drive = OpenDrive("\\\\.\\", letter_, GENERIC_READ | GENERIC_WRITE);
  if (drive != INVALID_HANDLE_VALUE) {
    CloseHandle(drive);
    return Fail(ERROR_BUSY, false, failure);
  }
  if (!DefineDosDeviceA(DDD_RAW_TARGET_PATH, DosName(letter_).c_str(), DeviceName(deviceNumber_).c_str()))
    return Fail(GetLastError(), false, failure);

  drive = OpenDrive("\\\\.\\", letter_, GENERIC_READ | GENERIC_WRITE);
  if (drive == INVALID_HANDLE_VALUE) return FailMappedMount(letter_, GetLastError(), failure);
  DWORD returned = 0;
  const bool mounted = DeviceIoControl(drive, IOCTL_IMAGE_MOUNT, const_cast<uint8_t*>(record.data()),
                                       DWORD(record.size()), nullptr, 0, &returned, nullptr);
  const DWORD error = GetLastError();
  CloseHandle(drive);
  return mounted ? 0 : FailMappedMount(letter_, error, failure);
}

int Win32MountedDrive::Unmount() {
  const char letter = letter_;
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
