// Lambda-schedule merging on random images: the whole iterative schedule and
// its build stages alone (region hash, region set, pair set, merge tree), with
// time and peak heap per initial region as counters. Figures only.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "containers/allocation.h"
#include "iterative/iterative_lambda_segment.h"
#include "lambda/merge_run.h"

// ---- heap accounting ------------------------------------------------------------
// The C heap is wrapped for the whole program so that the peak of bytes held
// during one call can be read, slack of the C library included.
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);
}

namespace {
int64_t heap_now = 0;
int64_t heap_peak = 0;

void *held(void *block) {
  if (block) {
    heap_now += static_cast<int64_t>(malloc_usable_size(block));
    heap_peak = std::max(heap_peak, heap_now);
  }
  return block;
}
void release(void *block) {
  if (block) heap_now -= static_cast<int64_t>(malloc_usable_size(block));
}
}  // namespace

extern "C" {
void *malloc(size_t size) { return held(__libc_malloc(size)); }
void *calloc(size_t count, size_t size) { return held(__libc_calloc(count, size)); }
void *realloc(void *block, size_t size) {
  release(block);
  return held(__libc_realloc(block, size));
}
void free(void *block) {
  release(block);
  __libc_free(block);
}
}

namespace {

constexpr int32_t kBands = 3;

struct scene {
  int32_t side;
  std::vector<float> image;
  std::vector<uint32_t> labels;
  int32_t n_regions;
};

// Random bands; labels either one per pixel or one per 8x8 block (the shape a
// watershed of a smooth image gives, without its irregular borders).
scene make_scene(int32_t side, int32_t block) {
  scene s{side, std::vector<float>(static_cast<size_t>(kBands) * side * side),
          std::vector<uint32_t>(static_cast<size_t>(side) * side), 0};
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> value(0.0f, 255.0f);
  for (float &v : s.image) v = value(rng);
  const int32_t per_row = side / block;
  for (int32_t r = 0; r < side; ++r)
    for (int32_t c = 0; c < side; ++c)
      s.labels[static_cast<size_t>(r) * side + c] =
          static_cast<uint32_t>((r / block) * per_row + c / block + 1);
  s.n_regions = per_row * per_row;
  return s;
}

void report(benchmark::State &state, const scene &s, int64_t peak) {
  state.counters["us_per_region"] = benchmark::Counter(
      static_cast<double>(s.n_regions) * 1e-6,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["heap_bytes_per_region"] =
      static_cast<double>(peak) / static_cast<double>(s.n_regions);
}

void BM_iterative(benchmark::State &state) {
  const scene s =
      make_scene(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
  int64_t peak = 0;
  for (auto _ : state) {
    float *lambdas = nullptr;
    uint32_t *label_map = nullptr;
    int32_t n_lambdas = 0, n_pairs = 0;
    const int64_t start = heap_now;
    heap_peak = heap_now;
    const int32_t status =
        iterative_lambda_segment(s.image.data(), s.labels.data(), s.side, s.side, kBands, &lambdas,
                                 &n_lambdas, &label_map, &n_pairs);
    peak = heap_peak - start;
    if (status != 0 || n_pairs != s.n_regions - 1) state.SkipWithError("schedule failed");
    kavu_free(lambdas);
    kavu_free(label_map);
  }
  report(state, s, peak);
}

// The four build stages of both drivers, then their release.
void BM_build(benchmark::State &state) {
  const scene s =
      make_scene(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
  int64_t peak = 0;
  for (auto _ : state) {
    const int64_t start = heap_now;
    heap_peak = heap_now;
    merge_run run{};
    const merge_input in{s.image.data(), s.labels.data(), s.side,  s.side, kBands,
                         nullptr,        nullptr,         nullptr, nullptr};
    int32_t status = merge_run_hash_labels(&run, in);
    if (status == 0) status = merge_run_build(&run, in);
    peak = heap_peak - start;
    if (status != 0) state.SkipWithError("build failed");
    merge_run_release(&run);
  }
  report(state, s, peak);
}

void sizes(benchmark::internal::Benchmark *b) {
  b->Args({256, 1})->Args({256, 8})->Args({1024, 1})->Args({1024, 8});
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK(BM_build)->Apply(sizes);
BENCHMARK(BM_iterative)->Apply(sizes);
