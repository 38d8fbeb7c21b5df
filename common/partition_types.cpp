#include "partition_types.h"

#include <iterator>

namespace {
struct PartitionType {
  uint8_t Type;
  const char* Name;
};

constexpr PartitionType kPartitionTypes[] = {
    {0x00, "Empty"}, {0x01, "12-bit FAT"}, {0x02, "XENIX /"}, {0x03, "XENIX /usr"},
    {0x04, "16-bit FAT"}, {0x05, "DOS Extended"}, {0x06, "16-bit FAT"}, {0x07, "NTFS"},
    {0x08, "AIX boot or SplitDrive"}, {0x09, "AIX data or Coherent"},
    {0x0A, "OS/2 Boot Manager"}, {0x0B, "FAT32"}, {0x0C, "FAT32 (LBA)"}, {0x0E, "FAT16 (LBA)"},
    {0x0F, "Win95 Extended (LBA)"}, {0x10, "OPUS"}, {0x11, "Hidden DOS FAT12"},
    {0x12, "Compaq diagnostics"}, {0x14, "Hidden DOS FAT16"}, {0x16, "Hidden DOS FAT16 (big)"},
    {0x17, "Hidden NTFS"}, {0x18, "AST Windows swapfile"}, {0x1B, "Hidden FAT32"},
    {0x1C, "Hidden FAT32 (LBA)"}, {0x1E, "VFAT"}, {0x24, "NEC DOS"},
    {0x3C, "PartitionMagic recovery"}, {0x40, "Venix 80286"},
    {0x41, "Linux/MINIX (sharing disk with DRDOS)"},
    {0x42, "SFS or Linux swap (sharing disk with DRDOS)"},
    {0x43, "Linux native (sharing disk with DRDOS)"}, {0x50, "DM (disk manager)"},
    {0x51, "DM6 Aux1 (or Novell)"}, {0x52, "CP/M or Microport SysV/AT"}, {0x53, "DM6 Aux3"},
    {0x54, "DM6"}, {0x55, "EZ-Drive (disk manager)"}, {0x56, "Golden Bow (disk manager)"},
    {0x5C, "Priam Edisk (disk manager)"}, {0x61, "SpeedStor"},
    {0x63, "GNU HURD or Mach or Sys V/386 (such as ISC UNIX)"}, {0x64, "Novell Netware 286"},
    {0x65, "Novell Netware 386"}, {0x70, "DiskSecure Multi-Boot"}, {0x75, "PC/IX"},
    {0x77, "QNX4.x"}, {0x78, "QNX4.x 2nd part"}, {0x79, "QNX4.x 3rd part"},
    {0x80, "MINIX until 1.4a"}, {0x81, "MINIX / old Linux"}, {0x82, "Linux swap"},
    {0x83, "ext2/3"}, {0x84, "OS/2 hidden C: drive"}, {0x85, "Linux extended"},
    {0x86, "NTFS volume set"}, {0x87, "NTFS volume set"}, {0x93, "Amoeba"},
    {0x94, "Amoeba BBT"}, {0x99, "Unformatted"}, {0xA0, "IBM Thinkpad hibernation"},
    {0xA5, "BSD/386"}, {0xA7, "NeXTSTEP 486"}, {0xB7, "BSDI fs"}, {0xB8, "BSDI swap"},
    {0xC1, "DRDOS/sec (FAT-12)"}, {0xC4, "DRDOS/sec (FAT-16, < 32M)"},
    {0xC6, "DRDOS/sec (FAT-16, >= 32M)"}, {0xC7, "Syrinx"},
    {0xDB, "CP/M or Concurrent CP/M or Concurrent DOS or CTOS"},
    {0xE1, "DOS access or SpeedStor 12-bit FAT extended partition"},
    {0xE3, "DOS R/O or SpeedStor"}, {0xE4, "SpeedStor 16-bit FAT extended partition < 1024 cyl."},
    {0xF1, "SpeedStor"}, {0xF2, "DOS 3.3+ secondary"}, {0xF4, "SpeedStor large partition"},
    {0xFE, "SpeedStor >1024 cyl. or LANstep"}, {0xFF, "Xenix Bad Block Table"},
};
static_assert(std::size(kPartitionTypes) == 77);
}  // namespace

const char* PartitionTypeName(uint8_t type) {
  for (const auto& entry : kPartitionTypes)
    if (entry.Type == type) return entry.Name;
  return "Unknown";
}
