#include "core/bytes.h"

#include <cstdio>

namespace tolvar {

std::string Hex(std::uint32_t value, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", width, value);
    return buf;
}

std::string HexNoPad(std::uint32_t value) {
    return Hex(value, 1);
}

}  // namespace tolvar
