// The copy: the command line made from the template, run as its own console process while the
// wait window keeps the interface alive and offers Cancel.
#pragma once
#include <cstdint>
#include <string>

#include "restore_ui.h"

struct RobocopyChoices {
  std::string CommandTemplate;  // with its "<SRC>" and "<DST>" placeholders
  bool HideOutput = false;
  std::string Destination;  // as the destination list shows it, such as "E:\"
  char VirtualLetter = 0;
  std::string SettingsFolder;  // where "Harvesta.ini" keeps the template; "" for the current folder
};

struct RobocopyRun {
  // -1 when the process could not be created, 0 when the user cancelled, else its exit code.
  int32_t Result = 0;
  bool Ran = false;        // the process was created
  bool Cancelled = false;  // the user cancelled and the process was ended
  uint32_t ExitCode = 0;   // as the process ended (9 when ended on Cancel)
};

inline constexpr char kSettingsFileName[] = "Harvesta.ini";
// The exit code a cancelled copy is ended with.
inline constexpr uint32_t kCancelledExitCode = 9;

RobocopyRun RunRobocopy(RestoreUserInterface& ui, const RobocopyChoices& choices);
