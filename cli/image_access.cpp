#include "image_access.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <fstream>
#include <iostream>

#include "commands.h"
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

std::string PromptWithoutEcho(const std::string& prompt) {
  if (!isatty(STDIN_FILENO))
    throw CommandError("the image is password-protected: give --password-file or HARVESTA_PASSWORD");
  std::cerr << prompt << std::flush;
  std::string line;
  {
    EchoOff quiet;
    std::getline(std::cin, line);
  }
  std::cerr << '\n';
  return line;
}

}  // namespace

FolderListing LoadListing(const std::string& imagePath) {
  FolderListing listing = LoadImageFolder(imagePath, ScanRule::ImagesAnyCase);
  if (!listing.Message.empty()) {
    std::string message = listing.Message;
    if (!listing.ChosenFileError.empty()) message += ": " + listing.ChosenFileError;
    throw CommandError(message);
  }
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

std::string PasswordSource::Text(const CImageFile& image) const {
  if (!options_.PasswordFile.empty()) {
    std::ifstream file(options_.PasswordFile, std::ios::binary);
    if (!file) throw CommandError("cannot read the password file " + options_.PasswordFile);
    std::string line;
    std::getline(file, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
  if (const char* fromEnvironment = std::getenv("HARVESTA_PASSWORD")) return fromEnvironment;
  return PromptWithoutEcho("Password for " + image.FilePath + ": ");
}

void UnlockImage(const PartitionRow& row, const PasswordSource& passwords) {
  // The list's link to the image it owns: the one the password is stored on.
  CImageFile* image = row.Partition->Image;
  if (!image || image != row.Image) throw CommandError("the partition's image is not loaded");
  if (!image->PasswordFlag || !image->Password.empty()) return;
  std::string text = passwords.Text(*image);
  const PasswordEntry entry = AcceptPassword(*image, text);
  WipeText(text);
  if (entry == PasswordEntry::NotWindows1252)
    throw CommandError("the password holds characters the image's code page (Windows-1252) cannot hold");
  if (entry == PasswordEntry::Wrong) throw CommandError("wrong password for " + image->FilePath);
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
