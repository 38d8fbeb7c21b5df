#include "fake_fmifs.h"

#include <cwchar>

namespace {

FakeFormatStep script[16];
int scriptLength = 0;
FakeFormatCall lastCall;

struct TextOutput {
  DWORD Lines;
  const char* Text;
};

void CopyText(wchar_t* to, size_t room, const wchar_t* from) {
  wcsncpy(to, from ? from : L"", room - 1);
  to[room - 1] = L'\0';
}

}  // namespace

extern "C" __declspec(dllexport) void FakeFormatScript(const FakeFormatStep* steps, int count) {
  scriptLength = count < 16 ? count : 16;
  for (int k = 0; k < scriptLength; ++k) script[k] = steps[k];
}

extern "C" __declspec(dllexport) const FakeFormatCall* FakeFormatLastCall() { return &lastCall; }

using Callback = BOOLEAN(WINAPI*)(DWORD command, DWORD subAction, void* argument);

extern "C" __declspec(dllexport) void WINAPI FormatEx(const wchar_t* driveRoot, DWORD mediaType,
                                                      const wchar_t* fileSystem, const wchar_t* label,
                                                      BOOL quickFormat, DWORD clusterSize, Callback callback) {
  CopyText(lastCall.DriveRoot, 8, driveRoot);
  CopyText(lastCall.FileSystem, 8, fileSystem);
  CopyText(lastCall.Label, 40, label);
  lastCall.MediaType = mediaType;
  lastCall.QuickFormat = quickFormat;
  lastCall.ClusterSize = clusterSize;
  ++lastCall.Calls;
  for (int k = 0; k < scriptLength; ++k) {
    DWORD percent = 50;
    BOOLEAN success = script[k].Success;
    TextOutput text{1, script[k].Text};
    void* argument = script[k].Command == 11 ? static_cast<void*>(&success)
                     : script[k].Command == 14 ? static_cast<void*>(&text)
                                               : static_cast<void*>(&percent);
    if (!callback(script[k].Command, 0, argument)) ++lastCall.CallbackFalse;
  }
}
