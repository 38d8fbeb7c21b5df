// Where a symbolic link of the source volume points, as a place inside that volume. ntfs-3g
// shows a junction or an absolute Windows link as an absolute link into its own mount point
// (or into its ".NTFS-3G" folder when the target is not on the volume).
#pragma once
#include <optional>
#include <string>

// The target as a path relative to the volume's root ("" for the root itself); nullopt when it
// leaves the volume. linkRelative is the link's own path below root; an absolute target may
// start with root as given or as resolved.
std::optional<std::string> TargetInsideVolume(const std::string& target, const std::string& linkRelative,
                                              const std::string& root);
// The relative link text that reaches insideTarget from the folder holding linkRelative.
std::string RelativeLinkText(const std::string& linkRelative, const std::string& insideTarget);
