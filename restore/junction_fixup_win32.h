// After a copy that left junctions out: the junctions and directory links of the virtual drive
// made again on the destination, with the source's attributes and security.
#pragma once
#include <cstdint>
#include <string>

// Walks the tree below pattern ("X:\*", the virtual drive X) and gives every directory reparse
// point a twin on destinationLetter's drive. A target on the virtual drive moves to the
// destination, where its folder is created; targets elsewhere are left to themselves. 1 when the
// pattern's folder was handled, 0 when it could not be listed.
int FixJunctionPoints(std::string pattern, char destinationLetter);

// Owner, group, DACL and SACL of source onto destination, each list keeping its protection. The
// Windows error of the security calls; 0 when either path does not exist.
uint32_t CopySecurity(const std::string& source, const std::string& destination);
