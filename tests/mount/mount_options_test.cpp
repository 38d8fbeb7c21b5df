// The -o lists of harvesta mount: what each option sets, and the refusals that name the option.
#include "mount_options.h"

#include <gtest/gtest.h>

#include "mount_error.h"

namespace {

TEST(MountOptions, ListsAndRepeatsAddUp) {
  const MountOptionSet set = ParseMountOptions({"uid=1000,gid=root,umask=022", "fmask=0133,,exec", "ro,nonempty"});
  EXPECT_EQ(set.Ownership.Uid, 1000u);
  EXPECT_EQ(set.Ownership.Gid, 0u);
  EXPECT_TRUE(set.AllowExec);
  EXPECT_TRUE(set.NonEmpty);
  EXPECT_FALSE(set.AllowOther);
  EXPECT_EQ(set.Ownership.FileMode(0777), 0644u) << "fmask wins over umask for files";
  EXPECT_EQ(set.Ownership.DirMode(0777), 0755u) << "umask for folders without dmask";
  EXPECT_EQ(set.Ownership.MountOptionText(), "uid=1000,gid=0,umask=022,fmask=0133");
  EXPECT_FALSE(ParseMountOptions({}).Ownership.Any());
}

TEST(MountOptions, RefusalsNameTheOptionAndTheAcceptedOnes) {
  const struct {
    const char* Given;
    const char* Named;
  } cases[] = {
      {"suid", "unknown -o option suid"},
      {"rw", "unknown -o option rw"},
      {"exec,dev", "unknown -o option dev"},
      {"uid=no-such-user-here", "uid=no-such-user-here: no such user"},
      {"uid=-1", "uid=-1: no such user"},
      {"gid=4294967295", "gid=4294967295: no such group"},
      {"umask=0800", "umask=0800: not an octal mask"},
      {"dmask=", "dmask=: not an octal mask"},
      {"fmask=1000", "fmask=1000: not an octal mask"},
  };
  for (const auto& c : cases) {
    try {
      ParseMountOptions({c.Given});
      ADD_FAILURE() << c.Given << " accepted";
    } catch (const MountError& e) {
      const std::string text = e.what();
      EXPECT_NE(text.find(c.Named), std::string::npos) << text;
      EXPECT_NE(text.find("accepts exec, allow_other"), std::string::npos) << text;
    }
  }
}

}  // namespace
