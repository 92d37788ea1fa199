#include "core/front_end.h"

namespace tolvar {

std::string_view PageCaption(Page page) {
    switch (page) {
        case Page::Protokoll:
            return "Ereignisprotokoll";
        case Page::Ueberwachung:
            return "Überwachung";
        case Page::SMS:
            return "SMS senden";
        case Page::DMail:
            return "D-Mail senden";
        case Page::Desktop:
            return "Desktop";
        case Page::Info:
            return "Info";
        case Page::ISDN:
            return "ISDN";
    }
    return "";
}

std::optional<Page> PageByCaption(std::string_view caption) {
    for (Page p : kAllPages)
        if (PageCaption(p) == caption) return p;
    return std::nullopt;
}

}  // namespace tolvar
