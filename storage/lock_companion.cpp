#include "storage/lock_companion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kura {
namespace {

constexpr const char* kCompanionFolder = "/tmp/.kura-locks";
constexpr mode_t kFolderMode = 01777;
constexpr mode_t kCompanionMode = 0666;

// The shared folder, made on first use; false when it is missing and cannot be made, or is
// not a plain folder (a link planted in its place is not followed).
bool FolderReady() {
  if (mkdir(kCompanionFolder, kFolderMode) == 0) {
    chmod(kCompanionFolder, kFolderMode);  // past the umask: every user makes companions
  } else if (errno != EEXIST) {
    return false;
  }
  struct stat info;
  return lstat(kCompanionFolder, &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::string TLockCompanion::PathFor(dev_t device, ino_t inode) {
  char name[64];
  std::snprintf(name, sizeof name, "/%llx-%llx.lock", static_cast<unsigned long long>(device),
                static_cast<unsigned long long>(inode));
  return std::string(kCompanionFolder) + name;
}

bool TLockCompanion::Open(int fileDescriptor) {
  Close();
  struct stat file;
  if (fstat(fileDescriptor, &file) != 0 || !FolderReady()) return false;
  const std::string path = PathFor(file.st_dev, file.st_ino);
  const int flags = O_RDWR | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW;
  int fd = open(path.c_str(), flags | O_CREAT | O_EXCL, kCompanionMode);
  if (fd >= 0) {
    fchmod(fd, kCompanionMode);  // past the umask: every user may lock it
  } else if (errno == EEXIST) {
    fd = open(path.c_str(), flags);
  }
  if (fd < 0) return false;
  struct stat companion;
  if (fstat(fd, &companion) != 0 || !S_ISREG(companion.st_mode)) {
    close(fd);
    return false;
  }
  FDescriptor = fd;
  return true;
}

void TLockCompanion::Close() {
  if (FDescriptor >= 0) close(FDescriptor);
  FDescriptor = -1;
}

bool TLockCompanion::Lock(short type, std::int64_t start, std::int64_t length) {
  if (FDescriptor < 0) return true;
  struct flock request {};
  request.l_type = type;
  request.l_whence = SEEK_SET;
  request.l_start = start;
  request.l_len = length;
  request.l_pid = 0;
  return fcntl(FDescriptor, F_OFD_SETLK, &request) == 0;
}

bool TLockCompanion::Unlock(std::int64_t start, std::int64_t length) {
  return Lock(F_UNLCK, start, length);
}

}  // namespace kura
