// The system's texts of error codes as the mount code shows them: one line, or nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include "system_error_text.h"

namespace {

TEST(SystemErrorText, KnownCodesGiveOneLineOfText) {
  for (DWORD code : {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_FUNCTION,
                     ERROR_INVALID_PARAMETER, ERROR_CRC, ERROR_BUSY, ERROR_NOT_READY}) {
    SCOPED_TRACE(code);
    const std::string text = SystemErrorText(code);
    EXPECT_NE(text, "");
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
  }
}

TEST(SystemErrorText, CodeWithoutAMessageGivesNothing) { EXPECT_EQ(SystemErrorText(0x0000FFFEu), ""); }

}  // namespace
