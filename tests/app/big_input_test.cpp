// Inputs beyond 2^31 bytes and counts beyond 32 bits. Slow and memory-hungry
// (up to about 13 GiB), so they run only with LINEMINT_BIG_TESTS=1:
//   LINEMINT_BIG_TESTS=1 ctest --test-dir build/test-release -R BigInput --output-on-failure
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/dedup_pass.h"
#include "app/input_loader.h"
#include "fasthash/fast_hash_table.h"
#include "platform/cpu_features.h"
#include "sharedhash/shared_hash_table.h"

namespace linemint {
namespace {

namespace fs = std::filesystem;

bool bigTestsEnabled() {
  const char* v = std::getenv("LINEMINT_BIG_TESTS");
  return v != nullptr && std::strcmp(v, "1") == 0;
}

// FNV-1a over a file, read in chunks so the output is never held whole.
uint64_t checksumOfFile(const fs::path& p, uint64_t& size) {
  std::ifstream in(p, std::ios::binary);
  std::vector<char> chunk(1 << 20);
  uint64_t h = 1469598103934665603ull;
  size = 0;
  while (in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const std::streamsize got = in.gcount();
    for (std::streamsize i = 0; i < got; ++i) h = (h ^ static_cast<uint8_t>(chunk[i])) * 1099511628211ull;
    size += static_cast<uint64_t>(got);
  }
  return h;
}

uint64_t checksumOf(const std::string& s, uint64_t h = 1469598103934665603ull) {
  for (char c : s) h = (h ^ static_cast<uint8_t>(c)) * 1099511628211ull;
  return h;
}

class BigInputTest : public ::testing::TestWithParam<PassVariant> {
 protected:
  void SetUp() override {
    if (!bigTestsEnabled()) GTEST_SKIP() << "set LINEMINT_BIG_TESTS=1 to run";
    platform::probeCpuFeatures();
    platform::resolveHeapEntryPoints();
    heap_ = platform::heapCreate();
    dir_ = fs::temp_directory_path() / "linemint-big";
    fs::create_directories(dir_);
  }
  void TearDown() override {
    if (heap_ != nullptr) platform::heapDestroy(heap_);
    fs::remove_all(dir_);
  }
  platform::HeapHandle heap_ = nullptr;
  fs::path dir_;
};

// 3.4 GB of CR LF lines cycling through a million distinct ones, written to a
// file and loaded through the normal path: positions pass 2^31 (a signed
// 32-bit position would wrap) and the output is checked by a streaming
// checksum.
TEST_P(BigInputTest, ThreeGigabyteFileThroughLoadAndPass) {
  const fs::path in = dir_ / "big.txt";
  const uint64_t distinct = 1000000;
  uint64_t lines = 0;
  uint64_t expected = 1469598103934665603ull;
  {
    std::ofstream out(in, std::ios::binary);
    std::string block;
    char buf[32];
    for (uint64_t i = 0; i < distinct; ++i) {
      const int n = std::snprintf(buf, sizeof buf, "line-%07llu\r\n", static_cast<unsigned long long>(i));
      block.append(buf, static_cast<std::size_t>(n));
    }
    expected = checksumOf(block);
    while (static_cast<uint64_t>(lines) * 14 < (uint64_t{3} << 30) + (uint64_t{200} << 20)) {
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
      lines += distinct;
    }
  }
  ASSERT_GT(fs::file_size(in), uint64_t{1} << 31);

  platform::BigBuffer bytes;
  std::string outputPath;
  ASSERT_FALSE(loadInput(in.string(), LineEnd::crlf, bytes, outputPath, nullptr).failed());
  ASSERT_EQ(bytes.size(), fs::file_size(in));
  fs::remove(in);
  FastHashTable fast;
  SharedHashTable shared;
  OutputTarget target;
  target.path = outputPath;
  target.syncToDisk = false;
  const DedupResult r = runDedupPass(bytes, target, heap_, GetParam(), fast, shared);
  ASSERT_FALSE(r.error.failed()) << r.error.describe();
  EXPECT_EQ(r.linesRead, lines);
  EXPECT_EQ(r.linesKept, distinct);
  uint64_t size = 0;
  EXPECT_EQ(checksumOfFile(outputPath, size), expected);
  EXPECT_EQ(size, distinct * 14);
}

// 4.5 G one-byte empty lines in LF mode: the line counter passes 2^32.
TEST_P(BigInputTest, MoreThanFourBillionLines) {
  const std::size_t n = std::size_t{4500} << 20;
  platform::BigBuffer bytes;
  ASSERT_TRUE(bytes.reserve(n));
  bytes.resize(n);
  std::memset(bytes.data(), '\n', n);
  std::memcpy(bytes.data(), "x\n", 2);
  std::memcpy(bytes.data() + n - 2, "y\n", 2);
  FastHashTable fast;
  SharedHashTable shared;
  OutputTarget target;
  target.path = (dir_ / "out.txt").string();
  target.syncToDisk = false;
  const DedupResult r = runDedupPass(bytes, target, heap_, GetParam(), fast, shared, LineEnd::lf);
  ASSERT_FALSE(r.error.failed());
  EXPECT_EQ(r.linesRead, n - 2);
  EXPECT_GT(r.linesRead, uint64_t{1} << 32);
  EXPECT_EQ(r.linesKept, 2u);
  uint64_t size = 0;
  EXPECT_EQ(checksumOfFile(target.path, size), checksumOf("x\ny\n"));
}

// A line of 2^32 + 5 bytes, then a line of its first 5 bytes: different
// lines, both kept. A key length cut to 32 bits would make the long line's key
// those 5 bytes and drop the short line.
TEST_P(BigInputTest, LineLongerThanFourGibibytes) {
  const std::size_t longLine = (std::size_t{1} << 32) + 5;
  const std::size_t n = longLine + 1 + 6;
  platform::BigBuffer bytes;
  ASSERT_TRUE(bytes.reserve(n));
  bytes.resize(n);
  std::memset(bytes.data(), 'a', longLine);
  std::memcpy(bytes.data() + longLine, "\naaaaa\n", 7);
  FastHashTable fast;
  SharedHashTable shared;
  OutputTarget target;
  target.path = "/dev/null";
  target.syncToDisk = false;
  const DedupResult r = runDedupPass(bytes, target, heap_, GetParam(), fast, shared, LineEnd::lf);
  ASSERT_FALSE(r.error.failed()) << r.error.describe();
  EXPECT_EQ(r.linesRead, 2u);
  EXPECT_EQ(r.linesKept, 2u);
  EXPECT_EQ(r.bytesWritten, n);
}

INSTANTIATE_TEST_SUITE_P(Variants, BigInputTest, ::testing::Values(PassVariant::fallback, PassVariant::fast),
                         [](const auto& info) { return info.param == PassVariant::fast ? "fast" : "fallback"; });

}  // namespace
}  // namespace linemint
