// The Nuvalt ThinPocket Modem's CIS, built tuple by tuple. The committed
// cards/nuvalt-thinpocket.cis is this image; make_nuvalt_cis writes it, and
// a test checks that the two agree. cards/README.md tells how each tuple is
// built.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

std::vector<std::uint8_t> nuvalt_thinpocket_cis();

} // namespace sim
