// A whole load on the typical machine whose card carries the input bytes as
// its CIS (packed, as in a .cis file: byte k at attribute address 2k).
//
// The load runs through the real controller model and the window the
// simulated HAL maps, with inaccessible pages on both sides of it, so that a
// driver access outside the window faults; AddressSanitizer bounds the
// driver's buffers and the models. After each load:
// - the load ended, with status 1 (configured) or 0 (a card stage failed),
//   having stalled no longer than a load of the built-in card does;
// - status 1 only for a card whose product string reads "Nuvalt ThinPocket
//   Modem" and whose chosen configuration entry has the I/O base ComPort,
//   as the driver's reading rules find them in what the window showed;
// - the card's COR written only with status 1: otherwise it still reads
//   its power-on 0 and the card stays in memory mode; with status 1 the
//   COR, when it sits where the driver wrote, holds the chosen index OR 0x51;
// - the record holds what the driver's reading rules give for that window.
#include "check.hpp"
#include "cis_model.hpp"

#include "modem/modem.h"
#include "sim/card/modem_card.hpp"
#include "sim/machine/machine.hpp"
#include "sim/machine/machine_spec.hpp"

#include <cstring>
#include <vector>

namespace {

// Attribute memory as the card shows it from power-on, before anything is
// written: what the driver's window reads.
std::vector<std::uint8_t> power_on_view(const std::vector<std::uint8_t>& cis, std::uint8_t odd_fill) {
    sim::ModemCard card(cis, odd_fill);
    std::vector<std::uint8_t> view(fuzzmodel::kWindow);
    for (std::uint32_t a = 0; a < view.size(); ++a) view[a] = card.attr_read(a);
    return view;
}

std::uint64_t builtin_card_stalls() {
    sim::Machine m(sim::default_machine());
    if (m.load() != 1) std::abort();
    return m.kernel().stall_calls();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::uint64_t kFullLoadStalls = builtin_card_stalls();

    sim::MachineSpec description = sim::default_machine();
    description.debug = 0;
    FUZZ_CHECK(!description.sockets.empty() && description.sockets[0].has_card());
    description.sockets[0].cis.assign(data, data + size);
    const std::uint8_t odd_fill = description.sockets[0].odd_fill;

    sim::Machine machine(description);
    const NTSTATUS status = machine.load();

    FUZZ_CHECK(status == 0 || status == 1);
    FUZZ_CHECK(machine.kernel().stall_calls() <= kFullLoadStalls);
    FUZZ_CHECK(machine.record().has_value());
    const CmExtension& record = *machine.record();
    FUZZ_CHECK(machine.cards().size() == 1);
    const sim::ModemCard& card = *machine.cards()[0].card;

    const std::vector<std::uint8_t> view = power_on_view(description.sockets[0].cis, odd_fill);
    const fuzzmodel::Stages want = fuzzmodel::parse_tuples(view.data(), record.ComPort);
    const bool product = std::memcmp(record.Signature, fuzzmodel::kProduct, 23) == 0;

    if (status == 1) {
        FUZZ_CHECK(product);
        FUZZ_CHECK(want.passed && want.chosen_base == record.ComPort);
        FUZZ_CHECK(record.CorOffset < fuzzmodel::kWindow);
        if (card.cor_address() == record.CorOffset)
            FUZZ_CHECK(card.cor() == static_cast<std::uint8_t>(record.ConfigIndex | 0x51));
    } else {
        FUZZ_CHECK(card.cor() == 0);
        FUZZ_CHECK(!card.io_mode());
        FUZZ_CHECK(!(want.passed && product && want.cor_offset < fuzzmodel::kWindow));
    }
    if (want.signature_set) FUZZ_CHECK(std::memcmp(record.Signature, want.signature.data(), 24) == 0);
    if (want.cor_set) FUZZ_CHECK(record.CorOffset == want.cor_offset);
    if (want.config_index) FUZZ_CHECK(record.ConfigIndex == *want.config_index);
    return 0;
}
