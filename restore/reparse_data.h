// Reparse data copied from the virtual drive onto the destination: the drive letter of its
// target moved to the destination, and the folder its target names. The buffer is what the
// reparse read returned (pointer and length); nothing outside it is read or written.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The UTF-16 unit holding the target's drive letter when the substitute name comes first and
// begins with \??\: a junction's path buffer starts at byte 16, a symbolic link's at byte 20.
inline constexpr size_t kJunctionLetterAt = 24;
inline constexpr size_t kSymbolicLinkLetterAt = 28;

// The unit at each letter position that names the virtual drive (either case) and is followed
// by a ':' unit becomes the destination letter; a position the buffer does not hold in full is
// left alone. The colon keeps \??\UNC\ and \??\Volume{...} targets intact when the virtual
// drive is U or V. Returns how many units were rewritten.
int RewriteReparseTargetLetter(uint8_t* buffer, size_t length, char virtualLetter,
                               char destinationLetter);

// The UTF-16 text from the junction letter position up to its zero unit, as UTF-8; nullopt
// when the buffer ends before the zero unit or the text is not valid UTF-16.
std::optional<std::string> ReparseTargetText(const uint8_t* buffer, size_t length);

// The folder to create for a rewritten junction: its target when that lies below the root of
// the destination drive ("E:\Data"), with no "." or ".." step, so that it can name nothing
// outside the destination. Targets on other drives, relative or odd targets: nullopt; so is
// every symbolic link, whose text at the junction letter position begins "?\".
std::optional<std::string> ReparseTargetFolder(const uint8_t* buffer, size_t length,
                                               char destinationLetter);
