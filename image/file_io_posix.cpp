#include "file_io.h"

std::FILE* OpenFileForReading(const std::string& path) { return std::fopen(path.c_str(), "rb"); }
std::FILE* OpenFileForWriting(const std::string& path) { return std::fopen(path.c_str(), "wb"); }
int SeekFile(std::FILE* file, int64_t offset, int origin) { return fseeko(file, offset, origin); }
int64_t TellFile(std::FILE* file) { return ftello(file); }
