// A read request served from the mounted image through the read path of the core.
#pragma once
#include "device_extension.h"

// Fills the request's buffer and sets its Information on success. Returns the request's status.
NTSTATUS ReadImage(DeviceExtension* extension, PIRP irp);
