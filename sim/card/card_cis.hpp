// What the card's own logic takes from the CIS it carries: the address of
// its configuration option register and the configuration indexes that
// select an I/O base.
//
// The card follows the PC Card Standard's tuple chain: the chain starts at
// attribute address 0; CISTPL_NULL (0x00) is one byte; CISTPL_END (0xFF), a
// link of 0xFF, or a tuple whose body would run past the image end it.
// Links to other chains are not followed. The image is untrusted bytes: every
// read is checked against its end, and since each step moves forward the walk
// ends within the image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sim {

namespace cis {

constexpr std::uint8_t kNull = 0x00;
constexpr std::uint8_t kConfig = 0x1A;
constexpr std::uint8_t kCftableEntry = 0x1B;
constexpr std::uint8_t kEnd = 0xFF;
constexpr std::uint8_t kLinkEnd = 0xFF;

// The two CFTABLE_ENTRY layouts whose I/O base the card decodes, named by
// body byte 2. 0xEA: base at body bytes 4 (low) and 5 (high). 0xBD: base at
// the ninth-last and eighth-last body bytes.
constexpr std::uint8_t kLayoutIoAt4 = 0xEA;
constexpr std::uint8_t kLayoutIoFromEnd = 0xBD;

constexpr std::uint8_t kIndexMask = 0x3F;

} // namespace cis

struct CardCis {
    struct IoEntry {
        std::uint8_t index; // body byte 0 AND 0x3F
        std::uint16_t base;
    };

    // From the first CONFIG tuple: TPCC_RADR, sized by TPCC_RASZ (body byte
    // 0 bits 1..0, address bytes - 1), little-endian from body byte 2.
    // nullopt when there is no CONFIG tuple, it is too short to hold the
    // address, or the address lies beyond the card's 26-bit address space.
    std::optional<std::uint32_t> cor_address;
    // Every CFTABLE_ENTRY with an I/O base in a layout above, chain order.
    std::vector<IoEntry> io_entries;

    // The I/O base that configuration index `index` selects: the first entry
    // of that index. Index 0 selects none (the standard keeps it for the
    // memory-only interface).
    std::optional<std::uint16_t> io_base_for(std::uint8_t index) const;
};

CardCis read_card_cis(std::span<const std::uint8_t> packed);

} // namespace sim
