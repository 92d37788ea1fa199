#include "app/display_check.h"

#include <sstream>

namespace tolvar {

bool DisplayAvailable(const std::function<const char*(const char*)>& getenv) {
    const auto set = [&](const char* name) {
        const char* v = getenv(name);
        return v != nullptr && *v != '\0';
    };
    const char* platforms = getenv("QT_QPA_PLATFORM");
    if (platforms == nullptr || *platforms == '\0') return set("DISPLAY") || set("WAYLAND_DISPLAY");
    // A list such as "wayland;xcb", each with optional ":options"; Qt takes the
    // first that starts.
    std::istringstream list(platforms);
    std::string entry;
    while (std::getline(list, entry, ';')) {
        const std::string name = entry.substr(0, entry.find(':'));
        if (name == "xcb") {
            if (set("DISPLAY")) return true;
        } else if (name.rfind("wayland", 0) == 0) {
            if (set("WAYLAND_DISPLAY")) return true;
        } else if (!name.empty()) {
            return true;
        }
    }
    return false;
}

}  // namespace tolvar
