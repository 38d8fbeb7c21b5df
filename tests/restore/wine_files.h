// Files and folders of a test in Wine's own temporary folder (on its C: drive).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// A new, empty folder below the temporary folder, removed with everything in it at the end.
class TestFolder {
 public:
  explicit TestFolder(const std::string& name);
  ~TestFolder();
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;
  // The folder with a trailing backslash.
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// folder ends in a backslash.
void RemoveTree(const std::string& folder);

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// Empty when the file does not open.
std::vector<uint8_t> ReadBytes(const std::string& path);
bool PathExists(const std::string& path);
// The path an environment variable holds (a build path such as "Z:/work/x"), with backslashes;
// empty when it is not set.
std::string PathFromEnvironment(const char* name);
// The running test program's full path.
std::string ThisProgramPath();
