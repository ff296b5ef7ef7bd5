// The cost of the simulated stall path: one KeStallExecutionProcessor(1)
// call through the simulated kernel, and one NtPCIC_Enable of a card that is
// ready at once (2,055,000 stall calls), each beside a bare loop of the same
// number of out-of-line calls that do nothing.
#include "bare_call.hpp"

#include "modem/ntpcic.h"
#include "sim/hw/clock.hpp"
#include "sim/hw/isa_bus.hpp"
#include "sim/kernel/kernel.hpp"
#include "sim/pcic/controller.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <optional>

namespace {

// Stall calls of one NtPCIC_Enable whose card is ready at the first poll:
// waits of 100, 20000, 50, 200 and 200 counts of 100 calls.
constexpr std::uint64_t kEnableStalls = (100 + 20000 + 50 + 200 + 200) * 100;

// A card with nothing behind it: NtPCIC_Enable only needs its socket.
class QuietCard : public sim::Card {
public:
    std::uint8_t attr_read(std::uint32_t) override { return 0xFF; }
    void attr_write(std::uint32_t, std::uint8_t) override {}
    std::uint8_t common_read(std::uint32_t) override { return 0xFF; }
    void common_write(std::uint32_t, std::uint8_t) override {}
    std::optional<std::uint8_t> io_read(std::uint16_t) override { return std::nullopt; }
    bool io_write(std::uint16_t, std::uint8_t) override { return false; }
    void set_power(bool) override {}
    bool irq_pending() const override { return false; }
};

struct Machine {
    Machine() {
        bus.attach_ports(&pcic);
        bus.attach_memory(&pcic);
        pcic.add_socket({.bank = 0, .card = &card, .ready_ns = 0});
    }
    sim::VirtualClock clock;
    sim::IsaBus bus;
    sim::Kernel kernel{bus, clock};
    QuietCard card;
    sim::Controller pcic{0x3E0, 0x82, clock};
    sim::KernelScope scope{kernel};
};

// Reports seconds per stall (or bare) call next to the time per iteration.
void per_call(benchmark::State& state, std::uint64_t calls_per_iteration) {
    state.counters["per_call"] = benchmark::Counter(static_cast<double>(calls_per_iteration),
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

void BM_StallCall(benchmark::State& state) {
    Machine m;
    for (auto _ : state) KeStallExecutionProcessor(1);
    per_call(state, 1);
}
BENCHMARK(BM_StallCall);

void BM_BareCall(benchmark::State& state) {
    for (auto _ : state) bare_call(1);
    per_call(state, 1);
}
BENCHMARK(BM_BareCall);

void BM_EnableReadyCard(benchmark::State& state) {
    Machine m;
    for (auto _ : state) benchmark::DoNotOptimize(NtPCIC_Enable(1, 0x3E0));
    if (m.kernel.stall_calls() != kEnableStalls * state.iterations())
        state.SkipWithError("NtPCIC_Enable did not make the expected stall calls");
    per_call(state, kEnableStalls);
}
BENCHMARK(BM_EnableReadyCard)->Unit(benchmark::kMillisecond);

void BM_BareLoopOfEnableLength(benchmark::State& state) {
    for (auto _ : state)
        for (std::uint64_t i = 0; i < kEnableStalls; ++i) bare_call(1);
    per_call(state, kEnableStalls);
}
BENCHMARK(BM_BareLoopOfEnableLength)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
