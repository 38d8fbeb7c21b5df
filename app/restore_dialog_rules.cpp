#include "restore_dialog_rules.h"

#include <cctype>

ControlEnabling EnablingFor(bool format, bool bootable, bool runCopy) {
  return {format || bootable || runCopy, bootable, runCopy, format};
}

std::vector<std::string> DestinationRoots(char systemLetter, const std::function<bool(char)>& rootExists) {
  const char system = static_cast<char>(std::toupper(static_cast<unsigned char>(systemLetter)));
  std::vector<std::string> roots;
  for (char letter = 'C'; letter <= 'Z'; ++letter)
    if (letter != system && rootExists(letter)) roots.push_back(std::string{letter} + ":\\");
  return roots;
}
