#pragma once
// The program's state and its start-up and shutdown, apart from any window
// system. The front end (Qt window, console, test recorder) drives it through
// these entry points, all on one thread, and sees its effects through FrontEnd.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "calls/call_monitor.h"
#include "calls/event_log.h"
#include "capi/call_router.h"
#include "capi/capi_link.h"
#include "capi/capi_session.h"
#include "capi/connection.h"
#include "capi/controllers.h"
#include "core/clock.h"
#include "core/devices.h"
#include "core/front_end.h"
#include "core/io_service.h"
#include "core/timer.h"
#include "desktop/desktop_integration.h"
#include "desktop/tray.h"
#include "dmail/dmail.h"
#include "dmail/dmail_settings.h"
#include "dmail/receiver_lists.h"
#include "mqtt/mqtt_publisher.h"
#include "registry/hive_file.h"
#include "rules/rule_editor.h"
#include "rules/rule_store.h"
#include "sms/sms.h"

namespace tolvar {

class Registry;

inline constexpr const char* kCaptionPrefix = "Tolvar   Version 2.7   CAPI Hersteller:";
inline constexpr const char* kCaptionNoCapi = " (keine Verbindung)";
inline constexpr const char* kRootKey = "\\Software\\Brenwick\\Tolvar";

struct EngineHost {
    CapiDriver& capi;
    Clock& clock;
    TimerService& timers;
    IoService& io;
    FrontEnd& ui;
    Dialogs& dialogs;
    Devices devices;
    std::string registryPath;
    // Queues a function to run on the engine's thread soon; callable from any
    // thread (the event log's writer reports through it).
    std::function<void(std::function<void()>)> post;
    // The event-log file, "Tolvar.txt" in the current directory unless a test says otherwise.
    std::string eventLogPath = kEventLogFile;
    // The one trash a cleared log goes to; empty: the desktop's own.
    std::string trashPath = "";
    // Starts the address book's reader thread (tests make it fail).
    ThreadStarter startThread = StartThread;
};

class Engine {
  public:
    // While the settings file cannot be read, it is looked at again this often.
    static constexpr std::uint32_t kSettingsRetryMs = 2000;

    explicit Engine(EngineHost host);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Start-up and shutdown.
    void FormCreate();
    void FormDestroy();

    // A CAPI message waits: fetch and dispatch exactly one. False when none was there.
    bool WMCapiSignal();
    // Posted as the last step of start-up.
    void WMStartListen();

    // The user's controls.
    void cmCloseClick();  // "&Schließen" and the close box: hide, save the rules
    // "B&eenden" (also SIGINT, SIGTERM): SaveBeforeEnd, then end the program.
    void cmQuitClick();
    // Keeps what the window shows, as leaving the page "Desktop" and hiding
    // the window keep it; also when the session ends. A failure is reported
    // and the rest is saved all the same.
    void SaveBeforeEnd();
    void ShowWindow(std::optional<Page> page = std::nullopt);  // "&Anzeigen", console "show"
    void SetActivePage(Page page);
    void TrayDoubleClick();
    void cmClearProtokollClick();   // "Ereignisprotokoll &löschen"
    void CopyNumbers(int logLine);  // "Nummern &kopieren"
    bool CanCopyNumbers(int logLine) const;
    void FormKeyDownEscape();  // the Escape key
    tolvar::DMail& DMailState() { return dmail_; }
    FrontEnd& Ui() { return ui_; }

    // Runs fn as a handler: an error it raises ends it and is reported.
    // Returns false when fn raised.
    bool Guard(const std::function<void()>& fn);

    // State the front ends and tests read.
    bool WindowVisible() const { return windowVisible_; }
    Page ActivePage() const { return activePage_; }
    bool IsdnTabVisible() const { return isdnTabVisible_; }
    const std::string& Caption() const { return caption_; }
    CapiSession& Capi() { return capi_; }
    CapiLink& Link() { return link_; }
    CallRouter& Router() { return router_; }
    ControllerListener& Controllers() { return controllers_; }
    Connections& ConnectionList() { return Connections_; }
    Registry* RegistryAccess() { return registry_.get(); }
    const DMailSettings& DMail() const { return dmailSettings_; }
    const tolvar::DMail& DMailState() const { return dmail_; }
    const std::vector<std::string>& SmsReceivers() const {
        return receivers_.Entries(ReceiverLists::Which::Sms);
    }
    const std::vector<std::string>& DMailReceivers() const {
        return receivers_.Entries(ReceiverLists::Which::DMail);
    }
    ReceiverLists& Receivers() { return receivers_; }
    Sms& SMS() { return sms_; }
    bool Listening() const { return listening_; }
    EventLog& Log() { return eventLog_; }
    RuleStore& Rules() { return rules_; }
    RuleEditor& Editor() { return ruleEditor_; }
    bool UseAgent() const { return desktop_.Options().UseAgent; }
    bool UseOutlook() const { return desktop_.Options().UseOutlook; }
    // The page "Desktop", announcements, call notifications, contact lookup.
    DesktopIntegration& Desktop() { return desktop_; }
    TrayIcon& Tray() { return tray_; }
    // The calls on the MQTT broker.
    MqttPublisher& Mqtt() { return mqtt_; }
    // Starts or stops the blinking of the tray icon.
    void SetAttention(bool on);

  private:
    void BindDispatchTable();
    void FormShow();
    void ShowDesktopPage();
    void HideMainWindow();
    void SetCaptionFor(bool capiUp, const std::string& manufacturer);
    void CapiUp(const std::string& manufacturer);
    void CapiDown(const std::string& reason);
    // Why the settings file cannot be read; nothing when it can.
    std::optional<std::string> SettingsUnreadable();
    // The registry access object; raises before start-up has made it.
    Registry& SettingsRegistry();
    // Start-up's steps 10-11 and 14-17, also run when a file that could not
    // be read has been repaired.
    void ReadRules(bool reportFailure);
    void ReadOtherSettings(bool atStart);
    void LoadAgentOptions();
    // The "Controller:" field of the page "Desktop" taken over when the page is left.
    void TakeControllerField();
    void WatchSettingsFile();

    EngineHost host_;
    FrontEnd& ui_;
    Connections Connections_;
    CapiSession capi_;
    CapiLink link_;
    CallRouter router_;
    ControllerListener controllers_;
    EventLog eventLog_;
    TrayIcon tray_;
    RuleStore rules_;
    RuleEditor ruleEditor_;
    tolvar::DMail dmail_;  // before the monitor, which hands it D-Mail calls
    DesktopIntegration desktop_;
    MqttPublisher mqtt_;  // before the monitor, which tells it of every call
    CallMonitor calls_;
    ReceiverLists receivers_;
    Sms sms_;
    std::unique_ptr<Registry> registry_;
    Timer settingsRetry_;
    FileStamp settingsStamp_;

    std::string caption_;
    bool created_ = false;
    bool listening_ = false;
    bool windowVisible_ = false;
    bool isdnTabVisible_ = false;
    bool desktopPageShown_ = false;  // filled since it was last left
    Page activePage_ = Page::Desktop;

    DMailSettings dmailSettings_;
};

}  // namespace tolvar
