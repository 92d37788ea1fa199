// Reading the REGEDIT text format: the "Windows Registry Editor Version 5.00"
// and "REGEDIT4" headers, UTF-8 (with or without byte-order mark) and UTF-16LE
// with byte-order mark, LF or CR LF line ends.

#include <cstdint>
#include <cstring>
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

    // The next line without its line end; false at the end of the text. The
    // line points into the text, or into a buffer of the reader's own for a
    // converted one, and stays valid until the next call.
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
        // REGEDIT4 files come in the Windows code page of their machine.
        if (legacy_) {
            converted_.assign(line);
            if (!IsValidUtf8(converted_)) {
                converted_ = Cp1252ToUtf8(converted_);
                line = converted_;
            }
        }
        return true;
    }

    std::size_t Number() const { return number_; }
    void SetLegacy() { legacy_ = true; }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t number_ = 0;
    bool legacy_ = false;
    std::string converted_;
};

class Parser {
  public:
    Parser(std::string_view text, const std::string& path) : lines_(text), path_(path) {}

    // Fills top (the hive's holder of its root keys).
    void Run(HiveKey& top) {
        std::string_view line;
        if (!lines_.Next(line)) return;
        const std::string_view header = TrimRight(line);
        if (header == kHeader4) {
            lines_.SetLegacy();
        } else if (header != kHeader5) {
            Fail(path_, 1,
                 "die Kopfzeile \"Windows Registry Editor Version 5.00\" oder \"REGEDIT4\" fehlt");
        }
        HiveKey* current = nullptr;
        while (lines_.Next(line)) {
            const std::string_view s = TrimLeft(line);
            if (s.empty() || s.front() == ';') continue;
            if (s.front() == '[') {
                ParseKeyLine(TrimRight(s));
                current = &KeyOfLastLine(top);
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

    // The names of a key line into names_.
    void ParseKeyLine(std::string_view s) {
        if (s.size() < 2 || s.back() != ']') Error("\"]\" fehlt am Ende der Schlüsselzeile");
        s = s.substr(1, s.size() - 2);
        if (!s.empty() && s.front() == '-')
            Error("Löschzeilen [-...] werden in der Registrierungsdatei nicht unterstützt");
        names_.clear();
        std::size_t start = 0;
        for (;;) {
            const std::size_t slash = s.find('\\', start);
            const std::string_view name = s.substr(
                start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
            if (name.empty()) Error("leerer Schlüsselname in \"" + std::string(s) + "\"");
            names_.push_back(name);
            if (slash == std::string_view::npos) break;
            start = slash + 1;
        }
        if (!StartsWithNoCase(names_.front(), "HKEY_"))
            Error("der Schlüsselpfad muss mit einem Stammschlüssel wie HKEY_CURRENT_USER beginnen");
    }

    // The key names_ names, created with its parents. Files list keys depth
    // first, so the path shares most of its names with the key before it: the
    // keys along that path are reused instead of looked up from the top.
    HiveKey& KeyOfLastLine(HiveKey& top) {
        std::size_t same = 0;
        while (same < names_.size() && same < path_keys_.size() &&
               NamesEqual(path_keys_[same]->name, names_[same]))
            ++same;
        // Keys below the shared part may move when a sibling is added: dropped.
        path_keys_.resize(same);
        for (std::size_t i = same; i < names_.size(); ++i)
            path_keys_.push_back(&(i == 0 ? top : *path_keys_[i - 1]).AddSubkey(names_[i]));
        return *path_keys_.back();
    }

    // s[pos] is the opening quote; pos ends behind the closing one. Only \\ and \"
    // are escapes; any other backslash stands for itself.
    std::string ReadQuoted(std::string_view s, std::size_t& pos) const {
        std::string out;
        ++pos;
        while (pos < s.size()) {
            // Scanned by hand: find_first_of looks each character up in the set
            // with a call of its own, a third of the parse of a large file.
            std::size_t special = pos;
            while (special < s.size() && s[special] != '"' && s[special] != '\\') ++special;
            if (special == s.size()) break;
            out.append(s, pos, special - pos);
            pos = special + 1;
            if (s[special] == '"') return out;
            if (pos < s.size() && (s[pos] == '\\' || s[pos] == '"')) {
                out += s[pos++];
                continue;
            }
            out += '\\';
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
            value.typeTag = std::string(rest.substr(4, close - 4));
            value.bytes = ReadHexList(rest.substr(close + 2));
        } else {
            Error("unbekannter Werttyp (erwartet: \"Text\", dword:, hex: oder hex(N):)");
        }
        return value;
    }

    // Comma-separated bytes; a trailing backslash continues the list on the next
    // line. A comma may end the list or a line, but no item may be empty.
    std::vector<std::uint8_t> ReadHexList(std::string_view first) {
        std::vector<std::uint8_t> bytes;
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
                bytes.push_back(static_cast<std::uint8_t>(byte));
                if (comma == std::string_view::npos) break;
                start = comma + 1;
            }
            if (!more) return bytes;
            if (!lines_.Next(next)) Error("die Hex-Liste geht über das Ende der Datei hinaus");
            seg = next;
        }
    }

    LineReader lines_;
    const std::string& path_;
    std::vector<std::string_view> names_;  // of the last key line
    std::vector<HiveKey*> path_keys_;      // the keys along the last key line's path
};

}  // namespace

Hive Hive::Parse(std::string_view bytes, const std::string& path) {
    std::string decoded;
    std::string_view text = bytes;
    if (bytes.starts_with("\xFF\xFE")) {
        decoded = DecodeUtf16Le(bytes.substr(2), path);
        text = decoded;
    } else if (bytes.starts_with("\xFE\xFF")) {
        Fail(path, 1, "UTF-16 big-endian wird nicht unterstützt (bitte UTF-8 oder UTF-16LE)");
    } else if (bytes.starts_with("\xEF\xBB\xBF")) {
        text = bytes.substr(3);
    }
    Hive hive;
    // A file of nothing but blank lines is an empty registry.
    if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) return hive;
    Parser(text, path).Run(hive.top_);
    return hive;
}

}  // namespace tolvar
