// The restore of one partition of an image onto a destination volume: mount it as a virtual
// drive, optionally format the destination, copy, re-create junction points, make the
// destination bootable, unmount. The program's Start button and `harvesta restore` both run it.
#pragma once
#include <string>
#include <vector>

#include "image_set.h"
#include "restore_choices.h"
#include "restore_steps.h"

struct RestoreSource {
  CStdString ChosenImagePath;  // the file the user picked; names the backup set
  std::vector<ImageSet>& Sets;  // open sets; the accepted password is kept with its image
  const ImagePartition* Selected = nullptr;
};

// 1 when the run went through to its end: the front end then reports from status
// (CompletionReport). 0 when it stopped early: the user declined, or has been told why.
int RunRestore(const RestoreSource& source, const RestoreChoices& choices, RestoreStatus& status,
               RestoreSteps& steps);

// The first of D to Z whose device name has no mapping; X when every one has.
char ChooseVirtualDriveLetter(MountedDrives& drives);
