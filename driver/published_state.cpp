#include "device_extension.h"

PublishedState ReadPublishedState(DeviceExtension* extension) {
  PublishedState state;
  KIRQL irql;
  KeAcquireSpinLock(&extension->RequestLock, &irql);
  state.MediaPresent = extension->MediaPresent;
  state.ReadOnly = extension->ReadOnly;
  state.Layout = extension->Layout;
  KeReleaseSpinLock(&extension->RequestLock, irql);
  return state;
}

void Publish(DeviceExtension* extension, BOOLEAN mediaPresent, const VirtualDiskLayout* layout) {
  KIRQL irql;
  KeAcquireSpinLock(&extension->RequestLock, &irql);
  if (layout) {
    extension->Layout = *layout;
    extension->ReadOnly = TRUE;
  }
  extension->MediaPresent = mediaPresent;
  KeReleaseSpinLock(&extension->RequestLock, irql);
}
