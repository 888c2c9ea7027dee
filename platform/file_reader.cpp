#include "platform/file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace linemint::platform {

namespace {

constexpr std::size_t kReadCall = std::size_t{1} << 30;

std::size_t regularFileSize(int fd) noexcept {
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return 0;
  return static_cast<std::size_t>(st.st_size);
}

}  // namespace

FileReader::~FileReader() {
  if (fd_ >= 0 && !standardInput_) ::close(fd_);
}

IoError FileReader::open(const std::string& path) noexcept {
  try {
    path_ = path;
  } catch (...) {
    return {ENOMEM, path};
  }
  if (path.empty()) return {ENOENT, path};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {errno, path};
  struct stat st{};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return {EISDIR, path};
  }
  fd_ = fd;
  standardInput_ = false;
  sizeHint_ = regularFileSize(fd);
  return {0, path};
}

void FileReader::openStandardInput() noexcept {
  fd_ = STDIN_FILENO;
  standardInput_ = true;
  sizeHint_ = regularFileSize(fd_);
  path_ = "-";
}

IoError FileReader::read(uint8_t* buffer, std::size_t n, std::size_t* got) noexcept {
  *got = 0;
  if (fd_ < 0) return {EBADF, path_};
  while (*got < n) {
    std::size_t want = n - *got;
    if (want > kReadCall) want = kReadCall;
    const ssize_t r = ::read(fd_, buffer + *got, want);
    if (r < 0) {
      if (errno == EINTR) continue;
      return {errno, path_};
    }
    if (r == 0) break;
    *got += static_cast<std::size_t>(r);
  }
  return {0, path_};
}

}  // namespace linemint::platform
