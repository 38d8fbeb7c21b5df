#include "drive_assignment.h"

MarkToggleDecision DecideMarkToggle(const MarkToggleState& state, const FreeLetters& letters,
                                    const std::function<bool()>& askPassword) {
  if (state.Marked) return {true, {}};
  if (state.PasswordProtected && !askPassword()) return {false, {}};
  if (FreeLetterEntries(letters).empty()) return {false, kNoFreeLetterMessage};
  if (state.MarkedRows >= state.FreeDevices) return {false, kTooManyDrivesMessage};
  return {true, {}};
}

std::vector<std::string> FreeLetterEntries(const FreeLetters& letters) {
  std::vector<std::string> entries;
  for (char letter = 'D'; letter <= 'Z'; ++letter)
    if (letters[static_cast<size_t>(letter - 'A')]) entries.push_back(std::string{letter} + ":");
  return entries;
}
