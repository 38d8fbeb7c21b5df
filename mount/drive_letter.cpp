#include "drive_letter.h"

char ChooseDriveLetter(const std::function<bool(char)>& inUse) {
  for (char letter = 'D'; letter <= 'Z'; ++letter)
    if (!inUse(letter)) return letter;
  return 'X';
}
