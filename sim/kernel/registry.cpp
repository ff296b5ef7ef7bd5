#include "sim/kernel/registry.hpp"

#include <algorithm>

namespace sim {

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::string serial_parameters_key(std::string_view port_key) {
    return "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Serial\\Parameters\\" +
           std::string(port_key);
}

const RegistryValue* RegistryKey::find(std::string_view name) const {
    for (const RegistryValue& v : values)
        if (equal_ignoring_case(v.name, name)) return &v;
    return nullptr;
}

const RegistryKey* Registry::find(std::string_view path) const {
    for (const RegistryKey& k : keys_)
        if (equal_ignoring_case(k.path, path)) return &k;
    return nullptr;
}

RegistryKey& Registry::key(std::string_view path) {
    for (RegistryKey& k : keys_)
        if (equal_ignoring_case(k.path, path)) return k;
    keys_.push_back(RegistryKey{std::string(path), {}});
    return keys_.back();
}

RegistryValue& Registry::value(std::string_view path, std::string_view name) {
    RegistryKey& k = key(path);
    for (RegistryValue& v : k.values)
        if (equal_ignoring_case(v.name, name)) return v;
    RegistryValue v;
    v.name = name;
    k.values.push_back(std::move(v));
    return k.values.back();
}

void Registry::set_dword(std::string_view path, std::string_view name, std::uint32_t value) {
    RegistryValue& v = this->value(path, name);
    v.type = 4;
    v.dword = value;
    v.text.clear();
}

void Registry::set_string(std::string_view path, std::string_view name, std::string_view value) {
    RegistryValue& v = this->value(path, name);
    v.type = 1;
    v.dword = 0;
    v.text = value;
}

} // namespace sim
