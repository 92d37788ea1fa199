#pragma once
// The D-Mail settings kept under "\Software\Brenwick\Tolvar\DMail", with their
// defaults and limits; a value out of range is replaced and written back.

#include <cstdint>
#include <string>

namespace tolvar {

class Registry;

inline constexpr const char* kDMailKey = "\\Software\\Brenwick\\Tolvar\\DMail";

struct DMailSettings {
    std::string MSN;
    std::string Suffix;
    std::uint32_t ACKDelay = 3000;
    std::uint32_t PacketDelay = 20;
    std::uint32_t ACKTimeOut = 12000;
    std::string DMailNotifySound;
};

// Reads the values in their order, checking and writing back the timings and
// the notify sound.
DMailSettings LoadDMailSettings(Registry& registry);

}  // namespace tolvar
