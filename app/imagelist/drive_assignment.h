// Whether a partition row's mark (its assignment to a drive letter) may be toggled, and the
// letters a newly marked row may take. The list asks; this decides.
#pragma once
#include <array>
#include <functional>
#include <string>
#include <vector>

inline constexpr char kNoFreeLetterMessage[] = "Cannot assign partition.\nNo availaible drive letters.";
inline constexpr char kTooManyDrivesMessage[] =
    "Maximum of 10 virtual drives can be allocated at any one time";

// One flag per letter A to Z: the letter had no mapping when the list was made.
using FreeLetters = std::array<bool, 26>;

struct MarkToggleState {
  bool Marked = false;             // the row's mark before the toggle
  bool PasswordProtected = false;  // the row's image
  size_t MarkedRows = 0;           // marked rows of the list before the toggle
  size_t FreeDevices = 0;          // driver devices no virtual drive uses
};

struct MarkToggleDecision {
  bool Allowed = false;
  std::string Message;  // shown when refused; empty for a cancelled password
};

// Unmarking is always allowed. Marking asks askPassword first for a protected image (false:
// the user cancelled), then needs a free letter and a device for one more drive.
MarkToggleDecision DecideMarkToggle(const MarkToggleState& state, const FreeLetters& letters,
                                    const std::function<bool()>& askPassword);

// "X:" for each free letter D to Z, in order.
std::vector<std::string> FreeLetterEntries(const FreeLetters& letters);
