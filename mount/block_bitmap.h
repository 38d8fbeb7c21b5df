// One bit per block, set once and never cleared, read without a lock. Its pages are allocated
// when a bit in them is first set: a block count read from an image allocates only the page
// table (8 bytes per 256 Ki blocks) until blocks are really read.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

class BlockBitmap {
 public:
  explicit BlockBitmap(uint32_t blocks)
      : pageCount_((uint64_t(blocks) + kPageBits - 1) / kPageBits),
        pages_(std::make_unique<std::atomic<Page*>[]>(pageCount_)) {}
  ~BlockBitmap() {
    for (uint64_t i = 0; i < pageCount_; ++i) delete pages_[i].load();
  }
  BlockBitmap(const BlockBitmap&) = delete;
  BlockBitmap& operator=(const BlockBitmap&) = delete;

  bool Test(uint32_t block) const {
    const Page* page = pages_[block / kPageBits].load(std::memory_order_acquire);
    return page && (page->Words[block % kPageBits / 64].load(std::memory_order_acquire) >> (block % 64)) & 1;
  }
  void Set(uint32_t block) {
    std::atomic<Page*>& slot = pages_[block / kPageBits];
    Page* page = slot.load(std::memory_order_acquire);
    if (!page) {
      std::lock_guard lock(growing_);
      page = slot.load(std::memory_order_acquire);
      if (!page) slot.store(page = new Page(), std::memory_order_release);
    }
    page->Words[block % kPageBits / 64].fetch_or(uint64_t(1) << (block % 64), std::memory_order_release);
  }

 private:
  static constexpr uint32_t kPageBits = 1u << 18;
  struct Page {
    std::atomic<uint64_t> Words[kPageBits / 64] = {};
  };
  const uint64_t pageCount_;
  std::unique_ptr<std::atomic<Page*>[]> pages_;
  std::mutex growing_;
};
