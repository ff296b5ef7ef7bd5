#include "regfile.hpp"

#include "codepage.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
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

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::size_t SkipBlanks(std::u16string_view u, std::size_t p, std::size_t end)
{
    while (p < end && IsBlank(u[p]))
        ++p;
    return p;
}

bool OnlyBlanks(std::u16string_view u, std::size_t p, std::size_t end) { return SkipBlanks(u, p, end) == end; }

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
bool HasWordAt(std::u16string_view u, std::size_t p, std::size_t end, std::string_view word)
{
    if (end - p < word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (FoldUnit(u[p + i]) != static_cast<char16_t>(word[i]))
            return false;
    }
    return true;
}

// A quoted text starting at the '"' at p. A backslash escapes a backslash
// or a quote; before any other character it stands for itself.
bool ParseQuoted(std::u16string_view u, std::size_t p, std::size_t end, std::u16string &out,
                 std::size_t &after)
{
    out.clear();
    for (++p; p < end; ++p) {
        char16_t c = u[p];
        if (c == u'"') {
            after = p + 1;
            return true;
        }
        if (c == u'\\' && p + 1 < end && (u[p + 1] == u'\\' || u[p + 1] == u'"'))
            c = u[++p];
        out.push_back(c);
    }
    return false;
}

bool IsStringType(std::uint32_t type) { return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz; }

std::string Folded(std::string s)
{
    for (char &c : s) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

std::string SystemError(const std::string &path, const char *what)
{
    return path + ": " + what + ": " + std::strerror(errno);
}

} // namespace

std::string FoldName(std::string_view name) { return Folded(std::string(name)); }

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
    } else if (img.size() >= 2 && img[0] == 0xFE && img[1] == 0xFF) {
        error = std::string(name) + ":1: big-endian UTF-16 is not a registry file format";
        return std::nullopt;
    } else {
        file.encoding_ = RegEncoding::Ansi;
        file.bomBytes_ = (img.size() >= 3 && img[0] == 0xEF && img[1] == 0xBB && img[2] == 0xBF) ? 3 : 0;
        file.units_.assign(img.begin() + static_cast<std::ptrdiff_t>(file.bomBytes_), img.end());
    }
    if (!file.ParseAll(name, error))
        return std::nullopt;
    return file;
}

void RegistryFile::AddKey(const std::string &folded)
{
    // The key, then its parents up to the root, stopping at the first one
    // already known (its own parents are then known too).
    std::size_t len = folded.size();
    bool first = true;
    while (true) {
        auto [it, added] = keys_.try_emplace(folded.substr(0, len));
        if (!added && !first)
            break;
        first = false;
        std::size_t cut = folded.rfind('\\', len - 1);
        if (cut == std::string::npos || cut == 0)
            break;
        len = cut;
    }
}

bool RegistryFile::ParseAll(std::string_view name, std::string &error)
{
    const std::u16string_view u = units_;
    // Lines: a line ends at LF; a CR right before it belongs to the line end.
    for (std::size_t p = 0; p < u.size() || lines_.empty();) {
        std::size_t lf = u.find(u'\n', p);
        if (lf == std::u16string_view::npos) {
            lines_.push_back({p, u.size(), u.size()});
            break;
        }
        std::size_t end = (lf > p && u[lf - 1] == u'\r') ? lf - 1 : lf;
        lines_.push_back({p, end, lf + 1});
        p = lf + 1;
    }

    auto fail = [&](std::size_t line, const std::string &what) {
        error = std::string(name) + ":" + std::to_string(line + 1) + ": " + what;
        return false;
    };

    {
        const Line &l = lines_[0];
        std::size_t end = l.end;
        while (end > l.begin && IsBlank(u[end - 1]))
            --end;
        std::u16string_view head = u.substr(l.begin, end - l.begin);
        auto is = [&](std::string_view text) {
            return head.size() == text.size() && std::equal(text.begin(), text.end(), head.begin());
        };
        if (is(kHeader4))
            format_ = RegFormat::Regedit4;
        else if (is(kHeader5))
            format_ = RegFormat::Version5;
        else
            return fail(0, "not a registry file: the first line must be \"REGEDIT4\" or "
                           "\"Windows Registry Editor Version 5.00\"");
    }

    std::size_t block = npos;     // block of the current key; npos before the first key
    bool inDeletedKey = false;    // after [-key]: values there belong to no key
    std::u16string text;
    for (std::size_t i = 1; i < lines_.size(); ++i) {
        const Line l = lines_[i];
        std::size_t p = SkipBlanks(u, l.begin, l.end);
        if (p == l.end || u[p] == u';')
            continue;
        if (u[p] == u'[') {
            std::size_t close = u.substr(0, l.end).rfind(u']');
            if (close == std::u16string_view::npos || close < p || !OnlyBlanks(u, close + 1, l.end))
                return fail(i, "key name is not closed by ']'");
            bool deletion = p + 1 < close && u[p + 1] == u'-';
            std::size_t nameBegin = p + 1 + (deletion ? 1 : 0);
            std::string path = UnitsAsAnsi(u.substr(nameBegin, close - nameBegin));
            std::string folded = Folded(path);
            std::string_view root = std::string_view(folded).substr(0, folded.find('\\'));
            if (path.empty())
                return fail(i, "empty key name");
            if (std::find(kRoots.begin(), kRoots.end(), root) == kRoots.end())
                return fail(i, "unknown root key \"" + path.substr(0, root.size()) + "\"");
            if (!folded.empty() && folded.back() == '\\')
                return fail(i, "key name ends in '\\'");
            if (deletion) {
                // The key and everything under it are gone from here on.
                std::string prefix = folded + "\\";
                std::erase_if(keys_, [&](const auto &entry) {
                    return entry.first == folded || entry.first.starts_with(prefix);
                });
                block = npos;
                inDeletedKey = true;
                continue;
            }
            AddKey(folded);
            blocks_.push_back(Block{i, {}, {}, {}});
            block = blocks_.size() - 1;
            keys_[folded].blocks.push_back(block);
            inDeletedKey = false;
            continue;
        }
        if (u[p] != u'"' && u[p] != u'@')
            return fail(i, "expected a key in [brackets], a value or a comment");
        if (block == npos && !inDeletedKey)
            return fail(i, "value before the first key");

        std::string valueName;
        std::size_t q;
        if (u[p] == u'@') {
            q = p + 1;
        } else {
            if (!ParseQuoted(u, p, l.end, text, q))
                return fail(i, "value name is not closed by '\"'");
            valueName = UnitsAsAnsi(text);
        }
        q = SkipBlanks(u, q, l.end);
        if (q == l.end || u[q] != u'=')
            return fail(i, "expected '=' after the value name");
        q = SkipBlanks(u, q + 1, l.end);

        std::size_t lastLine = i;
        std::size_t errorLine = i;
        std::string what;
        if (!ParseData(i, q, lastLine, nullptr, errorLine, what))
            return fail(errorLine, what);
        if (block != npos) {
            values_.push_back(Value{Folded(std::move(valueName)), i, lastLine, q, false, std::nullopt, {}});
            blocks_[block].values.push_back(values_.size() - 1);
            blocks_[block].anchorLine = lastLine;
        }
        i = lastLine;
    }
    return true;
}

bool RegistryFile::ParseData(std::size_t line, std::size_t pos, std::size_t &lastLine, RegValue *out,
                             std::size_t &errorLine, std::string &error) const
{
    const std::u16string_view u = units_;
    std::size_t end = lines_[line].end;
    lastLine = line;
    errorLine = line;
    auto fail = [&](const char *what) {
        error = what;
        return false;
    };

    if (pos < end && u[pos] == u'"') {
        std::u16string text;
        std::size_t after;
        if (!ParseQuoted(u, pos, end, text, after))
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
    if (pos < end && u[pos] == u'-') {
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
        for (; p < end && HexDigit(u[p]) >= 0; ++p, ++digits)
            v = (v << 4) | static_cast<std::uint32_t>(HexDigit(u[p]));
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
    if (p < end && u[p] == u'(') {
        std::size_t digits = 0;
        type = 0;
        for (++p; p < end && HexDigit(u[p]) >= 0; ++p, ++digits)
            type = (type << 4) | static_cast<std::uint32_t>(HexDigit(u[p]));
        if (digits == 0 || digits > 8 || p >= end || u[p] != u')')
            return fail("hex(type) needs a hex type number");
        ++p;
    }
    if (p >= end || u[p] != u':')
        return fail("expected ':' after hex");
    ++p;

    std::vector<std::uint8_t> bytes;
    for (;;) {
        p = SkipBlanks(u, p, end);
        if (p == end)
            break;
        if (u[p] == u'\\' && OnlyBlanks(u, p + 1, end)) {
            // Continued on the next line.
            if (lastLine + 1 >= lines_.size())
                return fail("value data continues past the end of the file");
            ++lastLine;
            errorLine = lastLine;
            p = lines_[lastLine].begin;
            end = lines_[lastLine].end;
            continue;
        }
        int hi = HexDigit(u[p]);
        if (hi < 0)
            return fail("expected a hex byte");
        int v = hi;
        ++p;
        if (p < end && HexDigit(u[p]) >= 0)
            v = (v << 4) | HexDigit(u[p++]);
        if (p < end && HexDigit(u[p]) >= 0)
            return fail("a hex byte has at most 2 digits");
        bytes.push_back(static_cast<std::uint8_t>(v));
        p = SkipBlanks(u, p, end);
        if (p < end && u[p] == u',') {
            ++p;
        } else if (p < end && u[p] != u'\\') {
            return fail("expected ',' between hex bytes");
        }
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
    if (value.written)
        return value.written;
    RegValue out;
    std::size_t lastLine, errorLine;
    std::string error;
    if (!ParseData(value.firstLine, value.dataBegin, lastLine, &out, errorLine, error) || out.type == kDeleted)
        return std::nullopt;
    return out;
}

bool RegistryFile::HasKey(std::string_view path) const { return keys_.contains(FoldName(path)); }

std::size_t RegistryFile::FindValue(const Key &key, const std::string &foldedName) const
{
    // The last of several values of one name wins, as on import.
    for (auto b = key.blocks.rbegin(); b != key.blocks.rend(); ++b) {
        const Block &block = blocks_[*b];
        for (auto v = block.inserted.rbegin(); v != block.inserted.rend(); ++v) {
            if (values_[*v].name == foldedName)
                return *v;
        }
        for (auto v = block.values.rbegin(); v != block.values.rend(); ++v) {
            if (values_[*v].name == foldedName)
                return *v;
        }
    }
    return npos;
}

std::optional<RegValue> RegistryFile::Query(std::string_view key, std::string_view name) const
{
    auto it = keys_.find(FoldName(key));
    if (it == keys_.end())
        return std::nullopt;
    std::size_t v = FindValue(it->second, FoldName(name));
    if (v == npos)
        return std::nullopt;
    return Decode(values_[v]);
}

bool RegistryFile::Set(std::string_view key, std::string_view name, std::uint32_t type,
                       std::span<const std::uint8_t> data)
{
    auto it = keys_.find(FoldName(key));
    if (it == keys_.end())
        return false;
    Key &k = it->second;
    std::string folded = FoldName(name);
    RegValue value{type, std::vector<std::uint8_t>(data.begin(), data.end())};
    ++writeCount_;

    std::size_t v = FindValue(k, folded);
    if (v != npos) {
        values_[v].written = std::move(value);
        return true;
    }
    if (k.blocks.empty()) {
        // Known only as the parent of another key: it gets a block of its
        // own at the end of the file.
        blocks_.push_back(Block{npos, std::string(key), {}, {}});
        k.blocks.push_back(blocks_.size() - 1);
    }
    Block &block = blocks_[k.blocks.back()];
    // A new value's name is spelled as the caller gave it.
    values_.push_back(Value{std::move(folded), npos, npos, npos, true, std::move(value), std::string(name)});
    block.inserted.push_back(values_.size() - 1);
    return true;
}

std::u16string RegistryFile::LineEnd(std::size_t line) const
{
    auto endOf = [&](const Line &l) { return std::u16string(units_.substr(l.end, l.next - l.end)); };
    if (line != npos && lines_[line].next > lines_[line].end)
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
    if (value.type == kRegDword && d.size() == 4) {
        char buf[16];
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
    char buf[16];
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

void RegistryFile::Emit(std::vector<std::uint8_t> &out, std::u16string_view text) const
{
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c));
        if (encoding_ == RegEncoding::Utf16Le)
            out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
}

std::vector<std::uint8_t> RegistryFile::Render() const
{
    struct Edit {
        std::size_t begin, end;  // units replaced
        std::size_t order;
        std::u16string text;
    };
    std::vector<Edit> edits;
    auto quotedName = [&](std::string_view spelled) {
        std::u16string out = u"\"";
        for (char16_t c : ToUnits(spelled)) {
            if (c == u'\\' || c == u'"')
                out.push_back(u'\\');
            out.push_back(c);
        }
        return out + u"\"=";
    };

    for (std::size_t b = 0; b < blocks_.size(); ++b) {
        const Block &block = blocks_[b];
        for (std::size_t v : block.values) {
            const Value &value = values_[v];
            if (value.written)
                edits.push_back({value.dataBegin, lines_[value.lastLine].end, edits.size(), DataText(*value.written)});
        }
        if (block.inserted.empty())
            continue;
        std::u16string text;
        std::size_t at;
        if (block.anchorLine != npos) {
            std::u16string eol = LineEnd(block.anchorLine);
            at = lines_[block.anchorLine].end;
            for (std::size_t v : block.inserted)
                text += eol + quotedName(values_[v].spelled) + DataText(*values_[v].written);
        } else {
            const Line &last = lines_.back();
            std::u16string eol = LineEnd(npos);
            at = units_.size();
            if (last.next == last.end && last.end > last.begin)
                text += eol;  // the file's last line has no line end
            text += eol + u"[" + ToUnits(block.spelledPath) + u"]";
            for (std::size_t v : block.inserted)
                text += eol + quotedName(values_[v].spelled) + DataText(*values_[v].written);
            text += eol;
        }
        edits.push_back({at, at, edits.size(), std::move(text)});
    }
    std::sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) {
        return a.begin != b.begin ? a.begin < b.begin : a.order < b.order;
    });

    std::vector<std::uint8_t> out;
    out.reserve(image_.size() + 64 * edits.size());
    out.insert(out.end(), image_.begin(), image_.begin() + static_cast<std::ptrdiff_t>(bomBytes_));
    std::size_t cursor = 0;
    for (const Edit &e : edits) {
        out.insert(out.end(), image_.begin() + static_cast<std::ptrdiff_t>(ByteOffset(cursor)),
                   image_.begin() + static_cast<std::ptrdiff_t>(ByteOffset(e.begin)));
        Emit(out, e.text);
        cursor = e.end;
    }
    out.insert(out.end(), image_.begin() + static_cast<std::ptrdiff_t>(ByteOffset(cursor)), image_.end());
    return out;
}

bool RegistryFile::Save(const std::string &path, std::string &error) const
{
    std::vector<std::uint8_t> image = Render();
    return WriteFileAtomically(path, image, error);
}

bool WriteFileAtomically(const std::string &path, std::span<const std::uint8_t> data, std::string &error)
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
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return abandon("cannot write");
        done += static_cast<std::size_t>(n);
    }
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

} // namespace dialtrim
