#include "ntfs_test_volume.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

bool MountsPossible() { return geteuid() == 0 && access("/dev/fuse", R_OK | W_OK) == 0; }

namespace {

pid_t StartProgram(const std::vector<std::string>& arguments) {
  const pid_t child = fork();
  if (child != 0) return child;
  const int quiet = open("/dev/null", O_WRONLY);
  dup2(quiet, 1);
  dup2(quiet, 2);
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

int WaitFor(pid_t child) {
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool IsMountPoint(const std::string& path) {
  struct stat self {}, parent {};
  return stat(path.c_str(), &self) == 0 && stat((path + "/..").c_str(), &parent) == 0 && self.st_dev != parent.st_dev;
}

}  // namespace

int RunProgram(const std::vector<std::string>& arguments) { return WaitFor(StartProgram(arguments)); }

void MakeNtfsVolume(const std::string& image, int sizeMiB) {
  if (truncate(image.c_str(), 0) != 0) std::ofstream{image};
  if (truncate(image.c_str(), off_t(sizeMiB) << 20) != 0 ||
      RunProgram({"mkntfs", "-F", "-Q", "-q", "-c", "4096", "-L", "TREECOPY", image}) != 0)
    throw std::runtime_error("mkntfs " + image);
}

NtfsMount::NtfsMount(std::string image, std::string mountPoint, const std::string& options)
    : mountPoint_(std::move(mountPoint)) {
  // In the foreground, so that the unmount can wait until the volume is written and closed:
  // a mount right after an unclean close falls back to read-only.
  daemon_ = StartProgram({"ntfs-3g", "-o", options + ",no_detach", image, mountPoint_});
  for (int attempt = 0; daemon_ > 0 && attempt < 200; ++attempt) {
    if (IsMountPoint(mountPoint_)) {
      mounted_ = true;
      return;
    }
    if (waitpid(daemon_, nullptr, WNOHANG) == daemon_) break;
    usleep(50000);
  }
  daemon_ = -1;
}

NtfsMount::~NtfsMount() { Unmount(); }

void NtfsMount::Unmount() {
  for (int attempt = 0; mounted_ && attempt < 50; ++attempt) {
    if (RunProgram({"umount", mountPoint_}) == 0) mounted_ = false;
    else usleep(100000);
  }
  // Never left mounted: detached at last, when it stayed busy.
  if (mounted_ && RunProgram({"umount", "-l", mountPoint_}) == 0) mounted_ = false;
  if (!mounted_ && daemon_ > 0) WaitFor(daemon_);
  daemon_ = -1;
}

namespace {

void Put16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(uint8_t(value));
  out.push_back(uint8_t(value >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t value) {
  Put16(out, uint16_t(value));
  Put16(out, uint16_t(value >> 16));
}

std::vector<uint8_t> Utf16(const std::string& ascii) {
  std::vector<uint8_t> out;
  for (const char c : ascii) Put16(out, uint8_t(c));
  return out;
}

std::vector<uint8_t> Reparse(uint32_t tag, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> out;
  Put32(out, tag);
  Put16(out, uint16_t(body.size()));
  Put16(out, 0);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// "S-1-<authority>-<sub>-<sub>..."
std::vector<uint8_t> Sid(uint8_t authority, const std::vector<uint32_t>& subAuthorities) {
  std::vector<uint8_t> out{1, uint8_t(subAuthorities.size()), 0, 0, 0, 0, 0, authority};
  for (const uint32_t sub : subAuthorities) Put32(out, sub);
  return out;
}

std::vector<uint8_t> Acl(const std::vector<std::vector<uint8_t>>& entries) {
  std::vector<uint8_t> body;
  for (const std::vector<uint8_t>& entry : entries) body.insert(body.end(), entry.begin(), entry.end());
  std::vector<uint8_t> out{2, 0};
  Put16(out, uint16_t(8 + body.size()));
  Put16(out, uint16_t(entries.size()));
  Put16(out, 0);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

std::vector<uint8_t> Ace(uint8_t type, uint8_t flags, uint32_t mask, const std::vector<uint8_t>& sid) {
  std::vector<uint8_t> out{type, flags};
  Put16(out, uint16_t(8 + sid.size()));
  Put32(out, mask);
  out.insert(out.end(), sid.begin(), sid.end());
  return out;
}

}  // namespace

std::vector<uint8_t> JunctionData(const std::string& target) {
  const std::vector<uint8_t> substitute = Utf16("\\??\\" + target), print = Utf16(target);
  std::vector<uint8_t> body;
  Put16(body, 0);
  Put16(body, uint16_t(substitute.size()));
  Put16(body, uint16_t(substitute.size() + 2));
  Put16(body, uint16_t(print.size()));
  body.insert(body.end(), substitute.begin(), substitute.end());
  Put16(body, 0);
  body.insert(body.end(), print.begin(), print.end());
  Put16(body, 0);
  return Reparse(0xA0000003, body);
}

std::vector<uint8_t> SymbolicLinkData(const std::string& target, bool relative) {
  const std::vector<uint8_t> substitute = Utf16(relative ? target : "\\??\\" + target), print = Utf16(target);
  std::vector<uint8_t> body;
  Put16(body, 0);
  Put16(body, uint16_t(substitute.size()));
  Put16(body, uint16_t(substitute.size()));
  Put16(body, uint16_t(print.size()));
  Put32(body, relative ? 1 : 0);
  body.insert(body.end(), substitute.begin(), substitute.end());
  body.insert(body.end(), print.begin(), print.end());
  return Reparse(0xA000000C, body);
}

std::vector<uint8_t> SecurityDescriptor(bool protectedDacl) {
  const std::vector<uint8_t> administrators = Sid(5, {32, 544}), system = Sid(5, {18}), everyone = Sid(1, {0});
  const std::vector<uint8_t> user = Sid(5, {21, 1111111111, 2222222222, 3333333333, 1001});
  const std::vector<uint8_t> dacl = Acl({Ace(0, 0x03, 0x001F01FF, system), Ace(0, 0x03, 0x001F01FF, administrators),
                                         Ace(0, 0x03, 0x001301BF, user), Ace(1, 0x00, 0x00010000, everyone)});
  const std::vector<uint8_t> sacl = Acl({Ace(2, 0xC0, 0x00010000, everyone)});  // audit DELETE
  // SELF_RELATIVE | DACL_PRESENT | SACL_PRESENT; the parts in the order ntfs-3g writes them.
  const uint16_t control = 0x8000 | 0x0004 | 0x0010 | (protectedDacl ? 0x1000 : 0);
  const uint32_t sacl_at = 20, dacl_at = sacl_at + uint32_t(sacl.size()), owner_at = dacl_at + uint32_t(dacl.size()),
                 group_at = owner_at + uint32_t(administrators.size());
  std::vector<uint8_t> out{1, 0};
  Put16(out, control);
  for (const uint32_t offset : {owner_at, group_at, sacl_at, dacl_at}) Put32(out, offset);
  for (const std::vector<uint8_t>* part : {&sacl, &dacl, &administrators, &system})
    out.insert(out.end(), part->begin(), part->end());
  return out;
}

void DamageFileRecord(const std::string& image, uint64_t inode) {
  std::fstream volume(image, std::ios::in | std::ios::out | std::ios::binary);
  uint8_t boot[512] = {};
  volume.read(reinterpret_cast<char*>(boot), sizeof boot);
  const uint64_t cluster = uint64_t(boot[0x0B] | boot[0x0C] << 8) * boot[0x0D];
  uint64_t mftCluster = 0;
  for (int at = 7; at >= 0; --at) mftCluster = mftCluster << 8 | boot[0x30 + at];
  const int8_t perRecord = int8_t(boot[0x40]);
  const uint64_t recordSize = perRecord < 0 ? uint64_t(1) << -perRecord : uint64_t(perRecord) * cluster;
  // The last two bytes of the record's first sector must repeat its update sequence number.
  const uint64_t sectorEnd = mftCluster * cluster + inode * recordSize + 510;
  volume.seekp(std::streamoff(sectorEnd));
  volume.write("\xde\xad", 2);
  if (!volume) throw std::runtime_error("damaging " + image);
}
