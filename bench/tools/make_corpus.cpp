// make_corpus KIND OUTPUT [SEED]: writes one of the benchmark corpora.
//
//   distinct  10 M lines of 6 to 40 random printable bytes drawn from 8 M
//             candidates, so about 5.7 M are distinct (about 250 MB)
//   repeats   10 M such lines drawn from 100 k distinct ones (about 250 MB)
//   text      8 M text-like lines (words, paths, log lines) with Zipf-like
//             repeats (about 450 MB)
//
// Every line ends with CR LF. The same KIND and SEED give the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// splitmix64: small, seedable, good enough for test data.
uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

struct Rng {
  uint64_t state;
  uint64_t next() { return mix(state++); }
  uint64_t below(uint64_t n) { return next() % n; }
};

// Line `index` of the candidate set: its bytes depend only on seed and index.
void randomLine(uint64_t seed, uint64_t index, std::string& out) {
  Rng r{mix(seed ^ (index * 0xD6E8FEB86659FD93ull))};
  const std::size_t len = 6 + r.below(35);
  out.resize(len);
  for (std::size_t i = 0; i < len; ++i) out[i] = static_cast<char>(0x21 + r.below(94));
}

const char* const kWords[] = {"alpha", "beta", "gamma", "delta", "server", "client", "error", "warning",
                              "request", "response", "cache", "miss", "hit", "user", "admin", "login",
                              "logout", "timeout", "retry", "queue", "worker", "thread", "index", "table"};
const char* const kLevels[] = {"INFO", "WARN", "ERROR", "DEBUG"};
const char* const kDirs[] = {"/usr/lib", "/var/log", "/home/anna/projects", "/srv/data", "/etc", "/opt/app/bin"};

// Text-like line number `rank` of the vocabulary (lower ranks are more common).
void textLine(uint64_t seed, uint64_t rank, std::string& out) {
  Rng r{mix(seed ^ (rank * 0x9E3779B97F4A7C15ull))};
  char buf[256];
  switch (rank % 3) {
    case 0: {
      std::snprintf(buf, sizeof buf, "2026-12-%02u %02u:%02u:%02u %s %s[%u]: %s %s /api/v1/%s/%u took %ums",
                    static_cast<unsigned>(1 + r.below(28)), static_cast<unsigned>(r.below(24)),
                    static_cast<unsigned>(r.below(60)), static_cast<unsigned>(r.below(60)), kLevels[r.below(4)],
                    kWords[r.below(24)], static_cast<unsigned>(r.below(5000)), kWords[r.below(24)],
                    kWords[r.below(24)], kWords[r.below(24)], static_cast<unsigned>(r.below(100000)),
                    static_cast<unsigned>(r.below(2000)));
      break;
    }
    case 1:
      std::snprintf(buf, sizeof buf, "%s/%s/%s_%u.%s", kDirs[r.below(6)], kWords[r.below(24)], kWords[r.below(24)],
                    static_cast<unsigned>(r.below(100000)), r.below(2) ? "txt" : "log");
      break;
    default:
      std::snprintf(buf, sizeof buf, "%s %s %s", kWords[r.below(24)], kWords[r.below(24)], kWords[r.below(24)]);
      break;
  }
  out = buf;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: make_corpus distinct|repeats|text OUTPUT [SEED]\n");
    return 2;
  }
  const std::string kind = argv[1];
  const uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 20261211;
  FILE* f = std::fopen(argv[2], "wb");
  if (f == nullptr) {
    std::perror(argv[2]);
    return 1;
  }
  std::vector<char> buffer(1 << 22);
  std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
  Rng draw{mix(seed + 1)};
  std::string line;
  if (kind == "distinct" || kind == "repeats") {
    const uint64_t candidates = kind == "distinct" ? 8000000 : 100000;
    for (uint64_t i = 0; i < 10000000; ++i) {
      randomLine(seed, draw.below(candidates), line);
      line += "\r\n";
      std::fwrite(line.data(), 1, line.size(), f);
    }
  } else if (kind == "text") {
    for (uint64_t i = 0; i < 8000000; ++i) {
      // Zipf-like ranks over 2 M lines: the square of a uniform draw favours low ranks.
      const double u = static_cast<double>(draw.next() >> 11) / 9007199254740992.0;
      const uint64_t rank = static_cast<uint64_t>(u * u * u * 2000000.0);
      textLine(seed, rank, line);
      line += "\r\n";
      std::fwrite(line.data(), 1, line.size(), f);
    }
  } else {
    std::fprintf(stderr, "unknown corpus kind '%s'\n", kind.c_str());
    return 2;
  }
  if (std::fclose(f) != 0) {
    std::perror(argv[2]);
    return 1;
  }
  return 0;
}
