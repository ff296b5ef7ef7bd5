#include "regfile.hpp"

#include "codepage.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dialtrim {
namespace {

constexpr std::size_t npos = static_cast<std::size_t>(-1);

// A value that the file deletes ("name"=-): present as a line, absent as a
// value.
constexpr std::uint32_t kDeleted = 0xFFFFFFFFu;

constexpr std::uint32_t kRegSz = 1, kRegExpandSz = 2, kRegBinary = 3, kRegDword = 4, kRegMultiSz = 7;

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";

constexpr std::array<std::string_view, 7> kRoots = {
    "hkey_local_machine", "hkey_current_user", "hkey_classes_root", "hkey_users",
    "hkey_current_config", "hkey_dyn_data", "hkey_performance_data",
};

// The text is parsed where it lies: an 8-bit file as its bytes, a UTF-16
// file as its code units. Both views read as code units.
inline char16_t At(std::string_view u, std::size_t i) { return static_cast<unsigned char>(u[i]); }
inline char16_t At(std::u16string_view u, std::size_t i) { return u[i]; }

// A key path as 8-bit text: the bytes of an 8-bit file, the ANSI code page
// of a UTF-16 file.
inline std::string PathText(std::string_view u) { return std::string(u); }
inline std::string PathText(std::u16string_view u) { return UnitsToAnsi(u); }

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

template <class View> std::size_t SkipBlanks(View u, std::size_t p, std::size_t end)
{
    while (p < end && IsBlank(At(u, p)))
        ++p;
    return p;
}

template <class View> bool OnlyBlanks(View u, std::size_t p, std::size_t end)
{
    return SkipBlanks(u, p, end) == end;
}

int HexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

char16_t FoldUnit(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

// Whether the units at p spell word (ASCII), without regard to case.
template <class View> bool HasWordAt(View u, std::size_t p, std::size_t end, std::string_view word)
{
    if (end - p < word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (FoldUnit(At(u, p + i)) != static_cast<char16_t>(word[i]))
            return false;
    }
    return true;
}

// A quoted text starting at the '"' at p, into out when given. A backslash
// escapes a backslash or a quote; before any other character it stands for
// itself.
template <class View>
bool ParseQuoted(View u, std::size_t p, std::size_t end, std::u16string *out, std::size_t &after)
{
    if (out)
        out->clear();
    for (++p; p < end; ++p) {
        char16_t c = At(u, p);
        if (c == u'"') {
            after = p + 1;
            return true;
        }
        if (c == u'\\' && p + 1 < end && (At(u, p + 1) == u'\\' || At(u, p + 1) == u'"'))
            c = At(u, ++p);
        if (out)
            out->push_back(c);
    }
    return false;
}

bool IsStringType(std::uint32_t type) { return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz; }

void FoldInPlace(std::string &s)
{
    for (char &c : s) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
}

std::string SystemError(const std::string &path, const char *what)
{
    return path + ": " + what + ": " + std::strerror(errno);
}

} // namespace

std::string FoldName(std::string_view name)
{
    std::string s(name);
    FoldInPlace(s);
    return s;
}

std::string_view RegistryFile::AnsiUnits() const
{
    return std::string_view(reinterpret_cast<const char *>(image_.data()) + bomBytes_, image_.size() - bomBytes_);
}

std::string RegistryFile::UnitsAsAnsi(std::u16string_view units) const
{
    if (encoding_ == RegEncoding::Utf16Le)
        return UnitsToAnsi(units);
    std::string out(units.size(), '\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        out[i] = static_cast<char>(units[i]);
    return out;
}

std::u16string RegistryFile::ToUnits(std::string_view ansi) const
{
    if (encoding_ == RegEncoding::Utf16Le)
        return AnsiToUnits(ansi);
    std::u16string out(ansi.size(), u'\0');
    for (std::size_t i = 0; i < ansi.size(); ++i)
        out[i] = static_cast<std::uint8_t>(ansi[i]);
    return out;
}

std::optional<RegistryFile> RegistryFile::Load(const std::string &path, std::string &error)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = SystemError(path, "cannot open");
        return std::nullopt;
    }
    std::vector<std::uint8_t> image;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        image.reserve(static_cast<std::size_t>(st.st_size));
    std::array<std::uint8_t, 65536> chunk;
    for (;;) {
        ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = SystemError(path, "cannot read");
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        image.insert(image.end(), chunk.begin(), chunk.begin() + n);
    }
    ::close(fd);
    return Parse(std::move(image), path, error);
}

std::optional<RegistryFile> RegistryFile::Parse(std::vector<std::uint8_t> image, std::string_view name,
                                                std::string &error)
{
    RegistryFile file;
    file.image_ = std::move(image);
    const auto &img = file.image_;
    if (img.size() >= kNone / 2) {
        error = std::string(name) + ":1: file too large for a registry file";
        return std::nullopt;
    }
    bool parsed;
    if (img.size() >= 2 && img[0] == 0xFF && img[1] == 0xFE) {
        if (img.size() % 2 != 0) {
            error = std::string(name) + ":1: UTF-16 text ends in half a character";
            return std::nullopt;
        }
        file.encoding_ = RegEncoding::Utf16Le;
        file.bomBytes_ = 2;
        file.units_.resize((img.size() - 2) / 2);
        for (std::size_t i = 0; i < file.units_.size(); ++i)
            file.units_[i] = static_cast<char16_t>(img[2 + 2 * i] | (img[3 + 2 * i] << 8));
        parsed = file.ParseAll(std::u16string_view(file.units_), name, error);
    } else if (img.size() >= 2 && img[0] == 0xFE && img[1] == 0xFF) {
        error = std::string(name) + ":1: big-endian UTF-16 is not a registry file format";
        return std::nullopt;
    } else {
        file.encoding_ = RegEncoding::Ansi;
        file.bomBytes_ = (img.size() >= 3 && img[0] == 0xEF && img[1] == 0xBB && img[2] == 0xBF) ? 3 : 0;
        parsed = file.ParseAll(file.AnsiUnits(), name, error);
    }
    if (!parsed)
        return std::nullopt;
    return file;
}

RegistryFile::Key &RegistryFile::AddKey(std::string_view folded)
{
    // The key, then its parents up to the root, stopping at the first one
    // already known (its own parents are then known too). The parents are
    // prefixes of the same text. (A reference stays valid as the map grows.)
    Key &key = keys_.try_emplace(folded).first->second;
    for (std::size_t len = folded.size();;) {
        std::size_t cut = folded.rfind('\\', len - 1);
        if (cut == std::string_view::npos || cut == 0)
            break;
        len = cut;
        if (!keys_.try_emplace(folded.substr(0, len)).second)
            break;
    }
    return key;
}

template <class View> bool RegistryFile::ParseAll(View u, std::string_view name, std::string &error)
{
    // Lines: a line ends at LF; a CR right before it belongs to the line end.
    lines_.reserve(static_cast<std::size_t>(std::count(u.begin(), u.end(), '\n')) + 1);
    for (std::size_t p = 0; p < u.size() || lines_.empty();) {
        std::size_t lf = u.find(static_cast<typename View::value_type>('\n'), p);
        if (lf == View::npos) {
            lines_.push_back({std::uint32_t(p), std::uint32_t(u.size()), std::uint32_t(u.size())});
            break;
        }
        std::size_t end = (lf > p && At(u, lf - 1) == u'\r') ? lf - 1 : lf;
        lines_.push_back({std::uint32_t(p), std::uint32_t(end), std::uint32_t(lf + 1)});
        p = lf + 1;
    }

    auto fail = [&](std::size_t line, const std::string &what) {
        error = std::string(name) + ":" + std::to_string(line + 1) + ": " + what;
        return false;
    };

    {
        const Line &l = lines_[0];
        std::size_t end = l.end;
        while (end > l.begin && IsBlank(At(u, end - 1)))
            --end;
        auto is = [&](std::string_view text) {
            if (end - l.begin != text.size())
                return false;
            for (std::size_t i = 0; i < text.size(); ++i)
                if (At(u, l.begin + i) != static_cast<char16_t>(text[i]))
                    return false;
            return true;
        };
        if (is(kHeader4))
            format_ = RegFormat::Regedit4;
        else if (is(kHeader5))
            format_ = RegFormat::Version5;
        else
            return fail(0, "not a registry file: the first line must be \"REGEDIT4\" or "
                           "\"Windows Registry Editor Version 5.00\"");
    }

    // Room for what the lines hold, so that nothing grows by doubling.
    // Folded key paths are kept once, in an arena the map's keys point into;
    // no path is longer than its header line, so the arena never moves.
    std::size_t headers = 0, headerUnits = 0, valueLines = 0;
    for (std::size_t i = 1; i < lines_.size(); ++i) {
        std::size_t p = SkipBlanks(u, lines_[i].begin, lines_[i].end);
        if (p == lines_[i].end)
            continue;
        if (At(u, p) == u'[')
            ++headers, headerUnits += lines_[i].end - p;
        else if (At(u, p) == u'"' || At(u, p) == u'@')
            ++valueLines;
    }
    pathArena_.reserve(headerUnits + 1);
    keys_.reserve(headers + 16);
    blocks_.reserve(headers);
    values_.reserve(valueLines);

    std::uint32_t block = kNone;  // block of the current key; kNone before the first key
    bool inDeletedKey = false;    // after [-key]: values there belong to no key
    std::u16string text;
    for (std::size_t i = 1; i < lines_.size(); ++i) {
        const Line l = lines_[i];
        std::size_t p = SkipBlanks(u, l.begin, l.end);
        if (p == l.end || At(u, p) == u';')
            continue;
        if (At(u, p) == u'[') {
            std::size_t close = l.end;
            while (close > p && At(u, close - 1) != u']')
                --close;
            if (close == p || !OnlyBlanks(u, close, l.end))
                return fail(i, "key name is not closed by ']'");
            --close; // at the ']'
            bool deletion = p + 1 < close && At(u, p + 1) == u'-';
            std::size_t nameBegin = p + 1 + (deletion ? 1 : 0);
            std::string path = PathText(u.substr(nameBegin, close - nameBegin));
            if (path.empty())
                return fail(i, "empty key name");
            std::string folded = path;
            FoldInPlace(folded);
            std::string_view root = std::string_view(folded).substr(0, folded.find('\\'));
            if (std::find(kRoots.begin(), kRoots.end(), root) == kRoots.end())
                return fail(i, "unknown root key \"" + path.substr(0, root.size()) + "\"");
            if (folded.back() == '\\')
                return fail(i, "key name ends in '\\'");
            // No empty part either: with two backslashes in a row, the name
            // up to the second would be a parent key ending in '\', which
            // no file can name and so no write-back could add a block for.
            if (folded.find("\\\\") != std::string::npos)
                return fail(i, "key name has an empty part (two '\\' in a row)");
            if (deletion) {
                // The key and everything under it are gone from here on.
                std::string prefix = folded + "\\";
                std::erase_if(keys_, [&](const auto &entry) {
                    return entry.first == folded || entry.first.starts_with(prefix);
                });
                block = kNone;
                inDeletedKey = true;
                continue;
            }
            auto it = keys_.find(folded);
            Key *known = it != keys_.end() ? &it->second : nullptr;
            if (known == nullptr) {
                if (pathArena_.size() + folded.size() > pathArena_.capacity())
                    return fail(i, "key names longer than the file");  // cannot happen
                const char *at = pathArena_.data() + pathArena_.size();
                pathArena_.insert(pathArena_.end(), folded.begin(), folded.end());
                known = &AddKey(std::string_view(at, folded.size()));
            }
            blocks_.push_back(Block{std::uint32_t(values_.size()), 0, std::uint32_t(i)});
            block = std::uint32_t(blocks_.size() - 1);
            Key &k = *known;
            if (k.lastBlock != kNone)
                blocks_[k.lastBlock].nextOfKey = block;
            else
                k.firstBlock = block;
            k.lastBlock = block;
            inDeletedKey = false;
            continue;
        }
        if (At(u, p) != u'"' && At(u, p) != u'@')
            return fail(i, "expected a key in [brackets], a value or a comment");
        if (block == kNone && !inDeletedKey)
            return fail(i, "value before the first key");

        std::size_t q;
        if (At(u, p) == u'@') {
            text.clear();
            q = p + 1;
        } else if (!ParseQuoted(u, p, l.end, &text, q)) {
            return fail(i, "value name is not closed by '\"'");
        }
        q = SkipBlanks(u, q, l.end);
        if (q == l.end || At(u, q) != u'=')
            return fail(i, "expected '=' after the value name");
        q = SkipBlanks(u, q + 1, l.end);

        std::size_t lastLine = i;
        std::size_t errorLine = i;
        std::string what;
        if (!ParseData(u, i, q, lastLine, nullptr, errorLine, what))
            return fail(errorLine, what);
        if (block != kNone) {
            std::string valueName = UnitsAsAnsi(text);
            FoldInPlace(valueName);
            values_.push_back(Value{std::move(valueName), std::uint32_t(i), std::uint32_t(lastLine), std::uint32_t(q)});
            Block &b = blocks_[block];
            ++b.valueCount;
            b.anchorLine = std::uint32_t(lastLine);
        }
        i = lastLine;
    }
    return true;
}

template <class View>
bool RegistryFile::ParseData(View u, std::size_t line, std::size_t pos, std::size_t &lastLine, RegValue *out,
                             std::size_t &errorLine, std::string &error) const
{
    std::size_t end = lines_[line].end;
    lastLine = line;
    errorLine = line;
    auto fail = [&](const char *what) {
        error = what;
        return false;
    };

    if (pos < end && At(u, pos) == u'"') {
        std::u16string text;
        std::size_t after;
        if (!ParseQuoted(u, pos, end, out ? &text : nullptr, after))
            return fail("string is not closed by '\"'");
        if (!OnlyBlanks(u, after, end))
            return fail("unexpected text after the string");
        if (out) {
            std::string ansi = UnitsAsAnsi(text);
            out->type = kRegSz;
            out->data.assign(ansi.begin(), ansi.end());
            out->data.push_back(0);
        }
        return true;
    }
    if (pos < end && At(u, pos) == u'-') {
        if (!OnlyBlanks(u, pos + 1, end))
            return fail("unexpected text after '-'");
        if (out) {
            out->type = kDeleted;
            out->data.clear();
        }
        return true;
    }
    if (HasWordAt(u, pos, end, "dword:")) {
        std::size_t p = pos + 6;
        std::uint32_t v = 0;
        std::size_t digits = 0;
        for (; p < end && HexDigit(At(u, p)) >= 0; ++p, ++digits)
            v = (v << 4) | static_cast<std::uint32_t>(HexDigit(At(u, p)));
        if (digits == 0 || digits > 8 || !OnlyBlanks(u, p, end))
            return fail("dword value must be 1 to 8 hex digits");
        if (out) {
            out->type = kRegDword;
            out->data = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                         static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
        }
        return true;
    }
    if (!HasWordAt(u, pos, end, "hex"))
        return fail("unknown value data: expected \"text\", dword:, hex: or hex(type):");

    std::size_t p = pos + 3;
    std::uint32_t type = kRegBinary;
    if (p < end && At(u, p) == u'(') {
        std::size_t digits = 0;
        type = 0;
        for (++p; p < end && HexDigit(At(u, p)) >= 0; ++p, ++digits)
            type = (type << 4) | static_cast<std::uint32_t>(HexDigit(At(u, p)));
        if (digits == 0 || digits > 8 || p >= end || At(u, p) != u')')
            return fail("hex(type) needs a hex type number");
        ++p;
    }
    if (p >= end || At(u, p) != u':')
        return fail("expected ':' after hex");
    ++p;

    std::vector<std::uint8_t> bytes;
    for (;;) {
        p = SkipBlanks(u, p, end);
        if (p == end)
            break;
        if (At(u, p) == u'\\' && OnlyBlanks(u, p + 1, end)) {
            // Continued on the next line.
            if (lastLine + 1 >= lines_.size())
                return fail("value data continues past the end of the file");
            ++lastLine;
            errorLine = lastLine;
            p = lines_[lastLine].begin;
            end = lines_[lastLine].end;
            continue;
        }
        int v = HexDigit(At(u, p));
        if (v < 0)
            return fail("expected a hex byte");
        ++p;
        if (p < end && HexDigit(At(u, p)) >= 0)
            v = (v << 4) | HexDigit(At(u, p++));
        if (p < end && HexDigit(At(u, p)) >= 0)
            return fail("a hex byte has at most 2 digits");
        if (out)
            bytes.push_back(static_cast<std::uint8_t>(v));
        p = SkipBlanks(u, p, end);
        if (p < end && At(u, p) == u',')
            ++p;
        else if (p < end && At(u, p) != u'\\')
            return fail("expected ',' between hex bytes");
    }
    if (out) {
        out->type = type;
        if (encoding_ == RegEncoding::Utf16Le && IsStringType(type)) {
            // Unicode registry files hold string data as UTF-16LE; the "A"
            // calls see it in the ANSI code page.
            std::u16string text(bytes.size() / 2, u'\0');
            for (std::size_t k = 0; k < text.size(); ++k)
                text[k] = static_cast<char16_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8));
            std::string ansi = UnitsToAnsi(text);
            out->data.assign(ansi.begin(), ansi.end());
        } else {
            out->data = std::move(bytes);
        }
    }
    return true;
}

std::optional<RegValue> RegistryFile::Decode(const Value &value) const
{
    if (value.written != kNone)
        return written_[value.written];
    RegValue out;
    std::size_t lastLine, errorLine;
    std::string error;
    bool ok = encoding_ == RegEncoding::Utf16Le
                  ? ParseData(std::u16string_view(units_), value.firstLine, value.dataBegin, lastLine, &out,
                              errorLine, error)
                  : ParseData(AnsiUnits(), value.firstLine, value.dataBegin, lastLine, &out, errorLine, error);
    if (!ok || out.type == kDeleted)
        return std::nullopt;
    return out;
}

const RegistryFile::Key *RegistryFile::FindKey(std::string_view path) const
{
    scratch_.assign(path);
    FoldInPlace(scratch_);
    auto it = keys_.find(scratch_);
    return it == keys_.end() ? nullptr : &it->second;
}

bool RegistryFile::HasKey(std::string_view path) const { return FindKey(path) != nullptr; }

void RegistryFile::FindValue(const Key &key, const std::string &foldedName, std::uint32_t &value,
                             std::uint32_t &added) const
{
    // The last of several values of one name wins, as on import; values
    // added to a block come after the block's own.
    value = added = kNone;
    for (std::uint32_t b = key.firstBlock; b != kNone; b = blocks_[b].nextOfKey) {
        const Block &block = blocks_[b];
        for (std::uint32_t v = block.firstValue; v < block.firstValue + block.valueCount; ++v) {
            if (values_[v].name == foldedName)
                value = v, added = kNone;
        }
        for (std::uint32_t a = block.firstAdded; a != kNone; a = added_[a].next) {
            if (added_[a].name == foldedName)
                added = a, value = kNone;
        }
    }
}

std::optional<RegValue> RegistryFile::Query(std::string_view key, std::string_view name) const
{
    const Key *k = FindKey(key);
    if (k == nullptr)
        return std::nullopt;
    std::uint32_t value, added;
    FindValue(*k, FoldName(name), value, added);
    if (added != kNone)
        return written_[added_[added].written];
    if (value != kNone)
        return Decode(values_[value]);
    return std::nullopt;
}

bool RegistryFile::Set(std::string_view key, std::string_view name, std::uint32_t type,
                       std::span<const std::uint8_t> data)
{
    const Key *found = FindKey(key);
    if (found == nullptr)
        return false;
    Key &k = const_cast<Key &>(*found);
    std::string folded = FoldName(name);
    ++writeCount_;

    std::uint32_t value, added;
    FindValue(k, folded, value, added);
    std::uint32_t slot = value != kNone ? values_[value].written : added != kNone ? added_[added].written : kNone;
    if (slot == kNone) {
        written_.push_back({});
        slot = std::uint32_t(written_.size() - 1);
    }
    written_[slot] = RegValue{type, std::vector<std::uint8_t>(data.begin(), data.end())};
    if (value != kNone) {
        values_[value].written = slot;
        return true;
    }
    if (added != kNone)
        return true;

    if (k.lastBlock == kNone) {
        // Known only as the parent of another key: it gets a block of its
        // own at the end of the file.
        addedPaths_.emplace_back(key);
        Block b{std::uint32_t(values_.size()), 0, kNone};
        b.addedPath = std::uint32_t(addedPaths_.size() - 1);
        blocks_.push_back(b);
        k.firstBlock = k.lastBlock = std::uint32_t(blocks_.size() - 1);
    }
    Block &block = blocks_[k.lastBlock];
    added_.push_back(Added{std::move(folded), std::string(name), slot});
    std::uint32_t a = std::uint32_t(added_.size() - 1);
    if (block.lastAdded != kNone)
        added_[block.lastAdded].next = a;
    else
        block.firstAdded = a;
    block.lastAdded = a;
    return true;
}

std::u16string RegistryFile::LineEnd(std::uint32_t line) const
{
    auto endOf = [](const Line &l) { return l.next - l.end == 2 ? std::u16string(u"\r\n") : std::u16string(u"\n"); };
    if (line != kNone && lines_[line].next > lines_[line].end)
        return endOf(lines_[line]);
    // The line has none (the last line of the file): the file's first line
    // end, or CR LF as regedit writes.
    if (lines_[0].next > lines_[0].end)
        return endOf(lines_[0]);
    return u"\r\n";
}

std::u16string RegistryFile::DataText(const RegValue &value) const
{
    const auto &d = value.data;
    if (value.type == kRegSz && !d.empty()) {
        // The quoted form holds a text up to its terminator; it serves when
        // nothing but NULs follows and the text has no line break.
        auto nul = std::find(d.begin(), d.end(), 0);
        bool quotable = nul != d.end() && std::all_of(nul, d.end(), [](std::uint8_t b) { return b == 0; }) &&
                        std::none_of(d.begin(), nul, [](std::uint8_t b) { return b == '\r' || b == '\n'; });
        if (quotable) {
            std::u16string out = u"\"";
            for (char16_t c : ToUnits(std::string(d.begin(), nul))) {
                if (c == u'\\' || c == u'"')
                    out.push_back(u'\\');
                out.push_back(c);
            }
            out.push_back(u'"');
            return out;
        }
    }
    char buf[16];
    if (value.type == kRegDword && d.size() == 4) {
        std::uint32_t v = d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<std::uint32_t>(d[3]) << 24);
        std::snprintf(buf, sizeof buf, "dword:%08x", v);
        return ToUnits(buf);
    }
    std::vector<std::uint8_t> bytes = d;
    if (encoding_ == RegEncoding::Utf16Le && IsStringType(value.type)) {
        bytes.clear();
        for (char16_t c : AnsiToUnits(std::string(d.begin(), d.end()))) {
            bytes.push_back(static_cast<std::uint8_t>(c));
            bytes.push_back(static_cast<std::uint8_t>(c >> 8));
        }
    }
    if (value.type == kRegBinary)
        std::snprintf(buf, sizeof buf, "hex:");
    else
        std::snprintf(buf, sizeof buf, "hex(%x):", value.type);
    std::string text = buf;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", bytes[i]);
        text += buf;
    }
    return ToUnits(text);
}

std::size_t RegistryFile::ByteOffset(std::size_t unit) const
{
    return bomBytes_ + (encoding_ == RegEncoding::Utf16Le ? 2 * unit : unit);
}

void RegistryFile::RenderTo(const std::function<void(const std::uint8_t *, std::size_t)> &sink) const
{
    struct Edit {
        std::size_t begin, end;  // units replaced
        std::size_t order;
        std::u16string text;
    };
    std::vector<Edit> edits;
    auto valueLine = [&](const Added &a) {
        std::u16string out = u"\"";
        for (char16_t c : ToUnits(a.spelled)) {
            if (c == u'\\' || c == u'"')
                out.push_back(u'\\');
            out.push_back(c);
        }
        return out + u"\"=" + DataText(written_[a.written]);
    };

    for (const Value &value : values_) {
        if (value.written != kNone)
            edits.push_back({value.dataBegin, lines_[value.lastLine].end, edits.size(), DataText(written_[value.written])});
    }
    for (const Block &block : blocks_) {
        if (block.firstAdded == kNone)
            continue;
        std::u16string text;
        std::size_t at;
        std::u16string eol = LineEnd(block.anchorLine);
        if (block.anchorLine != kNone) {
            at = lines_[block.anchorLine].end;
        } else {
            const Line &last = lines_.back();
            at = last.next;
            if (last.next == last.end && last.end > last.begin)
                text += eol;  // the file's last line has no line end
            text += eol + u"[" + ToUnits(addedPaths_[block.addedPath]) + u"]";
        }
        for (std::uint32_t a = block.firstAdded; a != kNone; a = added_[a].next)
            text += eol + valueLine(added_[a]);
        if (block.anchorLine == kNone)
            text += eol;
        edits.push_back({at, at, edits.size(), std::move(text)});
    }
    std::sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) {
        return a.begin != b.begin ? a.begin < b.begin : a.order < b.order;
    });

    std::vector<std::uint8_t> encoded;
    sink(image_.data(), bomBytes_);
    std::size_t cursor = 0;
    for (const Edit &e : edits) {
        sink(image_.data() + ByteOffset(cursor), ByteOffset(e.begin) - ByteOffset(cursor));
        encoded.clear();
        for (char16_t c : e.text) {
            encoded.push_back(static_cast<std::uint8_t>(c));
            if (encoding_ == RegEncoding::Utf16Le)
                encoded.push_back(static_cast<std::uint8_t>(c >> 8));
        }
        sink(encoded.data(), encoded.size());
        cursor = e.end;
    }
    sink(image_.data() + ByteOffset(cursor), image_.size() - ByteOffset(cursor));
}

std::vector<std::uint8_t> RegistryFile::Render() const
{
    std::vector<std::uint8_t> out;
    out.reserve(image_.size() + 64);
    RenderTo([&](const std::uint8_t *p, std::size_t n) { out.insert(out.end(), p, p + n); });
    return out;
}

namespace {

// Writes the pieces a producer hands over to a file through a buffer.
class BufferedFile {
public:
    explicit BufferedFile(int fd) : fd_(fd) { buffer_.reserve(kSize); }
    void Put(const std::uint8_t *p, std::size_t n)
    {
        if (n >= kSize) {
            Flush();
            WriteAll(p, n);
            return;
        }
        if (buffer_.size() + n > kSize)
            Flush();
        buffer_.insert(buffer_.end(), p, p + n);
    }
    // False when any write failed; errno tells why.
    bool Finish()
    {
        Flush();
        if (failed_)
            errno = savedErrno_;
        return !failed_;
    }

private:
    static constexpr std::size_t kSize = 1 << 16;
    void Flush()
    {
        WriteAll(buffer_.data(), buffer_.size());
        buffer_.clear();
    }
    void WriteAll(const std::uint8_t *p, std::size_t n)
    {
        while (n > 0 && !failed_) {
            ssize_t w = ::write(fd_, p, n);
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0) {
                failed_ = true;
                savedErrno_ = errno;
                return;
            }
            p += w;
            n -= static_cast<std::size_t>(w);
        }
    }
    int fd_;
    std::vector<std::uint8_t> buffer_;
    bool failed_ = false;
    int savedErrno_ = 0;
};

bool WriteAtomically(const std::string &path, const std::function<void(BufferedFile &)> &produce,
                     std::string &error)
{
    // Replace the file a symbolic link names, not the link.
    std::string target = path;
    if (char *real = ::realpath(path.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    std::size_t slash = target.rfind('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temp = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + "." + base +
                       ".dialtrim-XXXXXX";

    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = SystemError(path, "cannot create a temporary file beside it");
        return false;
    }
    auto abandon = [&](const char *what) {
        error = SystemError(path, what);
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    };
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && ::fchmod(fd, st.st_mode & 07777) != 0)
        return abandon("cannot set the permissions of the temporary file");
    BufferedFile out(fd);
    produce(out);
    if (!out.Finish())
        return abandon("cannot write");
    if (::fsync(fd) != 0)
        return abandon("cannot flush to disk");
    if (::close(fd) != 0) {
        error = SystemError(path, "cannot write");
        ::unlink(temp.c_str());
        return false;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        error = SystemError(path, "cannot replace");
        ::unlink(temp.c_str());
        return false;
    }
    int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

} // namespace

bool RegistryFile::Save(const std::string &path, std::string &error) const
{
    return WriteAtomically(
        path, [&](BufferedFile &out) { RenderTo([&](const std::uint8_t *p, std::size_t n) { out.Put(p, n); }); },
        error);
}

bool WriteFileAtomically(const std::string &path, std::span<const std::uint8_t> data, std::string &error)
{
    return WriteAtomically(path, [&](BufferedFile &out) { out.Put(data.data(), data.size()); }, error);
}

} // namespace dialtrim
