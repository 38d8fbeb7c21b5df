#include <windows.h>

#include <gtest/gtest.h>

#include "drive_letter.h"
#include "mounted_drive_win32.h"
#include "recording_ui.h"
#include "restore_steps_win32.h"
#include "wine_files.h"

namespace {

// Wine's C: is a folder of the prefix, its Z: the Unix root: on this machine both may be the
// same file system, but they are two drives all the same. A letter with no drive names nothing.
TEST(Win32RestoreVolumes, VolumeOfPathIsEqualExactlyOnTheSameDrive) {
  RecordingUi ui;
  Win32RestoreVolumes volumes(ui);
  TestFolder folder("volume-of-path");
  const std::string file = folder.Path() + "backup.qvimg";
  WriteBytes(file, {1, 2, 3});
  ASSERT_EQ(file.substr(0, 3), "C:\\");

  const auto drive = volumes.VolumeOfPath("C:\\");
  ASSERT_TRUE(drive);
  EXPECT_EQ(volumes.VolumeOfPath(file), drive);
  EXPECT_EQ(volumes.VolumeOfPath("c:\\"), drive);
  EXPECT_EQ(volumes.VolumeOfPath(folder.Path() + "not-written-yet.qvimg"), drive);
  const auto other = volumes.VolumeOfPath("Z:\\tmp");
  ASSERT_TRUE(other);
  EXPECT_NE(other, drive);

  const char unmapped = ChooseDriveLetter(DriveLetterMapped);
  EXPECT_EQ(volumes.VolumeOfPath(std::string{unmapped} + ":\\backup.qvimg"), std::nullopt);
  EXPECT_EQ(volumes.VolumeOfPath(""), std::nullopt);
}

// The size of a volume over 4 GiB does not wrap: the product is taken in 64 bits.
TEST(Win32RestoreVolumes, VolumeSizeIsTheWholeVolumeInBytes) {
  RecordingUi ui;
  Win32RestoreVolumes volumes(ui);
  ULARGE_INTEGER available, total, free;
  ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", &available, &total, &free));
  EXPECT_EQ(volumes.VolumeSize("C:\\"), total.QuadPart);
  EXPECT_EQ(volumes.VolumeSize(std::string{ChooseDriveLetter(DriveLetterMapped)} + ":\\"), 0u);
}

}  // namespace
