#pragma once
// The first line of every settings file the tests write, with its blank line,
// and the values several of them share.

#include <cstdio>
#include <string>

namespace tolvar::test {

inline constexpr const char* kHiveHeader = "Windows Registry Editor Version 5.00\n\n";

// An SMS provider's "XlateTable" value line that sends every byte as it is.
inline std::string IdentityXlateTable() {
    std::string table = "\"XlateTable\"=hex:00";
    char byte[4];
    for (int i = 1; i < 256; ++i) {
        std::snprintf(byte, sizeof byte, ",%02x", i);
        table += byte;
    }
    return table;
}

}  // namespace tolvar::test
