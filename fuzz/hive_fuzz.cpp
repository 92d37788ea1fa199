// Settings files of any content: parsing never fails but with a RegistryError,
// and whatever parses is written out in a form that parses again.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "registry/hive.h"
#include "registry/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const tolvar::Hive hive = tolvar::Hive::Parse(std::string(text), "fuzz.reg");
        const std::string written = hive.Serialize();
        const tolvar::Hive again = tolvar::Hive::Parse(written, "fuzz.reg");
        if (again.Serialize() != written) std::abort();
    } catch (const tolvar::RegistryError&) {
    }
    return 0;
}
