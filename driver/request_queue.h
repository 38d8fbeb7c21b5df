// The device's request queue: dispatch routines append, the worker thread takes from the head.
// A spin lock with the plain list operations, not the ExInterlocked* forms: the guarantee is
// the same, and Wine's kernel lacks ExInterlockedInsertTailList.
#pragma once
#include "device_extension.h"

// Marks the request pending, appends it and wakes the worker. Returns STATUS_PENDING.
NTSTATUS QueueRequest(DeviceExtension* extension, PIRP irp);

// The oldest queued request, or nullptr when the queue is empty.
PIRP DequeueRequest(DeviceExtension* extension);
