#include <windows.h>

#include "text_helpers.h"

std::string FormatDateTime(int64_t seconds, uint32_t dateFlags, uint32_t timeFlags) {
  // Seconds since 1970 to FILETIME (100 ns units since 1601), then to the local time of that
  // date: the zone's offset in force then, not today's (FileTimeToLocalFileTime applies the
  // current daylight-saving state to every date).
  ULARGE_INTEGER ticks;
  ticks.QuadPart = static_cast<ULONGLONG>(seconds) * 10000000ull + 116444736000000000ull;
  FILETIME utc{ticks.LowPart, ticks.HighPart};
  SYSTEMTIME utcTime, time;
  if (!FileTimeToSystemTime(&utc, &utcTime) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &utcTime, &time))
    return std::string();
  time.wMilliseconds = 0;
  char date[256] = "", clock[15] = "";
  GetDateFormatA(LOCALE_USER_DEFAULT, dateFlags, &time, nullptr, date, sizeof date);
  GetTimeFormatA(LOCALE_USER_DEFAULT, timeFlags, &time, nullptr, clock, sizeof clock);
  return std::string(date) + " " + clock;
}
