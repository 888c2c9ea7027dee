#include "app/input_loader.h"

#include <cerrno>
#include <cstring>

namespace linemint {

namespace {
constexpr char kOutputPrefix[] = "去重复_";
}

std::string outputPathFor(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return kOutputPrefix + path;
  std::string out;
  out.reserve(path.size() + sizeof kOutputPrefix);
  out.append(path, 0, slash + 1);
  out.append(kOutputPrefix);
  out.append(path, slash + 1, std::string::npos);
  return out;
}

bool countsAsEmpty(std::size_t n, LineEnd lineEnd) noexcept {
  return n == 0 || (lineEnd == LineEnd::crlf && n < 2);
}

bool appendMissingLineEnd(platform::BigBuffer& bytes, LineEnd lineEnd) noexcept {
  const std::size_t n = bytes.size();
  const uint8_t* end = lineEndBytes(lineEnd);
  const std::size_t m = lineEndLength(lineEnd);
  if (n == 0) return true;
  if (n >= m && std::memcmp(bytes.data() + n - m, end, m) == 0) return true;
  return bytes.append(end, m);
}

bool normaliseLineEnds(platform::BigBuffer& bytes, LineEnd lineEnd) noexcept {
  if (countsAsEmpty(bytes.size(), lineEnd)) {
    bytes.resize(0);
    return true;
  }
  return appendMissingLineEnd(bytes, lineEnd);
}

platform::IoError loadInput(const std::string& path, LineEnd lineEnd, platform::BigBuffer& inputBytes,
                            std::string& outputPath, LabelSink* labels) {
  // Two spare bytes, so that appending the line end never moves the buffer.
  platform::IoError err = path == "-" ? platform::readStandardInput(inputBytes, 2)
                                      : platform::readWholeFile(path, inputBytes, 2);
  if (err.failed()) inputBytes.reset();
  if (!err.failed() && !normaliseLineEnds(inputBytes, lineEnd)) {
    inputBytes.reset();
    err = {ENOMEM, path};
  }
  if (labels != nullptr) labels->setCaption(Label::outputPath, "");
  outputPath = outputPathFor(path);
  return err;
}

}  // namespace linemint
