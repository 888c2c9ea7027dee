#include "platform/file_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace linemint::platform {

namespace {

constexpr std::size_t kWriteChunk = std::size_t{1} << 30;

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Follows symbolic links from path to the name that is not a link (it may not
// exist yet: writing through a dangling link creates its target).
IoError resolveLinks(const std::string& path, std::string& target) {
  target = path;
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st{};
    if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return {0, path};
    char buf[PATH_MAX];
    const ssize_t len = readlink(target.c_str(), buf, sizeof buf);
    if (len < 0) return {errno, path};
    std::string next(buf, static_cast<std::size_t>(len));
    if (next.empty() || next[0] != '/') next = folderOf(target) + "/" + next;
    target = next;
  }
  return {ELOOP, path};
}

mode_t defaultCreationMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

FileWriter::~FileWriter() { abandon(); }

IoError FileWriter::open(const std::string& path) noexcept {
  try {
    path_ = path;
    error_ = {0, path};
    if (path.empty()) return {ENOENT, path};
    if (IoError e = resolveLinks(path, target_); e.failed()) return e;

    struct stat st{};
    existed_ = ::stat(target_.c_str(), &st) == 0;
    if (existed_ && S_ISDIR(st.st_mode)) return {EISDIR, path};
    if (existed_ && !S_ISREG(st.st_mode)) {
      // Devices, FIFOs and sockets: written in place, there is nothing to rename.
      fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd_ < 0) return {errno, path};
      kind_ = Kind::inPlace;
      return error_;
    }
    mode_ = existed_ ? (st.st_mode & 07777) : defaultCreationMode();
    uid_ = st.st_uid;
    gid_ = st.st_gid;
    folder_ = folderOf(target_);
    const std::size_t slash = target_.rfind('/');
    const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    temporary_ = folder_ + "/." + name + ".XXXXXX";
    fd_ = ::mkostemp(temporary_.data(), O_CLOEXEC);
    if (fd_ < 0) return {errno, path};
    kind_ = Kind::replace;
    return error_;
  } catch (...) {
    return {ENOMEM, path};
  }
}

void FileWriter::openStandardOutput() noexcept {
  kind_ = Kind::standardOutput;
  fd_ = STDOUT_FILENO;
  path_ = "-";
  error_ = {0, "-"};
}

IoError FileWriter::append(const uint8_t* data, std::size_t n) noexcept {
  if (kind_ == Kind::closed) return {EBADF, path_};
  while (n > 0 && !error_.failed()) {
    const std::size_t chunk = n > kWriteChunk ? kWriteChunk : n;
    const ssize_t put = ::write(fd_, data, chunk);
    if (put < 0) {
      if (errno == EINTR) continue;
      error_.code = errno;
    } else if (put == 0) {
      error_.code = EIO;
    } else {
      data += put;
      n -= static_cast<std::size_t>(put);
    }
  }
  return error_;
}

IoError FileWriter::commit(bool syncToDisk) noexcept {
  if (kind_ == Kind::closed) return {EBADF, path_};
  IoError r = error_;
  const Kind kind = kind_;
  kind_ = Kind::closed;
  if (kind == Kind::standardOutput) return r;
  if (kind == Kind::replace && !r.failed()) {
    if (::fchmod(fd_, mode_) != 0) r.code = errno;
    if (existed_ && (uid_ != ::geteuid() || gid_ != ::getegid())) {
      // Best effort, as cp -p does: an unprivileged writer keeps its own owner.
      (void)!::fchown(fd_, uid_, gid_);
    }
    if (!r.failed() && syncToDisk && ::fsync(fd_) != 0) r.code = errno;
  }
  if (::close(fd_) != 0 && !r.failed()) r.code = errno;
  fd_ = -1;
  if (kind == Kind::inPlace) return r;
  if (!r.failed() && ::rename(temporary_.c_str(), target_.c_str()) != 0) r.code = errno;
  if (r.failed()) {
    ::unlink(temporary_.c_str());
    return r;
  }
  if (syncToDisk) {
    const int dfd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
      (void)::fsync(dfd);
      ::close(dfd);
    }
  }
  return r;
}

void FileWriter::abandon() noexcept {
  const Kind kind = kind_;
  kind_ = Kind::closed;
  if (kind == Kind::closed || kind == Kind::standardOutput) return;
  ::close(fd_);
  fd_ = -1;
  if (kind == Kind::replace) ::unlink(temporary_.c_str());
}

}  // namespace linemint::platform
