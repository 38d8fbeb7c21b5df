// Each subcommand of the harvesta command registers itself on the application. A command
// that fails throws CommandError; main prints its one line on stderr and exits with its status
// (exit_status.h), and with kExitFailure for any other exception and for a text the image reader
// throws.
#pragma once
#include <CLI/CLI.hpp>
#include <stdexcept>
#include <string>

#include "exit_status.h"

struct CommandError : std::runtime_error {
  explicit CommandError(const std::string& message, int status = kExitFailure)
      : std::runtime_error(message), Status(status) {}
  int Status;
};

void AddListCommand(CLI::App& app);
void AddMakeImageCommand(CLI::App& app);
void AddMountCommand(CLI::App& app);
void AddUnmountCommand(CLI::App& app);
void AddMountsCommand(CLI::App& app);
void AddExportCommand(CLI::App& app);
void AddVerifyCommand(CLI::App& app);
void AddRestoreCommand(CLI::App& app);
