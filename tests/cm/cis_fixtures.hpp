// Window images for the CIS tests, built from tuples.
#pragma once

#include "sim/hw/cis_builder.hpp"

#include <cstdint>
#include <cstdlib>

namespace cmtest {

using Bytes = sim::CisBuilder::Bytes;

inline constexpr std::size_t kWindow = 0x1000;
inline constexpr std::uint8_t kOddFill = 0xA7; // what odd attribute addresses read

// A filler tuple code that no reader looks for.
inline constexpr std::uint8_t kFiller = 0x01;

inline Bytes window_of(const sim::CisBuilder& cis) { return cis.attribute_memory(kWindow, kOddFill, 0xFF); }

// Adds filler tuples until the next tuple starts at attribute address `to`.
// Their links stay below 0xFF, which would end the chain.
inline sim::CisBuilder& pad_to(sim::CisBuilder& cis, std::size_t to) {
    std::size_t at = 2 * cis.packed().size();
    if (to < at || (to - at) % 2 != 0 || to - at == 2) std::abort();
    while (to > at) {
        std::size_t step = to - at;
        if (step > 512) step = (step - 512 < 4) ? step - 4 : 512;
        cis.tuple(kFiller, Bytes((step - 4) / 2, 0x00));
        at += step;
    }
    return cis;
}

// CISTPL_CFTABLE_ENTRY bodies in the two layouts the driver reads.
// 0xEA: index byte, interface byte, layout byte, I/O flags, base low, base high, length - 1.
inline Bytes entry_ea(std::uint8_t index_byte, std::uint16_t base, std::size_t link = 7) {
    Bytes b(link, 0x00);
    b[0] = index_byte;
    b[1] = 0x01;
    b[2] = 0xEA;
    b[3] = 0x60;
    b[4] = sim::CisBuilder::lo(base);
    b[5] = sim::CisBuilder::hi(base);
    if (link > 6) b[6] = 0x07;
    return b;
}
// 0xBD: the base is the ninth-last and eighth-last body bytes.
inline Bytes entry_bd(std::uint8_t index_byte, std::uint16_t base, std::size_t link = 19) {
    Bytes b(link, 0x00);
    b[0] = index_byte;
    b[2] = 0xBD;
    b[link - 9] = sim::CisBuilder::lo(base);
    b[link - 8] = sim::CisBuilder::hi(base);
    return b;
}

} // namespace cmtest
