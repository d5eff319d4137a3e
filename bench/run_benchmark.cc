// The run sequence on in-memory stores of growing size, beside its floor: the very same store
// operations replayed with no walk or rule logic. Both report time per endpoint.
#include <benchmark/benchmark.h>

#include "app/run.h"
#include "bench/realistic_store.h"
#include "bench/recording_store.h"
#include "registry/memory_store.h"

namespace endpointfix::bench {
namespace {

// A store already run over once, so that every later run makes the same calls.
std::unique_ptr<MemoryStore> steady_store(int endpoints) {
    auto store = std::make_unique<MemoryStore>();
    for (const StoredValue& v : realistic_store(endpoints))
        store->set_value(v.key, v.name, v.type, v.bytes);
    run(*store);
    return store;
}

void per_endpoint(benchmark::State& state) {
    state.counters["per_endpoint"] = benchmark::Counter(
        static_cast<double>(state.range(0)),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Run(benchmark::State& state) {
    auto store = steady_store(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(run(*store));
    per_endpoint(state);
}

void BM_Floor(benchmark::State& state) {
    auto store = steady_store(static_cast<int>(state.range(0)));
    RecordingStore recorder(*store);
    run(recorder);
    std::vector<KeyHandle> handles;
    for (auto _ : state) replay(*store, recorder.operations, handles);
    per_endpoint(state);
}

BENCHMARK(BM_Run)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Floor)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace endpointfix::bench

BENCHMARK_MAIN();
