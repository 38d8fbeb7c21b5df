#include "volume_md5.h"

#include <windows.h>
#include <winioctl.h>

#include <vector>

#include "md5.h"

namespace {

constexpr DWORD kChunk = 64 * 1024;

// "X:\" (or "X:") names the drive; its volume is "\\.\X:".
std::string VolumePath(std::string root) {
  if (!root.empty() && root.back() == '\\') root.pop_back();
  return "\\\\.\\" + root;
}

bool WriteText(const char* path, const std::string& text) {
  const HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr) && written == text.size();
  return CloseHandle(file) && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return kVolumeMd5Usage;
  const HANDLE volume = CreateFileA(VolumePath(argv[1]).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (volume == INVALID_HANDLE_VALUE) return kVolumeMd5NotOpened;
  GET_LENGTH_INFORMATION length{};
  DWORD returned = 0;
  if (!DeviceIoControl(volume, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned, nullptr))
    return kVolumeMd5NoLength;

  // Positions go in OVERLAPPED: Wine cannot move the file pointer of a device handle.
  Md5Stream md5;
  std::vector<uint8_t> buffer(kChunk);
  const uint64_t total = uint64_t(length.Length.QuadPart);
  for (uint64_t offset = 0; offset < total;) {
    const DWORD want = DWORD(total - offset < kChunk ? total - offset : kChunk);
    OVERLAPPED position{};
    position.Offset = DWORD(offset);
    position.OffsetHigh = DWORD(offset >> 32);
    DWORD read = 0;
    if (!ReadFile(volume, buffer.data(), want, &read, &position) || read != want) return kVolumeMd5ReadFailed;
    md5.Add(buffer.data(), read);
    offset += read;
  }
  CloseHandle(volume);
  return WriteText(argv[2], HexDigest(md5.Finish())) ? 0 : kVolumeMd5NotWritten;
}
