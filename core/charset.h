#pragma once
// Windows-1252 on the wire and in old files, UTF-8 inside the program.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tolvar {

std::string Cp1252ToUtf8(const std::string& bytes);
// Characters without a Windows-1252 byte become '?'.
std::string Utf8ToCp1252(const std::string& text);
bool IsValidUtf8(const std::string& text);
// U+0000 to U+001F, U+007F and U+0080 to U+009F.
bool IsControlCharacter(char32_t codePoint);
// Text from outside (the line, a settings file, an old event log) as the
// program shows and stores it: every control character, and every byte that
// is not UTF-8, becomes "?", so nothing can start a new line or reach a
// terminal as a command. The ASCII control characters in keep stay (CR, a
// D-Mail's end mark; CR and LF where they are escaped afterwards).
std::string ReplaceControlCharacters(const std::string& text, std::string_view keep = {});
// True when text is valid UTF-8 without control characters: exactly the text
// that ReplaceControlCharacters (with nothing kept) returns unchanged. Fast on
// plain ASCII, so that long files need no copy of their clean lines.
bool IsCleanText(std::string_view text);
// How many bytes at the start of text are printable ASCII (0x20 to 0x7E):
// where a line of a long file ends, or needs a closer look. Sixteen bytes at
// a time.
std::size_t PrintableAsciiRun(std::string_view text);
// The same run, copied to out on the way (out has room for text.size() bytes).
std::size_t CopyPrintableAsciiRun(std::string_view text, char* out);
// Appends one code point in UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);

}  // namespace tolvar
