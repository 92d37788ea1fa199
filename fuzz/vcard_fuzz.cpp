// Address-book files of any content: the vCard reader never fails, and what it
// shows is single-line text and numbers in the form they are compared in.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/charset.h"
#include "desktop/phone_number.h"
#include "desktop/vcard.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& card : tolvar::ParseVCards(text)) {
        if (card.formattedName.find('\n') != std::string::npos) std::abort();
        if (!tolvar::IsValidUtf8(card.formattedName) || !tolvar::IsValidUtf8(card.organisation))
            std::abort();
        for (const auto& phone : card.phones)
            if (phone.compared != tolvar::NormalizePhoneNumber(phone.compared)) std::abort();
    }
    return 0;
}
