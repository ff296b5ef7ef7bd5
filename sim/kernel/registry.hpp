// The simulated registry: keys by full path (as the driver names them, from
// \REGISTRY), each with named values. Key and value names compare without
// regard to letter case, as on the platform.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct RegistryValue {
    std::string name;
    std::uint32_t type = 0; // REG_DWORD (4) or REG_SZ (1)
    std::uint32_t dword = 0;
    std::string text;
};

struct RegistryKey {
    std::string path;
    std::vector<RegistryValue> values;
    const RegistryValue* find(std::string_view name) const;
};

class Registry {
public:
    // The key of that path, created when missing.
    RegistryKey& key(std::string_view path);
    void set_dword(std::string_view path, std::string_view name, std::uint32_t value);
    void set_string(std::string_view path, std::string_view name, std::string_view value);

    const RegistryKey* find(std::string_view path) const;
    const std::vector<RegistryKey>& keys() const { return keys_; }

private:
    RegistryValue& value(std::string_view path, std::string_view name);
    std::vector<RegistryKey> keys_;
};

bool equal_ignoring_case(std::string_view a, std::string_view b);

// Where the serial driver keeps the parameters of one port, e.g. "Serial1".
std::string serial_parameters_key(std::string_view port_key);

} // namespace sim
