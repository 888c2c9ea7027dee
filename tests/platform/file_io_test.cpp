#include "platform/file_io.h"
#include "platform/file_reader.h"
#include "platform/file_writer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include <unistd.h>
#include <thread>

namespace linemint::platform {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void spit(const fs::path& p, const std::string& s) {
  std::ofstream out(p, std::ios::binary);
  out << s;
}

class FileIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("linemint-io-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                        "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  // Nothing but the named files: no temporary file may be left behind.
  std::size_t entries() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator())); }
  fs::path dir_;
};

TEST_F(FileIoTest, ReadsWholeFileAndKeepsSpareCapacity) {
  const std::string text(100000, 'x');
  spit(dir_ / "in", text + "end");
  BigBuffer b;
  ASSERT_FALSE(readWholeFile((dir_ / "in").string(), b, 2).failed());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b.data()), b.size()), text + "end");
  EXPECT_GE(b.capacity() - b.size(), 2u);
}

TEST_F(FileIoTest, ReadFailuresNameThePathAndTheReason) {
  struct Case { std::string path; int code; };
  const Case cases[] = {{(dir_ / "missing").string(), ENOENT}, {dir_.string(), EISDIR}, {"", ENOENT}};
  for (const Case& c : cases) {
    BigBuffer b;
    b.append("old", 3);
    const IoError e = readWholeFile(c.path, b, 2);
    EXPECT_EQ(e.code, c.code) << c.path;
    EXPECT_EQ(b.size(), 0u);
    EXPECT_EQ(e.describe(), c.path + ": " + e.reason());
  }
}

TEST_F(FileIoTest, WriteCreatesAndReplacesKeepingPermissions) {
  const fs::path out = dir_ / "out.txt";
  ASSERT_FALSE(writeWholeFile(out.string(), reinterpret_cast<const uint8_t*>("one"), 3).failed());
  EXPECT_EQ(slurp(out), "one");
  fs::permissions(out, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ASSERT_FALSE(writeWholeFile(out.string(), reinterpret_cast<const uint8_t*>("second"), 6).failed());
  EXPECT_EQ(slurp(out), "second");
  EXPECT_EQ(fs::status(out).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ASSERT_FALSE(writeWholeFile(out.string(), nullptr, 0).failed());
  EXPECT_EQ(slurp(out), "");
  EXPECT_EQ(entries(), 1u);
}

TEST_F(FileIoTest, WriteThroughASymbolicLinkReplacesItsTarget) {
  spit(dir_ / "target.txt", "old");
  fs::create_symlink("target.txt", dir_ / "link.txt");
  ASSERT_FALSE(writeWholeFile((dir_ / "link.txt").string(), reinterpret_cast<const uint8_t*>("new"), 3).failed());
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.txt"));
  EXPECT_EQ(slurp(dir_ / "target.txt"), "new");
  EXPECT_EQ(entries(), 2u);
}

TEST_F(FileIoTest, FailedWriteLeavesNothingBehind) {
  const IoError e = writeWholeFile((dir_ / "no-such-folder" / "out").string(), reinterpret_cast<const uint8_t*>("x"), 1);
  EXPECT_EQ(e.code, ENOENT);
  EXPECT_EQ(entries(), 0u);
  EXPECT_EQ(writeWholeFile(dir_.string(), reinterpret_cast<const uint8_t*>("x"), 1).code, EISDIR);
}

TEST_F(FileIoTest, DevicesAreWrittenThrough) {
  EXPECT_FALSE(writeWholeFile("/dev/null", reinterpret_cast<const uint8_t*>("x"), 1).failed());
  const IoError full = writeWholeFile("/dev/full", reinterpret_cast<const uint8_t*>("x"), 1);
  EXPECT_EQ(full.code, ENOSPC);
  EXPECT_EQ(full.path, "/dev/full");
}

const uint8_t* bytesOf(const char* s) { return reinterpret_cast<const uint8_t*>(s); }

// A file written in pieces appears whole, and only at commit; until then the
// old file is what a reader sees.
TEST_F(FileIoTest, PiecesReplaceTheOldFileOnlyAtCommit) {
  const fs::path out = dir_ / "out.txt";
  spit(out, "old");
  FileWriter w;
  ASSERT_FALSE(w.open(out.string()).failed());
  EXPECT_FALSE(w.append(bytesOf("ab"), 2).failed());
  EXPECT_FALSE(w.append(bytesOf(""), 0).failed());
  EXPECT_FALSE(w.append(bytesOf("cd"), 2).failed());
  EXPECT_EQ(slurp(out), "old");
  EXPECT_FALSE(w.commit(true).failed());
  EXPECT_FALSE(w.isOpen());
  EXPECT_EQ(slurp(out), "abcd");
  EXPECT_EQ(entries(), 1u);
}

// Giving up, by abandon or by destruction, leaves the old file and no
// temporary file; a writer that is not open refuses.
TEST_F(FileIoTest, AnUnfinishedWriteLeavesTheOldFile) {
  const fs::path out = dir_ / "out.txt";
  spit(out, "old");
  {
    FileWriter w;
    ASSERT_FALSE(w.open(out.string()).failed());
    w.append(bytesOf("new"), 3);
  }
  EXPECT_EQ(slurp(out), "old");
  EXPECT_EQ(entries(), 1u);
  FileWriter w;
  ASSERT_FALSE(w.open(out.string()).failed());
  w.append(bytesOf("new"), 3);
  w.abandon();
  EXPECT_EQ(slurp(out), "old");
  EXPECT_EQ(entries(), 1u);
  EXPECT_EQ(w.append(bytesOf("x"), 1).code, EBADF);
  EXPECT_EQ(w.commit(false).code, EBADF);
}

// The first failed write sticks: commit reports it with the caller's path.
TEST_F(FileIoTest, AFailedPieceFailsTheWholeWrite) {
  FileWriter w;
  ASSERT_FALSE(w.open("/dev/full").failed());
  EXPECT_EQ(w.append(bytesOf("x"), 1).code, ENOSPC);
  EXPECT_EQ(w.append(bytesOf("y"), 1).code, ENOSPC);
  const IoError e = w.commit(false);
  EXPECT_EQ(e.code, ENOSPC);
  EXPECT_EQ(e.path, "/dev/full");
}

// Pieces come back full until the end of the file, also from a pipe whose
// writer sends small bursts, and a reader that is not open refuses.
TEST_F(FileIoTest, ReaderFillsEveryPieceUntilTheEnd) {
  std::string bytes(10000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  spit(dir_ / "in", bytes);
  FileReader file;
  ASSERT_FALSE(file.open((dir_ / "in").string()).failed());
  std::string back;
  std::vector<std::size_t> counts;
  for (;;) {
    uint8_t piece[3333];
    std::size_t got = 0;
    ASSERT_FALSE(file.read(piece, sizeof piece, &got).failed());
    counts.push_back(got);
    back.append(reinterpret_cast<const char*>(piece), got);
    if (got < sizeof piece) break;
  }
  EXPECT_EQ(back, bytes);
  EXPECT_EQ(counts, (std::vector<std::size_t>{3333, 3333, 3333, 1}));

  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::thread writer([&] {
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(::write(fds[1], bytes.data() + 100 * i, 100), 100);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::close(fds[1]);
  });
  const std::string path = "/proc/self/fd/" + std::to_string(fds[0]);
  FileReader pipe;
  ASSERT_FALSE(pipe.open(path).failed());
  uint8_t piece[1000];
  std::size_t got = 0;
  EXPECT_FALSE(pipe.read(piece, sizeof piece, &got).failed());
  writer.join();
  ::close(fds[0]);
  EXPECT_EQ(got, 500u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(piece), got), bytes.substr(0, 500));

  FileReader closed;
  EXPECT_EQ(closed.read(piece, 1, &got).code, EBADF);
  EXPECT_EQ(FileReader().open("").code, ENOENT);
  EXPECT_EQ(FileReader().open(dir_.string()).code, EISDIR);
}

TEST_F(FileIoTest, SameFileSeesThroughLinks) {
  spit(dir_ / "a", "1");
  spit(dir_ / "b", "1");
  fs::create_symlink("a", dir_ / "l");
  EXPECT_TRUE(sameFile((dir_ / "a").string(), (dir_ / "l").string()));
  EXPECT_FALSE(sameFile((dir_ / "a").string(), (dir_ / "b").string()));
  EXPECT_FALSE(sameFile((dir_ / "a").string(), (dir_ / "missing").string()));
}

}  // namespace
}  // namespace linemint::platform
