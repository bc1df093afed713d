// Micro-benchmarks of the core containers against their std:: counterparts:
// open_hash insert and lookup of 1M labels. Figures only; nothing is asserted.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <unordered_set>
#include <vector>

#include "containers/open_hash.h"

namespace {

constexpr int32_t kCount = 1 << 20;

std::vector<uint32_t> labels(bool random) {
  std::vector<uint32_t> keys(kCount);
  std::mt19937 rng(5);
  for (int32_t i = 0; i < kCount; ++i)
    keys[i] = random ? rng() % 0xFFFFFFF0u : static_cast<uint32_t>(i) + 1;
  return keys;
}

void BM_open_hash(benchmark::State &state) {
  const std::vector<uint32_t> keys = labels(state.range(0));
  for (auto _ : state) {
    open_hash table{};
    int32_t n = kCount;
    const int32_t param = compute_hash_param(&n);
    open_hash_init(&table, n, param, h1_reg, h2_reg, match_reg);
    int32_t pos;
    for (uint32_t k : keys) open_hash_insert(&table, k, &pos);
    int64_t sum = 0;
    for (uint32_t k : keys) {
      open_hash_lookup(&table, k, &pos);
      sum += pos;
    }
    benchmark::DoNotOptimize(sum);
    open_hash_destroy(&table);
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}

void BM_unordered_set(benchmark::State &state) {
  const std::vector<uint32_t> keys = labels(state.range(0));
  for (auto _ : state) {
    std::unordered_set<uint32_t> set;
    set.reserve(kCount);
    for (uint32_t k : keys) set.insert(k);
    int64_t sum = 0;
    for (uint32_t k : keys) sum += set.count(k);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}

}  // namespace

BENCHMARK(BM_open_hash)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_unordered_set)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
