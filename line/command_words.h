#pragma once
// The words of a control command or a scenario line: NAME=VALUE options
// split off the positional words, numbers, lists and unknown options.

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tolvar::line {

// Splits "key=value" words off the positional ones.
struct Args {
    std::vector<std::string> pos;
    std::vector<std::pair<std::string, std::string>> opt;
    const std::string* Get(const std::string& key) const {
        for (auto& [k, v] : opt)
            if (k == key) return &v;
        return nullptr;
    }
};

Args ParseArgs(const std::vector<std::string>& w);
// A whole number, also as 0x... or 0...; nullopt for anything else.
std::optional<long> ParseInt(const std::string& s);
// "a,b,,c": the words between the commas, empty ones left out.
std::vector<std::string> SplitList(const std::string& s);
// "unknown option K" for the first option not among known; empty if none.
std::string Unknown(const Args& a, std::initializer_list<const char*> known);

}  // namespace tolvar::line
