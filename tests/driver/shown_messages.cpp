#include "shown_messages.h"

#include <windows.h>

#include <utility>

namespace {

std::vector<std::string> shown;

}  // namespace

void RecordShownMessage(const std::string& text) {
  shown.push_back(text);
  // A real message box makes many system calls: the last error does not survive it.
  SetLastError(ERROR_SUCCESS);
}

std::vector<std::string> TakeShownMessages() { return std::exchange(shown, {}); }
