#include "listing_failure.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "image_file.h"

namespace {
std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// A file that ends in the image trailer's magic is an image file, whatever else is wrong with it.
bool EndsInImageTrailer(int fd) {
  struct stat info{};
  if (fstat(fd, &info) != 0 || info.st_size < off_t(kTrailerSize)) return false;
  char magic[sizeof kImageMagic];
  const off_t at = info.st_size - off_t(kTrailerSize) + off_t(kTrailerMagicAt);
  return pread(fd, magic, sizeof magic, at) == ssize_t(sizeof magic) &&
         std::memcmp(magic, kImageMagic, sizeof magic) == 0;
}

CommandError FileFailure(const std::string& path, const std::string& readerError) {
  struct stat info{};
  if (stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return CommandError(Quoted(path) + " does not exist");
    return CommandError("cannot read " + Quoted(path) + ": " + std::strerror(errno));
  }
  if (S_ISDIR(info.st_mode)) return CommandError(Quoted(path) + " is a folder, not an image file");
  if (!S_ISREG(info.st_mode)) return CommandError(Quoted(path) + " is not a regular file");
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return CommandError("cannot read " + Quoted(path) + ": " + std::strerror(errno));
  const bool imageFile = EndsInImageTrailer(fd);
  close(fd);
  if (!imageFile) return CommandError(Quoted(path) + " is not an image file");
  if (!IsImageFileName(path, ScanRule::ImagesAnyCase))
    return CommandError(Quoted(path) +
                        " is not a recognised image file: image file names end in .qvimg or .qvbak");
  if (readerError == kMoreRecentVersion) return CommandError(Quoted(path) + ": " + readerError);
  // The archive's own texts name the read that failed, which tells a user nothing.
  const bool namedProblem = readerError == kInvalidFile || readerError == kFileError;
  return CommandError(Quoted(path) + " is damaged: " + (namedProblem ? readerError : "its catalogue cannot be read"),
                      kExitDamagedImage);
}
}  // namespace

CommandError LackingFilesFailure(const std::string& imagePath, const std::vector<LackingSetFile>& lacking) {
  std::string message = "the backup of " + Quoted(imagePath) + " lacks " +
                        (lacking.size() == 1 ? "a file: " : "files: ");
  bool damaged = false;
  for (size_t i = 0; i < lacking.size(); ++i) {
    message += (i ? "; " : "") + lacking[i].Text();
    damaged |= lacking[i].Reason == LackingSetFile::Why::Truncated ||
               lacking[i].Reason == LackingSetFile::Why::NotAnImage;
  }
  return CommandError(message, damaged ? kExitDamagedImage : kExitFailure);
}

CommandError ListingFailure(const FolderListing& listing, const std::string& imagePath) {
  std::vector<LackingSetFile> lacking = LackingSetFiles(listing, imagePath);
  if (!lacking.empty()) return LackingFilesFailure(imagePath, lacking);
  ImageId id{};
  uint16_t backupNumber = 0;
  if (FindChosenBackup(listing, imagePath, id, backupNumber)) {
    for (const auto& catalogue : FindSet(listing.Sets, id)->CatalogueFiles)
      if (catalogue->BackupNumber == backupNumber)
        return CommandError("the backup of " + Quoted(imagePath) + " holds no partitions");
    return CommandError("the backup of " + Quoted(imagePath) +
                        " lacks its catalogue: the set's last file is missing or damaged");
  }
  // The chosen file may be one its set's catalogue names but that is cut short or damaged.
  if (const CImageFile* catalogue = CatalogueLacking(listing, imagePath)) {
    lacking = LackingSetFiles(listing, catalogue->FilePath);
    if (!lacking.empty()) return LackingFilesFailure(imagePath, lacking);
  }
  return FileFailure(imagePath, listing.ChosenFileError);
}
