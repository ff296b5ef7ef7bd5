// The CIS reader and the three CIS stages over an arbitrary window image.
//
// Input: one control byte (bits 1..0: Debug 0, 1, 2 or 0; bits 3..2: the
// COM port 0x2F8, 0x3F8, 0x3E8 or 0x2E8), then the window image, its missing
// tail reading 0xFF as attribute memory past a short CIS does.
//
// The window is a 4 KB block with an inaccessible page on each side, read
// only while the reader and stages 3 and 4 run, so that any read outside it
// and any write into it faults. The reader's body buffer is a 128-byte heap
// block and the stage's is its own 128-byte stack buffer, both bounded by
// AddressSanitizer.
#include "check.hpp"
#include "cis_model.hpp"

#include "modem/cm.h"
#include "sim/hw/clock.hpp"
#include "sim/hw/isa_bus.hpp"
#include "sim/kernel/kernel.hpp"
#include "tests/cm/guarded_bytes.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::uint8_t kPattern = 0xA5; // what a body buffer holds before a search
constexpr std::uint8_t kStale = 0xCC;   // record bytes no stage has written
constexpr ULONG kComPorts[] = {0x2F8, 0x3F8, 0x3E8, 0x2E8};
constexpr ULONG kDebug[] = {0, 1, 2, 0};

// Every tuple code the stages seek, the code at address 0, the end mark and
// code 0x00; occurrences 1 to 5, and 0 (reached only when the 8-bit counter
// wraps).
constexpr std::uint8_t kOccurrences[] = {1, 2, 3, 4, 5, 0};

void check_reader(const std::uint8_t* window, std::uint8_t code, std::uint8_t occurrence, std::uint8_t* body) {
    std::memset(body, kPattern, fuzzmodel::kBody);
    const LONG link = ParseCis(const_cast<PUCHAR>(window), code, occurrence, body);
    const auto want = fuzzmodel::find_tuple(window, code, occurrence);

    FUZZ_CHECK(link >= 0 && link <= 255);
    if (!want) {
        FUZZ_CHECK(link == 0);
        FUZZ_CHECK(std::all_of(body, body + fuzzmodel::kBody, [](std::uint8_t b) { return b == kPattern; }));
        return;
    }
    FUZZ_CHECK(link == want->link);
    const std::size_t copied = std::min<std::size_t>(2 * want->link, fuzzmodel::kBody);
    FUZZ_CHECK(std::memcmp(body, window + want->offset + 4, copied) == 0);
    FUZZ_CHECK(std::all_of(body + copied, body + fuzzmodel::kBody, [](std::uint8_t b) { return b == kPattern; }));
}

// The record fields the CIS stages must leave alone.
bool same_frame(const CmExtension& a, const CmExtension& b) {
    return a.Socket == b.Socket && a.HwMem == b.HwMem && a.PcicBusPort == b.PcicBusPort && a.ComPort == b.ComPort &&
           a.ComIrq == b.ComIrq && a.AttrMem == b.AttrMem && a.PcicPort == b.PcicPort && a.Debug == b.Debug;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static cmtest::GuardedBytes window(fuzzmodel::kWindow);
    static std::vector<std::uint8_t> image(fuzzmodel::kWindow);
    static const std::unique_ptr<std::uint8_t[]> body(new std::uint8_t[fuzzmodel::kBody]);

    const std::uint8_t control = size ? data[0] : 0;
    const std::size_t shown = size ? std::min(size - 1, fuzzmodel::kWindow) : 0;
    std::fill(image.begin(), image.end(), 0xFF);
    if (shown) std::memcpy(image.data(), data + 1, shown);
    window.load(image);
    window.writable(false);
    const std::uint8_t* w = window.data();

    // DbgPrint goes to a kernel of its own for each input.
    sim::IsaBus bus;
    sim::VirtualClock clock;
    sim::Kernel kernel(bus, clock);
    sim::KernelScope scope(kernel);

    // The reader.
    const std::uint8_t codes[] = {CISTPL_VERS_1, CISTPL_CONFIG, CISTPL_CFTABLE_ENTRY, 0x00, 0xFF, w[0]};
    for (std::uint8_t code : codes)
        for (std::uint8_t occurrence : kOccurrences) check_reader(w, code, occurrence, body.get());

    // Stage 3.
    CmExtension ext;
    std::memset(&ext, kStale, sizeof ext);
    ext.AttrMem = window.data();
    ext.ComPort = kComPorts[(control >> 2) & 3];
    ext.ComIrq = 3;
    ext.Debug = kDebug[control & 3];
    const CmExtension before = ext;

    const LONG parsed = CmParseTuples(&ext);
    const fuzzmodel::Stages want = fuzzmodel::parse_tuples(w, ext.ComPort);
    FUZZ_CHECK(parsed == 0 || parsed == 1);
    FUZZ_CHECK(same_frame(ext, before));
    FUZZ_CHECK((parsed == 0) == want.passed);
    if (parsed == 0) {
        FUZZ_CHECK(ext.Signature[23] == 0);
        FUZZ_CHECK(ext.ConfigIndex <= 0x3F);
    }
    if (want.signature_set)
        FUZZ_CHECK(std::memcmp(ext.Signature, want.signature.data(), sizeof ext.Signature) == 0);
    else
        FUZZ_CHECK(std::memcmp(ext.Signature, before.Signature, sizeof ext.Signature) == 0);
    FUZZ_CHECK(ext.CorOffset == (want.cor_set ? want.cor_offset : before.CorOffset));
    FUZZ_CHECK(ext.ConfigIndex == want.config_index.value_or(before.ConfigIndex));

    // Stage 4.
    const CmExtension parsed_record = ext;
    const LONG checked = CmCheckForAdapterTuple(&ext);
    FUZZ_CHECK(checked == 0 || checked == 1);
    FUZZ_CHECK((checked == 0) == (std::memcmp(ext.Signature, fuzzmodel::kProduct, 23) == 0));
    FUZZ_CHECK(std::memcmp(&ext, &parsed_record, sizeof ext) == 0);

    // Stage 7, on the record as stage 3 left it: at most the one byte at
    // CorOffset changes, and only inside the window.
    window.writable(true);
    const LONG written = CmWriteCor(&ext);
    const std::uint8_t* after = window.data();
    FUZZ_CHECK(written == 0 || written == 1);
    FUZZ_CHECK(std::memcmp(&ext, &parsed_record, sizeof ext) == 0);
    for (std::size_t a = 0; a < fuzzmodel::kWindow; ++a) {
        if (a == ext.CorOffset) continue;
        FUZZ_CHECK(after[a] == image[a]);
    }
    if (ext.CorOffset < fuzzmodel::kWindow) {
        FUZZ_CHECK(written == 0);
        FUZZ_CHECK(after[ext.CorOffset] == static_cast<std::uint8_t>(ext.ConfigIndex | 0x51));
    } else {
        FUZZ_CHECK(written == 1);
    }
    return 0;
}
