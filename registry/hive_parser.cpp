// Reading the REGEDIT text format: the "Windows Registry Editor Version 5.00"
// and "REGEDIT4" headers, UTF-8 (with or without byte-order mark) and UTF-16LE
// with byte-order mark, LF or CR LF line ends.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/charset.h"
#include "registry/hive.h"
#include "registry/registry.h"

namespace tolvar {

namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";

[[noreturn]] void Fail(const std::string& path, std::size_t line, const std::string& why) {
    throw RegistryError(path + ":" + std::to_string(line) + ": " + why);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view Trim(std::string_view s) {
    return TrimRight(TrimLeft(s));
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && NamesEqual(s.substr(0, prefix.size()), prefix);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 1 to maxDigits hexadecimal digits; false for anything else.
bool ParseHex(std::string_view s, std::size_t maxDigits, std::uint32_t& value) {
    if (s.empty() || s.size() > maxDigits) return false;
    value = 0;
    for (char c : s) {
        const int d = HexDigit(c);
        if (d < 0) return false;
        value = (value << 4) | static_cast<std::uint32_t>(d);
    }
    return true;
}

// How many bytes a and b begin with alike; compared a word at a time, as key
// lines share most of their length with the one before.
std::size_t CommonPrefix(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t x = 0;
        std::uint64_t y = 0;
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y) break;
    }
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

// UTF-16LE (without its byte-order mark) to UTF-8.
std::string DecodeUtf16Le(std::string_view b, const std::string& path) {
    std::string out;
    out.reserve(b.size());
    std::size_t line = 1;
    std::size_t i = 0;
    const auto unit = [&](std::size_t k) {
        return static_cast<char32_t>(static_cast<std::uint8_t>(b[k]) |
                                     (static_cast<std::uint8_t>(b[k + 1]) << 8));
    };
    while (b.size() - i >= 2) {
        char32_t cp = unit(i);
        i += 2;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (b.size() - i < 2)
                Fail(path, line, "die Datei endet mitten in einem UTF-16-Zeichen");
            const char32_t low = unit(i);
            if (low < 0xDC00 || low > 0xDFFF) Fail(path, line, "ungültiger UTF-16-Text");
            i += 2;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            Fail(path, line, "ungültiger UTF-16-Text");
        }
        if (cp == '\n') ++line;
        AppendUtf8(out, cp);
    }
    if (i != b.size()) Fail(path, line, "die Datei endet mitten in einem UTF-16-Zeichen");
    return out;
}

class LineReader {
  public:
    explicit LineReader(std::string_view text) : text_(text) {}

    // The next line without its line end, pointing into the text; false at
    // the end of the text.
    bool Next(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        const void* nl = std::memchr(text_.data() + pos_, '\n', text_.size() - pos_);
        const std::size_t end =
            nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - text_.data())
               : text_.size();
        line = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        ++number_;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        return true;
    }

    std::size_t Number() const { return number_; }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t number_ = 0;
};

// A REGEDIT4 file comes in the Windows code page of its machine: its lines
// that are no UTF-8 converted, or nothing when all are.
std::optional<std::string> ConvertLegacyLines(std::string_view text) {
    std::optional<std::string> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t nl = text.find('\n', pos);
        const std::size_t end = nl == std::string_view::npos ? text.size() : nl + 1;
        const std::string line(text.substr(pos, end - pos));
        if (!IsValidUtf8(line)) {
            if (!out) out.emplace(text.substr(0, pos));
            *out += Cp1252ToUtf8(line);
        } else if (out) {
            *out += line;
        }
        pos = end;
    }
    return out;
}

}  // namespace

// Fills a hive from the text its names and values are to point into.
class HiveParser {
  public:
    HiveParser(Hive& hive, std::string_view text, const std::string& path)
        : hive_(hive), lines_(text), path_(path) {}

    void Run() {
        std::string_view line;
        if (!lines_.Next(line)) return;
        const std::string_view header = TrimRight(line);
        if (header != kHeader4 && header != kHeader5)
            Fail(path_, 1,
                 "die Kopfzeile \"Windows Registry Editor Version 5.00\" oder \"REGEDIT4\" fehlt");
        HiveKey* current = nullptr;
        while (lines_.Next(line)) {
            const std::string_view s = TrimLeft(line);
            if (s.empty() || s.front() == ';') continue;
            if (s.front() == '[') {
                current = &KeyOfLine(TrimRight(s));
            } else if (s.front() == '"' || s.front() == '@') {
                if (!current) Error("Wert außerhalb eines Schlüssels");
                current->SetValue(ParseValueLine(s));
            } else {
                Error("Schlüssel, Wert oder Kommentar erwartet");
            }
        }
    }

  private:
    [[noreturn]] void Error(const std::string& why) const { Fail(path_, lines_.Number(), why); }

    // The key a key line names, created with its parents. Files list keys
    // depth first, so a key line mostly begins with the names of the key line
    // before it: those keys are taken again without splitting or comparing
    // the names, and only the rest are looked up.
    HiveKey& KeyOfLine(std::string_view s) {
        if (s.size() < 2 || s.back() != ']') Error("\"]\" fehlt am Ende der Schlüsselzeile");
        s = s.substr(1, s.size() - 2);
        if (!s.empty() && s.front() == '-')
            Error("Löschzeilen [-...] werden in der Registrierungsdatei nicht unterstützt");
        const std::size_t common = CommonPrefix(s, lastPath_);
        std::size_t kept = 0;
        std::size_t start = 0;
        while (kept < names_.size()) {
            const std::size_t end = start + names_[kept].size();
            if (end > common || (end < s.size() && s[end] != '\\')) break;
            start = end + 1;
            ++kept;
        }
        names_.resize(kept);
        // start is past the end when the line names a key above the last one.
        for (std::size_t i = start; i <= s.size(); ++i) {
            if (i < s.size() && s[i] != '\\') continue;
            if (i == start) Error("leerer Schlüsselname in \"" + std::string(s) + "\"");
            names_.push_back(s.substr(start, i - start));
            if (i == s.size()) break;
            start = i + 1;
        }
        lastPath_ = s;
        if (kept == 0 && !StartsWithNoCase(names_.front(), "HKEY_"))
            Error("der Schlüsselpfad muss mit einem Stammschlüssel wie HKEY_CURRENT_USER beginnen");
        // Names that differ from the last line's only in case name the same keys.
        std::size_t same = kept;
        while (same < names_.size() && same < path_keys_.size() &&
               NamesEqual(path_keys_[same]->name, names_[same]))
            ++same;
        // Keys below the shared part may move when a sibling is added: dropped.
        path_keys_.resize(same);
        for (std::size_t i = same; i < names_.size(); ++i)
            path_keys_.push_back(&(i == 0 ? *hive_.top_ : *path_keys_[i - 1]).AddSubkey(names_[i]));
        return *path_keys_.back();
    }

    // s[pos] is the opening quote; pos ends behind the closing one. Only \\ and \"
    // are escapes; any other backslash stands for itself. Text without escapes
    // is taken where it lies.
    std::string_view ReadQuoted(std::string_view s, std::size_t& pos) {
        ++pos;
        // Scanned by hand: find_first_of looks each character up in the set
        // with a call of its own, a third of the parse of a large file.
        const auto nextSpecial = [&s](std::size_t from) {
            while (from < s.size() && s[from] != '"' && s[from] != '\\') ++from;
            return from;
        };
        std::size_t special = nextSpecial(pos);
        if (special < s.size() && s[special] == '"') {
            const std::string_view text = s.substr(pos, special - pos);
            pos = special + 1;
            return text;
        }
        std::string out;
        while (special < s.size()) {
            out.append(s, pos, special - pos);
            pos = special + 1;
            if (s[special] == '"') return hive_.Keep(out);
            if (pos < s.size() && (s[pos] == '\\' || s[pos] == '"')) {
                out += s[pos++];
            } else {
                out += '\\';
            }
            special = nextSpecial(pos);
        }
        Error("das schließende Anführungszeichen fehlt");
    }

    HiveValue ParseValueLine(std::string_view s) {
        HiveValue value;
        std::size_t pos = 1;
        if (s.front() == '"') {
            pos = 0;
            value.name = ReadQuoted(s, pos);
        }
        std::string_view rest = TrimLeft(s.substr(pos));
        if (rest.empty() || rest.front() != '=') Error("\"=\" fehlt nach dem Wertnamen");
        rest = TrimLeft(rest.substr(1));

        if (!rest.empty() && rest.front() == '"') {
            pos = 0;
            value.type = ValueType::String;
            value.text = ReadQuoted(rest, pos);
            if (!Trim(rest.substr(pos)).empty()) Error("unerwarteter Text hinter dem Wert");
        } else if (!rest.empty() && rest.front() == '-') {
            Error("das Löschen von Werten (=-) wird in der Registrierungsdatei nicht unterstützt");
        } else if (StartsWithNoCase(rest, "dword:")) {
            value.type = ValueType::Dword;
            if (!ParseHex(Trim(rest.substr(6)), 8, value.number))
                Error("dword: braucht 1 bis 8 Hexadezimalziffern");
        } else if (StartsWithNoCase(rest, "hex:")) {
            value.type = ValueType::Binary;
            value.bytes = ReadHexList(rest.substr(4));
        } else if (StartsWithNoCase(rest, "hex(")) {
            const std::size_t close = rest.find(')');
            std::uint32_t type = 0;
            if (close == std::string_view::npos || !ParseHex(rest.substr(4, close - 4), 8, type) ||
                close + 1 >= rest.size() || rest[close + 1] != ':')
                Error("hex(N): mit hexadezimalem Typ N erwartet");
            value.type = ValueType::Other;
            value.typeTag = rest.substr(4, close - 4);
            value.bytes = ReadHexList(rest.substr(close + 2));
        } else {
            Error("unbekannter Werttyp (erwartet: \"Text\", dword:, hex: oder hex(N):)");
        }
        return value;
    }

    // Comma-separated bytes; a trailing backslash continues the list on the next
    // line. A comma may end the list or a line, but no item may be empty.
    std::string_view ReadHexList(std::string_view first) {
        std::string bytes;
        std::string_view next;
        std::string_view seg = first;
        for (;;) {
            seg = Trim(seg);
            const bool more = !seg.empty() && seg.back() == '\\';
            if (more) seg = TrimRight(seg.substr(0, seg.size() - 1));
            std::size_t start = 0;
            for (;;) {
                const std::size_t comma = seg.find(',', start);
                const std::string_view item =
                    Trim(seg.substr(start, comma == std::string_view::npos ? std::string_view::npos
                                                                           : comma - start));
                if (item.empty()) {
                    if (comma == std::string_view::npos) break;
                    Error("leerer Eintrag in der Hex-Liste");
                }
                std::uint32_t byte = 0;
                if (!ParseHex(item, 2, byte))
                    Error("ungültiges Byte \"" + std::string(item) + "\" in der Hex-Liste");
                bytes += static_cast<char>(byte);
                if (comma == std::string_view::npos) break;
                start = comma + 1;
            }
            if (!more) return hive_.Keep(bytes);
            if (!lines_.Next(next)) Error("die Hex-Liste geht über das Ende der Datei hinaus");
            seg = next;
        }
    }

    Hive& hive_;
    LineReader lines_;
    const std::string& path_;
    std::string_view lastPath_;            // the last key line's path
    std::vector<std::string_view> names_;  // in it
    std::vector<HiveKey*> path_keys_;      // the keys along it
};

Hive Hive::Parse(std::string bytes, const std::string& path) {
    std::size_t skip = 0;  // a byte-order mark
    if (bytes.starts_with("\xFF\xFE")) {
        bytes = DecodeUtf16Le(std::string_view(bytes).substr(2), path);
    } else if (bytes.starts_with("\xFE\xFF")) {
        Fail(path, 1, "UTF-16 big-endian wird nicht unterstützt (bitte UTF-8 oder UTF-16LE)");
    } else if (bytes.starts_with("\xEF\xBB\xBF")) {
        skip = 3;
    }
    Hive hive;
    // A file of nothing but blank lines is an empty registry.
    if (bytes.find_first_not_of(" \t\r\n", skip) == std::string::npos) return hive;
    std::string_view text = std::string_view(bytes).substr(skip);
    std::string_view header = text.substr(0, text.find('\n'));
    if (header.ends_with('\r')) header.remove_suffix(1);
    if (TrimRight(header) == kHeader4) {
        if (std::optional<std::string> converted = ConvertLegacyLines(text)) {
            bytes = std::move(*converted);
            skip = 0;
        }
    }
    hive.text_ = std::make_shared<HiveText>(std::move(bytes));
    HiveParser(hive, hive.text_->File().substr(skip), path).Run();
    return hive;
}

}  // namespace tolvar
