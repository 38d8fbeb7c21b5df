// The main dialog's rules, the settings file, the mark toggle's checks and the list's load,
// apart from any window.
#include <gtest/gtest.h>

#include <string>

#include "drive_assignment.h"
#include "image_fixtures.h"
#include "image_folder_loader.h"
#include "restore_dialog_rules.h"
#include "settings_file.h"

namespace {

TEST(MainDialogRules, StartNeedsSomethingToDoAndEachOptionEnablesItsOwnControls) {
  struct Case {
    bool Format, Bootable, Run;
    ControlEnabling Expected;
  } cases[] = {
      {false, false, false, {false, false, false, false}},
      {true, false, false, {true, false, false, true}},
      {false, true, false, {true, true, false, false}},
      {false, false, true, {true, false, true, false}},
      {true, true, true, {true, true, true, true}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(EnablingFor(c.Format, c.Bootable, c.Run), c.Expected)
        << c.Format << c.Bootable << c.Run;
}

TEST(MainDialogRules, DestinationsAreExistingRootsFromCWithoutTheSystemDrive) {
  const auto exists = [](char letter) { return letter == 'A' || letter == 'C' || letter == 'E' || letter == 'Z'; };
  EXPECT_EQ(DestinationRoots('c', exists), (std::vector<std::string>{"E:\\", "Z:\\"}));
  EXPECT_EQ(DestinationRoots('D', exists), (std::vector<std::string>{"C:\\", "E:\\", "Z:\\"}));
  EXPECT_TRUE(DestinationRoots('C', [](char letter) { return letter == 'C'; }).empty());
}

TEST(SettingsFile, TheTemplateIsTheFirst1024BytesUpToTheFirstNul) {
  TempFolder folder;
  const std::string path = folder.File("Harvesta.ini");
  EXPECT_EQ(ReadCommandTemplate(path), "");  // no file: the default applies
  const std::string kept = "  robocopy <SRC> <DST> /LOG:<DST>x.txt  ";
  WriteWholeFile(path, std::vector<uint8_t>(kept.begin(), kept.end()));
  EXPECT_EQ(ReadCommandTemplate(path), kept);
  WriteWholeFile(path, std::vector<uint8_t>(1500, 'a'));
  EXPECT_EQ(ReadCommandTemplate(path), std::string(1024, 'a'));
  WriteWholeFile(path, {'\0', 'a', 'b'});
  EXPECT_EQ(ReadCommandTemplate(path), "");
  WriteWholeFile(path, {'a', 'b', '\0', 'c'});
  EXPECT_EQ(ReadCommandTemplate(path), "ab");
}

FreeLetters LettersFree(const std::string& letters) {
  FreeLetters free{};
  for (char letter : letters) free[static_cast<size_t>(letter - 'A')] = true;
  return free;
}

TEST(MarkToggle, TheDriveAssignmentChecksInTheirOrder) {
  struct Case {
    const char* Name;
    MarkToggleState State;
    std::string Free;
    bool PasswordGiven;
    bool Allowed;
    std::string Message;
    int PasswordsAsked;
  } cases[] = {
      {"unmark needs nothing", {true, true, 10, 0}, "", false, true, "", 0},
      {"mark", {false, false, 9, 10}, "E", false, true, "", 0},
      {"cancelled password", {false, true, 0, 10}, "E", false, false, "", 1},
      {"password then letters", {false, true, 0, 10}, "", true, false, kNoFreeLetterMessage, 1},
      {"only A to C free", {false, false, 0, 10}, "ABC", false, false, kNoFreeLetterMessage, 0},
      {"eleventh drive", {false, false, 10, 10}, "E", false, false, kTooManyDrivesMessage, 0},
      {"no free device", {false, false, 0, 0}, "E", false, false, kTooManyDrivesMessage, 0},
  };
  for (const Case& c : cases) {
    int asked = 0;
    const MarkToggleDecision decision = DecideMarkToggle(c.State, LettersFree(c.Free), [&] {
      ++asked;
      return c.PasswordGiven;
    });
    EXPECT_EQ(decision.Allowed, c.Allowed) << c.Name;
    EXPECT_EQ(decision.Message, c.Message) << c.Name;
    EXPECT_EQ(asked, c.PasswordsAsked) << c.Name;
  }
}

TEST(MarkToggle, TheDropDownOffersFreeLettersFromDOnInOrder) {
  EXPECT_EQ(FreeLetterEntries(LettersFree("ACDQZ")), (std::vector<std::string>{"D:", "Q:", "Z:"}));
  EXPECT_TRUE(FreeLetterEntries(LettersFree("AB")).empty());
}

TEST(ImageListLoad, AnImageNamedInCapitalsIsListed) {
  TempFolder folder;
  WriteWholeFile(folder.File("p.raw"), MakeVolumeBytes(40000, 7));
  WriterPartition partition;
  partition.SourcePath = folder.File("p.raw");
  partition.Label = "caps";
  ImageWriterOptions options;
  options.OutputPath = folder.File("BACKUP.QVIMG");
  options.Id = {9};
  options.BlockSize = 8192;
  options.Disks = {{0, 1, 0, {partition}}};
  WriteImage(options);
  const FolderListing listing = LoadOnLoaderThread(folder.File("BACKUP.QVIMG"));
  EXPECT_EQ(listing.Message, "");
  ASSERT_EQ(listing.Rows.size(), 1u);
  EXPECT_EQ(listing.Rows[0].Partition->Volume.Label, "caps");
}

}  // namespace
