// The test binary's own global allocation functions: they count the bytes live on the heap and
// can look into every block freed for a byte pattern (a key that must have been wiped).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace heap_watch {

int64_t LiveBytes();
// The highest LiveBytes() since the last call.
int64_t TakePeak();

// While a watch is on, every freed block is searched for each pattern (at least 8 bytes);
// Hits() counts the blocks that held one.
void WatchFreedBlocksFor(std::vector<std::vector<uint8_t>> patterns);
void StopWatching();
uint32_t Hits();

}  // namespace heap_watch
