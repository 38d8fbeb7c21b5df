// "Harvesta.ini" beside the program: nothing but the copy command template as last run.
#pragma once
#include <string>

inline constexpr size_t kSettingsReadLimit = 1024;

// The template kept in the file at path: its first 1,024 bytes up to the first NUL. Empty when
// the file is missing or unreadable, so that the default applies.
std::string ReadCommandTemplate(const std::string& path);
