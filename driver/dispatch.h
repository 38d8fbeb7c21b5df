// The driver's dispatch routines, run in the caller's thread. Cheap requests are answered at
// once; reads, writes, mounts and unmounts go to the device's worker thread.
#pragma once
#include "kernel.h"

NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS NTAPI DispatchReadWrite(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp);
