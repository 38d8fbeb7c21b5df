#include "mount_holders.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

constexpr size_t kHoldersNamed = 3;

bool Under(const std::string& link, const std::string& path) {
  std::error_code error;
  const fs::path target = fs::read_symlink(link, error);
  if (error) return false;
  const std::string text = target.string();
  // An open file that was deleted reads "PATH (deleted)": still the mount's.
  return text == path || text.starts_with(path == "/" ? path : path + "/") || text == path + " (deleted)";
}

bool Holds(const std::string& process, const std::string& path) {
  if (Under(process + "/cwd", path) || Under(process + "/root", path)) return true;
  std::error_code error;
  for (const fs::directory_entry& fd : fs::directory_iterator(process + "/fd", error))
    if (Under(fd.path().string(), path)) return true;
  return false;
}

std::string ProcessName(const std::string& process) {
  std::ifstream file(process + "/comm");
  std::string name;
  std::getline(file, name);
  return name.empty() ? "?" : name;
}

}  // namespace

std::vector<MountHolder> ProcessesUsing(const std::string& path) {
  std::vector<MountHolder> holders;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = pid_t(std::stol(name));
    if (pid == getpid()) continue;
    const std::string process = entry.path().string();
    if (Holds(process, path)) holders.push_back({pid, ProcessName(process)});
  }
  return holders;
}

std::string HolderText(const std::vector<MountHolder>& holders) {
  std::string text;
  for (size_t i = 0; i < holders.size() && i < kHoldersNamed; ++i)
    text += (i ? ", " : "") + holders[i].Name + " (pid " + std::to_string(holders[i].Pid) + ")";
  if (holders.size() > kHoldersNamed) text += " and " + std::to_string(holders.size() - kHoldersNamed) + " more";
  return text;
}
