#include "mount_table.h"

#include <fstream>
#include <sstream>

namespace {

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// The table writes space, tab, newline and backslash in paths as \ooo; anything else after a
// backslash is taken as it stands.
std::string Unescape(const std::string& field) {
  std::string text;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && IsOctal(field[i + 1]) && IsOctal(field[i + 2]) &&
        IsOctal(field[i + 3])) {
      text += char((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
    } else {
      text += field[i];
    }
  }
  return text;
}

}  // namespace

std::optional<MountEntry> ParseMountLine(const std::string& line, std::string* mountPoint) {
  std::istringstream fields(line);
  std::string id, parent, device, root, point;
  if (!(fields >> id >> parent >> device >> root >> point)) return std::nullopt;
  const size_t separator = line.find(" - ");
  if (separator == std::string::npos) return std::nullopt;
  std::istringstream tail(line.substr(separator + 3));
  MountEntry entry;
  entry.Device = device;
  if (!(tail >> entry.Type)) return std::nullopt;
  tail >> entry.Source;  // may be missing on odd lines: then empty
  entry.Source = Unescape(entry.Source);
  *mountPoint = Unescape(point);
  return entry;
}

std::vector<MountedAt> MountTable() {
  std::ifstream table("/proc/self/mountinfo");
  std::vector<MountedAt> mounts;
  std::string line, point;
  while (std::getline(table, line))
    if (std::optional<MountEntry> entry = ParseMountLine(line, &point))
      mounts.push_back({point, std::move(*entry)});
  return mounts;
}

std::optional<MountEntry> MountAt(const std::string& path) {
  std::optional<MountEntry> top;
  for (MountedAt& mount : MountTable())
    if (mount.Point == path) top = std::move(mount.Entry);  // the last one listed is on top
  return top;
}
