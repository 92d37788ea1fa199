#pragma once
// Every effect of the engine that a person can see goes through this one
// interface, and every control the engine reads or changes is named here. The
// Qt window, the console and the tests' recorder implement it.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvar {

class LineStore;
class RuleStore;

// The pages of the main window, in their order.
enum class Page { Protokoll, Ueberwachung, SMS, DMail, Desktop, Info, ISDN };

inline constexpr std::array<Page, 7> kAllPages = {Page::Protokoll, Page::Ueberwachung, Page::SMS,
                                                  Page::DMail,     Page::Desktop,      Page::Info,
                                                  Page::ISDN};

// The page's caption, as its tab shows it.
std::string_view PageCaption(Page page);
// The page with this caption (exactly as shown), if there is one.
std::optional<Page> PageByCaption(std::string_view caption);

// The status lists besides the event log and the ISDN trace.
enum class StatusList {
    SmsTrace,     // LBSMSTrace on "SMS senden"
    DMailStatus,  // LBDMailTrace on "D-Mail senden"
    DMailLog,     // LBDMailRecv, the D-Mail message log
};

// Controls the engine enables, focuses, reads or fills.
enum class Control {
    PageControl,      // the page control: while disabled no page can be changed
    BtnSendSMS,       // "SMS &senden"
    cbSMSReceiver,    // the SMS receiver box
    MemoSMS,          // the SMS message field
    BtnSendDMail,     // "D-Mail &senden"
    cbDMailReceiver,  // the D-Mail receiver box
    edDMailSend,      // the D-Mail message field
    edDMailOwnMSN,    // "Eigene D-Mail &MSN:"
    // The page "Desktop".
    CBUseOutlook,    // "Kontakt des Anrufers anzeigen. "
    edContactsPath,  // "Adressbuch-&Ordner:"
    CBUseAgent,      // "&Anrufer ansagen lassen"
    edAgentPath,     // "Stimme &Datei:"
    edAgentName,     // "Stimme &Name:"
    CBNotify,        // "&Benachrichtigung bei jedem Anruf"
    edController,    // "Controller:" (registry value "Controller")
};

// Modal message boxes and the file dialog. The desktop shows real ones, the
// console prints them, tests script their answers.
class Dialogs {
  public:
    enum class Kind { Information, Warning, Error };
    enum class Answer { Ok, Cancel };
    struct FileChoice {
        std::string title;
        // Qt's filter form: "Anwendungen (*);;Alle Dateien (*)".
        std::string filter;
        std::string startFolder;
        bool folder = false;  // a folder is chosen, not a file
    };

    virtual ~Dialogs() = default;
    // A box with one OK button; the answer is how it was closed.
    virtual Answer MessageBox(Kind kind, const std::string& text) = 0;
    // The chosen file's (or folder's) full path; nothing when the dialog was cancelled.
    virtual std::optional<std::string> ChooseFile(const FileChoice& choice) = 0;
};

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

    // A line was appended to the ISDN trace: trace.back(). trace is the
    // engine's own list and lives as long as the engine, so a window may show
    // it as it is instead of keeping a copy.
    virtual void AppendIsdnTrace(const LineStore& trace) = 0;
    // A line appended to a status list and selected; marked lines are the
    // message log's sent messages.
    virtual void AppendStatusLine(StatusList list, const std::string& text,
                                  bool marked = false) = 0;
    virtual void ClearStatusList(StatusList list) = 0;

    // Controls.
    virtual void SetControlEnabled(Control control, bool enabled) = 0;
    virtual void FocusControl(Control control, bool selectAll = false) = 0;
    virtual std::string ControlText(Control control) const = 0;
    virtual void SetControlText(Control control, const std::string& text) = 0;
    // The list of a receiver box.
    virtual void SetControlItems(Control control, const std::vector<std::string>& items) = 0;
    // Check boxes.
    virtual bool ControlChecked(Control control) const = 0;
    virtual void SetControlChecked(Control control, bool checked) = 0;
    // The hourglass while a call is being set up or a D-Mail goes out.
    virtual void SetBusyCursor(bool busy) = 0;

    // An error that ended a handler (the framework's error dialog).
    virtual void ReportError(const std::string& text) = 0;

    // The program ends: leave the event loop.
    virtual void Quit() = 0;

    // The event log list: all lines at load (the last one selected), one line
    // appended (and selected) or replaced, the list emptied. lines is the
    // engine's own list, which later calls change; it lives as long as the
    // engine, so a window may show it as it is instead of keeping a copy.
    virtual void LogLoaded(const LineStore& lines) = 0;
    virtual void LogLineSet(int index, const std::string& text, bool appended) = 0;
    virtual void LogCleared() = 0;
    virtual void SetClipboard(const std::string& text) = 0;

    // The notification-area icon: blink phase 0 or 1 and its tooltip.
    virtual void SetTrayIcon(int phase) = 0;
    virtual void SetTrayTip(const std::string& tip) = 0;
    virtual void AttentionChanged(bool on) = 0;

    // The CAPI link came up (text: the manufacturer) or went down (text: why).
    virtual void CapiLinkChanged(bool up, const std::string& text) = 0;
    // The link to the MQTT broker came up (text: "HOST:PORT") or went down (text: why).
    virtual void MqttLinkChanged(bool up, const std::string& text) {
        (void)up;
        (void)text;
    }

    // The rule tree changed: the window redraws its tree control from it.
    virtual void RulesChanged(const RuleStore& rules) = 0;
};

}  // namespace tolvar
