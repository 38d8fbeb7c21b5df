#include "completion_report.h"

#include "command_template.h"

std::string CommandLogPath(const std::string& command) {
  static constexpr std::string_view kLogOption = "/LOG:";
  const size_t option = command.find(kLogOption);
  if (option == std::string::npos) return {};
  const size_t start = option + kLogOption.size();
  if (start >= command.size()) return {};
  const size_t blank = command.find(' ', start + 1);
  return command.substr(start, blank == std::string::npos ? std::string::npos : blank - start);
}

std::optional<std::string> CompletionReport(int runResult, const RestoreStatus& status,
                                            const RestoreChoices& choices) {
  if (runResult == 0 || !status.ShowResult) return std::nullopt;
  if (status.Cancelled) return "Cancelled";
  if (!status.RobocopyRan) return "Complete";
  const std::string command =
      SubstituteCommandTemplate(choices.CommandTemplate, status.VirtualLetter, choices.Destination);
  const std::string log = CommandLogPath(command);
  if (log.empty()) return "Finished";
  return "Please see '" + log + "' for details";
}
