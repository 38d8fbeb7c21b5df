// Each subcommand of the harvesta command registers itself on the application. A command
// that fails throws CommandError; main prints its one line on stderr and exits with 1, as it
// does for any other exception and for a text the image reader throws.
#pragma once
#include <CLI/CLI.hpp>
#include <stdexcept>

struct CommandError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

void AddListCommand(CLI::App& app);
void AddMakeImageCommand(CLI::App& app);
void AddMountCommand(CLI::App& app);
void AddUnmountCommand(CLI::App& app);
void AddExportCommand(CLI::App& app);
void AddVerifyCommand(CLI::App& app);
