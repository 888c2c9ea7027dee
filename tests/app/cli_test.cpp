// End-to-end runs of linemint-cli on temporary files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/cli/cli.h"

namespace linemint {
namespace {

namespace fs = std::filesystem;
using std::string_literals::operator""s;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void spit(const fs::path& p, const std::string& s) { std::ofstream(p, std::ios::binary) << s; }

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct CliRun {
  int exitCode;
  std::string out;
  std::string err;
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("linemint-cli-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::all);
    fs::remove_all(dir_);
  }

  // Runs the tool through the shell: `prefix` goes before it (an environment or
  // a user switch), `args` after it, verbatim.
  CliRun cli(const std::string& args, const std::string& prefix = "", const std::string& stdinFile = "") {
    const std::string outFile = (dir_ / ".stdout").string();
    const std::string errFile = (dir_ / ".stderr").string();
    std::string cmd = "cd " + quote(dir_.string()) + " && " + prefix + " " + quote(LINEMINT_CLI_PATH) + " " + args +
                      " >" + quote(outFile) + " 2>" + quote(errFile);
    if (!stdinFile.empty()) cmd += " <" + quote(stdinFile);
    const int status = std::system(cmd.c_str());
    CliRun r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(outFile), slurp(errFile)};
    fs::remove(outFile);
    fs::remove(errFile);
    return r;
  }

  std::size_t entries() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }

  fs::path dir_;
};

TEST_F(CliTest, WritesBesideTheInputAndReports) {
  spit(dir_ / "a.txt", "x\r\ny\r\nx\r\n\r\nz");
  for (const char* variant : {"fallback", "auto"}) {
    const CliRun r = cli("--variant "s + variant + " a.txt");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(slurp(dir_ / "去重复_a.txt"), "x\r\ny\r\nz\r\n");
    const std::string expectedTail = " ms 总行数：5  去重复剩余：3\n去重复_a.txt\n";
    EXPECT_EQ(r.out.rfind("耗时：", 0), 0u) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - expectedTail.size()), expectedTail) << r.out;
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(CliTest, LineEndModes) {
  spit(dir_ / "u.txt", "a\r\nb\nb\na\r\n");
  EXPECT_EQ(cli("-q u.txt").exitCode, 0);
  EXPECT_EQ(slurp(dir_ / "去重复_u.txt"), "a\r\nb\nb\na\r\n");  // CR LF mode: "b\nb\na" is one line
  EXPECT_EQ(cli("-q --line-end lf u.txt").exitCode, 0);
  EXPECT_EQ(slurp(dir_ / "去重复_u.txt"), "a\r\nb\n");
}

TEST_F(CliTest, NulBytesAndLoneCarriageReturns) {
  spit(dir_ / "n.txt", "\0\0\0\r\n\r\r\r\n\0\0\0\r\n\r\r\r\nab\rc"s);
  const CliRun r = cli("--variant fallback n.txt");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(slurp(dir_ / "去重复_n.txt"), "\0\0\0\r\n\r\r\r\nab\rc\r\n"s);
}

TEST_F(CliTest, StandardInputToStandardOutput) {
  spit(dir_ / "in", "b\nb\na\n");
  const CliRun r = cli("--line-end lf -", "", (dir_ / "in").string());
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "b\na\n");
  EXPECT_NE(r.err.find("总行数：3"), std::string::npos) << r.err;
  spit(dir_ / "one.txt", "1\r\n1\r\n");
  spit(dir_ / "two.txt", "2\r\n");
  const CliRun both = cli("--stdout -q one.txt two.txt");
  EXPECT_EQ(both.out, "1\r\n2\r\n");
  EXPECT_EQ(both.err, "");
}

// An input of several read pieces, with a line longer than a piece in the
// middle, from a file and from a pipe: the same output as the lines say.
TEST_F(CliTest, InputsLargerThanOneReadPiece) {
  std::string in;
  std::string expected;
  const std::string longLine(5u << 19, 'L');
  for (int i = 0; i < 200000; ++i) {
    const std::string line = "line-" + std::to_string(i % 70000) + "\r\n";
    in += line;
    if (i < 70000) expected += line;
    if (i == 100000) {
      in += longLine + "\r\n" + longLine + "\r\n";
      expected += longLine + "\r\n";
    }
  }
  spit(dir_ / "big.txt", in);
  for (const char* variant : {"fast", "fallback"}) {
    EXPECT_EQ(cli("-q --no-sync --variant "s + variant + " big.txt").exitCode, 0);
    EXPECT_TRUE(slurp(dir_ / "去重复_big.txt") == expected) << variant;
    const CliRun piped = cli("-q --variant "s + variant + " -", "cat big.txt |");
    EXPECT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_TRUE(piped.out == expected) << variant;
  }
}

TEST_F(CliTest, MissingFileFailsWithPathAndReason) {
  spit(dir_ / "ok.txt", "k\r\n");
  const CliRun r = cli("missing.txt ok.txt");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "linemint-cli: missing.txt: No such file or directory\n");
  EXPECT_FALSE(fs::exists(dir_ / "去重复_missing.txt"));
  EXPECT_EQ(slurp(dir_ / "去重复_ok.txt"), "k\r\n");  // the other files still run
}

TEST_F(CliTest, FullDeviceIsAWriteError) {
  spit(dir_ / "a.txt", "a\r\n");
  const CliRun r = cli("-o /dev/full a.txt");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "linemint-cli: /dev/full: No space left on device\n");
}

TEST_F(CliTest, OutputNamingTheInputRewritesItInPlace) {
  spit(dir_ / "a.txt", "a\r\na\r\nb\r\n");
  EXPECT_EQ(cli("-q -o a.txt a.txt").exitCode, 0);
  EXPECT_EQ(slurp(dir_ / "a.txt"), "a\r\nb\r\n");
  EXPECT_EQ(entries(), 1u);
}

TEST_F(CliTest, DerivedOutputThatIsTheInputIsRefused) {
  spit(dir_ / "a.txt", "a\r\na\r\n");
  fs::create_symlink("a.txt", dir_ / "去重复_a.txt");
  const CliRun r = cli("a.txt");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("names the input"), std::string::npos) << r.err;
  EXPECT_EQ(slurp(dir_ / "a.txt"), "a\r\na\r\n");
}

TEST_F(CliTest, EmptyInputIsNotAnError) {
  spit(dir_ / "e.txt", "");
  const CliRun r = cli("e.txt");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("总行数：0  去重复剩余：0"), std::string::npos) << r.out;
}

TEST_F(CliTest, UnwritableFolderKeepsTheOldOutput) {
  // Root writes anywhere, so the tool runs as an unprivileged user there.
  std::string prefix;
  if (::geteuid() == 0) {
    if (std::system("command -v setpriv >/dev/null 2>&1") != 0) GTEST_SKIP() << "setpriv is needed to drop root";
    prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups";
    const std::string probe = prefix + " test -x " + quote(LINEMINT_CLI_PATH);
    if (std::system(probe.c_str()) != 0) GTEST_SKIP() << "the unprivileged user cannot run the tool from this folder";
  }
  spit(dir_ / "a.txt", "new\r\nnew\r\n");
  spit(dir_ / "去重复_a.txt", "old output\r\n");
  fs::permissions(dir_ / "a.txt", fs::perms::all);
  fs::permissions(dir_ / "去重复_a.txt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  const std::size_t before = entries();
  const CliRun r = cli("a.txt", prefix);
  fs::permissions(dir_, fs::perms::all);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "linemint-cli: 去重复_a.txt: Permission denied\n");
  EXPECT_EQ(slurp(dir_ / "去重复_a.txt"), "old output\r\n");
  EXPECT_EQ(entries(), before);
}

TEST(CliArguments, UsageErrors) {
  const char* cases[][2] = {
      {"", "no input file"},
      {"--variant", "option --variant needs a value"},
      {"--variant slow a", "unknown variant 'slow' (auto, fast or fallback)"},
      {"--line-end cr a", "unknown line end 'cr' (crlf or lf)"},
      {"-o x a b", "-o takes exactly one FILE"},
      {"-o x --stdout a", "-o and --stdout exclude each other"},
      {"--frobnicate a", "unknown option '--frobnicate'"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args;
    std::string s = c[0];
    for (std::size_t pos = 0; !s.empty();) {
      pos = s.find(' ');
      args.push_back(s.substr(0, pos));
      s = pos == std::string::npos ? "" : s.substr(pos + 1);
    }
    std::string error;
    EXPECT_FALSE(cli::parseArguments(args, error).has_value()) << c[0];
    EXPECT_EQ(error, c[1]) << c[0];
  }
}

TEST_F(CliTest, UsageErrorExitsTwo) {
  const CliRun r = cli("--variant slow a.txt");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("unknown variant"), std::string::npos);
}

}  // namespace
}  // namespace linemint
