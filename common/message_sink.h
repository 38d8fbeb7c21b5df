// Messages for the user from code below the dialogs. The program routes them to its message box
// captioned "Harvesta"; tests record them. Until a sink is set nothing is shown.
#pragma once
#include <string>

using MessageSink = void (*)(const std::string& text);

// Set once at start-up, before any code that may show a message runs.
void SetMessageSink(MessageSink sink);
void ShowMessage(const std::string& text);
