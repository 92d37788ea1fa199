#pragma once
// Reading a setting that may be missing or of another type: the readers of
// start-up fall back to their defaults then.

#include <cstdint>
#include <optional>
#include <string>

#include "registry/registry.h"

namespace tolvar {

// The string value, or fallback when it is missing or no string.
std::string ReadStringOr(const RegKey& key, const std::string& name,
                         const std::string& fallback = "");
// The integer value; nothing when it is missing or no integer.
std::optional<std::int32_t> ReadIntegerIfAny(const RegKey& key, const std::string& name);

}  // namespace tolvar
