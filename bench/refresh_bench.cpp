// The window logic's refresh with two sets of 1,000,000 members each, through a view that discards what it
// is given, beside to_array of the same two sets as the reference. Shapes: "clustered" (consecutive values,
// dense blocks) and "spread" (random values over the whole range, about one member per block).
#include <benchmark/benchmark.h>

#include "bench/refresh_fixtures.h"

namespace {

using namespace refresh_fixtures;

const char* label(shape s) { return s == clustered ? "clustered" : "spread"; }

void BM_Refresh(benchmark::State& state) {
  const auto s = static_cast<shape>(state.range(0));
  noop_view view(s);
  for (auto _ : state) view.refresh();
  state.SetItemsProcessed(state.iterations() * 2 * kMembers);
  state.SetLabel(label(s));
}
BENCHMARK(BM_Refresh)->Arg(clustered)->Arg(spread)->Unit(benchmark::kMillisecond);

// The reference: both sets turned into arrays, as a floor for any walk over all their members.
void BM_ToArrayOfBoth(benchmark::State& state) {
  const auto s = static_cast<shape>(state.range(0));
  noop_view view(s);
  for (auto _ : state) {
    auto a = view.a().to_array();
    auto b = view.b().to_array();
    benchmark::DoNotOptimize(a.data());
    benchmark::DoNotOptimize(b.data());
  }
  state.SetItemsProcessed(state.iterations() * 2 * kMembers);
  state.SetLabel(label(s));
}
BENCHMARK(BM_ToArrayOfBoth)->Arg(clustered)->Arg(spread)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
