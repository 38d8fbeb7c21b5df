// The disk devices "\Device\Vaultdisk\Vaultdisk%u", each with its worker thread.
#pragma once
#include "kernel.h"

// The object directory holding the devices; a macro, to build their names from it.
#define VAULTDISK_DEVICE_DIRECTORY L"\\Device\\Vaultdisk"

NTSTATUS CreateDevice(PDRIVER_OBJECT driver, ULONG number);

// Stops the worker, closes what a mount left open and deletes the device.
void DeleteDevice(PDEVICE_OBJECT device);
