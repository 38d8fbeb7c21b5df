// harvesta: gets files back out of backup disk images on Linux.
#include <algorithm>
#include <iostream>
#include <numeric>

#include "commands.h"
#include "image_access.h"

namespace {
constexpr const char* kExitStatusFooter =
    "Exit status:\n"
    "  0    success\n"
    "  1    failure\n"
    "  2    bad usage (an unknown subcommand or option, a missing or invalid argument)\n"
    "  3    wrong password\n"
    "  4    damaged image (a digest mismatch, a truncated or unreadable file of the backup)\n"
    "  5    busy (the mount point is in use, or the file system still has open files)\n"
    "  6    nothing mounted (unmount of a folder no harvesta mount holds)\n"
    "  130  ended by Ctrl-C (SIGINT, SIGTERM or SIGHUP)\n"
    "\n"
    "harvesta help SUBCOMMAND, or harvesta SUBCOMMAND --help, describes one subcommand.";

std::vector<std::string> SubcommandNames(CLI::App& app) {
  std::vector<std::string> names;
  for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; }))
    names.push_back(command->get_name());
  return names;
}

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  std::iota(row.begin(), row.end(), size_t{0});
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// One line: what was given, the nearest name when one is near, and every subcommand there is.
std::string SubcommandRequired(const std::string& given, const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
  std::string message = given.empty() ? "a subcommand is required"
                                      : "unknown subcommand '" + given + "'";
  size_t nearest = 3;  // suggest names within two edits, all that are equally near
  for (const std::string& name : names) nearest = std::min(nearest, EditDistance(given, name));
  std::string suggestions;
  for (const std::string& name : names)
    if (!given.empty() && EditDistance(given, name) == nearest)
      suggestions += (suggestions.empty() ? "" : " or ") + ("'" + name + "'");
  if (!suggestions.empty()) message += " (did you mean " + suggestions + "?)";
  return message + "; the subcommands are " + list + " and help";
}

std::string ParsedCommandPath(CLI::App& app) {
  std::string path;
  for (CLI::App* command = &app; !command->get_subcommands().empty();) {
    command = command->get_subcommands().front();
    path += " " + command->get_name();
  }
  return path;
}
}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Harvesta: restore files from *.qvimg and *.qvbak backup images", "harvesta"};
  app.require_subcommand(1);
  AddListCommand(app);
  AddMakeImageCommand(app);
  AddMountCommand(app);
  AddUnmountCommand(app);
  AddMountsCommand(app);
  AddExportCommand(app);
  AddRestoreCommand(app);
  AddVerifyCommand(app);
  AddPasswordTriesOptions(app);
  app.set_version_flag("--version", "harvesta " HARVESTA_VERSION);
  app.footer(kExitStatusFooter);

  std::vector<std::string> arguments(argv + std::min(argc, 1), argv + argc);
  if (!arguments.empty() && arguments[0] == "help") {  // help [SUBCOMMAND]: that one's --help
    arguments.erase(arguments.begin());
    if (!arguments.empty() && arguments[0] == "help") arguments.erase(arguments.begin());
    arguments.resize(std::min<size_t>(arguments.size(), 1));
    arguments.push_back("--help");
  }
  const std::vector<std::string> names = SubcommandNames(app);
  if (arguments.empty() || (arguments[0][0] != '-' &&
                            std::find(names.begin(), names.end(), arguments[0]) == names.end())) {
    std::cerr << "harvesta: " << SubcommandRequired(arguments.empty() ? "" : arguments[0], names) << '\n';
    return kExitUsage;
  }
  std::reverse(arguments.begin(), arguments.end());  // the order CLI11 takes them in
  try {
    app.parse(arguments);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    const std::string command = ParsedCommandPath(app);
    std::cerr << "harvesta:" << command << (command.empty() ? " " : ": ") << e.what() << " (see harvesta"
              << command << " --help)\n";
    return kExitUsage;
  } catch (const CommandError& e) {
    std::cerr << "harvesta: " << e.what() << '\n';
    return e.Status;
  } catch (const std::exception& e) {
    std::cerr << "harvesta: " << e.what() << '\n';
    return kExitFailure;
  } catch (const char* message) {  // the image reader's and archive's texts
    std::cerr << "harvesta: " << message << '\n';
    return kExitFailure;
  }
  return kExitSuccess;
}
