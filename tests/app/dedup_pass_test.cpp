#include "app/dedup_pass.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>

#include "app/input_loader.h"
#include "fasthash/fast_hash_table.h"
#include "platform/cpu_features.h"
#include "sharedhash/shared_hash_table.h"

namespace linemint {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class DedupPassTest : public ::testing::TestWithParam<PassVariant> {
 protected:
  void SetUp() override {
    platform::probeCpuFeatures();
    platform::resolveHeapEntryPoints();
    heap_ = platform::heapCreate();
    dir_ = fs::temp_directory_path() /
           ("linemint-pass-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    out_ = dir_ / "out.txt";
  }
  void TearDown() override {
    fs::remove_all(dir_);
    platform::heapDestroy(heap_);
  }

  // Runs the pass over `bytes` as loaded (line ends already normalised).
  DedupResult pass(const std::string& bytes, LineEnd lineEnd = LineEnd::crlf) {
    platform::BigBuffer in;
    in.append(bytes.data(), bytes.size());
    OutputTarget target;
    target.path = out_.string();
    target.syncToDisk = false;
    DedupResult r = runDedupPass(in, target, heap_, GetParam(), fast_, shared_, lineEnd);
    // The pass borrows its input and must leave it exactly as it found it.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(in.data()), in.size()), bytes);
    return r;
  }

  platform::HeapHandle heap_ = nullptr;
  FastHashTable fast_;
  SharedHashTable shared_;
  fs::path dir_;
  fs::path out_;
};

using std::string_literals::operator""s;

TEST_P(DedupPassTest, KeepsFirstOccurrencesInOrder) {
  struct Case { std::string in; LineEnd mode; std::string out; uint64_t read; uint64_t kept; const char* what; };
  const bool fast = GetParam() == PassVariant::fast;
  const Case cases[] = {
      {"a\r\nb\r\n\r\na\r\nb\r\nc\r\n", LineEnd::crlf, "a\r\nb\r\nc\r\n", 6, 3, "worked example"},
      {"\r\n\r\n", LineEnd::crlf, "", 2, 0, "two empty lines"},
      {"x\r\ny\r\nx\r\nz\r\ny\r\n", LineEnd::crlf, "x\r\ny\r\nz\r\n", 5, 3, "repeats that are not adjacent"},
      {"a \r\na\r\nA\r\na\r\r\na\r\n", LineEnd::crlf, "a \r\na\r\nA\r\na\r\r\n", 5, 4,
       "trailing space, case and trailing CR make different lines"},
      {"a\r\r\n", LineEnd::crlf, "a\r\r\n", 1, 1, "a lone CR is part of the line"},
      {"a\nb\r\na\nb\r\n", LineEnd::crlf, "a\nb\r\n", 2, 1, "a lone LF is part of the line"},
      {"ab\0x\r\nab\0y\r\n"s, LineEnd::crlf, "ab\0x\r\n"s, 2, 1, "key ends at the first NUL; the line is written whole"},
      {"\0a\r\n\0b\r\n"s, LineEnd::crlf, fast ? "\0a\r\n\0b\r\n"s : "\0a\r\n"s, 2, fast ? 2u : 1u,
       "a line starting with NUL has the empty key"},
      {"\x80\xff\r\n\xe5\x8e\xbb\r\n\x80\xff\r\n", LineEnd::crlf, "\x80\xff\r\n\xe5\x8e\xbb\r\n", 3, 2, "high bytes"},
      {"a\nb\na\n\nc\n", LineEnd::lf, "a\nb\nc\n", 5, 3, "LF mode"},
      {"a\r\na\n", LineEnd::lf, "a\r\na\n", 2, 2, "LF mode keeps the CR in the line"},
      {"\n", LineEnd::lf, "", 1, 0, "LF mode, one empty line"},
      {"a\0\nb\n"s, LineEnd::lf, "a\0\nb\n"s, 2, 2, "LF mode, NUL before the line end"},
  };
  for (const Case& c : cases) {
    const DedupResult r = pass(c.in, c.mode);
    EXPECT_FALSE(r.error.failed()) << c.what;
    EXPECT_TRUE(r.wroteOutput) << c.what;
    EXPECT_EQ(slurp(out_), c.out) << c.what;
    EXPECT_EQ(r.linesRead, c.read) << c.what;
    EXPECT_EQ(r.linesKept, c.kept) << c.what;
    EXPECT_EQ(r.bytesWritten, c.out.size()) << c.what;
  }
}

// The fast variant hashes keys in the family of its table; without SSE4.2 it
// must still find every repeat (keys of every length around the 8- and
// 16-byte steps of its hashing, and keys that end at a NUL followed by bytes
// that differ from one repeat to the next).
TEST_P(DedupPassTest, BothHashFamiliesGiveTheSameOutput) {
  std::string in;
  std::string expected;
  for (int round = 0; round < 3; ++round) {
    for (int n = 1; n <= 40; ++n) {
      const std::string line = std::string(static_cast<std::size_t>(n), static_cast<char>('a' + n % 26)) +
                               (n % 7 == 0 ? std::string("\0t", 2) + static_cast<char>('0' + round) : std::string());
      in += line + "\r\n";
      if (round == 0) expected += line + "\r\n";
    }
  }
  const platform::CpuFeatures saved = platform::cpuFeatures;
  for (uint32_t sse42 : {saved.sse42, 0u}) {
    platform::setCpuFeaturesForTesting({saved.sse2, sse42, saved.avx2});
    const DedupResult r = pass(in);
    if (GetParam() == PassVariant::fast) {
      // The pass hashes keys itself; the table must find them by its own hash.
      for (int n : {1, 7, 8, 9, 16, 17, 40}) {
        const std::string key(static_cast<std::size_t>(n), static_cast<char>('a' + n % 26));
        const char* k = key.c_str();
        EXPECT_EQ(fast_.contains(&k), 1) << n << " sse42 " << sse42;
      }
      EXPECT_EQ(fast_.validate(), nullptr);
    }
    platform::setCpuFeaturesForTesting(saved);
    EXPECT_EQ(r.linesKept, 40u) << "sse42 " << sse42;
    EXPECT_EQ(slurp(out_), expected) << "sse42 " << sse42;
  }
}

// What a pass must give, computed another way: split the input at each line
// end found by std::string::find, key each line up to its first NUL, keep the
// first of each key; the fast variant keeps every line with an empty key.
struct Model {
  std::string out;
  uint64_t read = 0;
  uint64_t kept = 0;
};
Model modelPass(const std::string& in, const std::string& end, bool fast) {
  Model m;
  std::set<std::string> seen;
  for (std::size_t start = 0, at; (at = in.find(end, start)) != std::string::npos; start = at + end.size()) {
    ++m.read;
    const std::string line = in.substr(start, at - start);
    const std::string key = line.substr(0, line.find('\0'));
    if (!line.empty() && ((key.empty() && fast) || seen.insert(key).second)) {
      m.out += line + end;
      ++m.kept;
    }
  }
  return m;
}

// NUL bytes far apart, close together, at a line's start and end, and
// several in one line, lone CR and LF bytes inside lines, over more than one
// of the windows in which the fast variant looks ahead for NULs, in both
// line-end modes.
TEST_P(DedupPassTest, NulBytesAnywhereInALargeInput) {
  const bool fast = GetParam() == PassVariant::fast;
  for (const LineEnd mode : {LineEnd::crlf, LineEnd::lf}) {
    const std::string end = mode == LineEnd::crlf ? "\r\n" : "\n";
    std::mt19937 rng(3);
    std::string in;
    while (in.size() < (600u << 10)) {
      std::string line(1 + rng() % 30, 'x');
      for (char& ch : line) ch = "abcd\r"[rng() % 5];
      if (mode == LineEnd::crlf && rng() % 50 == 0) line[rng() % line.size()] = '\n';
      const uint32_t roll = rng() % 1000;
      if (roll < 3) line[0] = '\0';
      else if (roll < 6) line.back() = '\0';
      else if (roll < 9) line[line.size() / 2] = line[line.size() / 3] = '\0';
      if (roll % 400 == 7) line.assign(70000, 'n');
      in += line + end;
    }
    const Model m = modelPass(in, end, fast);
    const DedupResult r = pass(in, mode);
    EXPECT_EQ(r.linesRead, m.read);
    EXPECT_EQ(r.linesKept, m.kept) << "mode " << static_cast<int>(mode);
    EXPECT_TRUE(slurp(out_) == m.out) << "mode " << static_cast<int>(mode);
  }
}

// Many short inputs of a few letters, NUL, CR and LF: lines at the very start
// of the buffer, where the fast variant cannot look back before a key, and
// keys of every short length, with repeats likely.
TEST_P(DedupPassTest, ManyShortRandomInputs) {
  const bool fast = GetParam() == PassVariant::fast;
  std::mt19937 rng(17);
  for (const LineEnd mode : {LineEnd::crlf, LineEnd::lf}) {
    const std::string end = mode == LineEnd::crlf ? "\r\n" : "\n";
    for (int round = 0; round < 300; ++round) {
      std::string in(rng() % 120, 'a');
      for (char& ch : in) ch = std::string("ab\0\r\n", 5)[rng() % 5];
      if (!in.empty() && (in.size() < end.size() || in.compare(in.size() - end.size(), end.size(), end) != 0)) {
        in += end;
      }
      const Model m = modelPass(in, end, fast);
      const DedupResult r = pass(in, mode);
      ASSERT_EQ(r.linesRead, m.read) << "round " << round;
      ASSERT_EQ(r.linesKept, m.kept) << "round " << round;
      if (!in.empty()) ASSERT_TRUE(slurp(out_) == m.out) << "round " << round;
    }
  }
}

// Reading in pieces must give what loading the file whole and passing it
// gives: the same bytes, counts and "nothing written" for empty inputs, for
// files with and without a final line end, lines that span many pieces, and
// line ends split between two pieces. Pieces of 1 to 64 bytes make every cut
// happen somewhere.
TEST_P(DedupPassTest, PiecewiseReadingMatchesTheWholePass) {
  std::mt19937 rng(23);
  std::vector<std::string> inputs = {"", "a", "\r", "\n", "\r\n", "ab", "a\r", "a\n", "a\r\nb", "a\r\r\n\r\n",
                                     std::string(200, 'x') + "\r\n" + std::string(200, 'x'),
                                     std::string("\0a\r\n\0b\r\n", 8)};
  for (int round = 0; round < 150; ++round) {
    std::string in(rng() % 160, 'a');
    for (char& ch : in) ch = std::string("ab\0\r\n", 5)[rng() % 5];
    inputs.push_back(in);
  }
  const fs::path file = dir_ / "in.txt";
  const fs::path whole = dir_ / "whole.txt";
  for (const LineEnd mode : {LineEnd::crlf, LineEnd::lf}) {
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      std::ofstream(file, std::ios::binary) << inputs[i];
      fs::remove(whole);
      fs::remove(out_);
      platform::BigBuffer loaded;
      std::string derived;
      ASSERT_FALSE(loadInput(file.string(), mode, loaded, derived, nullptr).failed());
      OutputTarget toWhole;
      toWhole.path = whole.string();
      toWhole.syncToDisk = false;
      const DedupResult expected = runDedupPass(loaded, toWhole, heap_, GetParam(), fast_, shared_, mode);
      const std::string expectedOut = fs::exists(whole) ? slurp(whole) : "(none)";
      for (std::size_t pieceBytes : {1, 2, 3, 5, 16, 64}) {
        fs::remove(out_);
        platform::FileReader source;
        ASSERT_FALSE(source.open(file.string()).failed());
        OutputTarget target;
        target.path = out_.string();
        target.syncToDisk = false;
        const DedupResult r = runDedupPassOver(source, target, heap_, GetParam(), fast_, shared_, mode, pieceBytes);
        const std::string what = "input " + std::to_string(i) + " piece " + std::to_string(pieceBytes) +
                                 (mode == LineEnd::lf ? " lf" : " crlf");
        ASSERT_FALSE(r.error.failed()) << what;
        ASSERT_EQ(r.linesRead, expected.linesRead) << what;
        ASSERT_EQ(r.linesKept, expected.linesKept) << what;
        ASSERT_EQ(r.bytesWritten, expected.bytesWritten) << what;
        ASSERT_EQ(r.wroteOutput, expected.wroteOutput) << what;
        ASSERT_TRUE((fs::exists(out_) ? slurp(out_) : "(none)") == expectedOut) << what;
      }
    }
  }
}

// A read that fails (/proc/self/mem opens, but reading at offset 0 gives EIO)
// is reported with the input's path and writes nothing; a reader that is not
// open fails the same way.
TEST_P(DedupPassTest, PiecewiseReadFailureWritesNothing) {
  platform::FileReader directory;
  EXPECT_EQ(directory.open(dir_.string()).code, EISDIR);
  platform::FileReader failing;
  ASSERT_FALSE(failing.open("/proc/self/mem").failed());
  OutputTarget target;
  target.path = out_.string();
  for (auto [source, code] : {std::pair{&failing, EIO}, std::pair{&directory, EBADF}}) {
    const DedupResult r = runDedupPassOver(*source, target, heap_, GetParam(), fast_, shared_);
    EXPECT_EQ(r.error.code, code);
    EXPECT_EQ(r.error.path, source->path());
    EXPECT_FALSE(r.wroteOutput);
    EXPECT_FALSE(fs::exists(out_));
  }
}

TEST_P(DedupPassTest, EmptyInputWritesNothing) {
  std::ofstream(out_) << "keep me";
  const DedupResult r = pass("");
  EXPECT_FALSE(r.wroteOutput);
  EXPECT_EQ(r.linesRead, 0u);
  EXPECT_EQ(r.linesKept, 0u);
  EXPECT_EQ(slurp(out_), "keep me");
}

TEST_P(DedupPassTest, ReplacesAnExistingOutputAndRepeatsTheSame) {
  std::ofstream(out_) << "a much longer old content that must disappear\r\n";
  const DedupResult first = pass("b\r\nb\r\nc\r\n");
  const std::string firstOut = slurp(out_);
  const DedupResult second = pass("b\r\nb\r\nc\r\n");
  EXPECT_EQ(firstOut, "b\r\nc\r\n");
  EXPECT_EQ(slurp(out_), firstOut);
  EXPECT_EQ(second.linesRead, first.linesRead);
  EXPECT_EQ(second.linesKept, first.linesKept);
}

TEST_P(DedupPassTest, LongLinesAndManyDistinctLines) {
  std::string in;
  std::string expected;
  const std::string big(1u << 20, 'q');
  in += big + "\r\n" + big + "\r\n";
  expected += big + "\r\n";
  for (int i = 0; i < 50000; ++i) {
    const std::string line = "line " + std::to_string(i % 20000);
    in += line + "\r\n";
    if (i < 20000) expected += line + "\r\n";
  }
  const DedupResult r = pass(in);
  EXPECT_EQ(r.linesRead, 50002u);
  EXPECT_EQ(r.linesKept, 20001u);
  EXPECT_TRUE(slurp(out_) == expected);
}

// An output that cannot be created, and one whose writes fail part-way (more
// output than the pass buffers at once, to /dev/full): the error names the
// output and the counts still cover the whole input.
TEST_P(DedupPassTest, FailedWriteIsReportedAndKeepsCounts) {
  std::string many;
  for (int i = 0; i < 40000; ++i) many += "line " + std::to_string(i) + "\r\n";
  const struct {
    std::string path;
    std::string input;
    int code;
    uint64_t read, kept;
  } cases[] = {
      {(dir_ / "missing-folder" / "out.txt").string(), "a\r\na\r\n", ENOENT, 2, 1},
      {"/dev/full", many + many, ENOSPC, 80000, 40000},
  };
  for (const auto& c : cases) {
    platform::BigBuffer in;
    in.append(c.input.data(), c.input.size());
    OutputTarget target;
    target.path = c.path;
    const DedupResult r = runDedupPass(in, target, heap_, GetParam(), fast_, shared_);
    EXPECT_EQ(r.error.code, c.code) << c.path;
    EXPECT_EQ(r.error.path, target.path);
    EXPECT_FALSE(r.wroteOutput);
    EXPECT_EQ(r.linesRead, c.read);
    EXPECT_EQ(r.linesKept, c.kept);
  }
  EXPECT_FALSE(fs::exists(dir_ / "missing-folder"));
}

TEST_P(DedupPassTest, NoPrivateHeapIsAnError) {
  platform::BigBuffer in;
  in.append("a\r\n", 3);
  OutputTarget target;
  target.path = out_.string();
  const DedupResult r = runDedupPass(in, target, nullptr, GetParam(), fast_, shared_);
  EXPECT_TRUE(r.error.failed());
  EXPECT_FALSE(fs::exists(out_));
}

INSTANTIATE_TEST_SUITE_P(Variants, DedupPassTest, ::testing::Values(PassVariant::fallback, PassVariant::fast),
                         [](const auto& info) { return info.param == PassVariant::fast ? "fast" : "fallback"; });

TEST(StatusText, JoinsTheThreeFigures) {
  DedupResult r;
  r.elapsedMs = 0;
  r.linesRead = 6;
  r.linesKept = 3;
  EXPECT_EQ(statusText(r), "耗时：0 ms 总行数：6  去重复剩余：3");
  r.elapsedMs = 1234;
  r.linesRead = 5000000000ull;
  r.linesKept = 4294967297ull;
  EXPECT_EQ(statusText(r), "耗时：1234 ms 总行数：5000000000  去重复剩余：4294967297");
}

}  // namespace
}  // namespace linemint
