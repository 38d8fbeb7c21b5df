#include "destination_checks.h"

namespace {

std::optional<CStdString> FirstOnVolume(RestoreVolumes& volumes,
                                        const std::vector<std::unique_ptr<CImageFile>>& files,
                                        const std::string& volume) {
  for (const auto& file : files)
    if (volumes.VolumeOfPath(file->FilePath) == volume) return file->FilePath;
  return std::nullopt;
}

}  // namespace

std::optional<CStdString> FileOfSetOnVolume(RestoreVolumes& volumes, const ImageSet& set,
                                            const std::string& root) {
  const std::optional<std::string> volume = volumes.VolumeOfPath(root);
  if (!volume) return std::nullopt;
  if (auto file = FirstOnVolume(volumes, set.CatalogueFiles, *volume)) return file;
  return FirstOnVolume(volumes, set.OtherFiles, *volume);
}

std::string FormatWouldDestroyBackupMessage(const std::string& driveName,
                                            const CStdString& backupFile) {
  return "Drive " + driveName + " cannot be formatted: it holds the backup being restored ('" +
         backupFile +
         "'), which formatting would destroy. Choose another destination, or copy without "
         "formatting.";
}
