// Loading the rule tree from the registry and saving it there.
//
// Layout below kRulesKey: one key per MSN label ("@" for the empty one),
// below it one per caller label, below that one per start time named HH:MM,
// holding "Action" (dword) and "Param" (string).

#include <cmath>
#include <cstdio>
#include <utility>

#include "core/datetime.h"
#include "core/error.h"
#include "registry/registry.h"
#include "rules/rule_store.h"

namespace tolvar {

namespace {

constexpr const char* kEmptyMsnKey = "@";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Hour from characters 1-2 and minute from characters 4-5 of an entry key's
// name; the third character is not looked at, nor anything after the fifth.
std::optional<double> ParseEntryKey(std::string_view name) {
    if (name.size() < 5 || !IsDigit(name[0]) || !IsDigit(name[1]) || !IsDigit(name[3]) ||
        !IsDigit(name[4]))
        return std::nullopt;
    const int hour = (name[0] - '0') * 10 + (name[1] - '0');
    const int minute = (name[3] - '0') * 10 + (name[4] - '0');
    if (hour > 23 || minute > 59) return std::nullopt;
    return TimeOfDay(hour, minute);
}

// HH:MM of a start time, written directly so that no display format can
// produce a name the load cannot read. Rounded to the millisecond first, as the
// time is shown, so the key matches the hour and minute the user sees.
std::string EntryKeyName(double startTime) {
    double fraction = startTime - std::floor(startTime);
    if (!std::isfinite(fraction)) fraction = 0.0;
    const long long ms = std::llround(fraction * 86400000.0);
    const long long seconds = (ms / 1000) % 86400;
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld", seconds / 3600, seconds / 60 % 60);
    return buf;
}

// The rules key is created when missing, as every key opened while loading.
RegKey OpenForLoad(Registry& registry, const std::string& path) {
    std::optional<RegKey> key = registry.OpenKey(path, true);
    if (!key) throw RegistryError("der Schlüssel \"" + path + "\" lässt sich nicht öffnen");
    return std::move(*key);
}

}  // namespace

void RuleStore::LoadRules(Registry& registry) {
    Clear();
    loadError_.reset();
    try {
        ReadRules(registry);
    } catch (const TolvarError& e) {
        loadError_ =
            std::string("Die Regeln konnten nicht vollständig geladen werden: ") + e.what();
        Changed();
        throw TolvarError(*loadError_);
    } catch (...) {
        loadError_ = "Die Regeln konnten nicht vollständig geladen werden.";
        Changed();
        throw;
    }
    if (msnNodes_.empty()) Relabel(BuildMsnNode(), kDefaultMsnLabel);
    Changed();
}

void RuleStore::ReadRules(Registry& registry) {
    const std::string root = kRulesKey;
    OpenForLoad(registry, root);
    // The whole tree at one look at the file, instead of a key opened (and the
    // file looked at) for every node and entry: ten thousand entries load in
    // the time the file takes to read.
    registry.ReadTree(root, [this](const RegKeyReader& rules) {
        for (std::size_t m = 0; m < rules.SubkeyCount(); ++m) {
            const RegKeyReader msnKey = rules.Subkey(m);
            RuleNode& msn = NewMsnNode(std::string(msnKey.Name()));
            if (msn.text_ == kEmptyMsnKey) Relabel(msn, "");
            ReadCallers(msnKey, msn);
        }
    });
}

void RuleStore::ReadCallers(const RegKeyReader& msnKey, RuleNode& msn) {
    msn.children_.reserve(msnKey.SubkeyCount());
    for (std::size_t c = 0; c < msnKey.SubkeyCount(); ++c) {
        const RegKeyReader callerKey = msnKey.Subkey(c);
        TActionList entries;
        entries.Reserve(callerKey.SubkeyCount());
        for (std::size_t e = 0; e < callerKey.SubkeyCount(); ++e) {
            const RegKeyReader entryKey = callerKey.Subkey(e);
            const std::optional<double> start = ParseEntryKey(entryKey.Name());
            if (!start)
                throw TolvarError("der Schlüssel \"" + entryKey.Path() +
                                  "\" nennt keine gültige Startzeit HH:MM");
            TActionItem item;
            item.StartTime = *start;
            item.Action = entryKey.ReadInteger("Action");
            if (entryKey.ValueExists("Param")) item.Param = entryKey.ReadString("Param");
            entries.Add(std::move(item));
        }
        NewCallerNode(msn, std::string(callerKey.Name()), std::move(entries));
    }
}

void RuleStore::SaveRules(Registry& registry) {
    // The tree lacks what the failed load could not read; replacing the
    // stored rules with it would destroy them.
    if (loadError_)
        throw TolvarError(
            "Die Regeln werden nicht gespeichert, damit die gespeicherten Regeln erhalten "
            "bleiben. " +
            *loadError_);
    // One replacement of the file: a save cut short leaves the old rules whole.
    RegistryBatch batch(registry);
    registry.DeleteKey(kRulesKey);
    for (const auto& msn : msnNodes_) {
        const std::string msnName = msn->text_.empty() ? kEmptyMsnKey : msn->text_;
        if (!IsStorableLabel(msnName)) continue;
        for (const auto& caller : msn->children_) {
            if (caller->text_.empty() || !IsStorableLabel(caller->text_) || !caller->entries_ ||
                caller->entries_->Empty())
                continue;
            const std::string callerPath =
                std::string(kRulesKey) + "\\" + msnName + "\\" + caller->text_;
            const TActionList& entries = *caller->entries_;
            for (std::size_t i = 0; i < entries.Count(); ++i) {
                std::optional<RegKey> key =
                    registry.OpenKey(callerPath + "\\" + EntryKeyName(entries[i].StartTime), true);
                if (!key)
                    throw RegistryError("der Schlüssel unter \"" + callerPath +
                                        "\" lässt sich nicht anlegen");
                key->WriteInteger("Action", entries[i].Action);
                key->WriteString("Param", entries[i].Param);
                key->Close();
            }
        }
    }
    batch.Commit();
}

}  // namespace tolvar
