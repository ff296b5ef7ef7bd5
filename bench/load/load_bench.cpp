// The whole typical boot on the simulated PC (machine built, driver loaded,
// 2,315,000 stall calls), beside a bare loop of as many out-of-line calls
// that do nothing. Peak memory is the process's resident high-water mark.
#include "../stall/bare_call.hpp"

#include "sim/machine/machine.hpp"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace {

constexpr unsigned kTypicalStalls = 2'315'000;

void peak_memory(benchmark::State& state) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_kib"] = static_cast<double>(usage.ru_maxrss);
}

void BM_TypicalBootLoad(benchmark::State& state) {
    const sim::MachineSpec description = sim::default_machine();
    for (auto _ : state) {
        sim::Machine machine(description);
        benchmark::DoNotOptimize(machine.load());
    }
    peak_memory(state);
}
BENCHMARK(BM_TypicalBootLoad)->Unit(benchmark::kMillisecond);

void BM_BareStallLoop(benchmark::State& state) {
    for (auto _ : state)
        for (unsigned i = 0; i < kTypicalStalls; ++i) bare_call(1);
    peak_memory(state);
}
BENCHMARK(BM_BareStallLoop)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
