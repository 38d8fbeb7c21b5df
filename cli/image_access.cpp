#include "image_access.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <fstream>
#include <iostream>

#include "commands.h"
#include "listing_failure.h"
#include "mount_record_build.h"
#include "mount_request.h"
#include "password.h"

namespace {

// The terminal's settings from before the prompt turned echo off. A signal that ends the
// process while the password is typed must not leave the user's shell without echo.
termios savedTerminal{};
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void RestoreTerminalAndDie(int signal) {
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
  struct sigaction fallback{};
  fallback.sa_handler = SIG_DFL;
  sigaction(signal, &fallback, nullptr);
  raise(signal);  // delivered, with its default effect, when this handler returns
}

class EchoOff {
 public:
  EchoOff() {
    tcgetattr(STDIN_FILENO, &savedTerminal);
    struct sigaction action{};
    action.sa_handler = RestoreTerminalAndDie;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kEndingSignals); ++i) sigaction(kEndingSignals[i], &action, &previous_[i]);
    termios quiet = savedTerminal;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  ~EchoOff() {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    for (size_t i = 0; i < std::size(kEndingSignals); ++i) sigaction(kEndingSignals[i], &previous_[i], nullptr);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  struct sigaction previous_[std::size(kEndingSignals)]{};
};

int promptTries = 3;

std::string PromptWithoutEcho(const std::string& prompt) {
  std::cerr << prompt << std::flush;
  std::string line;
  bool entered = false;
  {
    EchoOff quiet;
    entered = static_cast<bool>(std::getline(std::cin, line));
  }
  std::cerr << '\n';
  if (!entered) throw CommandError("no password entered");  // Ctrl-D: asking again would see the same end
  return line;
}

std::string WithoutLineEnd(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string FirstLineOfStandardInput(const CImageFile& image) {
  std::string line;
  if (!std::getline(std::cin, line) && line.empty())
    throw CommandError("'" + image.FilePath +
                       "' is password-protected and standard input holds no password: give it there,"
                       " in --password-file FILE or in HARVESTA_PASSWORD");
  return WithoutLineEnd(std::move(line));
}

// A folder or a file the user may not read is named as such, never taken for an empty password.
std::string FirstLineOfFile(const std::string& path) {
  const std::string name = "the password file '" + path + "'";
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw CommandError("cannot read " + name + ": " + std::strerror(errno));
  struct stat info{};
  const bool folder = fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
  close(fd);
  if (folder) throw CommandError(name + " is a folder");
  std::ifstream file(path, std::ios::binary);
  if (!file) throw CommandError("cannot read " + name);
  std::string line;
  std::getline(file, line);
  if (file.bad()) throw CommandError("cannot read " + name);
  return WithoutLineEnd(std::move(line));
}

}  // namespace

void AddPasswordTriesOptions(CLI::App& app) {
  for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; }))
    if (CLI::Option* file = command->get_option_no_throw("--password-file")) {
      file->description("Read the password from the file's first line, - from standard input (else "
                        "HARVESTA_PASSWORD, a prompt on a terminal, or standard input's first line)");
      command->add_option("--tries", promptTries, "Attempts a password prompt allows")
          ->capture_default_str()->check(CLI::Range(1, 100));
    }
}

FolderListing LoadListing(const std::string& imagePath) {
  FolderListing listing = LoadImageFolder(imagePath, ScanRule::ImagesAnyCase);
  if (!listing.Message.empty()) throw ListingFailure(listing, imagePath);
  return listing;
}

FolderListing LoadListingEvenIncomplete(const std::string& imagePath, std::vector<LackingSetFile>* lacking) {
  FolderListing listing = LoadImageFolder(imagePath, ScanRule::ImagesAnyCase);
  if (listing.Message.empty()) return listing;
  *lacking = LackingSetFiles(listing, imagePath);
  ImageId id{};
  uint16_t backupNumber = 0;
  if (lacking->empty() || !FindChosenBackup(listing, imagePath, id, backupNumber))
    throw ListingFailure(listing, imagePath);
  AddBackupRows(listing, id, backupNumber, true);
  listing.Message.clear();
  return listing;
}

const PartitionRow& ChoosePartition(const FolderListing& listing, int number) {
  if (number < 1 || size_t(number) > listing.Rows.size())
    throw CommandError("no partition " + std::to_string(number) + ": the backup has " +
                       std::to_string(listing.Rows.size()) + " (see harvesta list)");
  return listing.Rows[size_t(number) - 1];
}

const ImageSet& SetOf(const FolderListing& listing, const CImageFile& image) {
  const ImageSet* set = FindSet(listing.Sets, image.Id);
  if (!set) throw CommandError("the image's backup set is not loaded");
  return *set;
}

// Taken out of the environment even when a password file wins over it: no process this one
// starts (the mount daemon) is to inherit it.
PasswordSource::PasswordSource(PasswordOptions options) : options_(std::move(options)) {
  char* fromEnvironment = std::getenv("HARVESTA_PASSWORD");
  if (!fromEnvironment) return;
  fromEnvironment_ = fromEnvironment;
  inEnvironment_ = true;
  // unsetenv only unlinks the entry: its bytes would stay in /proc/PID/environ of this process
  // and of the daemon it forks, readable there for as long as they run.
  char* entry = fromEnvironment - std::strlen("HARVESTA_PASSWORD=");
  const size_t length = std::strlen(entry);
  unsetenv("HARVESTA_PASSWORD");
  explicit_bzero(entry, length);
}

PasswordSource::~PasswordSource() { WipeText(fromEnvironment_); }

std::string PasswordSource::Text(const CImageFile& image) const {
  if (options_.PasswordFile == "-") return FirstLineOfStandardInput(image);
  if (!options_.PasswordFile.empty()) return FirstLineOfFile(options_.PasswordFile);
  if (inEnvironment_) return fromEnvironment_;
  if (!isatty(STDIN_FILENO)) return FirstLineOfStandardInput(image);
  return PromptWithoutEcho("Password for " + image.FilePath + ": ");
}

int PasswordSource::Attempts() const {
  const bool prompted = options_.PasswordFile.empty() && !inEnvironment_ && isatty(STDIN_FILENO);
  return prompted ? promptTries : 1;
}

void UnlockImage(const PartitionRow& row, const PasswordSource& passwords) {
  // The list's link to the image it owns: the one the password is stored on.
  CImageFile* image = row.Partition->Image;
  if (!image || image != row.Image) throw CommandError("the partition's image is not loaded");
  if (!image->PasswordFlag || !image->Password.empty()) return;
  const int attempts = passwords.Attempts();
  for (int attempt = 1;; ++attempt) {
    std::string text = passwords.Text(*image);
    const PasswordEntry entry = AcceptPassword(*image, text);
    WipeText(text);
    if (entry == PasswordEntry::Accepted) return;
    const std::string why = entry == PasswordEntry::NotWindows1252
                                ? "the password holds characters the image's code page (Windows-1252) cannot hold"
                                : "wrong password for " + image->FilePath;
    if (attempt >= attempts) throw CommandError(why, kExitWrongPassword);
    std::cerr << "harvesta: " << why << '\n';
  }
}

std::vector<uint8_t> MountRecordFor(const FolderListing& listing, const PartitionRow& row) {
  const CImageFile& image = *row.Image;
  MountValues values = MakeMountValues(SetOf(listing, image), image, *row.Partition);
  std::string error;
  std::optional<std::vector<uint8_t>> record = BuildMountRecord(values, &error);
  explicit_bzero(values.Key.Key.data(), values.Key.Key.size());  // the record holds the key now
  if (!record) throw CommandError(error);
  return std::move(*record);
}

std::vector<uint8_t> MountRecordFor(const FolderListing& listing, const PartitionRow& row,
                                    const PasswordSource& passwords) {
  UnlockImage(row, passwords);
  return MountRecordFor(listing, row);
}
