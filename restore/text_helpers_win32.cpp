#include <windows.h>

#include "text_helpers.h"

std::string FormatDateTime(int64_t seconds, uint32_t dateFlags, uint32_t timeFlags) {
  // Seconds since 1970 to FILETIME (100 ns units since 1601), then to local time.
  ULARGE_INTEGER ticks;
  ticks.QuadPart = static_cast<ULONGLONG>(seconds) * 10000000ull + 116444736000000000ull;
  FILETIME utc{ticks.LowPart, ticks.HighPart}, local;
  SYSTEMTIME time;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &time))
    return std::string();
  time.wMilliseconds = 0;
  char date[256] = "", clock[15] = "";
  GetDateFormatA(LOCALE_USER_DEFAULT, dateFlags, &time, nullptr, date, sizeof date);
  GetTimeFormatA(LOCALE_USER_DEFAULT, timeFlags, &time, nullptr, clock, sizeof clock);
  return std::string(date) + " " + clock;
}
