// What the command's --help lists, read back from its text: the names a message, the manual
// page and the completion must all cover.
#pragma once
#include <sstream>
#include <string>
#include <vector>

// The first word of each line of the section that starts with `heading` ("Subcommands:").
inline std::vector<std::string> HelpSection(const std::string& help, const std::string& heading) {
  std::vector<std::string> names;
  std::istringstream lines(help);
  bool inside = false;
  for (std::string line; std::getline(lines, line);) {
    if (line == heading) inside = true;
    else if (inside && line.empty()) break;
    else if (inside && line.size() > 2 && line[2] != ' ') names.push_back(line.substr(2, line.find(' ', 2) - 2));
  }
  return names;
}

// The long options of a subcommand's --help (each "-x,--name" entry's "--name"), --help left out.
inline std::vector<std::string> LongOptions(const std::string& help) {
  std::vector<std::string> options;
  for (const std::string& entry : HelpSection(help, "Options:"))
    for (size_t at = entry.find("--"); at != std::string::npos; at = entry.find("--", at + 2)) {
      std::string name = entry.substr(at, entry.find_first_of(",:", at) - at);
      if (name != "--help") options.push_back(name);
    }
  return options;
}
