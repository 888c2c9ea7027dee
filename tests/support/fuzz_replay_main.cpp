// Replays a fuzz corpus as an ordinary test: every file of the folders (or the
// files) named on the command line goes once through LLVMFuzzerTestOneInput.
// A failed check inside the body aborts, which fails the test.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
void runFile(const std::filesystem::path& p, int& count) {
  std::ifstream in(p, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // An exact-size heap copy, so that an over-read shows under AddressSanitizer.
  auto* exact = new uint8_t[bytes.size() == 0 ? 1 : bytes.size()];
  std::copy(bytes.begin(), bytes.end(), exact);
  LLVMFuzzerTestOneInput(exact, bytes.size());
  delete[] exact;
  ++count;
}
}  // namespace

int main(int argc, char** argv) {
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path p(argv[i]);
    if (std::filesystem::is_directory(p)) {
      for (const auto& e : std::filesystem::directory_iterator(p))
        if (e.is_regular_file()) runFile(e.path(), count);
    } else {
      runFile(p, count);
    }
  }
  if (count == 0) {
    std::fprintf(stderr, "no corpus files found\n");
    return 1;
  }
  std::printf("replayed %d inputs\n", count);
  return 0;
}
