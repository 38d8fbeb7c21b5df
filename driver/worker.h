// One system thread per device: all image file I/O, mounts and unmounts of the device run
// here in queue order, so they need no further locking.
#pragma once
#include "kernel.h"

// Context: the device object. Ends when the extension's StopWorker is set and signalled.
VOID NTAPI WorkerRoutine(PVOID context);
