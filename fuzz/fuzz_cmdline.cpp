// Dialtrim's Win32 command-line splitter over arbitrary command lines.
//
// Input: two control bytes (the text buffer and pointer array sizes of a
// second, short split), then the command line, up to its first NUL.
//
// With the buffers the header promises suffice (strlen + 2 text bytes,
// strlen / 2 + 3 pointers): the split stores at least the program name, at
// most strlen / 2 + 2 arguments, ends argv with a null pointer, and puts
// every argument inside the text buffer, the arguments in order forming a
// subsequence of the line; it also agrees with the splitting rules written
// out below. With short buffers, each exactly as large as given so that
// AddressSanitizer sees any access past it, the arguments stored are the
// first ones of the full split, whole.
#include "check.hpp"

#include "cmdline.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

// The rules of the Microsoft C runtime, as cmdline.h states them.
std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> args;
    std::size_t p = 0;
    bool quoted = false;
    std::string name;
    for (; p < line.size() && (quoted || !blank(line[p])); ++p) {
        if (line[p] == '"') quoted = !quoted;
        else name += line[p];
    }
    args.push_back(name);
    quoted = false;
    for (;;) {
        while (p < line.size() && blank(line[p])) ++p;
        if (p == line.size()) break;
        std::string arg;
        while (p < line.size() && (quoted || !blank(line[p]))) {
            std::size_t slashes = 0;
            while (p < line.size() && line[p] == '\\') ++slashes, ++p;
            if (p < line.size() && line[p] == '"') {
                arg.append(slashes / 2, '\\');
                if (slashes % 2) {
                    arg += '"';
                    ++p;
                } else if (quoted && p + 1 < line.size() && line[p + 1] == '"') {
                    arg += '"';
                    p += 2;
                } else {
                    quoted = !quoted;
                    ++p;
                }
            } else {
                arg.append(slashes, '\\');
                if (p < line.size() && (quoted || !blank(line[p]))) arg += line[p++];
            }
        }
        args.push_back(arg);
    }
    return args;
}

bool is_subsequence(const std::string& part, const std::string& whole) {
    std::size_t at = 0;
    for (char c : part) {
        at = whole.find(c, at);
        if (at == std::string::npos) return false;
        ++at;
    }
    return true;
}

struct Split {
    int argc;
    std::vector<std::string> args;
};

Split run(const std::string& line, unsigned text_size, int max_args) {
    // Exactly sized blocks; a size of 0 still gets a block to point at.
    std::unique_ptr<char[]> text(new char[text_size ? text_size : 1]);
    std::unique_ptr<char*[]> argv(new char*[max_args > 0 ? max_args : 1]);
    std::memset(text.get(), 0x7F, text_size);
    for (int i = 0; i < max_args; ++i) argv[i] = reinterpret_cast<char*>(1);

    const int argc = DtSplitCommandLine(line.c_str(), text.get(), text_size, argv.get(), max_args);
    Split s{argc, {}};
    if (max_args <= 0) {
        FUZZ_CHECK(argc == 0);
        return s;
    }
    FUZZ_CHECK(argc >= 0 && argc < max_args);
    FUZZ_CHECK(argv[argc] == nullptr);
    const char* end = text.get() + text_size;
    const char* last = text.get();
    for (int i = 0; i < argc; ++i) {
        const char* a = argv[i];
        FUZZ_CHECK(a >= last && a < end);
        const void* nul = std::memchr(a, '\0', static_cast<std::size_t>(end - a));
        FUZZ_CHECK(nul != nullptr);
        s.args.emplace_back(a, static_cast<const char*>(nul));
        last = static_cast<const char*>(nul) + 1;
    }
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const unsigned short_text = data[0];
    const int short_args = data[1] % 16;
    const std::string input(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::string line = input.substr(0, input.find('\0'));

    const Split full = run(line, static_cast<unsigned>(line.size() + 2), static_cast<int>(line.size() / 2 + 3));
    FUZZ_CHECK(full.argc >= 1);
    FUZZ_CHECK(static_cast<std::size_t>(full.argc) <= line.size() / 2 + 2);
    std::string joined;
    for (const std::string& a : full.args) {
        FUZZ_CHECK(is_subsequence(a, line));
        joined += a;
    }
    FUZZ_CHECK(is_subsequence(joined, line));
    FUZZ_CHECK(full.args == split(line));

    const Split part = run(line, short_text, short_args);
    FUZZ_CHECK(part.args.size() <= full.args.size());
    for (std::size_t i = 0; i < part.args.size(); ++i) FUZZ_CHECK(part.args[i] == full.args[i]);
    return 0;
}
