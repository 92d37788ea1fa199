#include "desktop/vcard.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <utility>

#include "core/charset.h"
#include "desktop/phone_number.h"

namespace tolvar {

namespace {

std::string Upper(std::string_view s) {
    std::string u(s);
    std::transform(u.begin(), u.end(), u.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return u;
}

struct Param {
    std::string name;   // upper case; "TYPE" for the bare words of 2.1
    std::string value;  // quotes removed
};

struct Property {
    std::string name;  // upper case, without its group
    std::vector<Param> params;
    std::string value;  // raw, still encoded

    std::optional<std::string> ParamValue(std::string_view key) const {
        for (const auto& p : params)
            if (p.name == key) return p.value;
        return std::nullopt;
    }
};

// Splits at sep outside double quotes.
std::vector<std::string_view> SplitOutsideQuotes(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '"') quoted = !quoted;
        if (s[i] == sep && !quoted) {
            parts.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(s.substr(start));
    return parts;
}

std::size_t ValueColon(std::string_view line) {
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') quoted = !quoted;
        if (line[i] == ':' && !quoted) return i;
    }
    return std::string_view::npos;
}

bool IsEncodingWord(const std::string& upper) {
    return upper == "QUOTED-PRINTABLE" || upper == "BASE64" || upper == "B" || upper == "8BIT" ||
           upper == "7BIT";
}

std::optional<Property> ParseLine(std::string_view line) {
    const std::size_t colon = ValueColon(line);
    if (colon == std::string_view::npos) return std::nullopt;
    Property p;
    p.value = std::string(line.substr(colon + 1));
    const auto head = SplitOutsideQuotes(line.substr(0, colon), ';');
    std::string_view name = head.front();
    if (const auto dot = name.rfind('.'); dot != std::string_view::npos)
        name.remove_prefix(dot + 1);
    p.name = Upper(name);
    for (std::size_t i = 1; i < head.size(); ++i) {
        const std::string_view param = head[i];
        const auto eq = param.find('=');
        Param out;
        if (eq == std::string_view::npos) {
            const std::string word = Upper(param);
            out.name = IsEncodingWord(word) ? "ENCODING" : "TYPE";
            out.value = std::string(param);
        } else {
            out.name = Upper(param.substr(0, eq));
            out.value = std::string(param.substr(eq + 1));
            std::erase(out.value, '"');
        }
        p.params.push_back(std::move(out));
    }
    return p;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::toupper(x) == std::toupper(y);
           });
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// One logical line and the bytes of the text it was joined from.
struct LogicalLine {
    std::string text;
    std::size_t begin = 0;  // its first physical line's first byte
    std::size_t end = 0;    // past its last physical line's line break
};

// Physical lines joined into logical ones: a line that starts with a blank
// or tab continues the one before (2.1 keeps that blank, later versions drop
// it); so does the line after a QUOTED-PRINTABLE value that ends in "=" (a
// soft line break). Each byte is looked at a bounded number of times, so a
// value folded thousands of times costs no more than its length.
class Unfolder {
  public:
    explicit Unfolder(std::string_view text) : text_(text) {}

    std::vector<LogicalLine> Lines() {
        std::size_t pos = 0;
        while (pos <= text_.size()) {
            std::size_t end = text_.find_first_of("\r\n", pos);
            if (end == std::string_view::npos) end = text_.size();
            std::string_view raw = text_.substr(pos, end - pos);
            const std::size_t rawBegin = pos;
            pos = end + 1;
            if (end < text_.size() && text_[end] == '\r' && pos < text_.size() &&
                text_[pos] == '\n')
                ++pos;
            const std::size_t rawEnd = std::min(pos, text_.size());
            // Files joined by copying keep each one's byte-order mark.
            if (raw.substr(0, kByteOrderMark.size()) == kByteOrderMark)
                raw.remove_prefix(kByteOrderMark.size());
            // A value broken off at its "=" never swallows its card's end.
            if (softBreak_ && EqualsNoCase(raw, "END:VCARD")) softBreak_ = false;
            if (softBreak_ && !lines_.empty()) {
                Append(raw, rawEnd);
            } else if (!raw.empty() && (raw[0] == ' ' || raw[0] == '\t') && !lines_.empty()) {
                Append(version21_ ? raw : raw.substr(1), rawEnd);
            } else if (raw.empty()) {
                softBreak_ = false;
                if (end >= text_.size()) break;
                continue;
            } else {
                Finish();
                lines_.push_back({std::string(raw), rawBegin, rawEnd});
                colon_ = std::string::npos;
                scanned_ = 0;
                quoted_ = false;
                quotedPrintable_ = false;
                FindColon();
            }
            std::string& last = lines_.back().text;
            softBreak_ = quotedPrintable_ && !last.empty() && last.back() == '=';
            if (softBreak_) last.pop_back();
            if (end >= text_.size()) break;
        }
        Finish();
        return std::move(lines_);
    }

  private:
    void Append(std::string_view raw, std::size_t rawEnd) {
        lines_.back().text += raw;
        lines_.back().end = rawEnd;
        if (colon_ == std::string::npos) FindColon();
    }

    // Looks for the value's colon in what was added since the last look;
    // once found, the parameters say whether the value is QUOTED-PRINTABLE.
    void FindColon() {
        const std::string& line = lines_.back().text;
        for (; scanned_ < line.size(); ++scanned_) {
            if (line[scanned_] == '"') quoted_ = !quoted_;
            if (line[scanned_] == ':' && !quoted_) {
                colon_ = scanned_;
                quotedPrintable_ =
                    Upper(std::string_view(line).substr(0, colon_)).find("QUOTED-PRINTABLE") !=
                    std::string::npos;
                return;
            }
        }
    }

    // The version decides how the lines after it unfold.
    void Finish() {
        if (lines_.empty()) return;
        const std::string_view line = lines_.back().text;
        if (line.size() < 8 || !EqualsNoCase(line.substr(0, 8), "VERSION:")) return;
        std::string_view version = line.substr(8);
        while (!version.empty() && version.front() == ' ') version.remove_prefix(1);
        while (!version.empty() && version.back() == ' ') version.remove_suffix(1);
        version21_ = version == "2.1";
    }

    std::string_view text_;
    std::vector<LogicalLine> lines_;
    bool softBreak_ = false;
    bool version21_ = false;
    // The line being joined: where its colon is and how far it was searched.
    std::size_t colon_ = std::string::npos;
    std::size_t scanned_ = 0;
    bool quoted_ = false;
    bool quotedPrintable_ = false;
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string DecodeQuotedPrintable(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '=' && i + 2 < s.size() + 0 && HexDigit(s[i + 1]) >= 0 &&
            HexDigit(s[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<unsigned char> DecodeBase64(std::string_view s) {
    std::vector<unsigned char> out;
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : s) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+' || c == '-')
            v = 62;
        else if (c == '/' || c == '_')
            v = 63;
        else if (c == '=')
            break;
        else
            continue;  // folding blanks and line ends
        bits = (bits << 6) | static_cast<std::uint32_t>(v);
        if (++count == 4) {
            out.push_back(static_cast<unsigned char>(bits >> 16));
            out.push_back(static_cast<unsigned char>(bits >> 8));
            out.push_back(static_cast<unsigned char>(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count == 3) {
        out.push_back(static_cast<unsigned char>(bits >> 10));
        out.push_back(static_cast<unsigned char>(bits >> 2));
    } else if (count == 2) {
        out.push_back(static_cast<unsigned char>(bits >> 4));
    }
    return out;
}

// The value's bytes after its transfer encoding, as UTF-8.
std::string DecodedText(const Property& p) {
    std::string bytes = p.value;
    const std::string encoding = Upper(p.ParamValue("ENCODING").value_or(""));
    if (encoding == "QUOTED-PRINTABLE") bytes = DecodeQuotedPrintable(bytes);
    const std::string charset = Upper(p.ParamValue("CHARSET").value_or(""));
    // Latin-1 is Windows-1252 but for C1 controls, which no card wants.
    const bool eightBit = charset == "ISO-8859-1" || charset == "ISO-8859-15" ||
                          charset == "LATIN1" || charset == "WINDOWS-1252" || charset == "CP1252";
    if (eightBit || !IsValidUtf8(bytes)) return Cp1252ToUtf8(bytes);
    return bytes;
}

// Splits a structured value at unescaped ";" and resolves the escapes.
std::vector<std::string> Components(std::string_view value, char sep = ';') {
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\\' && i + 1 < value.size()) {
            const char n = value[++i];
            parts.back() += (n == 'n' || n == 'N') ? '\n' : n;
        } else if (c == sep) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

// Text for one line of the window: line breaks become blanks, other
// control characters "?".
std::string OneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    text = ReplaceControlCharacters(text);
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string Joined(const std::vector<std::string>& parts, const std::string& sep) {
    std::string out;
    for (const auto& p : parts) {
        const std::string t = OneLine(p);
        if (t.empty()) continue;
        if (!out.empty()) out += sep;
        out += t;
    }
    return out;
}

std::string PhoneTypeText(const Property& p) {
    static const std::pair<const char*, const char*> kNames[] = {
        {"CELL", "mobil"},      {"HOME", "privat"},           {"WORK", "geschäftlich"},
        {"FAX", "Fax"},         {"PAGER", "Pager"},           {"CAR", "Auto"},
        {"ISDN", "ISDN"},       {"VIDEO", "Video"},           {"TEXT", "SMS"},
        {"MAIN", "Zentrale"},   {"TEXTPHONE", "Texttelefon"}, {"MODEM", "Modem"},
        {"MSG", "Nachrichten"},
    };
    std::vector<std::string> names;
    for (const auto& param : p.params) {
        if (param.name != "TYPE") continue;
        for (const auto word : SplitOutsideQuotes(param.value, ',')) {
            const std::string upper = Upper(word);
            for (const auto& [type, name] : kNames)
                if (upper == type && std::find(names.begin(), names.end(), name) == names.end())
                    names.emplace_back(name);
        }
    }
    return Joined(names, ", ");
}

std::vector<unsigned char> PhotoBytes(const Property& p) {
    const std::string encoding = Upper(p.ParamValue("ENCODING").value_or(""));
    if (encoding == "B" || encoding == "BASE64") return DecodeBase64(p.value);
    // 4.0: an inline data: URI; a link to elsewhere is not fetched.
    std::string_view v = p.value;
    if (v.size() > 5 && Upper(v.substr(0, 5)) == "DATA:") {
        const auto comma = v.find(',');
        if (comma != std::string_view::npos &&
            Upper(v.substr(0, comma)).find(";BASE64") != std::string::npos)
            return DecodeBase64(v.substr(comma + 1));
    }
    return {};
}

void Apply(ContactCard& card, std::string& nameFromN, const Property& p) {
    if (p.name == "FN") {
        card.formattedName = OneLine(Components(DecodedText(p), '\0').front());
    } else if (p.name == "N") {
        // Family;Given;Additional;Prefix;Suffix, shown as "Prefix Given Additional Family Suffix".
        auto c = Components(DecodedText(p));
        c.resize(5);
        nameFromN = Joined({c[3], c[1], c[2], c[0], c[4]}, " ");
    } else if (p.name == "ORG") {
        card.organisation = Joined(Components(DecodedText(p)), ", ");
    } else if (p.name == "TEL") {
        const std::string value = OneLine(DecodedText(p));
        ContactCard::Phone phone{TelDisplayNumber(value), PhoneTypeText(p),
                                 TelComparedNumber(value)};
        if (!phone.number.empty()) card.phones.push_back(std::move(phone));
    } else if (p.name == "EMAIL") {
        const std::string mail = OneLine(Components(DecodedText(p), '\0').front());
        if (!mail.empty()) card.emails.push_back(mail);
    } else if (p.name == "PHOTO" && card.photo.empty()) {
        card.photo = PhotoBytes(p);
    }
}

}  // namespace

std::vector<PlacedCard> ParseVCardsPlaced(std::string_view text) {
    std::vector<PlacedCard> cards;
    std::optional<PlacedCard> card;
    std::string nameFromN;
    int nested = 0;            // cards inside a card (2.1's AGENT) are passed over
    bool agentBefore = false;  // the line before was an AGENT without a value
    const auto close = [&](std::size_t end) {
        if (card->card.formattedName.empty()) card->card.formattedName = nameFromN;
        card->length = end - card->offset;
        cards.push_back(std::move(*card));
        card.reset();
        nested = 0;
    };
    for (const auto& line : Unfolder(text).Lines()) {
        const auto p = ParseLine(line.text);
        if (!p) continue;
        const bool afterAgent = std::exchange(agentBefore, false);
        const bool isVCard = EqualsNoCase(p->value, "VCARD");
        if (p->name == "BEGIN" && isVCard) {
            if (card && afterAgent) {
                ++nested;
                continue;
            }
            // A card whose end is missing ends where the next one begins.
            if (card) close(line.begin);
            card.emplace();
            card->offset = line.begin;
            nameFromN.clear();
        } else if (p->name == "END" && isVCard) {
            if (nested > 0)
                --nested;
            else if (card)
                close(line.end);
        } else if (card && nested == 0) {
            agentBefore = p->name == "AGENT" && p->value.empty();
            Apply(card->card, nameFromN, *p);
        }
    }
    return cards;
}

std::vector<ContactCard> ParseVCards(std::string_view text) {
    std::vector<ContactCard> cards;
    for (auto& placed : ParseVCardsPlaced(text)) cards.push_back(std::move(placed.card));
    return cards;
}

}  // namespace tolvar
