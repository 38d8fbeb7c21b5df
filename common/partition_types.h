// Display names of partition type bytes, as the partition list and the restore log show them.
#pragma once
#include <cstdint>

// "Unknown" for bytes not in the table.
const char* PartitionTypeName(uint8_t type);
