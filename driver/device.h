// The disk devices "\Device\Vaultdisk\Vaultdisk%u", each with its worker thread.
#pragma once
#include "kernel.h"

NTSTATUS CreateDevice(PDRIVER_OBJECT driver, ULONG number);

// Stops the worker, closes what a mount left open and deletes the device.
void DeleteDevice(PDEVICE_OBJECT device);
