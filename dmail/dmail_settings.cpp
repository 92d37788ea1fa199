#include "dmail/dmail_settings.h"

#include <functional>

#include "registry/registry.h"
#include "registry/values.h"

namespace tolvar {

namespace {

// The value in force after the check, written back at once.
std::uint32_t CheckedInteger(RegKey& key, const char* name, std::uint32_t fallback,
                             const std::function<bool(std::int64_t)>& accepted) {
    const auto stored = ReadIntegerIfAny(key, name);
    const std::uint32_t value =
        stored && accepted(*stored) ? static_cast<std::uint32_t>(*stored) : fallback;
    key.WriteInteger(name, static_cast<std::int32_t>(value));
    return value;
}

}  // namespace

DMailSettings LoadDMailSettings(Registry& registry) {
    DMailSettings s;
    // The write-backs reach the file together.
    RegistryBatch batch(registry);
    auto key = registry.OpenKey(kDMailKey, true);
    s.MSN = ReadStringOr(*key, "MSN");
    s.Suffix = ReadStringOr(*key, "Suffix");
    s.ACKDelay = CheckedInteger(*key, "ACKDelay", 3000,
                                [](std::int64_t v) { return v >= 1000 && v <= 8000; });
    s.PacketDelay =
        CheckedInteger(*key, "PacketDelay", 20, [](std::int64_t v) { return v >= 5 && v <= 1000; });
    s.ACKTimeOut =
        CheckedInteger(*key, "ACKTimeOut", 12000, [](std::int64_t v) { return v >= 12000; });
    s.DMailNotifySound = ReadStringOr(*key, "DMailNotifySound");
    key->WriteString("DMailNotifySound", s.DMailNotifySound);
    key->Close();
    batch.Commit();
    return s;
}

}  // namespace tolvar
