# Turns a .cis file into a C++ source defining the built-in card image.
#   cmake -DIN=card.cis -DOUT=builtin_cis.cpp -P embed_cis.cmake
file(READ "${IN}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUT}.tmp"
"// Generated from ${IN}; do not edit.
#include \"sim/card/modem_card.hpp\"

namespace sim {

std::vector<std::uint8_t> ModemCard::builtin_cis() {
    return {
    ${bytes}
    };
}

} // namespace sim
")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
