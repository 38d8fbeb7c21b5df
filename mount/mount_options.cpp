#include "mount_options.h"

#include <grp.h>
#include <pwd.h>

#include <charconv>
#include <sstream>

#include "mount_error.h"

namespace {

constexpr const char* kAccepted =
    "exec, allow_other, nonempty, ro, uid=USER, gid=GROUP, umask=OCTAL, fmask=OCTAL, dmask=OCTAL";

[[noreturn]] void Refuse(const std::string& why) {
  throw MountError(why + " (harvesta mount -o accepts " + kAccepted + ")");
}

std::optional<uint32_t> Number(const std::string& text, int base, uint32_t max) {
  uint32_t value = 0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || error != std::errc() || stop != end || value > max) return std::nullopt;
  return value;
}

uid_t UserId(const std::string& text) {
  if (std::optional<uint32_t> id = Number(text, 10, UINT32_MAX - 1)) return *id;
  if (const passwd* user = getpwnam(text.c_str())) return user->pw_uid;
  Refuse("uid=" + text + ": no such user");
}

gid_t GroupId(const std::string& text) {
  if (std::optional<uint32_t> id = Number(text, 10, UINT32_MAX - 1)) return *id;
  if (const group* found = getgrnam(text.c_str())) return found->gr_gid;
  Refuse("gid=" + text + ": no such group");
}

mode_t Mask(const std::string& name, const std::string& text) {
  if (std::optional<uint32_t> mask = Number(text, 8, 0777)) return *mask;
  Refuse(name + "=" + text + ": not an octal mask from 0 to 777");
}

void Apply(const std::string& option, MountOptionSet& set) {
  const size_t equals = option.find('=');
  const std::string name = option.substr(0, equals);
  if (equals == std::string::npos) {
    if (name == "exec") set.AllowExec = true;
    else if (name == "allow_other") set.AllowOther = true;
    else if (name == "nonempty") set.NonEmpty = true;
    else if (name != "ro") Refuse("unknown -o option " + option);
    return;
  }
  const std::string value = option.substr(equals + 1);
  FileOwnership& owner = set.Ownership;
  if (name == "uid") owner.Uid = UserId(value);
  else if (name == "gid") owner.Gid = GroupId(value);
  else if (name == "umask") owner.Umask = Mask(name, value);
  else if (name == "fmask") owner.FileMask = Mask(name, value);
  else if (name == "dmask") owner.DirMask = Mask(name, value);
  else Refuse("unknown -o option " + option);
}

std::string Octal(mode_t mask) {
  std::ostringstream text;
  text << '0' << std::oct << mask;
  return text.str();
}

}  // namespace

std::string FileOwnership::MountOptionText() const {
  std::string text;
  auto add = [&](const std::string& option) { text += (text.empty() ? "" : ",") + option; };
  if (Uid) add("uid=" + std::to_string(*Uid));
  if (Gid) add("gid=" + std::to_string(*Gid));
  if (Umask) add("umask=" + Octal(*Umask));
  if (FileMask) add("fmask=" + Octal(*FileMask));
  if (DirMask) add("dmask=" + Octal(*DirMask));
  return text;
}

MountOptionSet ParseMountOptions(const std::vector<std::string>& lists) {
  MountOptionSet set;
  for (const std::string& list : lists) {
    std::istringstream options(list);
    std::string option;
    while (std::getline(options, option, ','))
      if (!option.empty()) Apply(option, set);
  }
  return set;
}
