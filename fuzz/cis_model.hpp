// How the driver reads a 4 KB attribute-memory window, written out on its
// own so that the harnesses can tell what the driver should have found:
// the tuple chain from attribute address 0 (every tuple code, link at +2,
// body bytes at +4, +6, ...), and what the CIS stages take from it.
//
// The bounds are the driver's: a walk that reaches the window's end, or a
// found body that would reach past it, is a missing tuple; a found tuple of
// link 0 is missing too; at most 64 body bytes (128 window bytes) are copied.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace fuzzmodel {

inline constexpr std::size_t kWindow = 0x1000;
inline constexpr std::size_t kBody = 128;

struct Tuple {
    std::size_t offset; // window offset of the code byte
    std::uint8_t link;
};

// The Occurrence-th tuple of Code (both compared in 8 bits).
inline std::optional<Tuple> find_tuple(const std::uint8_t* w, std::uint8_t code, std::uint8_t occurrence) {
    std::uint8_t count = 0;
    std::size_t at = 0;
    while (at + 2 < kWindow) {
        const std::uint8_t c = w[at];
        const std::uint8_t link = w[at + 2];
        if (c == code) {
            ++count;
            if (count == occurrence) {
                if (link == 0 || at + 4 + 2 * std::size_t{link} > kWindow) return std::nullopt;
                return Tuple{at, link};
            }
        } else if (c == 0xFF || link == 0xFF) {
            return std::nullopt;
        }
        at += 4 + 2 * std::size_t{link};
    }
    return std::nullopt;
}

// Body byte k of a found tuple; only the 64 that fit the buffer exist.
inline std::optional<std::uint8_t> body_byte(const std::uint8_t* w, const Tuple& t, std::size_t k) {
    if (k >= t.link || k >= kBody / 2) return std::nullopt;
    return w[t.offset + 4 + 2 * k];
}

// What CmParseTuples should leave, for a given ComPort.
struct Stages {
    bool passed = false;
    bool signature_set = false;
    std::array<std::uint8_t, 24> signature{};
    bool cor_set = false;
    std::uint16_t cor_offset = 0;
    std::optional<std::uint8_t> config_index; // of the last entry examined
    std::uint16_t chosen_base = 0;            // I/O base of the chosen entry
    int chosen_occurrence = 0;
};

// The I/O base of a configuration entry as the driver reads it, 0 when its
// layout is unknown or it is too short for the bytes its layout names.
inline std::uint16_t entry_base(const std::uint8_t* w, const Tuple& e) {
    auto b = [&](std::size_t k) { return body_byte(w, e, k); };
    const auto layout = b(2);
    if (!layout) return 0;
    std::optional<std::uint8_t> lo, hi;
    if (*layout == 0xEA) {
        lo = b(4);
        hi = b(5);
    } else if (*layout == 0xBD && e.link >= 9) {
        lo = b(e.link - 9u);
        hi = b(e.link - 8u);
    }
    if (!lo || !hi) return 0;
    return static_cast<std::uint16_t>(*lo | (*hi << 8));
}

inline Stages parse_tuples(const std::uint8_t* w, std::uint32_t com_port) {
    Stages s;
    const auto vers = find_tuple(w, 0x15, 1);
    if (!vers || vers->link < 25) return s;
    for (std::size_t i = 0; i < 23; ++i) s.signature[i] = *body_byte(w, *vers, i + 2);
    s.signature[23] = 0;
    s.signature[6] = 0x20;
    s.signature_set = true;

    const auto config = find_tuple(w, 0x1A, 1);
    if (!config || config->link < 4) return s;
    s.cor_offset = static_cast<std::uint16_t>(*body_byte(w, *config, 2) | (*body_byte(w, *config, 3) << 8));
    s.cor_set = true;

    for (int n = 1; n <= 4; ++n) {
        const auto entry = find_tuple(w, 0x1B, static_cast<std::uint8_t>(n));
        if (!entry) return s;
        s.config_index = static_cast<std::uint8_t>(*body_byte(w, *entry, 0) & 0x3F);
        const std::uint16_t base = entry_base(w, *entry);
        if (base == com_port) {
            s.passed = true;
            s.chosen_base = base;
            s.chosen_occurrence = n;
            return s;
        }
    }
    return s;
}

inline constexpr char kProduct[] = "Nuvalt ThinPocket Modem";

} // namespace fuzzmodel
