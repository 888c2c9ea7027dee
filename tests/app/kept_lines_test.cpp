#include "app/kept_lines.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace linemint {
namespace {

namespace fs = std::filesystem;

// Lines shorter than, equal to and longer than the buffer, in every order
// that the lengths below produce: what reaches the file is their
// concatenation, and bytes() counts it, also with nowhere to write.
TEST(KeptLines, WritesEveryLineInOrderWhateverItsLength) {
  const fs::path out = fs::temp_directory_path() / "linemint-kept-lines.txt";
  std::string all;
  std::string expected;
  const std::vector<std::size_t> lengths = {1, 7, 8, 9, 3, 5, 16, 2, 8, 1, 30, 4, 4, 0, 8};
  for (std::size_t i = 0; i < lengths.size(); ++i) all += std::string(lengths[i], static_cast<char>('a' + i));
  for (bool withWriter : {true, false}) {
    platform::FileWriter writer;
    if (withWriter) ASSERT_FALSE(writer.open(out.string()).failed());
    uint8_t buffer[8];
    KeptLines kept(buffer, sizeof buffer, withWriter ? &writer : nullptr);
    const auto* p = reinterpret_cast<const uint8_t*>(all.data());
    for (std::size_t n : lengths) {
      kept.add(p, n);
      p += n;
    }
    kept.flush();
    EXPECT_EQ(kept.bytes(), all.size());
    if (withWriter) {
      ASSERT_FALSE(writer.commit(false).failed());
      std::ifstream in(out, std::ios::binary);
      EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), all);
      fs::remove(out);
    }
  }
}

}  // namespace
}  // namespace linemint
