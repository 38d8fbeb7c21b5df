#include <windows.h>

#include "system_error_text.h"

std::string SystemErrorText(uint32_t errorCode) {
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      errorCode, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text;
  if (length && buffer) {
    // Shown inside a sentence or a one-line box: the system's line breaks go.
    for (DWORD i = 0; i < length; ++i)
      if (buffer[i] != '\r' && buffer[i] != '\n') text += buffer[i];
  }
  if (buffer) LocalFree(buffer);
  return text;
}
