#define FUSE_USE_VERSION 312
#include "fuse_disk.h"

#include <fuse3/fuse.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "mount_error.h"
#include "fuse_readahead.h"
#include "mount_table.h"
#include "mounted_disk.h"

namespace {

constexpr uint32_t kReadaheadKib = 4096;
constexpr uint32_t kMaxRequest = 512u << 10;

FuseDisk& Self() { return *static_cast<FuseDisk*>(fuse_get_context()->private_data); }

const DiskFile* Find(const char* path) {
  if (path[0] != '/') return nullptr;
  for (const DiskFile& file : Self().Files())
    if (file.Name == path + 1) return &file;
  return nullptr;
}

void* Init(fuse_conn_info* connection, fuse_config* config) {
  // The bytes never change: keep them in the page cache across opens.
  config->kernel_cache = 1;
  config->entry_timeout = config->attr_timeout = 3600;
  // The kernel takes the smaller of this and the window set at mount.
  connection->max_readahead = kReadaheadKib << 10;
  // Readahead runs as background requests: let more of them be in flight than the default 12.
  connection->max_background = 64;
  connection->congestion_threshold = 48;
  // Bytes stored verbatim go from the image file's pages to the kernel without a copy here.
  // A splice needs the whole reply in one pipe, which grows to 1 MiB at most (pipe-max-size):
  // requests of half that leave room for the reply's header.
  connection->want |= connection->capable & FUSE_CAP_SPLICE_WRITE;
  connection->max_read = kMaxRequest;
  return fuse_get_context()->private_data;
}

int GetAttr(const char* path, struct stat* attributes, fuse_file_info*) {
  std::memset(attributes, 0, sizeof(*attributes));
  const FileOwnership& owner = Self().Ownership();
  attributes->st_uid = owner.Uid.value_or(0);
  attributes->st_gid = owner.Gid.value_or(0);
  if (std::strcmp(path, "/") == 0) {
    attributes->st_mode = S_IFDIR | owner.DirMode(0555);
    attributes->st_nlink = 2;
    return 0;
  }
  const DiskFile* file = Find(path);
  if (!file) return -ENOENT;
  attributes->st_mode = S_IFREG | owner.FileMode(0444);
  attributes->st_nlink = 1;
  attributes->st_size = off_t(file->Disk->Size());
  attributes->st_blksize = 4096;
  attributes->st_blocks = attributes->st_size / 512;
  return 0;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
  if (std::strcmp(path, "/") != 0) return -ENOENT;
  fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags(0));
  fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags(0));
  for (const DiskFile& file : Self().Files())
    fill(buffer, file.Name.c_str(), nullptr, 0, fuse_fill_dir_flags(0));
  return 0;
}

int Open(const char* path, fuse_file_info* info) {
  if (!Find(path)) return -ENOENT;
  if ((info->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  info->keep_cache = 1;
  return 0;
}

fuse_bufvec* NewBuffer(size_t size) {
  auto* buffer = static_cast<fuse_bufvec*>(std::malloc(sizeof(fuse_bufvec)));
  if (buffer) *buffer = FUSE_BUFVEC_INIT(size);
  return buffer;
}

// The reply names the image file's bytes when the request lies in one piece there; libfuse
// then splices them. Anything else is read into memory, and a damaged block is an I/O error,
// never garbage.
int ReadBuffer(const char* path, fuse_bufvec** reply, size_t size, off_t offset, fuse_file_info*) {
  const DiskFile* file = Find(path);
  if (!file) return -ENOENT;
  if (offset < 0) return -EINVAL;
  const uint64_t end = file->Disk->Size();
  size_t length = uint64_t(offset) >= end ? 0 : size;
  if (length > end - uint64_t(offset)) length = size_t(end - uint64_t(offset));
  fuse_bufvec* buffer = NewBuffer(length);
  if (!buffer) return -ENOMEM;
  StoredExtent extent;
  if (length > 0 && file->Disk->Extent(uint64_t(offset), uint32_t(length), &extent) == kReadOk &&
      extent.File >= 0 && extent.Length == length) {
    buffer->buf[0].flags = fuse_buf_flags(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
    buffer->buf[0].fd = extent.File;
    buffer->buf[0].pos = off_t(extent.Offset);
  } else if (length > 0) {
    auto* bytes = static_cast<uint8_t*>(std::malloc(length));
    int error = !bytes ? -ENOMEM
                : file->Disk->Read(uint64_t(offset), uint32_t(length), bytes) != kReadOk ? -EIO : 0;
    if (error != 0) {
      std::free(bytes);
      std::free(buffer);
      return error;
    }
    buffer->buf[0].mem = bytes;
  }
  *reply = buffer;
  return 0;
}

const fuse_operations kOperations = [] {
  fuse_operations operations{};
  operations.init = Init;
  operations.getattr = GetAttr;
  operations.readdir = ReadDir;
  operations.open = Open;
  operations.read_buf = ReadBuffer;
  return operations;
}();

// libfuse splits its option list at commas and takes a backslash as "the next one is plain".
std::string OptionValue(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == ',' || c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

}  // namespace

FuseDisk::FuseDisk(std::vector<DiskFile> files, const std::string& mountPoint, FuseDiskOptions options)
    : files_(std::move(files)), options_(std::move(options)) {
  // default_permissions: the kernel checks the modes above, which uid=, gid= and umask= set.
  std::string mountOptions = "ro,nosuid,nodev,noexec,auto_unmount,default_permissions,subtype=harvesta,fsname=" +
                             OptionValue(options_.FsName) + ",max_read=" + std::to_string(kMaxRequest);
  if (options_.AllowOther) mountOptions += ",allow_other";
  std::vector<const char*> argv = {"harvesta", "-o", mountOptions.c_str()};
  if (options_.Debug) argv.push_back("-d");
  fuse_args args = FUSE_ARGS_INIT(int(argv.size()), const_cast<char**>(argv.data()));
  // Resolved before mounting: afterwards a lookup of the mount point would wait for this daemon.
  std::error_code error;
  const std::string resolved = std::filesystem::canonical(mountPoint, error).string();
  fuse_ = fuse_new(&args, &kOperations, sizeof(kOperations), this);
  fuse_opt_free_args(&args);  // the arguments fuse_new added; it keeps copies of what it needs
  if (!fuse_) throw MountError("cannot set up FUSE");
  if (fuse_mount(fuse_, mountPoint.c_str()) != 0) {
    fuse_destroy(fuse_);
    fuse_ = nullptr;
    throw MountError("cannot mount FUSE at " + mountPoint + " (is /dev/fuse available?)");
  }
  mounted_ = true;
  if (!error)
    if (const std::optional<MountEntry> entry = MountAt(resolved)) device_ = entry->Device;
  // Sequential reads keep several 1 MiB requests in flight instead of one 128 KiB at a time.
  if (!error) SetFuseReadahead(resolved, kReadaheadKib);
}

FuseDisk::~FuseDisk() {
  if (!fuse_) return;
  if (mounted_) fuse_unmount(fuse_);
  fuse_destroy(fuse_);
}

void FuseDisk::Run() {
  fuse_loop_config* config = fuse_loop_cfg_create();
  fuse_loop_cfg_set_max_threads(config, 16);
  // Keep idle threads instead of ending and starting one per burst of readahead.
  fuse_loop_cfg_set_idle_threads(config, 16);
  fuse_loop_mt(fuse_, config);
  fuse_loop_cfg_destroy(config);
}

void FuseDisk::Stop() {
  fuse_exit(fuse_);
  if (mounted_) fuse_unmount(fuse_);  // wakes the threads waiting for requests
  mounted_ = false;
}

void FuseDisk::Abort(const std::string& scratch) {
  const size_t colon = device_.find(':');
  if (colon == std::string::npos) return;
  const std::string connection = device_.substr(colon + 1);
  auto abortUnder = [&](const std::string& controls) {
    std::ofstream abort(controls + "/" + connection + "/abort");
    abort << "1";
    abort.flush();
    return bool(abort);
  };
  if (abortUnder("/sys/fs/fuse/connections")) return;
  // Not mounted on this system: the control file system is one and the same wherever it is.
  if (mkdir(scratch.c_str(), 0700) != 0) return;
  if (mount("fusectl", scratch.c_str(), "fusectl", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) == 0) {
    abortUnder(scratch);
    umount2(scratch.c_str(), MNT_DETACH);
  }
  rmdir(scratch.c_str());
}
