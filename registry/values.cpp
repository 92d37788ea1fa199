#include "registry/values.h"

namespace tolvar {

std::string ReadStringOr(const RegKey& key, const std::string& name, const std::string& fallback) {
    if (!key.ValueExists(name)) return fallback;
    try {
        return key.ReadString(name);
    } catch (const RegistryError&) {
        return fallback;
    }
}

std::optional<std::int32_t> ReadIntegerIfAny(const RegKey& key, const std::string& name) {
    if (!key.ValueExists(name)) return std::nullopt;
    try {
        return key.ReadInteger(name);
    } catch (const RegistryError&) {
        return std::nullopt;
    }
}

}  // namespace tolvar
