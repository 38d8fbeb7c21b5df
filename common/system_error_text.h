// The system's own wording of a Windows error code, on one line, for messages to the user.
#pragma once
#include <cstdint>
#include <string>

// Empty when the system has no message for the code.
std::string SystemErrorText(uint32_t errorCode);
