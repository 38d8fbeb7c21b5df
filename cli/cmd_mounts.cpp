// harvesta mounts [--json]: what harvesta has mounted where, from the runtime folders of the
// daemons that are still alive (the mount table knows the mount points but not the images).
#include <fmt/core.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "runtime_folder.h"

namespace {

struct MountRow {
  MountInfo Info;
  pid_t Pid = 0;
};

std::vector<MountRow> LiveMounts() {
  std::vector<MountRow> rows;
  for (const std::string& runtime : RuntimeFolders()) {
    const std::optional<MountInfo> info = ReadMountInfo(runtime);
    const std::optional<pid_t> pid = LiveDaemon(runtime);
    // A folder whose daemon is gone is a leftover the watcher is still removing.
    if (info && pid) rows.push_back({*info, *pid});
  }
  std::sort(rows.begin(), rows.end(),
            [](const MountRow& a, const MountRow& b) { return a.Info.MountPoint < b.Info.MountPoint; });
  return rows;
}

std::string PartitionText(const MountInfo& info) {
  return info.Partition == 0 ? "all" : std::to_string(info.Partition);
}

void PrintTable(const std::vector<MountRow>& rows) {
  if (rows.empty()) {
    fmt::print("nothing is mounted by harvesta\n");
    return;
  }
  std::vector<std::vector<std::string>> cells = {{"MOUNT POINT", "IMAGE", "PARTITION", "CONTENTS", "PID"}};
  for (const MountRow& row : rows)
    cells.push_back({row.Info.MountPoint, row.Info.Image, PartitionText(row.Info), row.Info.Contents,
                     std::to_string(row.Pid)});
  std::vector<size_t> widths(cells[0].size(), 0);
  for (const auto& line : cells)
    for (size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], line[i].size());
  for (const auto& line : cells) {
    std::string text;
    for (size_t i = 0; i < line.size(); ++i)
      text += i + 1 < line.size() ? fmt::format("{:<{}}  ", line[i], widths[i]) : line[i];
    fmt::print("{}\n", text);
  }
}

void PrintJson(const std::vector<MountRow>& rows) {
  nlohmann::json mounts = nlohmann::json::array();
  for (const MountRow& row : rows) {
    nlohmann::json partition = nullptr;
    if (row.Info.Partition != 0) partition = row.Info.Partition;
    mounts.push_back({{"mount_point", row.Info.MountPoint},
                      {"image", row.Info.Image},
                      {"partition", partition},
                      {"raw", row.Info.Partition == 0},
                      {"contents", row.Info.Contents},
                      {"pid", row.Pid}});
  }
  fmt::print("{}\n", nlohmann::json{{"mounts", mounts}}.dump(2, ' ', false, nlohmann::json::error_handler_t::replace));
}

}  // namespace

void AddMountsCommand(CLI::App& app) {
  auto json = std::make_shared<bool>(false);
  CLI::App* mounts = app.add_subcommand("mounts", "List what harvesta mount has mounted");
  mounts->add_flag("--json", *json, "Print {\"mounts\": [...]} instead of a table");
  mounts->callback([json] {
    // The records lie in /run/harvesta, closed to everyone but root.
    if (geteuid() != 0) throw CommandError("listing harvesta's mounts needs root: run it with sudo");
    const std::vector<MountRow> rows = LiveMounts();
    *json ? PrintJson(rows) : PrintTable(rows);
  });
}
