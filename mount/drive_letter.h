// The letter a new virtual drive gets: the one chooser, for the program and its tests (over
// the system's DOS device names) and for a restore (over its MountedDrives).
#pragma once
#include <functional>

// The first of D to Z for which inUse is false; X when it is true for every one.
char ChooseDriveLetter(const std::function<bool(char)>& inUse);
