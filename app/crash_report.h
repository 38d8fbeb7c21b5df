// The last handler of every thread: offers to write a minidump for the support address.
#pragma once
#include <string>

inline constexpr char kCrashDumpPath[] = "C:\\quillon.dmp";
// Left open by the product: a reserved domain, so that no mail reaches anybody by accident.
inline constexpr char kSupportAddress[] = "support@harvesta.invalid";

void InstallCrashReportFilter();
// Where the dump library is loaded from: the system folder only. The program runs elevated, and
// its own folder may be a downloads folder that others can write to.
std::string DumpLibraryPath();
