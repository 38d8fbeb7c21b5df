// Making the destination bootable, and its boot status: the sectors and files are read and
// written here, every byte edit is boot_records.h's.
#pragma once
#include <cstdint>
#include <string>

#include "boot_records.h"
#include "restore_steps.h"

// The virtual drive's boot code around the destination's own parameter block, written onto the
// destination volume. Both must be NTFS. The error is the one the boot step reports.
BootSectorError UpdatePartitionBootSector(char sourceLetter, char destinationLetter);

// Finds the destination volume's disk and partition offset and, on a disk with a master boot
// record, reads the record, edits it as the choices say and writes it when the edit asks for it.
// A volume on several extents, a disk numbered 10 or more, a GUID partition table or a short read
// leave the record alone (Record empty).
DestinationDisk UpdateDestinationDisk(char destinationLetter, uint32_t imageSignature, DiskRecordChoices choices);

// destinationRoot ends in a backslash ("E:\"). The copied "Boot\BCD" below it with its device
// references rewritten in place; 1 when it was read, whether or not anything matched. A store
// over 64 MiB is not read.
int UpdateBootConfiguration(const std::string& destinationRoot, const BootConfigurationRewrite& rewrite);

// "Windows\bootstat.dat" below destinationRoot: the flag that the system was shut down cleanly.
void MarkBootStatus(const std::string& destinationRoot);

// "E:\" for 'E'.
std::string DriveRoot(char letter);
