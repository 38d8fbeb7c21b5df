// Which processes keep a mount busy, for the one line that tells the user what to close.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

struct MountHolder {
  pid_t Pid = 0;
  std::string Name;  // the kernel's name of the process: "bash", "sleep"
};

// Processes whose working folder, root or an open file lies at or under path (absolute,
// without symbolic links), from /proc; processes this one may not inspect are not seen.
std::vector<MountHolder> ProcessesUsing(const std::string& path);
// "bash (pid 1234), sleep (pid 99)": the first few, and how many more.
std::string HolderText(const std::vector<MountHolder>& holders);
