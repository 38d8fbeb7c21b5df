// The harvesta command's exit statuses, as README and --help document them.
#pragma once

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitWrongPassword = 3;
inline constexpr int kExitDamagedImage = 4;
inline constexpr int kExitBusy = 5;
inline constexpr int kExitNothingMounted = 6;
inline constexpr int kExitCancelled = 130;  // ended by Ctrl-C (or SIGTERM, SIGHUP)
