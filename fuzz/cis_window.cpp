// Writes a packed CIS (.cis file: code, link, body, ...) as a fuzz_cis
// input: a control byte of 0 (Debug 0, COM port 0x2F8), then the window
// image the card shows, byte k of the file at attribute address 2k, odd
// addresses reading 0xFF, trailing 0xFF bytes left off.
//   cis_window IN.cis OUT
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: cis_window IN.cis OUT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cis_window: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::vector<unsigned char> cis((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<unsigned char> window(0x1000, 0xFF);
    for (std::size_t k = 0; k < cis.size() && 2 * k < window.size(); ++k) window[2 * k] = cis[k];
    while (!window.empty() && window.back() == 0xFF) window.pop_back();
    window.insert(window.begin(), 0x00);
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(window.data()), static_cast<std::streamsize>(window.size()));
    if (!out) {
        std::fprintf(stderr, "cis_window: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
