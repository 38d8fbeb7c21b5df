// One destination file written piece by piece. A sparse source keeps its holes: the file is
// first given its full size (a hole throughout) and only blocks holding something are written.
// A file not finished is removed again, so that nothing half written looks copied.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

class FileDataWriter {
 public:
  FileDataWriter(std::string path, bool sparse, int64_t size);
  ~FileDataWriter();
  FileDataWriter(const FileDataWriter&) = delete;
  FileDataWriter& operator=(const FileDataWriter&) = delete;

  int Error() const { return error_; }  // of the create
  int Write(const uint8_t* data, size_t length, uint64_t offset);  // 0 or errno
  int Finish();                                                    // closes; 0 or errno
  void Abandon();                                                  // closes and removes

 private:
  int WriteAll(const uint8_t* data, size_t length, uint64_t offset);

  std::string path_;
  bool sparse_;
  int descriptor_ = -1;
  int error_ = 0;
  uint64_t end_ = 0;
};
