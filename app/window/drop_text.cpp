#include "app/window/drop_text.h"

namespace linemint {

namespace {
constexpr char kCrLf[] = "\r\n";
}

std::string dropText(const std::vector<std::string>& paths) {
  if (paths.size() == 1) return paths.front();
  std::string text;
  for (const std::string& p : paths) {
    text += p;
    text += kCrLf;
  }
  return text;
}

std::size_t pathCountInDropText(const std::string& text) {
  if (text.size() < 2 || text.compare(text.size() - 2, 2, kCrLf) != 0) return 1;
  std::size_t count = 0;
  for (std::size_t at = text.find(kCrLf); at != std::string::npos; at = text.find(kCrLf, at + 2)) ++count;
  return count;
}

}  // namespace linemint
