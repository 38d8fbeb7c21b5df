// Per-device state. The dispatch routines run in callers' threads and touch only the queue and
// what the worker publishes under RequestLock; everything else belongs to the worker thread.
#pragma once
#include "kernel.h"
#include "block_reader.h"

struct MountedImage;

struct DeviceExtension {
  // Published by the worker under RequestLock, read by the dispatch routines. No key here: it
  // lives only in the mounted image's expanded cipher context, wiped when the image goes.
  BOOLEAN MediaPresent;
  BOOLEAN ReadOnly;
  VirtualDiskLayout Layout;

  LIST_ENTRY RequestList;  // IRPs linked through Tail.Overlay.ListEntry
  KSPIN_LOCK RequestLock;
  KEVENT RequestEvent;     // synchronization event: a request was queued, or stop
  PVOID WorkerThread;      // referenced thread object
  BOOLEAN StopWorker;

  MountedImage* Image;     // worker only; null while nothing is mounted
};

inline DeviceExtension* ExtensionOf(PDEVICE_OBJECT device) {
  return static_cast<DeviceExtension*>(device->DeviceExtension);
}

// A consistent copy of the published state, for the dispatch routines.
struct PublishedState {
  BOOLEAN MediaPresent;
  BOOLEAN ReadOnly;
  VirtualDiskLayout Layout;
};

PublishedState ReadPublishedState(DeviceExtension* extension);
void Publish(DeviceExtension* extension, BOOLEAN mediaPresent, const VirtualDiskLayout* layout);
