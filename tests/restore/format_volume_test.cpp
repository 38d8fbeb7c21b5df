// The format against a stand-in fmifs.dll next to this program: what FormatEx is given, what its
// callback does with the wait window, and which reports count as a finished format.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "fake_fmifs.h"
#include "format_volume_win32.h"
#include "recording_ui.h"

namespace {

class FormatVolumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = LoadLibraryA("fmifs.dll");
    ASSERT_NE(library_, nullptr) << "the stand-in fmifs.dll is not next to the test";
    script_ = reinterpret_cast<FakeFormatScriptFunction>(reinterpret_cast<void*>(GetProcAddress(library_, "FakeFormatScript")));
    lastCall_ = reinterpret_cast<FakeFormatLastCallFunction>(
        reinterpret_cast<void*>(GetProcAddress(library_, "FakeFormatLastCall")));
    ASSERT_TRUE(script_ && lastCall_);
    ASSERT_EQ(GetProcAddress(library_, "EnableVolumeCompression"), nullptr);
    wait_ = ui_.OpenWaitWindow(WaitKind::Plain);
    SetCurrentWaitWindow(wait_.get());
  }
  void TearDown() override { SetCurrentWaitWindow(nullptr); }

  int Format(const std::vector<FakeFormatStep>& steps) {
    script_(steps.data(), int(steps.size()));
    return FormatVolume(ui_, "E:", "RESTORED", "NTFS", 4096);
  }

  HMODULE library_ = nullptr;
  FakeFormatScriptFunction script_ = nullptr;
  FakeFormatLastCallFunction lastCall_ = nullptr;
  RecordingUi ui_;
  std::unique_ptr<WaitWindow> wait_;
};

// Also: a library without EnableVolumeCompression formats.
TEST_F(FormatVolumeTest, PassesTheChoicesAndStepsTheWaitWindow) {
  const int callsBefore = lastCall_()->Calls;
  EXPECT_EQ(Format({{0, 0, nullptr}, {14, 0, "Creating file system structures."}, {15, 0, nullptr}, {11, 1, nullptr}}), 1);
  const FakeFormatCall& call = *lastCall_();
  EXPECT_EQ(call.Calls, callsBefore + 1);
  EXPECT_STREQ(call.DriveRoot, L"E:");
  EXPECT_STREQ(call.FileSystem, L"NTFS");
  EXPECT_STREQ(call.Label, L"RESTORED");
  EXPECT_EQ(call.MediaType, 12u);
  EXPECT_TRUE(call.QuickFormat);
  EXPECT_EQ(call.ClusterSize, 4096u);
  EXPECT_EQ(call.CallbackFalse, 0);
  // Once per report, once more for each progress report.
  EXPECT_EQ(ui_.Wait.Pumps, 6);
  EXPECT_EQ(ui_.Wait.Titles, std::vector<std::string>{"Creating file system structures."});
  EXPECT_TRUE(ui_.Messages.empty());
}

TEST_F(FormatVolumeTest, OnlyAReportedSuccessCounts) {
  const struct {
    const char* what;
    std::vector<FakeFormatStep> steps;
    int result;
  } cases[] = {
      {"done with success", {{11, 1, nullptr}}, 1},
      {"done with failure", {{0, 0, nullptr}, {11, 0, nullptr}}, 0},
      {"never done", {{0, 0, nullptr}, {15, 0, nullptr}}, 0},
      {"nothing reported", {}, 0},
      {"a failure before a success", {{11, 0, nullptr}, {11, 1, nullptr}}, 0},
      {"unknown reports around a success", {{7, 0, nullptr}, {11, 1, nullptr}, {99, 0, nullptr}}, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(Format(c.steps), c.result) << c.what;
  // The next format starts afresh.
  EXPECT_EQ(Format({{11, 1, nullptr}}), 1);
}

}  // namespace
