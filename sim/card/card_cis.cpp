#include "sim/card/card_cis.hpp"

namespace sim {

namespace {

constexpr std::uint32_t kCardAddressLimit = 1u << 26;

std::optional<std::uint32_t> config_register_base(std::span<const std::uint8_t> body) {
    if (body.empty()) return std::nullopt;
    const std::size_t bytes = (body[0] & 0x03) + 1u;
    if (body.size() < 2 + bytes) return std::nullopt;
    std::uint32_t address = 0;
    for (std::size_t i = 0; i < bytes; ++i) address |= std::uint32_t{body[2 + i]} << (8 * i);
    if (address >= kCardAddressLimit) return std::nullopt;
    return address;
}

std::optional<std::uint16_t> entry_io_base(std::span<const std::uint8_t> body) {
    auto word = [&](std::size_t low) {
        return static_cast<std::uint16_t>(body[low] | body[low + 1] << 8);
    };
    const std::size_t length = body.size();
    if (length < 3) return std::nullopt;
    if (body[2] == cis::kLayoutIoAt4 && length >= 6) return word(4);
    if (body[2] == cis::kLayoutIoFromEnd && length >= 9) return word(length - 9);
    return std::nullopt;
}

} // namespace

std::optional<std::uint16_t> CardCis::io_base_for(std::uint8_t index) const {
    if (index == 0) return std::nullopt;
    for (const IoEntry& e : io_entries)
        if (e.index == index) return e.base;
    return std::nullopt;
}

CardCis read_card_cis(std::span<const std::uint8_t> packed) {
    CardCis result;
    bool have_config = false;
    std::size_t pos = 0;
    while (pos < packed.size()) {
        const std::uint8_t code = packed[pos];
        if (code == cis::kEnd) break;
        if (code == cis::kNull) {
            ++pos;
            continue;
        }
        if (pos + 1 >= packed.size()) break;
        const std::uint8_t link = packed[pos + 1];
        if (link == cis::kLinkEnd) break;
        const std::size_t body_start = pos + 2;
        if (link > packed.size() - body_start) break; // body cut off by the image end
        const auto body = packed.subspan(body_start, link);

        if (code == cis::kConfig && !have_config) {
            have_config = true;
            result.cor_address = config_register_base(body);
        } else if (code == cis::kCftableEntry) {
            if (auto base = entry_io_base(body))
                result.io_entries.push_back({static_cast<std::uint8_t>(body[0] & cis::kIndexMask), *base});
        }
        pos = body_start + link;
    }
    return result;
}

} // namespace sim
