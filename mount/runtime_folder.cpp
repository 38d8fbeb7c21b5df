#include "runtime_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "mount_error.h"

namespace {

constexpr const char* kBase = "/run/harvesta";

// Made if missing, then taken only as a real folder (not a link) of root's, closed to others.
void PrivateFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    throw MountError("cannot create " + path + ": " + std::strerror(errno));
  struct stat status{};
  if (lstat(path.c_str(), &status) != 0)
    throw MountError("cannot use " + path + ": " + std::strerror(errno));
  if (!S_ISDIR(status.st_mode) || status.st_uid != 0 || (status.st_mode & 077) != 0)
    throw MountError(path + " is not a folder of root's closed to other users: remove it");
}

// The kernel's name and start time of a process (fields 2 and 22 of /proc/PID/stat).
bool ProcessIdentity(pid_t pid, std::string* name, uint64_t* startTime) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(file, line)) return false;
  size_t open = line.find('('), close = line.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  *name = line.substr(open + 1, close - open - 1);
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  for (int i = 3; i < 22 && fields >> field;) ++i;
  return bool(fields >> *startTime);
}

// One value a line: a path may hold a newline or a backslash.
std::string Escaped(const std::string& text) {
  std::string escaped;
  for (char c : text) escaped += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : std::string(1, c);
  return escaped;
}

std::string Unescaped(const std::string& text) {
  std::string plain;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      plain += text[i + 1] == 'n' ? '\n' : text[i + 1];
      ++i;
    } else {
      plain += text[i];
    }
  }
  return plain;
}

}  // namespace

std::string RuntimeFolder(const std::string& mountPoint) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a: stable across runs and builds
  for (unsigned char c : mountPoint) hash = (hash ^ c) * 1099511628211ull;
  PrivateFolder(kBase);
  char name[32];
  std::snprintf(name, sizeof(name), "%016llx", static_cast<unsigned long long>(hash));
  return std::string(kBase) + "/" + name;
}

std::vector<std::string> RuntimeFolders() {
  std::vector<std::string> folders;
  std::error_code error;
  for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(kBase, error))
    if (entry.is_directory(error) && !entry.is_symlink(error)) folders.push_back(entry.path().string());
  return folders;
}

void RemoveRuntime(const std::string& runtime) {
  std::error_code ignored;
  std::filesystem::remove(runtime + "/pid", ignored);
  std::filesystem::remove(runtime + "/mount", ignored);
  std::filesystem::remove(runtime + "/disk", ignored);  // empty mount point folder
  std::filesystem::remove(runtime, ignored);
}

RuntimeLock::RuntimeLock(const std::string& runtime, const std::string& mountPoint) {
  for (;;) {
    PrivateFolder(runtime);
    fd_ = open(runtime.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) throw MountError("cannot open " + runtime + ": " + std::strerror(errno));
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      close(fd_);
      fd_ = -1;
      if (errno == EINTR) continue;
      throw MountError(mountPoint + " is in use by another harvesta mount: harvesta unmount it first");
    }
    // The previous owner may have removed the folder between our open and our lock: a lock on
    // a removed folder guards nothing.
    struct stat held{}, named{};
    if (fstat(fd_, &held) == 0 && lstat(runtime.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino)
      return;
    close(fd_);
    fd_ = -1;
  }
}

RuntimeLock::~RuntimeLock() {
  if (fd_ >= 0) close(fd_);
}

void WriteDaemonPid(const std::string& runtime) {
  std::string name;
  uint64_t startTime = 0;
  if (!ProcessIdentity(getpid(), &name, &startTime))
    throw MountError("cannot read this process's identity from /proc");
  std::ofstream(runtime + "/pid") << getpid() << ' ' << startTime << '\n';
}

std::optional<pid_t> LiveDaemon(const std::string& runtime) {
  std::ifstream file(runtime + "/pid");
  long pid = 0;
  uint64_t recordedStart = 0;
  if (!(file >> pid >> recordedStart) || pid <= 0) return std::nullopt;
  std::string name;
  uint64_t startTime = 0;
  if (!ProcessIdentity(pid_t(pid), &name, &startTime) || startTime != recordedStart || name != "harvesta")
    return std::nullopt;
  return pid_t(pid);
}

void WriteMountInfo(const std::string& runtime, const MountInfo& info) {
  std::ofstream(runtime + "/mount") << Escaped(info.MountPoint) << '\n'
                                    << Escaped(info.Image) << '\n'
                                    << info.Partition << '\n'
                                    << Escaped(info.Contents) << '\n';
}

std::optional<MountInfo> ReadMountInfo(const std::string& runtime) {
  std::ifstream file(runtime + "/mount");
  std::string point, image, partition, contents;
  if (!std::getline(file, point) || !std::getline(file, image) || !std::getline(file, partition) ||
      !std::getline(file, contents))
    return std::nullopt;
  MountInfo info{Unescaped(point), Unescaped(image), 0, Unescaped(contents)};
  try {
    info.Partition = std::stoi(partition);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  return info;
}
