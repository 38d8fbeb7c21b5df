#include "digest_option.h"

#include <sstream>

void AddDigestOption(CLI::App& command, DigestRequest& request) {
  command
      .add_option_function<std::string>(
          "--hash",
          [&request](const std::string& names) {
            DigestRequest chosen;
            std::istringstream list(names);
            for (std::string name; std::getline(list, name, ',');) {
              if (name == "md5") chosen.Md5 = true;
              else if (name == "sha256") chosen.Sha256 = true;
              else throw CLI::ValidationError("--hash", "'" + name + "' is not md5 or sha256");
            }
            if (!chosen.Any())
              throw CLI::ValidationError("--hash", "names no digest (md5, sha256)");
            request = chosen;
          },
          "Print the partition's MD5 and/or SHA-256: md5, sha256 or md5,sha256")
      ->type_name("md5,sha256");
}

std::string DigestLines(const std::string& prefix, const std::vector<NamedDigest>& digests) {
  std::string lines;
  for (const NamedDigest& digest : digests)
    lines += prefix + digest.Name + ": " + digest.Hex + "\n";
  return lines;
}
