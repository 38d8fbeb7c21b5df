// Wine has no fmifs.dll: the format stops before anything touches the volume, and says why.
#include <windows.h>

#include <gtest/gtest.h>

#include "format_volume_win32.h"
#include "recording_ui.h"
#include "system_error_text.h"

namespace {

TEST(FormatVolume, AMissingFormatLibraryIsReportedAndFails) {
  ASSERT_EQ(GetModuleHandleA("fmifs.dll"), nullptr);
  const std::string expected = "Error loading fmifs.dll - " + SystemErrorText(ERROR_MOD_NOT_FOUND);
  RecordingUi ui;
  EXPECT_FALSE(LoadFormatLibrary(ui));
  EXPECT_EQ(ui.Messages, std::vector<std::string>{expected});
  EXPECT_EQ(FormatVolume(ui, "E:", "", "NTFS", 4096), 0);
  EXPECT_EQ(ui.Messages, (std::vector<std::string>{expected, expected}));
}

TEST(LockAndDismountVolume, AnEmptyOrUnopenablePathIsRefused) {
  EXPECT_EQ(LockAndDismountVolume("", false), DismountResult::EmptyPath);
  EXPECT_EQ(LockAndDismountVolume("\\\\.\\NoSuchDevice:", true), DismountResult::CannotOpen);
}

}  // namespace
