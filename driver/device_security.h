// Who may open a disk device: only SYSTEM and the Administrators group. A mount makes the
// driver open any file it is told to, so the devices must not be open to every user.
#pragma once
#include "kernel.h"

NTSTATUS RestrictToAdministrators(PDEVICE_OBJECT device);
