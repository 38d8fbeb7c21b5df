// Each subcommand of the harvesta command registers itself on the application.
#pragma once
#include <CLI/CLI.hpp>

void AddListCommand(CLI::App& app);
void AddMakeImageCommand(CLI::App& app);
