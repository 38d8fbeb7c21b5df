#define FUSE_USE_VERSION 35
#include "fuse_disk.h"

#include <fuse3/fuse.h>

#include <cerrno>
#include <cstring>

#include "commands.h"
#include "mounted_disk.h"

namespace {

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
  connection->max_readahead = 1u << 20;
  return fuse_get_context()->private_data;
}

int GetAttr(const char* path, struct stat* attributes, fuse_file_info*) {
  std::memset(attributes, 0, sizeof(*attributes));
  if (std::strcmp(path, "/") == 0) {
    attributes->st_mode = S_IFDIR | 0555;
    attributes->st_nlink = 2;
    return 0;
  }
  const DiskFile* file = Find(path);
  if (!file) return -ENOENT;
  attributes->st_mode = S_IFREG | 0444;
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

int Read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info*) {
  const DiskFile* file = Find(path);
  if (!file) return -ENOENT;
  const uint64_t end = file->Disk->Size();
  if (offset < 0) return -EINVAL;
  if (uint64_t(offset) >= end) return 0;
  size_t length = size;
  if (length > end - uint64_t(offset)) length = size_t(end - uint64_t(offset));
  // A damaged block is an I/O error, never garbage.
  if (file->Disk->Read(uint64_t(offset), uint32_t(length), reinterpret_cast<uint8_t*>(buffer)) != kReadOk)
    return -EIO;
  return int(length);
}

const fuse_operations kOperations = [] {
  fuse_operations operations{};
  operations.init = Init;
  operations.getattr = GetAttr;
  operations.readdir = ReadDir;
  operations.open = Open;
  operations.read = Read;
  return operations;
}();

}  // namespace

FuseDisk::FuseDisk(std::vector<DiskFile> files, const std::string& mountPoint)
    : files_(std::move(files)) {
  const char* argv[] = {"harvesta", "-o", "ro,auto_unmount,fsname=harvesta,subtype=harvesta"};
  fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(argv));
  fuse_ = fuse_new(&args, &kOperations, sizeof(kOperations), this);
  if (!fuse_) throw CommandError("cannot set up FUSE");
  if (fuse_mount(fuse_, mountPoint.c_str()) != 0) {
    fuse_destroy(fuse_);
    fuse_ = nullptr;
    throw CommandError("cannot mount FUSE at " + mountPoint + " (is /dev/fuse available?)");
  }
  mounted_ = true;
}

FuseDisk::~FuseDisk() {
  if (!fuse_) return;
  if (mounted_) fuse_unmount(fuse_);
  fuse_destroy(fuse_);
}

void FuseDisk::Run() {
  fuse_loop_config* config = fuse_loop_cfg_create();
  fuse_loop_cfg_set_max_threads(config, 16);
  fuse_loop_mt(fuse_, config);
  fuse_loop_cfg_destroy(config);
}

void FuseDisk::Stop() {
  fuse_exit(fuse_);
  if (mounted_) fuse_unmount(fuse_);  // wakes the threads waiting for requests
  mounted_ = false;
}
