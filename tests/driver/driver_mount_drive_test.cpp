// The program's mount calls against the real driver: letters taken or left, what the user is
// shown when a mount fails, and which device numbers count as used.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "driver_service.h"
#include "drive_letter.h"
#include "mounted_drive_win32.h"
#include "mount_record.h"
#include "shown_messages.h"
#include "system_error_text.h"
#include "test_images.h"
#include "virtual_drive.h"

namespace {

constexpr ImageShape kShape = {"mount-drive", 6, 1, BlockMethod::Method1, 0, 0, 0, 65536};

using Record = std::vector<uint8_t>;

// The device number plays no part in an unmount: the letter leads to the device.
int Unmount(char letter) { return Win32MountedDrive(0, letter).Unmount(); }

// A letter mapped straight to a target for the length of a test, as another program might.
class MappedLetter {
 public:
  MappedLetter(char letter, const std::string& target) : letter_(letter) {
    mapped_ = DefineDosDeviceA(DDD_RAW_TARGET_PATH, Name().c_str(), target.c_str());
  }
  ~MappedLetter() {
    if (mapped_) DefineDosDeviceA(DDD_REMOVE_DEFINITION, Name().c_str(), nullptr);
  }
  MappedLetter(const MappedLetter&) = delete;
  MappedLetter& operator=(const MappedLetter&) = delete;
  bool Mapped() const { return mapped_; }

 private:
  std::string Name() const { return {letter_, ':'}; }
  char letter_;
  bool mapped_;
};

class MountDriveTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { image_ = new TestImage(MakeTestImage(kShape)); }
  static void TearDownTestSuite() {
    RemoveTestImage(*image_);
    delete image_;
  }
  void SetUp() override {
    ASSERT_EQ(image_->Error, "");
    TakeShownMessages();
  }

  // The failure of the last Mount: what the caller would tell the user, if anything.
  int Mount(unsigned deviceNumber, const Record& record, char letter) {
    failure_ = {};
    return Win32MountedDrive(deviceNumber, letter).Mount(record, failure_);
  }

  MountFailure failure_;

  static TestImage* image_;
};

TestImage* MountDriveTest::image_;

TEST_F(MountDriveTest, LetterThatOpensIsBusyAndKeepsItsMapping) {
  VirtualDrive holder(1);
  ASSERT_EQ(holder.OpenIdle(), DWORD(ERROR_SUCCESS));
  EXPECT_EQ(Mount(0, image_->Record, holder.Letter()), -1);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_BUSY));
  EXPECT_EQ(DriveTarget(holder.Letter()), DeviceName(1));
  EXPECT_EQ(QueryDevice(0), DWORD(ERROR_NOT_READY));
  EXPECT_TRUE(TakeShownMessages().empty());
  EXPECT_FALSE(failure_.UserTold) << "nothing was shown: the caller must tell the user";
  EXPECT_EQ(failure_.Text, SystemErrorText(ERROR_BUSY));
}

TEST_F(MountDriveTest, OnlyDriveLettersAreMapped) {
  for (char letter : {'\\', '?', 'd', '\0'}) {
    SCOPED_TRACE(int(letter));
    EXPECT_EQ(Mount(0, image_->Record, letter), -1);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_DRIVE));
    EXPECT_FALSE(failure_.UserTold);
    EXPECT_EQ(Unmount(letter), -1);
  }
  EXPECT_EQ(QueryDevice(0), DWORD(ERROR_NOT_READY));
  EXPECT_TRUE(TakeShownMessages().empty());
}

struct RefusalCase {
  const char* Name;
  unsigned DeviceNumber;
  bool RecordWithoutFiles;
  bool DeviceAlreadyMounted;
  DWORD Error;  // 0: whatever the system says of a name that leads nowhere
};

// Past the mapping every failure is shown in the system's words and the letter goes again.
const RefusalCase kRefusalCases[] = {
    {"device that does not exist", kTestDeviceCount, false, false, 0},
    {"record of 89 bytes", 0, true, false, ERROR_INVALID_PARAMETER},
    {"device already mounted", 0, false, true, ERROR_INVALID_FUNCTION},
};

TEST_F(MountDriveTest, FailuresPastTheMappingAreShownAndUnmapped) {
  for (const RefusalCase& c : kRefusalCases) {
    SCOPED_TRACE(c.Name);
    VirtualDrive other(c.DeviceNumber);
    if (c.DeviceAlreadyMounted) {
      ASSERT_EQ(other.Mount(image_->Record), DWORD(ERROR_SUCCESS));
    }
    Record record = image_->Record;
    if (c.RecordWithoutFiles) record.resize(kMountRecordHeaderSize);
    const char letter = ChooseDriveLetter(DriveLetterMapped);
    TakeShownMessages();

    EXPECT_EQ(Mount(c.DeviceNumber, record, letter), -1);
    const DWORD error = GetLastError();
    if (c.Error) {
      EXPECT_EQ(error, c.Error);
    } else {
      EXPECT_NE(error, DWORD(ERROR_SUCCESS));
    }
    const std::vector<std::string> shown = TakeShownMessages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0], "");
    EXPECT_EQ(shown[0], SystemErrorText(error));
    EXPECT_TRUE(failure_.UserTold) << "shown once: the caller must not tell the user again";
    EXPECT_EQ(failure_.Text, shown[0]);
    EXPECT_FALSE(DriveLetterMapped(letter));
  }
}

TEST_F(MountDriveTest, UnmountRemovesTheLetterAndFreesTheDevice) {
  VirtualDrive drive(1);
  ASSERT_EQ(drive.Mount(image_->Record), DWORD(ERROR_SUCCESS));
  const char letter = drive.Letter();
  EXPECT_EQ(DriveTarget(letter), DeviceName(1));
  EXPECT_EQ(Unmount(letter), 0);
  EXPECT_FALSE(DriveLetterMapped(letter));
  EXPECT_EQ(QueryDevice(1), DWORD(ERROR_NOT_READY));
  EXPECT_TRUE(TakeShownMessages().empty());
}

TEST(UnmountDrive, DriveThatDoesNotOpenFailsAndKeepsItsLetter) {
  const char letter = ChooseDriveLetter(DriveLetterMapped);
  EXPECT_EQ(Unmount(letter), -1) << "a letter with no mapping";
  {
    MappedLetter nowhere(letter, DeviceName(kTestDeviceCount));
    ASSERT_TRUE(nowhere.Mapped());
    EXPECT_EQ(Unmount(letter), -1);
    EXPECT_EQ(DriveTarget(letter), DeviceName(kTestDeviceCount));
  }
  EXPECT_FALSE(DriveLetterMapped(letter));
}

TEST_F(MountDriveTest, OnlyMountedDevicesAreUsed) {
  const std::vector<unsigned> all = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(ListUsedDeviceNumbers(), std::vector<unsigned>{});
  EXPECT_EQ(ListFreeDeviceNumbers(), all);

  VirtualDrive idle(2);  // behind a letter but not mounted: no answer to the query
  ASSERT_EQ(idle.OpenIdle(), DWORD(ERROR_SUCCESS));
  VirtualDrive drive(1);
  ASSERT_EQ(drive.Mount(image_->Record), DWORD(ERROR_SUCCESS));
  EXPECT_EQ(ListUsedDeviceNumbers(), std::vector<unsigned>{1});
  EXPECT_EQ(ListFreeDeviceNumbers(), (std::vector<unsigned>{0, 2, 3, 4, 5, 6, 7, 8, 9}));

  ASSERT_EQ(drive.Unmount(), DWORD(ERROR_SUCCESS));
  EXPECT_EQ(ListFreeDeviceNumbers(), all);
}

TEST(DriveLetters, FirstUnmappedFromDElseX) {
  const char first = ChooseDriveLetter(DriveLetterMapped);
  ASSERT_GE(first, 'D');
  ASSERT_LE(first, 'Z');
  EXPECT_FALSE(DriveLetterMapped(first));
  for (char letter = 'D'; letter < first; ++letter) EXPECT_TRUE(DriveLetterMapped(letter)) << letter;

  std::vector<std::unique_ptr<MappedLetter>> taken;
  for (char letter = first; letter <= 'Z'; ++letter) {
    if (DriveLetterMapped(letter)) continue;
    taken.push_back(std::make_unique<MappedLetter>(letter, DeviceName(kTestDeviceCount)));
    ASSERT_TRUE(taken.back()->Mapped()) << letter;
    if (letter == first) {
      EXPECT_GT(ChooseDriveLetter(DriveLetterMapped), first);
    }
  }
  EXPECT_EQ(ChooseDriveLetter(DriveLetterMapped), 'X');
  taken.clear();
  EXPECT_EQ(ChooseDriveLetter(DriveLetterMapped), first);
}

}  // namespace
