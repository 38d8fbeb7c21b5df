// RunRestore over the Win32 steps with the real driver: images written by the writer are
// mounted through vaultdisk.sys, and the copy command is volume_md5 (HARVESTA_VOLUME_MD5), which
// reads the virtual drive's raw volume and writes its MD5 into the destination folder.
#include <windows.h>

#include <gtest/gtest.h>

#include "completion_report.h"
#include "md5.h"
#include "drive_letter.h"
#include "mounted_drive_win32.h"
#include "partition_list.h"
#include "recording_ui.h"
#include "restore_steps_win32.h"
#include "run_restore.h"
#include "shown_messages.h"
#include "test_images.h"
#include "virtual_drive.h"
#include "volume_md5.h"
#include "wine_files.h"

namespace {

constexpr char kDigestFile[] = "volume.md5";

std::string HasherPath() { return PathFromEnvironment("HARVESTA_VOLUME_MD5"); }

// The real copy command runner, keeping what the command ended with: the workflow does not
// look at it.
class WatchedCopy : public CopyCommandRunner {
 public:
  explicit WatchedCopy(CopyCommandRunner& runner) : runner_(runner) {}
  CopyCommandResult RunCopy(const CopyCommand& command, RestoreUserInterface& ui) override {
    Last = runner_.RunCopy(command, ui);
    return Last;
  }
  CopyCommandResult Last{kCopyNotStarted, false, false};

 private:
  CopyCommandRunner& runner_;
};

// One restore of the image's only partition into a fresh destination folder: run box on,
// format and bootable off.
class Restore {
 public:
  explicit Restore(const TestImage& image)
      : listing_(LoadImageFolder(image.Files.back(), ScanRule::QvimgExact)),
        destination_("restore-e2e"),
        machine_(Ui, destination_.Path()),
        copy_(machine_.Steps().Copy) {
    Choices.Destination = destination_.Path();
    Choices.RunCopy = true;
    Choices.HideOutput = true;
    Choices.CommandTemplate = "\"" + HasherPath() + "\" <SRC> <DST>" + kDigestFile;
    Ui.Password = kTestImagePassword;
  }

  // RunRestore's result.
  int Run() {
    if (listing_.Rows.empty()) {
      ADD_FAILURE() << "the image does not list: " << listing_.Message;
      return -1;
    }
    Letter = ChooseDriveLetter(DriveLetterMapped);
    RestoreSteps win32 = machine_.Steps();
    RestoreSteps steps{win32.Ui, win32.Drives, win32.Volumes, copy_, win32.Junctions, win32.Boot};
    const PartitionRow& row = listing_.Rows.front();
    return RunRestore({row.Image->FilePath, listing_.Sets, row.Partition}, Choices, Status, steps);
  }

  const CopyCommandResult& Copy() const { return copy_.Last; }
  std::string WrittenDigest() const {
    const std::vector<uint8_t> bytes = ReadBytes(destination_.Path() + kDigestFile);
    return std::string(bytes.begin(), bytes.end());
  }

  RecordingUi Ui;
  RestoreChoices Choices;
  RestoreStatus Status;
  char Letter = 0;  // the one the run is expected to take

 private:
  FolderListing listing_;
  TestFolder destination_;
  Win32RestoreSteps machine_;
  WatchedCopy copy_;
};

// The virtual drive is gone and the driver's device idle again.
void ExpectUnmounted(char letter) {
  EXPECT_FALSE(DriveLetterMapped(letter)) << letter << ": still maps " << DriveTarget(letter);
  EXPECT_EQ(QueryDevice(0), DWORD(ERROR_NOT_READY));
}

TEST(RunRestoreWine, CopiesTheMountedPartitionOfEveryImageShape) {
  ASSERT_NE(HasherPath(), "");
  const ImageShape shapes[] = {
      {"e2e-stored", 6, 0, BlockMethod::Method1, 0, 0, 0, 65536},
      {"e2e-compressed", 2, 2, BlockMethod::ByteTokens, 0, 0, 0, 32768},
      {"e2e-aes256", 6, 1, BlockMethod::Alternate, 3, 0, 0, 16384},
      {"e2e-three-files", 6, 0, BlockMethod::Method1, 0, 3 * 16384, 0, 16384},
  };
  for (const ImageShape& shape : shapes) {
    SCOPED_TRACE(shape.Name);
    const TestImage image = MakeTestImage(shape);
    ASSERT_EQ(image.Error, "");
    EXPECT_EQ(image.Files.size(), shape.SplitSize ? 3u : 1u);

    Restore restore(image);
    const int result = restore.Run();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(restore.Status, (RestoreStatus{restore.Letter, true, true, false}));
    EXPECT_EQ(restore.Copy().Result, 0);
    EXPECT_EQ(restore.WrittenDigest(), HexDigest(Md5(image.Volume.data(), image.Volume.size())));
    EXPECT_EQ(restore.Ui.PasswordsAsked, shape.CipherType ? 1 : 0);
    EXPECT_EQ(restore.Ui.Messages, std::vector<std::string>{});
    EXPECT_EQ(TakeShownMessages(), std::vector<std::string>{});
    EXPECT_EQ(CompletionReport(result, restore.Status, restore.Choices), "Finished");
    ExpectUnmounted(restore.Letter);
    RemoveTestImage(image);
  }
}

// The copy command's read of the damaged block fails, so no digest is written; the run itself
// goes on to its end, since a command's exit code is its own business.
TEST(RunRestoreWine, ADamagedBlockFailsTheCommandsRead) {
  const TestImage image = MakeTestImage({"e2e-damaged", 6, 2, BlockMethod::ByteTokens, 0, 0, 0, 65536});
  ASSERT_EQ(image.Error, "");
  ASSERT_TRUE(BreakStoredBlock(image, 3));

  Restore restore(image);
  EXPECT_EQ(restore.Run(), 1);
  EXPECT_EQ(restore.Status, (RestoreStatus{restore.Letter, true, true, false}));
  EXPECT_TRUE(restore.Copy().Ran);
  EXPECT_EQ(restore.Copy().Result, kVolumeMd5ReadFailed);
  EXPECT_EQ(restore.WrittenDigest(), "");
  ExpectUnmounted(restore.Letter);
  RemoveTestImage(image);
}

// A member file gone after the listing: the driver refuses the mount and the mount shows why,
// so the run tells nothing more, and nothing is left mapped.
TEST(RunRestoreWine, AMountTheDriverRefusesIsToldOnceAndEndsTheRun) {
  const TestImage image = MakeTestImage({"e2e-refused", 6, 0, BlockMethod::Method1, 0, 3 * 16384, 0, 16384});
  ASSERT_EQ(image.Error, "");
  Restore restore(image);
  ASSERT_TRUE(DeleteFileA(image.Files.front().c_str()));

  EXPECT_EQ(restore.Run(), 0);
  EXPECT_EQ(restore.Status, (RestoreStatus{0, false, false, false}));
  EXPECT_FALSE(restore.Copy().Ran);
  EXPECT_EQ(restore.Ui.Messages, std::vector<std::string>{});
  EXPECT_EQ(TakeShownMessages().size(), 1u);
  ExpectUnmounted(restore.Letter);
  RemoveTestImage(image);
}

// A letter that already opens is refused before anything is shown or changed, so the failure
// says that nobody has told the user yet.
TEST(RunRestoreWine, ABusyLetterIsAFailureNobodyHasToldYet) {
  const TestImage image = MakeTestImage({"e2e-busy", 6, 0, BlockMethod::Method1, 0, 0, 0, 65536});
  ASSERT_EQ(image.Error, "");
  const FolderListing listing = LoadImageFolder(image.Files.back(), ScanRule::QvimgExact);
  ASSERT_FALSE(listing.Rows.empty());
  const PartitionRow& row = listing.Rows.front();
  const MountValues values = MakeMountValues(listing.Sets.front(), *row.Image, *row.Partition);

  VirtualDrive idle(1);
  ASSERT_EQ(idle.OpenIdle(), DWORD(ERROR_SUCCESS));
  const std::string target = DriveTarget(idle.Letter());
  Win32MountedDrives drives;
  MountFailure failure;
  EXPECT_EQ(drives.Mount(values, 0, idle.Letter(), failure), -1);
  EXPECT_FALSE(failure.UserTold);
  EXPECT_NE(failure.Text, "");
  EXPECT_EQ(TakeShownMessages(), std::vector<std::string>{});
  EXPECT_EQ(DriveTarget(idle.Letter()), target);
  EXPECT_EQ(QueryDevice(0), DWORD(ERROR_NOT_READY));
  RemoveTestImage(image);
}

}  // namespace
