#pragma once
// The first line of every settings file the tests write, with its blank line.

namespace tolvar::test {

inline constexpr const char* kHiveHeader = "Windows Registry Editor Version 5.00\n\n";

}  // namespace tolvar::test
