#pragma once
// Windows-1252 on the wire and in old files, UTF-8 inside the program.

#include <optional>
#include <string>

namespace tolvar {

std::string Cp1252ToUtf8(const std::string& bytes);
// Characters without a Windows-1252 byte become '?'.
std::string Utf8ToCp1252(const std::string& text);
bool IsValidUtf8(const std::string& text);
// Appends one code point in UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);

}  // namespace tolvar
