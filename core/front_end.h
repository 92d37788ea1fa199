#pragma once
// Every effect of the engine that a person can see goes through this one
// interface. The Qt window, the console and the tests' recorder implement it.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvar {

class RuleStore;

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
    // Start position: the bottom right corner of the screen, above the task bar.
    virtual void PlaceAtBottomRight() = 0;

    // A line appended to the ISDN trace list.
    virtual void AppendIsdnTrace(const std::string& line) = 0;

    // A modal message box with one OK button.
    virtual void MessageBox(const std::string& text) = 0;
    // An error that ended a handler (the framework's error dialog).
    virtual void ReportError(const std::string& text) = 0;

    // The program ends: leave the event loop.
    virtual void Quit() = 0;

    // The event log list: all lines at load (the last one selected), one line
    // appended (and selected) or replaced, the list emptied.
    virtual void LogLoaded(const std::vector<std::string>& lines) = 0;
    virtual void LogLineSet(int index, const std::string& text, bool appended) = 0;
    virtual void LogCleared() = 0;
    virtual void SetClipboard(const std::string& text) = 0;

    // The notification-area icon: blink phase 0 or 1 and its tooltip.
    virtual void SetTrayIcon(int phase) = 0;
    virtual void SetTrayTip(const std::string& tip) = 0;
    virtual void AttentionChanged(bool on) = 0;
    // A wave file handed to playback; a new sound cuts off the one playing.
    virtual void PlaySound(const std::string& path) = 0;

    // A program was started for a call (its command line as configured).
    virtual void ProgramStarted(const std::string& commandLine) = 0;
    // A known caller is announced; text is what is spoken.
    virtual void AnnounceCaller(const std::string& text) = 0;
    // The caller's contact is looked up in the address book.
    virtual void LookUpContact(const std::string& number) = 0;
    // The rule tree changed: the window redraws its tree control from it.
    virtual void RulesChanged(const RuleStore& rules) = 0;
};

}  // namespace tolvar
