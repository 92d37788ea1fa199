// Splitting command lines into words, and the words into options, numbers,
// lists and durations.
#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "line/command_words.h"
#include "line/control.h"

namespace tolvar::line {

std::vector<std::string> SplitList(const std::string& s) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
        if (c == ',') {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

Args ParseArgs(const std::vector<std::string>& w) {
    Args a;
    for (std::size_t i = 1; i < w.size(); ++i) {
        auto eq = w[i].find('=');
        if (eq != std::string::npos && eq > 0)
            a.opt.emplace_back(w[i].substr(0, eq), w[i].substr(eq + 1));
        else
            a.pos.push_back(w[i]);
    }
    return a;
}

std::optional<long> ParseInt(const std::string& s) {
    if (s.empty()) return std::nullopt;
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 0);
    if (*end != 0) return std::nullopt;
    return v;
}

std::string Unknown(const Args& a, std::initializer_list<const char*> known) {
    for (const auto& option : a.opt) {
        const std::string& k = option.first;
        if (std::none_of(known.begin(), known.end(), [&](const char* n) { return k == n; }))
            return "unknown option " + k;
    }
    return "";
}

std::vector<std::string> Tokenize(const std::string& line, std::string& error) {
    std::vector<std::string> out;
    std::size_t i = 0;
    error.clear();
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        if (i >= line.size()) break;
        std::string word;
        bool any = false;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
            if (line[i] == '"') {
                ++i;
                any = true;
                while (i < line.size() && line[i] != '"') {
                    if (line[i] == '\\' && i + 1 < line.size()) {
                        char n = line[i + 1];
                        word += n == 'r' ? '\r' : n == 'n' ? '\n' : n;
                        i += 2;
                    } else {
                        word += line[i++];
                    }
                }
                if (i >= line.size()) {
                    error = "unterminated quote";
                    return {};
                }
                ++i;
            } else {
                word += line[i++];
                any = true;
            }
        }
        if (any) out.push_back(word);
    }
    return out;
}

std::optional<std::uint64_t> ParseDuration(const std::string& text) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return std::nullopt;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    std::string unit(end);
    double ms = unit.empty() || unit == "ms" ? v
                : unit == "s"                ? v * 1000
                : unit == "m"                ? v * 60000
                                             : -1;
    if (ms < 0 || ms > 1e12) return std::nullopt;
    return static_cast<std::uint64_t>(ms);
}

}  // namespace tolvar::line
