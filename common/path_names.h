// Pieces of file paths. Both '\' and '/' separate folders: Windows accepts either, and the
// Linux command hands in '/' paths.
#pragma once
#include <string>

// Text up to and including the last separator; empty when there is none.
std::string PathFolder(const std::string& path);
// File name without folder and without the part from its last dot on.
std::string PathBaseName(const std::string& path);
