// What the front end tells the user once a restore has gone through to its end.
#pragma once
#include <optional>
#include <string>

#include "restore_choices.h"

// For a run whose RunRestore returned runResult: "Cancelled" or "Complete" when no copy ran to
// its end, else "Please see '<log>' for details" with the log file the executed command names
// after "/LOG:", or "Finished" when it names none. nullopt when nothing is to be shown: the run
// stopped early or has already reported.
std::optional<std::string> CompletionReport(int runResult, const RestoreStatus& status,
                                            const RestoreChoices& choices);

// The text after the first "/LOG:" of command up to the next blank (searched from the second
// character on, so a blank right after "/LOG:" is part of it) or to the end; empty when the
// command has no "/LOG:".
std::string CommandLogPath(const std::string& command);
