// A small builder for Card Information Structures, so that card images and
// test fixtures are written as tuples rather than typed as byte arrays.
//
// packed() gives the form of a .cis file (code, link, body, code, link,
// body ...); attribute_memory() lays that packed form on even attribute
// addresses as a card does, with odd addresses and everything past the CIS
// reading a fill byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace sim {

class CisBuilder {
public:
    using Bytes = std::vector<std::uint8_t>;

    // One tuple: code, link (the body's length) and body.
    CisBuilder& tuple(std::uint8_t code, const Bytes& body) {
        packed_.push_back(code);
        packed_.push_back(static_cast<std::uint8_t>(body.size()));
        packed_.insert(packed_.end(), body.begin(), body.end());
        return *this;
    }
    // A tuple whose link byte says something other than its body's length.
    CisBuilder& tuple_with_link(std::uint8_t code, std::uint8_t link, const Bytes& body) {
        packed_.push_back(code);
        packed_.push_back(link);
        packed_.insert(packed_.end(), body.begin(), body.end());
        return *this;
    }
    // Bytes as they stand, for broken chains.
    CisBuilder& raw(const Bytes& bytes) {
        packed_.insert(packed_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    // CISTPL_END: the code byte alone ends the chain.
    CisBuilder& end() {
        packed_.push_back(0xFF);
        return *this;
    }

    const Bytes& packed() const { return packed_; }

    // Attribute memory of the given size: packed byte k at address 2k.
    Bytes attribute_memory(std::size_t size = 0x1000, std::uint8_t odd_fill = 0xFF,
                           std::uint8_t past_end = 0xFF) const {
        Bytes mem(size, past_end);
        for (std::size_t a = 1; a < size; a += 2) mem[a] = odd_fill;
        for (std::size_t k = 0; k < packed_.size() && 2 * k < size; ++k) mem[2 * k] = packed_[k];
        return mem;
    }

    // ---- Body helpers for the tuples the driver reads ----

    // CISTPL_VERS_1 body: major, minor, then each string with its NUL, then
    // the 0xFF that ends the string list.
    static Bytes vers1(std::initializer_list<std::string_view> strings, std::uint8_t major = 4,
                       std::uint8_t minor = 1) {
        Bytes body{major, minor};
        for (std::string_view s : strings) {
            body.insert(body.end(), s.begin(), s.end());
            body.push_back(0x00);
        }
        body.push_back(0xFF);
        return body;
    }

    // CISTPL_CONFIG body with a two-byte configuration register base:
    // size field (address bytes - 1 = 1), last index, base low, base high,
    // register presence mask.
    static Bytes config(std::uint16_t cor_base, std::uint8_t last_index, std::uint8_t mask = 0x01) {
        return {0x01, last_index, static_cast<std::uint8_t>(cor_base & 0xFF),
                static_cast<std::uint8_t>(cor_base >> 8), mask};
    }

    static std::uint8_t lo(std::uint16_t v) { return static_cast<std::uint8_t>(v & 0xFF); }
    static std::uint8_t hi(std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); }

private:
    Bytes packed_;
};

} // namespace sim
