// The stand-in for the system's format library: FormatEx records its arguments and replays a
// script of callback commands; it has no EnableVolumeCompression.
#pragma once
#include <windows.h>

struct FakeFormatStep {
  DWORD Command;
  BOOLEAN Success;       // the argument of a done report (11)
  const char* Text;      // the argument of a text report (14)
};
struct FakeFormatCall {
  wchar_t DriveRoot[8];
  DWORD MediaType;
  wchar_t FileSystem[8];
  wchar_t Label[40];
  BOOL QuickFormat;
  DWORD ClusterSize;
  int Calls;
  int CallbackFalse;  // how often the callback asked to stop
};

// Looked up with GetProcAddress by these names.
using FakeFormatScriptFunction = void (*)(const FakeFormatStep* steps, int count);
using FakeFormatLastCallFunction = const FakeFormatCall* (*)();
