#include "engine/engine.h"

#include <exception>

#include "core/atomic_file.h"
#include "core/charset.h"
#include "registry/registry.h"
#include "registry/values.h"

namespace tolvar {

namespace {
constexpr const char* kSettingsBroken = "Die Einstellungsdatei kann nicht gelesen werden:\r\r";
constexpr const char* kSettingsBrokenTail =
    "\r\rTolvar arbeitet mit den Voreinstellungen weiter, speichert nichts in die Datei und "
    "liest sie wieder, sobald sie repariert ist.";
}  // namespace

Engine::Engine(EngineHost host)
    : host_(std::move(host)),
      ui_(host_.ui),
      capi_(host_.capi, host_.ui),
      link_(host_.capi, capi_, host_.io, host_.timers,
            {.readable = [this] { WMCapiSignal(); },
             .up = [this](const std::string& m) { Guard([&] { CapiUp(m); }); },
             .down = [this](const std::string& r) { Guard([&] { CapiDown(r); }); }}),
      router_(capi_, Connections_),
      controllers_(host_.capi, capi_, Connections_, host_.ui),
      eventLog_(host_.ui, host_.dialogs, host_.clock, host_.eventLogPath, host_.post),
      tray_(host_.ui, host_.timers, host_.devices.sound),
      rules_([this](Page page) { SetActivePage(page); }, [this] { ui_.RulesChanged(rules_); }),
      ruleEditor_(rules_, [this](Page page) { SetActivePage(page); }),
      dmail_(DMailHost{.capi = capi_,
                       .connections = Connections_,
                       .timers = host_.timers,
                       .clock = host_.clock,
                       .ui = host_.ui,
                       .dialogs = host_.dialogs,
                       .log = eventLog_,
                       .receivers = receivers_,
                       .settings = dmailSettings_,
                       .registry = [this] { return registry_.get(); },
                       .windowVisible = [this] { return windowVisible_; },
                       .activePage = [this] { return activePage_; },
                       .setAttention = [this](bool on) { SetAttention(on); },
                       .notify = [this](const std::string& l) { desktop_.DMailReceived(l); },
                       .sendFinished =
                           [this](const std::string& to, bool ok, const std::string& line) {
                               mqtt_.SendFinished("dmail", to, ok, line);
                           }}),
      desktop_(DesktopHost{
          .ui = host_.ui,
          .dialogs = host_.dialogs,
          .timers = host_.timers,
          .io = host_.io,
          .devices = host_.devices,
          .post = host_.post,
          .registry = [this] { return registry_.get(); },
          .callCapacity = [this] { return Connections_.Capacity(); },
          .startThread = host_.startThread,
          .contactFound = [this](const ContactCard& card) { mqtt_.ContactFound(card); }}),
      mqtt_(MqttHost{.ui = host_.ui,
                     .clock = host_.clock,
                     .post = host_.post,
                     .registry = [this] { return registry_.get(); }}),
      calls_(CallMonitorHost{.capi = capi_,
                             .link = link_,
                             .connections = Connections_,
                             .log = eventLog_,
                             .rules = rules_,
                             .clock = host_.clock,
                             .timers = host_.timers,
                             .ui = host_.ui,
                             .devices = host_.devices,
                             .useOutlook = [this] { return desktop_.Options().UseOutlook; },
                             .useAgent = [this] { return desktop_.Options().UseAgent; },
                             .dmail = &dmail_,
                             .sms = &sms_,
                             .desktop = &desktop_,
                             .events = &mqtt_}),
      receivers_(host_.ui),
      sms_(SmsHost{.capi = capi_,
                   .connections = Connections_,
                   .timers = host_.timers,
                   .clock = host_.clock,
                   .ui = host_.ui,
                   .dialogs = host_.dialogs,
                   .receivers = receivers_,
                   .registry = [this]() -> Registry& { return SettingsRegistry(); },
                   .sendFinished =
                       [this](const std::string& to, bool ok, const std::string& line) {
                           mqtt_.SendFinished("sms", to, ok, line);
                       }}),
      settingsRetry_(host_.timers, kSettingsRetryMs) {
    capi_.OnPutFailed = [this](std::uint32_t result) { link_.PutFailed(result); };
    // A flood of calls beyond what the controllers carry stays bounded, and says so.
    Connections_.OnDropped = [this](const TConnection& dropped) {
        capi_.TraceLine("Anrufliste voll (" + std::to_string(Connections_.Capacity()) +
                        " Anrufe): PLCI " + Hex(dropped.PLCI, 8) + " verworfen");
    };
    settingsRetry_.OnTimer = [this] { WatchSettingsFile(); };
    eventLog_.SetHomeTrash(host_.trashPath);
    BindDispatchTable();
}

Engine::~Engine() {
    if (created_) FormDestroy();
}

bool Engine::Guard(const std::function<void()>& fn) {
    try {
        fn();
        return true;
    } catch (const std::exception& e) {
        ui_.ReportError(e.what());
    }
    return false;
}

void Engine::BindDispatchTable() {
    router_.Install();
    capi_.SetHandler(cmd::CONNECT_IND, [this](const CapiMessageView& m) { calls_.ConnectInd(m); });
    capi_.SetHandler(cmd::LISTEN_CONF,
                     [this](const CapiMessageView& m) { controllers_.ListenConf(m); });
    for (CallKind kind : {CallKind::Aus, CallKind::Ausfuehren, CallKind::Sound, CallKind::Abfangen,
                          CallKind::SmsAn, CallKind::Abheben})
        router_.SetOwner(kind, calls_);
    router_.SetOwner(CallKind::DMailOut, dmail_);
    router_.SetOwner(CallKind::DMailIn, dmail_);
    sms_.Install(router_);
    // The announcement of a caller ends with the next call that ends.
    router_.OnEvery(EveryCall::CallEnded, [this] { desktop_.ReleaseCharacter(); });
}

void Engine::FormCreate() {
    RemoveStaleTempFiles({host_.registryPath, host_.eventLogPath});
    // The settings file and "Tolvar.txt" are read meanwhile, on threads of
    // their own; steps 10 and 12 take what they found.
    registry_ = std::make_unique<Registry>(host_.registryPath);
    registry_->StartReading();
    eventLog_.StartReading();
    // 1. D-Mail sender and receiver idle.
    dmail_.Reset();
    // 2. The event-log file is bound at construction.
    // 3. Start hidden.
    windowVisible_ = false;
    // 4. No calls yet.
    Connections_.Clear();
    // 5. Register with CAPI; messages are fetched as the event loop sees them
    //    arrive. A CAPI that cannot be reached is tried again every 2 s.
    const bool capiUp = link_.Start();
    created_ = true;
    // 6. The caption names the CAPI manufacturer, or says there is none.
    SetCaptionFor(capiUp, capiUp ? host_.capi.GetManufacturer() : "");
    if (!capiUp) ui_.CapiLinkChanged(false, link_.DownReason());
    // 7. The registry access object was made at the start.
    // 8. The notification-area icon.
    tray_.Add();
    tray_.SetCapiReachable(capiUp);
    mqtt_.CapiChanged(capiUp);
    // 9. The rule grid is laid out by the window itself.
    // A settings file that cannot be read is reported once, not by every
    // reader; the program goes on with defaults and writes nothing into it.
    const auto broken = SettingsUnreadable();
    if (broken) ui_.ReportError(kSettingsBroken + *broken + kSettingsBrokenTail);
    {
        // The keys and defaults a first start writes reach the file together.
        RegistryBatch batch(*registry_);
        // 10.-11. The rules; a first start creates the default tree.
        ReadRules(!broken);
        // 12. The event log from "Tolvar.txt".
        Guard([this] { eventLog_.Load(); });
        // 13. Bottom right corner of the screen.
        ui_.PlaceAtBottomRight();
        // 14.-17. The other settings.
        if (!broken) {
            ReadOtherSettings(true);
            Guard([&] { batch.Commit(); });
        }
    }
    // A file that could not be read is read again once it has changed (not by
    // the write-backs just made).
    settingsStamp_ = StatHiveFile(registry_->Path());
    settingsRetry_.SetEnabled(broken || rules_.LoadError());
    // 18. LISTEN_REQ goes out once the event loop runs, after all of the above.
    host_.post([this] { Guard([this] { WMStartListen(); }); });
}

Registry& Engine::SettingsRegistry() {
    if (!registry_) throw TolvarError("Die Einstellungen sind noch nicht geöffnet.");
    return *registry_;
}

std::optional<std::string> Engine::SettingsUnreadable() {
    settingsStamp_ = StatHiveFile(registry_->Path());
    try {
        registry_->OpenKey(kRootKey, true)->Close();
    } catch (const RegistryError& e) {
        return std::string(e.what());
    }
    return std::nullopt;
}

void Engine::ReadRules(bool reportFailure) {
    // A failed load leaves saving refused, so the stored rules stay.
    try {
        rules_.LoadRules(*registry_);
    } catch (const std::exception& e) {
        if (reportFailure) ui_.ReportError(e.what());
    }
    // 11. The first MSN node opens and its first caller shows its entries.
    ruleEditor_.SelectFirst();
    ui_.RulesChanged(rules_);
}

void Engine::ReadOtherSettings(bool atStart) {
    // 14. The "ISDN" tab, shown only when "ShowISDNTab" is a non-zero integer;
    //     decided once, at start.
    if (atStart)
        Guard([this] {
            const auto value = ReadIntegerIfAny(*registry_->OpenKey(kRootKey, true), "ShowISDNTab");
            isdnTabVisible_ = value.value_or(0) != 0;
            capi_.SetTraceEnabled(isdnTabVisible_);
            ui_.SetIsdnTabVisible(isdnTabVisible_);
        });
    // The controllers to listen on; a changed file takes effect at once.
    Guard([this] {
        controllers_.SetValue(ReadStringOr(*registry_->OpenKey(kRootKey, true), kControllerValue));
        if (listening_ && link_.Up()) controllers_.Listen();
    });
    // 15. The receiver lists.
    Guard([this] { receivers_.Load(*registry_); });
    // 16. The D-Mail values, checked and written back.
    Guard([this] {
        dmailSettings_ = LoadDMailSettings(*registry_);
        ui_.SetControlText(Control::edDMailOwnMSN, dmailSettings_.MSN);
    });
    // 17. The announcer and contact-lookup options.
    Guard([this] { LoadAgentOptions(); });
    // The broker the calls are published to, if any.
    Guard([this] { mqtt_.Load(); });
}

void Engine::WatchSettingsFile() {
    if (StatHiveFile(registry_->Path()) == settingsStamp_) return;
    const auto broken = SettingsUnreadable();
    if (broken) return;  // changed, but still not readable: keep waiting quietly
    // Repaired: what it holds replaces the defaults, and saving is allowed
    // again once the rules could be read.
    RegistryBatch batch(*registry_);
    ReadRules(true);
    ReadOtherSettings(false);
    Guard([&] { batch.Commit(); });
    settingsStamp_ = StatHiveFile(registry_->Path());
    settingsRetry_.SetEnabled(rules_.LoadError().has_value());
}

void Engine::FormDestroy() {
    if (!created_) return;
    created_ = false;
    settingsRetry_.SetEnabled(false);
    // The log's last write ends while CAPI is still held, and lines changed
    // since it (a picked-up call's ending) are not lost.
    eventLog_.SaveAtExit();
    // The broker learns that the program is gone (and no will is needed).
    mqtt_.Stop();
    // 1.-2. No more fetching, then CAPI released.
    link_.Stop();
    // 3. The registry access object.
    registry_.reset();
    // 4. The tray icon belongs to the desktop front end.
    // 5. Every call record left.
    Connections_.Clear();
}

bool Engine::WMCapiSignal() {
    if (link_.Held()) return false;
    bool fetched = false;
    // As Guard does, without a function object on the way to an ALERT_REQ.
    try {
        fetched = capi_.WMCapiSignal();
    } catch (const std::exception& e) {
        ui_.ReportError(e.what());
    }
    link_.FetchDone(fetched ? 0 : capi_.LastFetchResult());
    return fetched;
}

void Engine::WMStartListen() {
    if (!created_ || listening_) return;
    listening_ = true;
    controllers_.Listen();
}

void Engine::SetCaptionFor(bool capiUp, const std::string& manufacturer) {
    caption_ = std::string(kCaptionPrefix) +
               (capiUp ? ReplaceControlCharacters(Cp1252ToUtf8(manufacturer)) : kCaptionNoCapi);
    ui_.SetCaption(caption_);
}

void Engine::CapiUp(const std::string& manufacturer) {
    SetCaptionFor(true, manufacturer);
    ui_.CapiLinkChanged(true, ReplaceControlCharacters(Cp1252ToUtf8(manufacturer)));
    tray_.SetCapiReachable(true);
    mqtt_.CapiChanged(true);
    // Back again: the program listens as it did before the loss.
    if (listening_) controllers_.Listen();
}

void Engine::CapiDown(const std::string& reasonText) {
    SetCaptionFor(false, reasonText);
    ui_.CapiLinkChanged(false, reasonText);
    tray_.SetCapiReachable(false);
    mqtt_.CapiChanged(false);
    // A D-Mail on its way is given up; the calls in progress ended with the link.
    dmail_.CapiLost();
    router_.EndAllCalls(reason::kLinkLost);
}

void Engine::cmCloseClick() {
    HideMainWindow();
}

void Engine::HideMainWindow() {
    windowVisible_ = false;
    ui_.HideWindow();
    rules_.SaveRules(*registry_);
}

void Engine::LoadAgentOptions() {
    desktop_.LoadAgentOptions();
}

void Engine::cmQuitClick() {
    SaveBeforeEnd();
    ui_.Quit();
}

void Engine::SaveBeforeEnd() {
    if (!created_) return;
    // Each part on its own: a settings file that refuses one write must
    // neither keep the program from ending nor cost the other part.
    if (desktopPageShown_) {
        desktopPageShown_ = false;  // showing the window fills it again
        Guard([this] { desktop_.tsMSOptionsHide(); });
    }
    if (windowVisible_) Guard([this] { HideMainWindow(); });
}

void Engine::ShowWindow(std::optional<Page> page) {
    if (page) SetActivePage(*page);
    const bool becomesVisible = !windowVisible_;
    windowVisible_ = true;
    ui_.ShowWindow();
    // Only a window that really appears runs FormShow: "&Anzeigen" on a
    // visible window leaves the attention signal on.
    if (becomesVisible) FormShow();
}

void Engine::FormShow() {
    SetAttention(false);
    if (activePage_ == Page::DMail) desktop_.MessageLogInView();
    if (activePage_ == Page::Desktop) ShowDesktopPage();
}

void Engine::ShowDesktopPage() {
    desktopPageShown_ = true;
    desktop_.tsMSOptionsShow();
    ui_.SetControlText(Control::edController, controllers_.Value());
}

void Engine::TakeControllerField() {
    const std::string text = ui_.ControlText(Control::edController);
    if (text == controllers_.Value() || !registry_) return;
    {
        auto key = registry_->OpenKey(kRootKey, true);
        if (text.empty())
            key->DeleteValue(kControllerValue);
        else
            key->WriteString(kControllerValue, text);
    }
    controllers_.SetValue(text);
    if (listening_ && link_.Up()) controllers_.Listen();
}

void Engine::SetAttention(bool on) {
    tray_.SetAttention(on, dmailSettings_.DMailNotifySound);
}

void Engine::SetActivePage(Page page) {
    if (page == Page::ISDN && !isdnTabVisible_) return;
    if (page == activePage_) return;
    // Leaving the page "Desktop" takes over what it shows; hiding the window does not.
    if (activePage_ == Page::Desktop && desktopPageShown_) {
        desktopPageShown_ = false;
        desktop_.tsMSOptionsHide();
        Guard([this] { TakeControllerField(); });
    }
    activePage_ = page;
    ui_.SetActivePage(page);
    if (page == Page::Desktop) ShowDesktopPage();
    // Looking at the event log ends the attention signal.
    if (page == Page::Protokoll) SetAttention(false);
    if (page == Page::DMail && windowVisible_) desktop_.MessageLogInView();
}

void Engine::TrayDoubleClick() {
    if (tray_.Attention()) SetActivePage(Page::Protokoll);
    ShowWindow();
}

void Engine::cmClearProtokollClick() {
    eventLog_.Clear();
    // Calls in progress lose their line: their old index would now name
    // another call's line once new ones arrive.
    if (eventLog_.Lines().empty())
        for (std::size_t i = 0; i < Connections_.Count(); ++i) Connections_[i].LogLine = -1;
}

bool Engine::CanCopyNumbers(int logLine) const {
    return logLine >= 0 && static_cast<std::size_t>(logLine) < eventLog_.Lines().size();
}

void Engine::CopyNumbers(int logLine) {
    if (auto text = eventLog_.NumbersOf(logLine)) ui_.SetClipboard(*text);
}

void Engine::FormKeyDownEscape() {
    dmail_.FormKeyDownEscape();
}

}  // namespace tolvar
