#include <gtest/gtest.h>

#include "text_helpers.h"

namespace {
TEST(FormatSize, UnitsSwitchAboveEachThreshold) {
  struct Case {
    uint64_t Bytes;
    const char* Text;
  } cases[] = {
      {0, "0 B"},
      {1024, "1024 B"},
      {1025, "1 KB"},
      {1600, "2 KB"},
      {1ull << 20, "1024 KB"},
      {1073741824, "1024.00 MB"},
      {1073741825, "1.000 GB"},
      {5368709120, "5.000 GB"},
      {(1ull << 40) + 1, "1.000 TB"},
      {UINT64_MAX, "16777216.000 TB"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatSize(c.Bytes), c.Text) << c.Bytes;
}

// ctest runs this binary with TZ=Europe/Berlin: a winter date is one hour ahead of UTC, a
// summer date two, whatever the season the test runs in.
TEST(FormatDateTime, UsesTheOffsetInForceOnThatDate) {
  constexpr uint32_t kNoSeconds = 2, kForce24Hours = 8;
  struct Case {
    int64_t Seconds;
    const char* Clock;
  } cases[] = {
      {1768478400, " 13:00"},  // 2026-01-15 12:00 UTC
      {1784116800, " 14:00"},  // 2026-07-15 12:00 UTC
  };
  for (const Case& c : cases) {
    std::string text = FormatDateTime(c.Seconds, 1, kNoSeconds | kForce24Hours);
    EXPECT_NE(text.find(c.Clock), std::string::npos) << text;  // Wine appends "PM" all the same
  }
}

}  // namespace
