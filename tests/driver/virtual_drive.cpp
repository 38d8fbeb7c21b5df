#include "virtual_drive.h"

#include <cstdio>

#include "mount_record.h"

namespace {

std::string DosName(char letter) { return std::string(1, letter) + ":"; }

DWORD Result(BOOL ok) { return ok ? ERROR_SUCCESS : GetLastError(); }

}  // namespace

char FreeDriveLetter() {
  char target[MAX_PATH];
  for (char letter = 'D'; letter <= 'Z'; ++letter)
    if (!QueryDosDeviceA(DosName(letter).c_str(), target, sizeof target)) return letter;
  return 0;
}

VirtualDrive::VirtualDrive(unsigned deviceNumber) {
  letter_ = FreeDriveLetter();
  if (!letter_) {
    openError_ = ERROR_NO_MORE_ITEMS;
    return;
  }
  char device[64];
  snprintf(device, sizeof device, "\\Device\\Vaultdisk\\Vaultdisk%u", deviceNumber);
  if (!DefineDosDeviceA(DDD_RAW_TARGET_PATH, DosName(letter_).c_str(), device)) {
    openError_ = GetLastError();
    letter_ = 0;
    return;
  }
  const std::string path = "\\\\.\\" + DosName(letter_);
  handle_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) openError_ = GetLastError();
}

VirtualDrive::~VirtualDrive() {
  if (handle_ != INVALID_HANDLE_VALUE) {
    Unmount();
    CloseHandle(handle_);
  }
  if (letter_) DefineDosDeviceA(DDD_REMOVE_DEFINITION, DosName(letter_).c_str(), nullptr);
}

DWORD VirtualDrive::Control(DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize,
                            DWORD* returned) {
  DWORD bytes = 0;
  const DWORD error = Result(DeviceIoControl(handle_, code, const_cast<void*>(input), inputSize, output,
                                             outputSize, &bytes, nullptr));
  if (returned) *returned = bytes;
  return error;
}

DWORD VirtualDrive::Mount(const std::vector<uint8_t>& record) {
  return Control(IOCTL_IMAGE_MOUNT, record.data(), DWORD(record.size()), nullptr, 0);
}

DWORD VirtualDrive::Unmount() { return Control(IOCTL_IMAGE_UNMOUNT, nullptr, 0, nullptr, 0); }

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
