// The mount and unmount procedures, run by the device's worker thread.
#pragma once
#include "kernel.h"

// IOCTL_IMAGE_MOUNT: as the captured caller, validates the whole record, opens the image files
// and makes the device a read-only disk of the partition. On failure nothing stays open or
// allocated and the device stays idle.
NTSTATUS MountImageRequest(PDEVICE_OBJECT device, PIRP irp);

// IOCTL_IMAGE_UNMOUNT, and unload: closes the files, frees the mount's memory, no media.
NTSTATUS UnmountImage(PDEVICE_OBJECT device);
