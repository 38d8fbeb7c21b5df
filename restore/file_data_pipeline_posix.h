// File data read ahead on a thread of its own while the caller writes: reading one volume and
// writing another overlap, so the copy runs at the pace of the slower side rather than the sum
// of both. Files are read in the order given, in 1 MiB pieces, with a bounded number of
// pieces in flight.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

inline constexpr size_t kDataPieceSize = 1 << 20;

struct DataPiece {
  size_t File = 0;       // index into the paths given
  uint64_t Offset = 0;
  size_t Length = 0;     // 0 with End: the file is finished
  bool End = false;      // the file's last piece (also with an Error)
  int Error = 0;         // errno of the open or of a read; End is set with it
  uint8_t* Data = nullptr;
  size_t Buffer = 0;     // handed back with Release
};

class FileDataPipeline {
 public:
  // beforeData runs on the reading thread before each file is opened (to read what else the
  // file carries, ahead of the writing too); what it stores is the caller's to read once the
  // file's first piece has come.
  FileDataPipeline(std::vector<std::string> paths, std::function<void(size_t file)> beforeData,
                   size_t piecesInFlight = 24);
  ~FileDataPipeline();
  FileDataPipeline(const FileDataPipeline&) = delete;
  FileDataPipeline& operator=(const FileDataPipeline&) = delete;

  // The next piece, in file order; blocks until it has been read.
  DataPiece Next();
  void Release(const DataPiece& piece);
  // Drops the rest of the current file (the caller gave up on it).
  void SkipRestOf(size_t file);
  // Ends the reading; Next must not be called after it.
  void Stop();

 private:
  void Read();
  bool Push(const DataPiece& piece);
  size_t TakeBuffer();

  std::vector<std::string> paths_;
  std::function<void(size_t)> beforeData_;
  std::vector<std::unique_ptr<uint8_t[]>> buffers_;
  std::vector<size_t> freeBuffers_;
  std::deque<DataPiece> ready_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  std::thread reader_;
};
