// Folders made on demand and files next to the program.
#pragma once
#include <string>

// Creates the folder and every missing parent; a trailing backslash is ignored, a drive root
// ("E:") is never created, failures are ignored.
void CreateDirectoryPath(std::string path);

// fileName in the program's own folder; for "quillon.exe" (any case) the program's own path.
std::string ModuleFilePath(const std::string& fileName);
