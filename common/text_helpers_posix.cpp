#include <ctime>

#include "text_helpers.h"

std::string FormatDateTime(int64_t seconds, uint32_t /*dateFlags*/, uint32_t /*timeFlags*/) {
  std::time_t time = static_cast<std::time_t>(seconds);
  std::tm local{};
  char text[64];
  if (!localtime_r(&time, &local) || !std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local))
    return std::string();
  return text;
}
