// The junction step of a Linux restore: the reparse points below the partition's mount point
// re-created on the destination with their data as stored (a Linux restore keeps the drive
// letters in them as they are: the destination's letter is only known to the Windows it boots).
#pragma once
#include "copy_runner_posix.h"
#include "restore_steps.h"
#include "tree_copy_posix.h"

class PosixJunctionWalk : public JunctionWalk {
 public:
  // observer receives what was re-created and what could not be.
  PosixJunctionWalk(FolderOfLetter folders, TreeCopyObserver& observer)
      : folders_(std::move(folders)), observer_(observer) {}

  int FixJunctionPoints(const std::string& sourcePattern, char destinationLetter) override;

 private:
  FolderOfLetter folders_;
  TreeCopyObserver& observer_;
};
