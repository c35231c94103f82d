#include "files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The most panelupctl ever reads: far more than an image.
constexpr size_t kMaxFileBytes = 64u << 20;

std::string Why(const std::string &what) {
  return what + ": " + std::strerror(errno);
}

bool WriteAll(int fd, const uint8_t *p, size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR)
      continue;
    if (w <= 0)
      return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// A new file at `temp` (a leftover one removed first; a link is removed, never followed).
bool WriteNew(const std::string &temp, const std::vector<uint8_t> &bytes, mode_t mode,
              std::string *error) {
  if (unlink(temp.c_str()) != 0 && errno != ENOENT) {
    *error = Why("cannot remove " + temp);
    return false;
  }
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) {
    *error = Why("cannot create " + temp);
    return false;
  }
  const bool ok =
      WriteAll(fd, bytes.data(), bytes.size()) && fchmod(fd, mode) == 0 && fsync(fd) == 0;
  const int saved = errno;
  if (close(fd) != 0 || !ok) {
    errno = ok ? errno : saved;
    *error = Why("cannot write " + temp);
    unlink(temp.c_str());
    return false;
  }
  return true;
}

void SyncFolder(const std::string &path) {
  const std::string dir = path.substr(0, path.find_last_of('/') + 1);
  const int fd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

bool RenameOver(const std::string &temp, const std::string &path, std::string *error) {
  if (IsFolder(path)) {
    unlink(temp.c_str());
    *error = path + " is a folder, not a file";
    return false;
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    *error = Why("cannot rename " + temp + " to " + path);
    unlink(temp.c_str());
    return false;
  }
  SyncFolder(path);
  return true;
}

// The file as the disk holds it: O_DIRECT where the file system has it, else the page cache
// dropped first.
bool ReadFromDisk(const std::string &path, std::vector<uint8_t> *bytes) {
  constexpr size_t kBlock = 1 << 16;
  int fd = open(path.c_str(), O_RDONLY | O_DIRECT | O_NOFOLLOW | O_CLOEXEC);
  const bool direct = fd >= 0;
  if (!direct) {
    fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
      return false;
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  }
  // O_DIRECT reads into a buffer aligned to the device's blocks.
  std::vector<uint8_t> storage(kBlock + 4096);
  void *buffer = storage.data();
  size_t space = storage.size();
  std::align(4096, kBlock, buffer, space);
  bytes->clear();
  bool ok = true;
  for (;;) {
    const ssize_t r = read(fd, buffer, kBlock);
    if (r < 0 && errno == EINTR)
      continue;
    if (r < 0 || bytes->size() + static_cast<size_t>(r) > kMaxFileBytes) {
      ok = false;
      break;
    }
    if (r == 0)
      break;
    const uint8_t *p = static_cast<const uint8_t *>(buffer);
    bytes->insert(bytes->end(), p, p + r);
  }
  close(fd);
  return ok;
}

} // namespace

bool IsFolder(const std::string &path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string &path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

bool ReadFile(const std::string &path, std::vector<uint8_t> *bytes, std::string *error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<uint64_t>(st.st_size) > kMaxFileBytes) {
    *error = fd < 0 ? Why("cannot read " + path) : path + " is not a file panelupctl reads";
    if (fd >= 0)
      close(fd);
    return false;
  }
  bytes->resize(static_cast<size_t>(st.st_size));
  size_t got = 0;
  while (got < bytes->size()) {
    const ssize_t r = read(fd, bytes->data() + got, bytes->size() - got);
    if (r < 0 && errno == EINTR)
      continue;
    if (r <= 0)
      break;
    got += static_cast<size_t>(r);
  }
  close(fd);
  if (got != bytes->size()) {
    *error = "cannot read " + path;
    return false;
  }
  return true;
}

bool WriteFileSafely(const std::string &path, const std::vector<uint8_t> &bytes, mode_t mode,
                     std::string *error) {
  if (IsFolder(path)) {
    *error = path + " is a folder, not a file";
    return false;
  }
  const std::string temp = path + ".new";
  return WriteNew(temp, bytes, mode, error) && RenameOver(temp, path, error);
}

bool StageFile(const std::vector<uint8_t> &bytes, const std::string &dir, const std::string &name,
               const std::string &temp, std::string *error) {
  const std::string target = dir + "/" + name;
  const std::string staging = dir + "/" + temp;
  if (IsFolder(target)) {
    *error = target + " is a folder, not the staged image";
    return false;
  }
  if (!WriteNew(staging, bytes, 0644, error))
    return false;
  std::vector<uint8_t> back;
  if (!ReadFromDisk(staging, &back) || back != bytes) {
    unlink(staging.c_str());
    *error = "the copy on the ESP does not read back from the disk as written (a failing ESP?)";
    return false;
  }
  return RenameOver(staging, target, error);
}
