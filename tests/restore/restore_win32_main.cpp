// The Win32 restore tests. The same program also stands in for the copy command the runner
// starts: "--record FILE CODE ..." writes its own command line to FILE and exits with CODE;
// "--hang" runs until it is ended.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

int RunAsCommand(int argc, char** argv) {
  if (strcmp(argv[1], "--hang") == 0) {
    Sleep(INFINITE);
    return 0;
  }
  if (argc < 4) return 2;
  const char* line = GetCommandLineA();
  const HANDLE file = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written;
  WriteFile(file, line, DWORD(strlen(line)), &written, nullptr);
  CloseHandle(file);
  return atoi(argv[3]);
}

// The runner's cancel sends a console break to its own console group too; a test program
// that has a console must outlive it.
BOOL WINAPI IgnoreBreak(DWORD event) { return event == CTRL_BREAK_EVENT; }

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (strcmp(argv[1], "--record") == 0 || strcmp(argv[1], "--hang") == 0))
    return RunAsCommand(argc, argv);
  SetConsoleCtrlHandler(IgnoreBreak, TRUE);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
