#include "image_folder_loader.h"

#include <atomic>
#include <chrono>
#include <thread>

FolderListing LoadOnLoaderThread(const std::string& chosenPath) {
  std::atomic<bool> scanning{true};
  FolderListing loaded;
  std::thread loader([&] {
    loaded = LoadImageFolder(chosenPath, kImageListScanRule);
    scanning = false;
  });
  while (scanning) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  loader.join();
  return loaded;
}
