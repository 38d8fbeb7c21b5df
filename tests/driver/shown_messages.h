// What the mount code showed the user: the tests' message sink records instead of showing.
#pragma once
#include <string>
#include <vector>

void RecordShownMessage(const std::string& text);
// The messages since the last call, oldest first.
std::vector<std::string> TakeShownMessages();
