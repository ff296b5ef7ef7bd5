// Writes the built-in card image: make_nuvalt_cis OUT.cis
#include "sim/card/nuvalt_cis.hpp"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_nuvalt_cis OUT.cis\n");
        return 2;
    }
    const auto image = sim::nuvalt_thinpocket_cis();
    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    if (!out) {
        std::fprintf(stderr, "make_nuvalt_cis: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
