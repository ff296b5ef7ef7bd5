// Reading machine descriptions. Every key is checked: an unknown key, a
// value of the wrong type or out of range is an error that names the file,
// the key and why, and nothing of the description is used.
#include "sim/card/modem_card.hpp"
#include "sim/machine/machine_spec.hpp"

#include <toml++/toml.h>

#include <fstream>
#include <limits>
#include <set>
#include <sstream>

namespace sim {

namespace {

constexpr std::uintmax_t kMaxCisFileSize = 1 << 20;

class Reader {
public:
    Reader(std::string file, std::filesystem::path base_dir) : file_(std::move(file)), base_dir_(std::move(base_dir)) {}

    [[noreturn]] void fail(const std::string& key, const toml::node* node, const std::string& why) const {
        std::ostringstream out;
        out << file_;
        if (node && node->source().begin.line) out << ":" << node->source().begin.line;
        out << ": " << key << ": " << why;
        throw MachineError(out.str());
    }

    // Rejects keys of `table` outside `known`.
    void only(const toml::table& table, const std::string& where, std::initializer_list<std::string_view> known) const {
        for (auto&& [k, v] : table) {
            bool ok = false;
            for (std::string_view name : known) ok = ok || k.str() == name;
            if (!ok) fail(where.empty() ? std::string(k.str()) : where + "." + std::string(k.str()), &v, "unknown key");
        }
    }

    std::int64_t integer(const toml::node& node, const std::string& key, std::int64_t lo, std::int64_t hi) const {
        auto v = node.value_exact<std::int64_t>();
        if (!v) fail(key, &node, "must be an integer");
        if (*v < lo || *v > hi) {
            std::ostringstream why;
            why << "must be between " << lo << " and " << hi << " (0x" << std::hex << std::uppercase << lo << " to 0x"
                << hi << "), not " << std::dec << *v;
            fail(key, &node, why.str());
        }
        return *v;
    }

    std::string string(const toml::node& node, const std::string& key) const {
        auto v = node.value_exact<std::string>();
        if (!v) fail(key, &node, "must be a string");
        return *v;
    }

    const toml::table& table(const toml::node& node, const std::string& key) const {
        if (!node.is_table()) fail(key, &node, "must be a table");
        return *node.as_table();
    }

    // A [[name]] array of tables; an empty array means none.
    const toml::array& table_array(const toml::node& node, const std::string& key) const {
        if (!node.is_array()) fail(key, &node, "must be an array of tables ([[" + key + "]])");
        const toml::array& a = *node.as_array();
        for (const toml::node& e : a)
            if (!e.is_table()) fail(key, &e, "every entry must be a table");
        return a;
    }

    std::vector<std::uint8_t> read_cis(const std::string& written, const toml::node& node, const std::string& key) const {
        std::filesystem::path p(written);
        if (p.is_relative()) p = base_dir_ / p;
        std::error_code ec;
        auto size = std::filesystem::file_size(p, ec);
        if (ec) fail(key, &node, "cannot read card image " + p.string() + ": " + ec.message());
        if (size > kMaxCisFileSize) fail(key, &node, "card image " + p.string() + " is larger than 1 MiB");
        std::ifstream in(p, std::ios::binary);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
        if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
            fail(key, &node, "cannot read card image " + p.string());
        return bytes;
    }

    AddressSpace space(const toml::node& node, const std::string& key) const {
        std::string s = string(node, key);
        if (s == "io") return AddressSpace::Io;
        if (s == "memory") return AddressSpace::Memory;
        if (s == "refuse") return AddressSpace::Refuse;
        fail(key, &node, "must be \"io\", \"memory\" or \"refuse\", not \"" + s + "\"");
    }

    // A fault-injection status: 0, or a negative 32-bit status written either
    // as a negative number or as its unsigned form (0xC0000001).
    NTSTATUS status(const toml::node& node, const std::string& key) const {
        std::int64_t v = integer(node, key, std::numeric_limits<std::int32_t>::min(), 0xFFFFFFFFll);
        auto s = static_cast<NTSTATUS>(static_cast<std::uint32_t>(v));
        if (s > 0) fail(key, &node, "must be 0 or a negative (failure) status such as 0xC0000001");
        return s;
    }

    const std::string& file() const { return file_; }

private:
    std::string file_;
    std::filesystem::path base_dir_;
};

void read_registry(const Reader& r, const toml::table& t, MachineSpec& m) {
    m.registry.clear();
    for (auto&& [k, v] : t) {
        const std::string key = "registry." + std::string(k.str());
        RegistryKeySpec description{std::string(k.str()), {}};
        for (auto&& [vk, vv] : r.table(v, key)) {
            const std::string vkey = key + "." + std::string(vk.str());
            RegistryValueSpec value;
            value.name = std::string(vk.str());
            if (vv.is_string()) {
                value.is_string = true;
                value.text = *vv.value<std::string>();
            } else if (vv.is_integer()) {
                value.number = static_cast<std::uint32_t>(r.integer(vv, vkey, 0, 0xFFFFFFFFll));
            } else {
                r.fail(vkey, &vv, "must be an integer (REG_DWORD) or a string (REG_SZ)");
            }
            description.values.push_back(std::move(value));
        }
        m.registry.push_back(std::move(description));
    }
}

void read_hal(const Reader& r, const toml::table& t, HalPolicy& hal) {
    r.only(t, "hal", {"io_space", "memory_space", "refuse_segments", "stall_overhead_ns"});
    if (auto* n = t.get("io_space")) hal.io_space = r.space(*n, "hal.io_space");
    if (auto* n = t.get("memory_space")) hal.memory_space = r.space(*n, "hal.memory_space");
    if (auto* n = t.get("refuse_segments")) {
        if (n->is_string()) {
            if (r.string(*n, "hal.refuse_segments") != "all")
                r.fail("hal.refuse_segments", n, "must be a list of segments or \"all\"");
            hal.refuse_all_segments = true;
        } else if (n->is_array()) {
            for (const toml::node& e : *n->as_array())
                hal.refuse_segments.insert(static_cast<std::uint32_t>(r.integer(e, "hal.refuse_segments", 0, 0xFFFF)));
        } else {
            r.fail("hal.refuse_segments", n, "must be a list of segments or \"all\"");
        }
    }
    if (auto* n = t.get("stall_overhead_ns"))
        hal.stall_overhead_ns = static_cast<std::uint64_t>(r.integer(*n, "hal.stall_overhead_ns", 0, 1'000'000'000));
}

ControllerSpec read_controller(const Reader& r, const toml::table& t, const std::string& key) {
    r.only(t, key, {"port", "id"});
    ControllerSpec c;
    if (auto* n = t.get("port")) c.port = static_cast<std::uint16_t>(r.integer(*n, key + ".port", 0, 0xFFFE));
    if (auto* n = t.get("id")) c.id = static_cast<std::uint8_t>(r.integer(*n, key + ".id", 0, 0xFF));
    return c;
}

SocketSpec read_socket(const Reader& r, const toml::table& t, const std::string& key, std::uint16_t default_controller) {
    r.only(t, key, {"controller", "bank", "card", "detect", "ready_ms", "odd_fill", "status_or"});
    SocketSpec s;
    s.controller = default_controller;
    if (auto* n = t.get("controller")) s.controller = static_cast<std::uint16_t>(r.integer(*n, key + ".controller", 0, 0xFFFE));
    if (auto* n = t.get("bank")) s.bank = static_cast<int>(r.integer(*n, key + ".bank", 0, 3));
    if (auto* n = t.get("card")) {
        s.card = r.string(*n, key + ".card");
        if (s.card.empty()) r.fail(key + ".card", n, "must be \"nuvalt\", \"none\" or the path of a .cis file");
        if (s.card != "nuvalt" && s.card != "none") s.cis = r.read_cis(s.card, *n, key + ".card");
    }
    if (s.card == "nuvalt") s.cis = ModemCard::builtin_cis();
    if (auto* n = t.get("detect")) {
        std::string d = r.string(*n, key + ".detect");
        if (d == "both") s.detect = 0x0C;
        else if (d == "cd1") s.detect = 0x04;
        else if (d == "cd2") s.detect = 0x08;
        else r.fail(key + ".detect", n, "must be \"both\", \"cd1\" or \"cd2\", not \"" + d + "\"");
    }
    if (auto* n = t.get("ready_ms")) {
        if (n->is_string()) {
            if (r.string(*n, key + ".ready_ms") != "never")
                r.fail(key + ".ready_ms", n, "must be a number of milliseconds or \"never\"");
            s.ready_ms.reset();
        } else {
            s.ready_ms = static_cast<std::uint64_t>(r.integer(*n, key + ".ready_ms", 0, 3'600'000));
        }
    }
    if (auto* n = t.get("odd_fill")) s.odd_fill = static_cast<std::uint8_t>(r.integer(*n, key + ".odd_fill", 0, 0xFF));
    if (auto* n = t.get("status_or")) s.status_or = static_cast<std::uint8_t>(r.integer(*n, key + ".status_or", 0, 0xFF));
    return s;
}

std::vector<SocketSpec> default_sockets(std::uint16_t controller) {
    SocketSpec card;
    card.controller = controller;
    card.bank = 0;
    card.card = "nuvalt";
    card.cis = ModemCard::builtin_cis();
    SocketSpec empty;
    empty.controller = controller;
    empty.bank = 1;
    empty.card = "none";
    return {card, empty};
}

std::string hex(unsigned v) {
    std::ostringstream o;
    o << "0x" << std::hex << std::uppercase << v;
    return o.str();
}

} // namespace

MachineSpec default_machine() {
    MachineSpec m;
    m.registry.push_back({"Serial1", {{"PortAddress", false, 0x2F8, {}}, {"Interrupt", false, 3, {}}}});
    m.controllers.push_back(ControllerSpec{});
    m.sockets = default_sockets(0x3E0);
    return m;
}

MachineSpec parse_machine(std::string_view text, const std::string& file_name, const std::filesystem::path& base_dir) {
    toml::table doc;
    try {
        doc = toml::parse(text, file_name);
    } catch (const toml::parse_error& e) {
        std::ostringstream out;
        out << file_name << ":" << e.source().begin.line << ":" << e.source().begin.column << ": " << e.description();
        throw MachineError(out.str());
    }
    Reader r(file_name, base_dir);
    r.only(doc, "", {"name", "driver", "registry", "kernel", "hal", "controller", "socket"});

    MachineSpec m = default_machine();
    if (auto* n = doc.get("name")) m.name = r.string(*n, "name");
    if (auto* n = doc.get("driver")) {
        const toml::table& t = r.table(*n, "driver");
        r.only(t, "driver", {"debug"});
        if (auto* d = t.get("debug")) m.debug = static_cast<std::uint32_t>(r.integer(*d, "driver.debug", 0, 0xFFFFFFFFll));
    }
    if (auto* n = doc.get("registry")) read_registry(r, r.table(*n, "registry"), m);
    if (auto* n = doc.get("kernel")) {
        const toml::table& t = r.table(*n, "kernel");
        r.only(t, "kernel", {"create_device_status", "create_link_status"});
        if (auto* s = t.get("create_device_status")) m.faults.create_device_status = r.status(*s, "kernel.create_device_status");
        if (auto* s = t.get("create_link_status")) m.faults.create_link_status = r.status(*s, "kernel.create_link_status");
    }
    if (auto* n = doc.get("hal")) read_hal(r, r.table(*n, "hal"), m.hal);

    if (auto* n = doc.get("controller")) {
        m.controllers.clear();
        std::size_t i = 0;
        for (const toml::node& e : r.table_array(*n, "controller")) {
            const std::string key = "controller[" + std::to_string(i++) + "]";
            ControllerSpec c = read_controller(r, *e.as_table(), key);
            for (const ControllerSpec& other : m.controllers)
                if (c.port == other.port || c.port + 1 == other.port || c.port == other.port + 1)
                    r.fail(key + ".port", &e, "ports " + hex(c.port) + "/" + hex(c.port + 1u) +
                                                  " overlap the controller at " + hex(other.port));
            m.controllers.push_back(c);
        }
    }
    const std::uint16_t first_controller = m.controllers.empty() ? 0x3E0 : m.controllers.front().port;
    if (auto* n = doc.get("socket")) {
        m.sockets.clear();
        std::size_t i = 0;
        for (const toml::node& e : r.table_array(*n, "socket")) {
            const std::string key = "socket[" + std::to_string(i++) + "]";
            SocketSpec s = read_socket(r, *e.as_table(), key, first_controller);
            bool known = false;
            for (const ControllerSpec& c : m.controllers) known = known || c.port == s.controller;
            if (!known) r.fail(key + ".controller", &e, "no [[controller]] has port " + hex(s.controller));
            for (const SocketSpec& other : m.sockets)
                if (other.controller == s.controller && other.bank == s.bank)
                    r.fail(key + ".bank", &e, "bank " + std::to_string(s.bank) + " of the controller at " +
                                                  hex(s.controller) + " is already described");
            m.sockets.push_back(std::move(s));
        }
    } else {
        m.sockets = m.controllers.empty() ? std::vector<SocketSpec>{} : default_sockets(first_controller);
    }
    return m;
}

MachineSpec load_machine_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw MachineError(path.string() + ": cannot open the machine file");
    std::ostringstream text;
    text << in.rdbuf();
    return parse_machine(text.str(), path.string(), path.parent_path());
}

} // namespace sim
