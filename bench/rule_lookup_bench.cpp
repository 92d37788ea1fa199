// The rule lookup of an incoming call (own number, caller by longest prefix,
// the entry in force at the time of day) in a tree of 10,000 rule entries
// loaded from a settings file, against the same lookups in a tree of 10.
//
//   rule_lookup_bench [ROUNDS]

#include <iostream>

#include "bench/bench_util.h"
#include "core/datetime.h"
#include "registry/registry.h"
#include "rules/rule_store.h"

using namespace tolvar;
using namespace tolvar::bench;

namespace {

// The numbers of calls: known callers of every own number, and strangers.
std::vector<std::pair<std::string, std::string>> Calls(std::size_t callers) {
    std::vector<std::pair<std::string, std::string>> calls;
    for (std::size_t i = 0; i < 1000; ++i) {
        char msn[16], caller[24];
        std::snprintf(msn, sizeof msn, "55512%02zu", i % 10);
        if (i % 4 == 3)
            std::snprintf(caller, sizeof caller, "0891%07zu", i);  // nobody's rule
        else
            std::snprintf(caller, sizeof caller, "030%07zu%02zu", (i * 7 % callers) * 1009,
                          i % 100);
        calls.emplace_back(msn, caller);
    }
    return calls;
}

// Nanoseconds per lookup, the fastest of several rounds.
double NsPerLookup(const RuleStore& rules,
                   const std::vector<std::pair<std::string, std::string>>& calls, int rounds,
                   std::size_t& found) {
    double best = 1e300;
    for (int r = 0; r < rounds; ++r) {
        found = 0;
        const auto t0 = Steady::now();
        for (const auto& [msn, caller] : calls) {
            const RuleNode* msnNode = rules.FindMsnNode(msn);
            const RuleNode* callerNode =
                msnNode ? RuleStore::FindCallerNode(*msnNode, caller) : nullptr;
            if (callerNode && RuleStore::SelectEntry(*callerNode, TimeOfDay(12, 0))) ++found;
        }
        const double ns = std::chrono::duration<double, std::nano>(Steady::now() - t0).count() /
                          static_cast<double>(calls.size());
        best = std::min(best, ns);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 50;
    try {
        Scratch scratch;
        double ns[2];
        std::size_t found[2];
        const std::size_t sizes[2] = {10, 10000};
        for (int i = 0; i < 2; ++i) {
            const auto path = scratch / ("registry" + std::to_string(i) + ".reg");
            WriteFile(path, SettingsText(sizes[i]));
            Registry registry(path.string());
            RuleStore rules;
            rules.LoadRules(registry);
            ns[i] = NsPerLookup(rules, Calls(sizes[i] >= 20 ? sizes[i] / 20 : 1), rounds, found[i]);
        }
        std::cout << "rule lookup of a call, fastest of " << rounds << " rounds of 1000 calls\n";
        Note("10000 entries: 10 own numbers with 500 callers of 2 entries each; " +
             std::to_string(found[1]) + " of 1000 calls found a rule");
        const bool met = Report("rule lookup, 10000 entries", ns[1] / 1000.0, "us",
                                "the same in a tree of 10 entries", ns[0] / 1000.0, std::nullopt);
        return met ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "rule_lookup_bench: " << e.what() << "\n";
        return 2;
    }
}
