// Insert and lookup of text keys: FastHashTable (both hash families),
// SharedHashTable, std::unordered_map<std::string, int> and
// absl::flat_hash_map<std::string, int>, all in one run.
//
// Keys are 6 to 40 random bytes (never NUL), NUL-terminated in one arena.
// Lookups go through a shuffled order of the keys (at most 2M of them), so that no table gains
// from meeting its nodes in allocation order. Present and absent key sets
// are disjoint. Tables for the lookup benchmarks are built once per size and
// container, outside the timing, and reused across repetitions.
//
//   fasthash_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <absl/container/flat_hash_map.h>
#include <absl/strings/string_view.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "fasthash/fast_hash_table.h"
#include "platform/cpu_features.h"
#include "platform/heap.h"
#include "sharedhash/shared_hash_table.h"

namespace {

using linemint::FastHashTable;
using linemint::KeyWord;
using linemint::SharedHashTable;

constexpr size_t kMaxKeys = 10'000'000;
// Lookups per measurement: all keys up to this many, else a random sample of
// this size (of all n keys, in a table of n keys), which keeps the 10M case short.
constexpr size_t kLookupSample = 2'000'000;

// present[i] and absent[i] point into one arena; lookupPresent is a shuffled
// copy of present's first n pointers for each size.
struct KeySet {
  std::vector<char> arena;
  std::vector<const char*> present;
  std::vector<const char*> absent;
};

const KeySet& keys(size_t n) {
  static KeySet set;
  static size_t made = 0;
  if (made < n) {
    set = KeySet{};
    std::mt19937_64 rng(0x5eed1234u);
    set.arena.reserve(2 * n * 24);
    std::vector<size_t> offsets;
    offsets.reserve(2 * n);
    for (size_t i = 0; i < 2 * n; ++i) {
      const size_t length = 6 + rng() % 35;
      offsets.push_back(set.arena.size());
      for (size_t k = 0; k < length; ++k) set.arena.push_back(static_cast<char>(1 + rng() % 255));
      set.arena.push_back('\0');
    }
    for (size_t i = 0; i < 2 * n; ++i) (i % 2 == 0 ? set.present : set.absent).push_back(set.arena.data() + offsets[i]);
    made = n;
  }
  return set;
}

// A shuffled order of the first n keys of a list.
std::vector<const char*> shuffled(const std::vector<const char*>& list, size_t n) {
  std::vector<const char*> order(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(n));
  std::shuffle(order.begin(), order.end(), std::mt19937_64(n));
  return order;
}

// Containers behind one small interface.
struct FastCrc {
  static constexpr const char* name = "FastHashTable/crc32";
  FastHashTable t;
  FastCrc() { t.create(10, 3); }
  void insert(const char* key) {
    const int32_t zero = 0;
    t.insert(&key, &zero);
  }
  bool contains(const char* key) { return t.contains(&key) != 0; }
};

struct FastSum31 {
  static constexpr const char* name = "FastHashTable/sum31";
  FastHashTable t;
  FastSum31() {
    // The table keeps the family it was created with.
    const linemint::platform::CpuFeatures saved = linemint::platform::cpuFeatures;
    linemint::platform::CpuFeatures forced = saved;
    forced.sse42 = 0;
    linemint::platform::setCpuFeaturesForTesting(forced);
    t.create(10, 3);
    linemint::platform::setCpuFeaturesForTesting(saved);
  }
  void insert(const char* key) {
    const int32_t zero = 0;
    t.insert(&key, &zero);
  }
  bool contains(const char* key) { return t.contains(&key) != 0; }
};

struct Shared {
  static constexpr const char* name = "SharedHashTable";
  SharedHashTable t;
  Shared() { t.create(10, 3); }
  void insert(const char* key) { t.insert(KeyWord::text(key), KeyWord::integer(0)); }
  bool contains(const char* key) { return t.containsKey(KeyWord::text(key)); }
};

// The standard map with its own hash, made transparent so that a lookup by
// const char* builds no std::string (as absl's map does natively).
struct StringHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

struct StdMap {
  static constexpr const char* name = "std::unordered_map";
  std::unordered_map<std::string, int, StringHash, std::equal_to<>> m;
  void insert(const char* key) { m.try_emplace(key, 0); }
  bool contains(const char* key) { return m.find(std::string_view(key)) != m.end(); }
};

struct AbslMap {
  static constexpr const char* name = "absl::flat_hash_map";
  absl::flat_hash_map<std::string, int> m;
  void insert(const char* key) { m.try_emplace(key, 0); }
  bool contains(const char* key) { return m.contains(absl::string_view(key)); }
};

// Releases the one table kept for lookups, whichever container it is, so
// that a single large table is alive at a time.
std::function<void()> releaseKept = [] {};

template <typename Table>
void setRate(benchmark::State& state, size_t n) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
  state.counters["per_key"] =
      benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Insert n new keys into a fresh table; building the empty table and tearing
// the full one down are not timed.
template <typename Table>
void insertNew(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  const KeySet& k = keys(n);
  releaseKept();
  releaseKept = [] {};
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<Table>();
    state.ResumeTiming();
    for (size_t i = 0; i < n; ++i) table->insert(k.present[i]);
    benchmark::DoNotOptimize(table.get());
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  setRate<Table>(state, n);
}

// One built table per container and size, kept while the lookups of that
// pair run.
template <typename Table>
Table& builtTable(size_t n) {
  static std::unique_ptr<Table> table;
  static size_t builtFor = 0;
  if (table == nullptr || builtFor != n) {
    releaseKept();
    table = std::make_unique<Table>();
    const KeySet& k = keys(n);
    for (size_t i = 0; i < n; ++i) table->insert(k.present[i]);
    builtFor = n;
    releaseKept = [] {
      table.reset();
      builtFor = 0;
    };
  }
  return *table;
}

template <typename Table, bool Present>
void lookup(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  Table& table = builtTable<Table>(n);
  static std::vector<const char*> order;
  static size_t orderFor = 0;
  static bool orderPresent = !Present;
  if (orderFor != n || orderPresent != Present) {
    order = shuffled(Present ? keys(n).present : keys(n).absent, n);
    if (order.size() > kLookupSample) order.resize(kLookupSample);
    orderFor = n;
    orderPresent = Present;
  }
  size_t found = 0;
  for (auto _ : state) {
    for (const char* key : order) found += table.contains(key) ? 1 : 0;
  }
  benchmark::DoNotOptimize(found);
  if (found != (Present ? order.size() * static_cast<size_t>(state.iterations()) : 0)) state.SkipWithError("wrong lookup result");
  setRate<Table>(state, order.size());
}

template <typename Table>
void registerContainer(size_t n) {
  const std::string size = n >= 1'000'000 ? std::to_string(n / 1'000'000) + "M" : std::to_string(n / 1000) + "k";
  auto configure = [n](benchmark::internal::Benchmark* b) {
    b->Arg(static_cast<int64_t>(n))->Unit(benchmark::kMillisecond)->UseRealTime();
    if (n >= kMaxKeys) b->Iterations(1);
  };
  configure(benchmark::RegisterBenchmark((std::string("insert_new/") + Table::name + "/" + size).c_str(), insertNew<Table>));
  configure(benchmark::RegisterBenchmark((std::string("contains_present/") + Table::name + "/" + size).c_str(),
                                         lookup<Table, true>));
  configure(benchmark::RegisterBenchmark((std::string("contains_absent/") + Table::name + "/" + size).c_str(),
                                         lookup<Table, false>));
}

}  // namespace

int main(int argc, char** argv) {
  linemint::platform::resolveHeapEntryPoints();
  linemint::platform::probeCpuFeatures();
  benchmark::Initialize(&argc, argv);
  for (const size_t n : {size_t{10'000}, size_t{1'000'000}, kMaxKeys}) {
    registerContainer<FastCrc>(n);
    registerContainer<FastSum31>(n);
    registerContainer<Shared>(n);
    registerContainer<StdMap>(n);
    registerContainer<AbslMap>(n);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
