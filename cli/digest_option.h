// --hash of export and verify: "md5", "sha256" or both ("md5,sha256", in either order).
#pragma once
#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "content_digests.h"

void AddDigestOption(CLI::App& command, DigestRequest& request);
// One line per digest, "<prefix>md5: <hex>".
std::string DigestLines(const std::string& prefix, const std::vector<NamedDigest>& digests);
