#include "sim/card/nuvalt_cis.hpp"

#include "sim/hw/cis_builder.hpp"

namespace sim {

namespace {

using Bytes = CisBuilder::Bytes;

constexpr std::uint8_t kDevice = 0x01;
constexpr std::uint8_t kVers1 = 0x15;
constexpr std::uint8_t kConfig = 0x1A;
constexpr std::uint8_t kCftableEntry = 0x1B;
constexpr std::uint8_t kManfid = 0x20;
constexpr std::uint8_t kFuncid = 0x21;

constexpr std::uint16_t kCorAddress = 0x3F8;
constexpr std::uint16_t kManufacturer = 0x0E4E;
constexpr std::uint16_t kProduct = 0x0101;

// TPCE_INDX bits above the six-bit index.
constexpr std::uint8_t kIndxInterface = 0x80; // TPCE_IF follows
constexpr std::uint8_t kIndxDefault = 0x40;   // later entries inherit what this one says

// The I/O description every entry carries: TPCE_IO 0xEA (a range follows,
// 8- and 16-bit cycles, 10 address lines decoded), one range with a two-byte
// address and a one-byte length, eight ports.
Bytes io_range(std::uint16_t base) {
    return {0xEA, 0x60, CisBuilder::lo(base), CisBuilder::hi(base), 0x07};
}

// A full entry, feature byte 0xBD: interface, Vcc, timing, I/O, IRQ, memory
// and misc descriptions. What follows the I/O base is 7 bytes long (range
// length, IRQ with mask, memory length, misc), so the base is the ninth-last
// and eighth-last body byte.
Bytes full_entry(std::uint8_t index, bool is_default, std::uint16_t base) {
    Bytes body{static_cast<std::uint8_t>(kIndxInterface | (is_default ? kIndxDefault : 0) | index),
               0x01,  // TPCE_IF: I/O and memory interface, no status in a pin replacement register
               0xBD,  // TPCE_FS: misc, memory (one length), IRQ, I/O, timing, Vcc
               0x21,  // Vcc: nominal voltage and peak current follow
               0x55,  //   5.0 V
               0x1E,  //   150 mA
               0xFF}; // TPCE_TD: no WAIT, READY or reserved timing
    Bytes io = io_range(base);
    body.insert(body.end(), io.begin(), io.end());
    Bytes tail{0x30, 0xB8, 0xDE, // TPCE_IR: level, mask of IRQs 3-5, 7, 9-12, 14, 15
               0x00, 0x00,       // TPCE_MS: no common memory (length 0 pages)
               0x00};            // TPCE_MI: no audio, no power-down, single function
    body.insert(body.end(), tail.begin(), tail.end());
    return body;
}

// A short entry, I/O byte 0xEA at body byte 2: no TPCE_IF, a feature byte
// with only the I/O bit, then the I/O description. Power, timing, IRQ and
// interface come from the default entry before it.
Bytes io_only_entry(std::uint8_t index, std::uint16_t base) {
    Bytes body{index,  // TPCE_INDX: neither interface nor default
               0x08};  // TPCE_FS: I/O only
    Bytes io = io_range(base);
    body.insert(body.end(), io.begin(), io.end());
    return body;
}

} // namespace

std::vector<std::uint8_t> nuvalt_thinpocket_cis() {
    CisBuilder cis;
    cis.tuple(kDevice, {0x00, 0x00, 0xFF}) // DTYPE_NULL: no common memory
        .tuple(kVers1, CisBuilder::vers1({"Nuvalt", "ThinPocket Modem", "33600 DATA/FAX", "Rev 1.1"}))
        .tuple(kManfid, {CisBuilder::lo(kManufacturer), CisBuilder::hi(kManufacturer),
                         CisBuilder::lo(kProduct), CisBuilder::hi(kProduct)})
        .tuple(kFuncid, {0x02, 0x00}) // serial port, no POST or ROM initialisation
        .tuple(kConfig, CisBuilder::config(kCorAddress, 0x17))
        .tuple(kCftableEntry, full_entry(0x11, true, 0x2F8))
        .tuple(kCftableEntry, io_only_entry(0x13, 0x3F8))
        .tuple(kCftableEntry, full_entry(0x15, false, 0x3E8))
        .tuple(kCftableEntry, io_only_entry(0x17, 0x2E8))
        .end();
    return cis.packed();
}

} // namespace sim
