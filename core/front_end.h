#pragma once
// Every effect of the engine that a person can see goes through this one
// interface. The Qt window, the console and the tests' recorder implement it.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tolvar {

// The pages of the main window, in their order.
enum class Page { Protokoll, Ueberwachung, SMS, DMail, MSOffice, Info, ISDN };

inline constexpr std::array<Page, 7> kAllPages = {Page::Protokoll, Page::Ueberwachung, Page::SMS,
                                                  Page::DMail,     Page::MSOffice,     Page::Info,
                                                  Page::ISDN};

// The page's caption, as its tab shows it.
std::string_view PageCaption(Page page);
// The page with this caption (exactly as shown), if there is one.
std::optional<Page> PageByCaption(std::string_view caption);

class FrontEnd {
public:
    virtual ~FrontEnd() = default;

    virtual void SetCaption(const std::string& caption) = 0;

    // The window: shown or hidden, and its active page.
    virtual void ShowWindow() = 0;
    virtual void HideWindow() = 0;
    virtual void SetActivePage(Page page) = 0;
    virtual void SetIsdnTabVisible(bool visible) = 0;

    // A line appended to the ISDN trace list.
    virtual void AppendIsdnTrace(const std::string& line) = 0;

    // A modal message box with one OK button.
    virtual void MessageBox(const std::string& text) = 0;
    // An error that ended a handler (the framework's error dialog).
    virtual void ReportError(const std::string& text) = 0;

    // The program ends: leave the event loop.
    virtual void Quit() = 0;
};

}  // namespace tolvar
