#include <gtest/gtest.h>

#include "command_template.h"

namespace {
TEST(CommandTemplate, PlaceholdersBecomeTheDriveRootsAndNothingElseChanges) {
  struct Case {
    const char* Template;
    char Letter;
    const char* Destination;
    const char* Line;
  } cases[] = {
      {"robocopy a b /E", 'X', "E:\\", "robocopy a b /E"},
      {"", 'X', "E:\\", ""},
      {"<SRC><SRC>", 'X', "E:\\", "X:\\X:\\"},
      {"<src> <Src> <dst>", 'X', "E:\\", "<src> <Src> <dst>"},
      {"<<SRC>> <SRC", 'Q', "E:\\", "<Q:\\> <SRC"},
      {"<DST>|<SRC>", 'X', "F:\\Restore\\", "F:\\Restore\\|X:\\"},
      // Inserted text is not scanned again, whichever placeholder it holds.
      {"<DST>", 'X', "<SRC><DST>", "<SRC><DST>"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SubstituteCommandTemplate(c.Template, c.Letter, c.Destination), c.Line) << c.Template;
}

TEST(CommandTemplate, DefaultForVirtualDriveXAndDestinationE) {
  EXPECT_EQ(SubstituteCommandTemplate(kDefaultCommandTemplate, 'X', "E:\\"),
            "robocopy X:\\ E:\\ /COPYALL /E /R:0 /W:0 /B /XJ /NP /LOG:E:\\Harvesta.txt /TEE "
            "/XD \"X:\\System Volume Information\" /XF pagefile.sys hiberfil.sys");
}
}  // namespace
