#include "fuse_readahead.h"

#include <fstream>
#include <sstream>

namespace {

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// mountinfo writes space, tab, newline and backslash in paths as \ooo.
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

bool SetFuseReadahead(const std::string& mountPoint, uint32_t kib) {
  // Found in the mount table, not by stat(): stat on the mount point would wait for this
  // daemon, which does not serve requests yet.
  std::ifstream table("/proc/self/mountinfo");
  std::string line, device;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string id, parent, numbers, root, at;
    if (fields >> id >> parent >> numbers >> root >> at && Unescape(at) == mountPoint) device = numbers;
  }
  if (device.empty()) return false;  // the last match is the mount on top
  std::ofstream setting("/sys/class/bdi/" + device + "/read_ahead_kb");
  setting << kib << '\n';
  setting.flush();
  return bool(setting);
}
