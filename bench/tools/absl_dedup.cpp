// absl_dedup INPUT OUTPUT: the measuring stick for the whole-tool comparison.
// Reads the file whole, splits it at CR LF with memchr, keeps the first
// occurrence of each non-empty line in an absl::flat_hash_set of string views,
// and writes the kept lines with their CR LF. Not part of the tool.
#include <absl/container/flat_hash_set.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: absl_dedup INPUT OUTPUT\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary | std::ios::ate);
  if (!in) {
    std::perror(argv[1]);
    return 1;
  }
  const std::streamsize size = in.tellg();
  in.seekg(0);
  std::string data(static_cast<std::size_t>(size), '\0');
  in.read(data.data(), size);
  if (data.size() >= 2 && data.compare(data.size() - 2, 2, "\r\n") != 0) data += "\r\n";

  std::string out;
  out.reserve(data.size());
  absl::flat_hash_set<std::string_view> seen;
  const char* p = data.data();
  const char* const end = p + data.size();
  while (p < end) {
    const char* cr = static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(end - p)));
    while (cr != nullptr && (cr + 1 >= end || cr[1] != '\n'))
      cr = static_cast<const char*>(std::memchr(cr + 1, '\r', static_cast<std::size_t>(end - cr - 1)));
    if (cr == nullptr) break;
    const std::string_view line(p, static_cast<std::size_t>(cr - p));
    if (!line.empty() && seen.insert(line).second) {
      out.append(line);
      out.append("\r\n");
    }
    p = cr + 2;
  }
  FILE* f = std::fopen(argv[2], "wb");
  if (f == nullptr || std::fwrite(out.data(), 1, out.size(), f) != out.size() || std::fclose(f) != 0) {
    std::perror(argv[2]);
    return 1;
  }
  return 0;
}
