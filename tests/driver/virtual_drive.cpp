#include "virtual_drive.h"

#include <cstdio>

#include "drive_letter.h"
#include "mounted_drive_win32.h"
#include "mount_record.h"

namespace {

std::string DosName(char letter) { return {letter, ':'}; }

DWORD Result(BOOL ok) { return ok ? ERROR_SUCCESS : GetLastError(); }

}  // namespace

std::string DeviceName(unsigned deviceNumber) {
  char device[64];
  snprintf(device, sizeof device, VAULTDISK_DEVICE_NAME_FORMAT, deviceNumber);
  return device;
}

std::string DriveTarget(char letter) {
  char target[520];
  if (!QueryDosDeviceA(DosName(letter).c_str(), target, sizeof target)) return "";
  return target;
}

DWORD QueryDevice(unsigned deviceNumber) {
  VirtualDrive probe(deviceNumber);
  if (const DWORD error = probe.OpenIdle(); error != ERROR_SUCCESS) return error;
  return probe.Control(IOCTL_IMAGE_QUERY, nullptr, 0, nullptr, 0);
}

VirtualDrive::~VirtualDrive() {
  if (mounted_) Unmount();
  Close();
}

void VirtualDrive::Close() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  if (idleMapped_) DefineDosDeviceA(DDD_REMOVE_DEFINITION, DosName(letter_).c_str(), nullptr);
  idleMapped_ = false;
}

DWORD VirtualDrive::OpenLetter() {
  const std::string path = "\\\\.\\" + DosName(letter_);
  handle_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
  return handle_ == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
}

DWORD VirtualDrive::Mount(const std::vector<uint8_t>& record) {
  Close();
  letter_ = ChooseDriveLetter(DriveLetterMapped);
  MountFailure failure;
  if (Win32MountedDrive(deviceNumber_, letter_).Mount(record, failure) != 0) return GetLastError();
  mounted_ = true;
  return OpenLetter();
}

DWORD VirtualDrive::Unmount() {
  if (!mounted_) return ERROR_NOT_READY;
  mounted_ = false;
  return Win32MountedDrive(deviceNumber_, letter_).Unmount() == 0 ? ERROR_SUCCESS : GetLastError();
}

DWORD VirtualDrive::OpenIdle() {
  Close();
  letter_ = ChooseDriveLetter(DriveLetterMapped);
  if (!DefineDosDeviceA(DDD_RAW_TARGET_PATH, DosName(letter_).c_str(), DeviceName(deviceNumber_).c_str()))
    return GetLastError();
  idleMapped_ = true;
  return OpenLetter();
}

DWORD VirtualDrive::Control(DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize,
                            DWORD* returned) {
  DWORD bytes = 0;
  const DWORD error = Result(DeviceIoControl(handle_, code, const_cast<void*>(input), inputSize, output,
                                             outputSize, &bytes, nullptr));
  if (returned) *returned = bytes;
  return error;
}

DWORD VirtualDrive::ReadAt(uint64_t offset, void* buffer, DWORD length, DWORD* read) {
  OVERLAPPED position = {};
  position.Offset = DWORD(offset);
  position.OffsetHigh = DWORD(offset >> 32);
  DWORD bytes = 0;
  const DWORD error = Result(ReadFile(handle_, buffer, length, &bytes, &position));
  if (read) *read = bytes;
  return error;
}

DWORD VirtualDrive::WriteAt(uint64_t offset, const void* buffer, DWORD length) {
  OVERLAPPED position = {};
  position.Offset = DWORD(offset);
  position.OffsetHigh = DWORD(offset >> 32);
  DWORD bytes = 0;
  return Result(WriteFile(handle_, buffer, length, &bytes, &position));
}
