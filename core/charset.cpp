#include "core/charset.h"

#include <cstdint>

#include "core/ascii_run.h"

namespace tolvar {

namespace {

// Code points of 0x80..0x9F; 0 where the byte is undefined (kept as its C1 control).
constexpr char32_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Decodes one UTF-8 sequence at i; nothing for an invalid one.
bool NextCodePoint(std::string_view s, std::size_t& i, char32_t& cp) {
    const auto b = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
    const std::uint8_t lead = b(i);
    int n;
    if (lead < 0x80) {
        cp = lead;
        n = 0;
    } else if (lead >= 0xC2 && lead < 0xE0) {
        cp = lead & 0x1F;
        n = 1;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        cp = lead & 0x0F;
        n = 2;
    } else if (lead >= 0xF0 && lead < 0xF5) {
        cp = lead & 0x07;
        n = 3;
    } else {
        return false;
    }
    if (s.size() - i - 1 < static_cast<std::size_t>(n)) return false;
    for (int k = 1; k <= n; ++k) {
        const std::uint8_t c = b(i + static_cast<std::size_t>(k));
        if ((c & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (c & 0x3F);
    }
    if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return false;
    i += static_cast<std::size_t>(n) + 1;
    return true;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string Cp1252ToUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto c = static_cast<std::uint8_t>(ch);
        char32_t cp = c;
        if (c >= 0x80 && c < 0xA0 && kHigh[c - 0x80] != 0) cp = kHigh[c - 0x80];
        AppendUtf8(out, cp);
    }
    return out;
}

std::string Utf8ToCp1252(const std::string& text) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t cp;
        if (!NextCodePoint(text, i, cp)) {
            out += '?';
            ++i;
            continue;
        }
        if (cp < 0x80 || (cp >= 0xA0 && cp < 0x100)) {
            out += static_cast<char>(cp);
            continue;
        }
        char mapped = '?';
        for (int k = 0; k < 32; ++k)
            if (kHigh[k] == cp || (kHigh[k] == 0 && cp == static_cast<char32_t>(0x80 + k)))
                mapped = static_cast<char>(0x80 + k);
        out += mapped;
    }
    return out;
}

bool IsControlCharacter(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp < 0xA0);
}

std::string ReplaceControlCharacters(const std::string& text, std::string_view keep) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t start = i;
        char32_t cp;
        if (!NextCodePoint(text, i, cp)) {
            out += '?';  // not UTF-8 at all: no byte of it can be trusted
            ++i;
            continue;
        }
        if (IsControlCharacter(cp) &&
            !(cp < 0x80 && keep.find(static_cast<char>(cp)) != std::string_view::npos))
            out += '?';
        else
            out.append(text, start, i - start);
    }
    return out;
}

std::size_t PrintableAsciiRun(std::string_view text) {
    return ascii::Run<false>(text, nullptr);
}

std::size_t CopyPrintableAsciiRun(std::string_view text, char* out) {
    return ascii::Run<true>(text, out);
}

bool IsCleanText(std::string_view text) {
    std::size_t i = 0;
    for (;;) {
        i += PrintableAsciiRun(text.substr(i));
        if (i == text.size()) return true;
        char32_t cp;
        if (static_cast<std::uint8_t>(text[i]) < 0x80 || !NextCodePoint(text, i, cp) ||
            IsControlCharacter(cp))
            return false;
    }
}

bool IsValidUtf8(const std::string& text) {
    std::size_t i = 0;
    char32_t cp;
    while (i < text.size())
        if (!NextCodePoint(text, i, cp)) return false;
    return true;
}

}  // namespace tolvar
