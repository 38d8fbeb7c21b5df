#include "heap_watch.h"

#include <malloc.h>
#include <string.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<int64_t> live{0};
std::atomic<int64_t> peak{0};
std::atomic<bool> watching{false};
std::atomic<uint32_t> hits{0};
std::vector<std::vector<uint8_t>>* patterns = nullptr;  // set only while nothing watches

void* Allocate(size_t size) {
  void* block = std::malloc(size ? size : 1);
  if (!block) throw std::bad_alloc();
  const int64_t now = live += int64_t(malloc_usable_size(block));
  for (int64_t seen = peak; now > seen && !peak.compare_exchange_weak(seen, now);) {
  }
  return block;
}

void Release(void* block) noexcept {
  if (!block) return;
  const size_t size = malloc_usable_size(block);
  if (watching.load()) {
    for (const auto& pattern : *patterns)
      if (memmem(block, size, pattern.data(), pattern.size())) {
        ++hits;
        break;
      }
  }
  live -= int64_t(size);
  std::free(block);
}

}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, size_t) noexcept { Release(block); }
void operator delete[](void* block, size_t) noexcept { Release(block); }

namespace heap_watch {

int64_t LiveBytes() { return live; }
int64_t TakePeak() { return peak.exchange(live); }

void WatchFreedBlocksFor(std::vector<std::vector<uint8_t>> wanted) {
  watching = false;
  delete patterns;
  patterns = nullptr;
  patterns = new std::vector<std::vector<uint8_t>>(std::move(wanted));
  hits = 0;
  watching = true;
}

void StopWatching() { watching = false; }
uint32_t Hits() { return hits; }

}  // namespace heap_watch
