// Dialtrim's registry export reader and writer over arbitrary bytes.
//
// A file that parses must render back byte for byte when nothing was
// written. Then one DialSuffix write, as Dialtrim makes it ("" or ";" as
// REG_SZ), on one of the file's keys: the result must parse again, show the
// written value, show every other key and value as before, render back
// unchanged itself, and differ from the input only in one stretch that
// holds the written line. A file that does not parse must say where.
#include "check.hpp"

#include "codepage.hpp"
#include "regfile.hpp"

#include <algorithm>
#include <iterator>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using dialtrim::FoldName;
using dialtrim::RegistryFile;
using dialtrim::RegValue;

constexpr std::uint32_t kRegSz = 1;
constexpr char kName[] = "fuzz.reg";

// Key paths and value names as they appear in a file's text, found by a
// plain scan of its lines: every line "[path]" or "[-path]" names a key
// (and its parents); every line "name"=... or @=... names a value of the
// key above it. The scan may see more than the file holds (a deleted key,
// a line inside continued data); that does no harm, as every name it finds
// is asked of both files alike.
struct Names {
    std::map<std::string, std::set<std::string>> values; // folded key -> value names as spelled
    std::vector<std::string> keys;                       // as spelled, in order
};

std::u16string units_of(const std::vector<std::uint8_t>& image, bool& utf16) {
    std::u16string u;
    utf16 = image.size() >= 2 && image[0] == 0xFF && image[1] == 0xFE;
    if (utf16) {
        for (std::size_t i = 2; i + 1 < image.size(); i += 2)
            u.push_back(static_cast<char16_t>(image[i] | (image[i + 1] << 8)));
    } else {
        std::size_t from = image.size() >= 3 && image[0] == 0xEF && image[1] == 0xBB && image[2] == 0xBF ? 3 : 0;
        for (std::size_t i = from; i < image.size(); ++i) u.push_back(image[i]);
    }
    return u;
}

std::string ansi_of(std::u16string_view u, bool utf16) {
    if (utf16) return dialtrim::UnitsToAnsi(u);
    std::string s;
    for (char16_t c : u) s.push_back(static_cast<char>(c));
    return s;
}

Names scan(const std::vector<std::uint8_t>& image) {
    bool utf16 = false;
    const std::u16string u = units_of(image, utf16);
    Names names;
    std::string current;
    std::size_t p = 0;
    while (p <= u.size()) {
        std::size_t lf = u.find(u'\n', p);
        std::size_t end = lf == std::u16string::npos ? u.size() : lf;
        std::u16string_view line(u.data() + p, end - p);
        if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
        std::size_t q = 0;
        while (q < line.size() && (line[q] == u' ' || line[q] == u'\t')) ++q;
        if (q < line.size() && line[q] == u'[') {
            std::size_t close = line.rfind(u']');
            if (close != std::u16string_view::npos && close > q) {
                std::size_t from = q + 1;
                if (from < close && line[from] == u'-') ++from;
                std::string path = ansi_of(line.substr(from, close - from), utf16);
                current = FoldName(path);
                for (std::size_t cut = path.size(); cut != std::string::npos && cut > 0;
                     cut = path.rfind('\\', cut - 1))
                    names.keys.push_back(path.substr(0, cut));
            }
        } else if (q < line.size() && line[q] == u'@') {
            names.values[current].insert("");
        } else if (q < line.size() && line[q] == u'"') {
            std::u16string name;
            for (std::size_t i = q + 1; i < line.size() && line[i] != u'"'; ++i) {
                if (line[i] == u'\\' && i + 1 < line.size() && (line[i + 1] == u'\\' || line[i + 1] == u'"')) ++i;
                name.push_back(line[i]);
            }
            names.values[current].insert(ansi_of(name, utf16));
        }
        if (lf == std::u16string::npos) break;
        p = lf + 1;
    }
    return names;
}

bool same(const std::optional<RegValue>& a, const std::optional<RegValue>& b) {
    if (a.has_value() != b.has_value()) return false;
    return !a || (a->type == b->type && a->data == b->data);
}

// Everything the scan of either file names reads the same in both, except
// the value that was written.
void check_unchanged(const RegistryFile& was, const RegistryFile& now, const Names& names,
                     const std::string& key, const std::string& value) {
    for (const std::string& k : names.keys) FUZZ_CHECK(was.HasKey(k) == now.HasKey(k));
    for (const auto& [k, set] : names.values) {
        for (const std::string& n : set) {
            if (k == FoldName(key) && FoldName(n) == FoldName(value)) continue;
            FUZZ_CHECK(same(was.Query(k, n), now.Query(k, n)));
        }
    }
}

void check_error(const std::string& error, const std::vector<std::uint8_t>& image) {
    const std::string prefix = std::string(kName) + ":";
    FUZZ_CHECK(error.compare(0, prefix.size(), prefix) == 0);
    std::size_t pos = prefix.size();
    std::size_t line = 0;
    while (pos < error.size() && error[pos] >= '0' && error[pos] <= '9')
        line = line * 10 + static_cast<std::size_t>(error[pos++] - '0');
    FUZZ_CHECK(pos > prefix.size() && pos + 2 <= error.size() && error[pos] == ':' && error[pos + 1] == ' ');
    const std::size_t lines = static_cast<std::size_t>(std::count(image.begin(), image.end(), '\n')) + 1;
    FUZZ_CHECK(line >= 1 && line <= lines);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> input(data, data + size);
    std::string error;
    auto file = RegistryFile::Parse(input, kName, error);
    if (!file) {
        check_error(error, input);
        return 0;
    }
    FUZZ_CHECK(!file->modified());
    FUZZ_CHECK(file->Render() == input);

    const Names names = scan(input);
    std::vector<std::string> keys;
    for (const std::string& k : names.keys)
        if (file->HasKey(k)) keys.push_back(k);
    if (keys.empty()) return 0;

    // One DialSuffix write, on a key and with a value the input picks.
    std::uint32_t pick = 0;
    for (std::size_t i = 0; i < size; ++i) pick = pick * 31 + data[i];
    const std::string key = keys[pick % keys.size()];
    static const std::uint8_t kEmpty[] = {0};
    static const std::uint8_t kSemicolon[] = {';', 0};
    const bool reset = (pick >> 16) & 1;
    const std::span<const std::uint8_t> suffix =
        reset ? std::span<const std::uint8_t>(kSemicolon) : std::span<const std::uint8_t>(kEmpty);
    const std::string value = (pick >> 17) & 1 ? "DialSuffix" : "dialsuffix";

    auto edited_file = RegistryFile::Parse(input, kName, error);
    FUZZ_CHECK(edited_file.has_value());
    RegistryFile& edited = *edited_file;
    FUZZ_CHECK(edited.Set(key, value, kRegSz, suffix));
    FUZZ_CHECK(edited.writeCount() == 1);
    const std::vector<std::uint8_t> output = edited.Render();

    auto again = RegistryFile::Parse(output, kName, error);
    if (!again) std::fprintf(stderr, "after writing %s of [%s]: %s\n", value.c_str(), key.c_str(), error.c_str());
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(again->Render() == output);
    FUZZ_CHECK(again->format() == file->format() && again->encoding() == file->encoding());
    const auto got = again->Query(key, "DialSuffix");
    FUZZ_CHECK(got && got->type == kRegSz && got->data == std::vector<std::uint8_t>(suffix.begin(), suffix.end()));

    check_unchanged(*file, *again, names, key, value);
    check_unchanged(*file, *again, scan(output), key, value);

    // No key line went or came, but the block of a key known only as a
    // parent of another, which the write opens at the end of the file.
    std::vector<std::string> before = names.keys, after = scan(output).keys;
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    if (after != before) {
        std::vector<std::string> added;
        std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
        FUZZ_CHECK(std::includes(after.begin(), after.end(), before.begin(), before.end()));
        for (const std::string& k : added) FUZZ_CHECK(FoldName(key).starts_with(FoldName(k)));
    }

    // Writing the same value again changes nothing more.
    FUZZ_CHECK(again->Set(key, value, kRegSz, suffix));
    FUZZ_CHECK(again->Render() == output);
    return 0;
}
