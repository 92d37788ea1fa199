#include "engine/engine.h"

#include <exception>

#include "core/atomic_file.h"
#include "core/charset.h"
#include "registry/registry.h"

namespace tolvar {

Engine::Engine(EngineHost host)
    : host_(std::move(host)),
      ui_(host_.ui),
      capi_(host_.capi, host_.ui),
      eventLog_(host_.ui, host_.clock, host_.eventLogPath),
      tray_(host_.ui, host_.timers),
      rules_([this](Page page) { SetActivePage(page); }, [this] { ui_.RulesChanged(rules_); }),
      // The SMS and D-Mail subsystems take the seats left empty here.
      calls_(CallMonitorHost{.capi = capi_,
                             .connections = Connections_,
                             .log = eventLog_,
                             .rules = rules_,
                             .clock = host_.clock,
                             .timers = host_.timers,
                             .ui = host_.ui,
                             .startProgram = host_.startProgram,
                             .useOutlook = [this] { return useOutlook_; },
                             .useAgent = [this] { return useAgent_; }}) {
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
    capi_.SetHandler(cmd::ALERT_CONF, [this](const CapiMessageView& m) { AlertConf(m); });
    capi_.SetHandler(cmd::CONNECT_IND, [this](const CapiMessageView& m) { calls_.ConnectInd(m); });
    capi_.SetHandler(cmd::INFO_IND, [this](const CapiMessageView& m) { calls_.InfoInd(m); });
    capi_.SetHandler(cmd::CONNECT_ACTIVE_IND,
                     [this](const CapiMessageView& m) { calls_.ConnectActiveInd(m); });
    capi_.SetHandler(cmd::DISCONNECT_IND,
                     [this](const CapiMessageView& m) { calls_.DisconnectInd(m); });
    // The SMS data call's handlers (CONNECT_CONF, the B3 messages) arrive with
    // the SMS subsystem; until then those messages are traced only.
}

void Engine::FormCreate() {
    RemoveStaleTempFiles({host_.registryPath, host_.eventLogPath});
    // 1. D-Mail sender and receiver idle.
    DMailSendText.clear();
    DMailRecvText.clear();
    DMailSendState = 0;
    DMailRecvState = 3;
    // 2. The event-log file is bound at construction.
    // 3. Start hidden.
    windowVisible_ = false;
    // 4. No calls yet.
    Connections_.Clear();
    // 5. Register with CAPI and start the signal thread. The result is not
    //    examined: a failed registration shows as failing puts in the trace.
    capi_.Register();
    if (host_.signalThread) {
        handOver_ = std::make_unique<SignalHandOver>(host_.post, [this] { return WMCapiSignal(); });
        SignalThread = std::make_unique<TCAPIThread>(host_.capi, capi_.ApplID(), *handOver_);
    }
    created_ = true;
    // 6. The caption names the CAPI manufacturer.
    caption_ = std::string(kCaptionPrefix) + Cp1252ToUtf8(host_.capi.GetManufacturer());
    ui_.SetCaption(caption_);
    // 7. The registry access object.
    registry_ = std::make_unique<Registry>(host_.registryPath);
    // 8. The notification-area icon.
    tray_.Add();
    // 9. The rule grid is laid out by the window itself.
    // 10. The rules; a first start creates the default tree.
    Guard([this] { rules_.LoadRules(*registry_); });
    // 11. The first MSN node opens.
    if (!rules_.MsnNodes().empty()) rules_.MsnNodes().front()->Expanded = true;
    ui_.RulesChanged(rules_);
    // 12. The event log from "Tolvar.txt".
    Guard([this] { eventLog_.Load(); });
    // 13. Bottom right corner of the screen.
    ui_.PlaceAtBottomRight();
    // 14. The "ISDN" tab, shown only when "ShowISDNTab" is a non-zero integer.
    Guard([this] {
        isdnTabVisible_ = false;
        auto key = registry_->OpenKey(kRootKey, true);
        if (key->ValueExists("ShowISDNTab")) {
            try {
                isdnTabVisible_ = key->ReadInteger("ShowISDNTab") != 0;
            } catch (const RegistryError&) {
                isdnTabVisible_ = false;  // not an integer: hidden
            }
        }
        key->Close();
    });
    capi_.SetTraceEnabled(isdnTabVisible_);
    ui_.SetIsdnTabVisible(isdnTabVisible_);
    // 15. The receiver lists.
    Guard([this] { smsReceivers_ = SubscriberNames(std::string(kRootKey) + "\\SMS\\Subscriber"); });
    Guard([this] {
        dmailReceivers_ = SubscriberNames(std::string(kRootKey) + "\\DMail\\Subscriber");
    });
    // 16. The D-Mail values, checked and written back.
    Guard([this] { dmailSettings_ = LoadDMailSettings(*registry_); });
    // 17. The announcer and contact-lookup options.
    Guard([this] { LoadAgentOptions(); });
    // 18. LISTEN_REQ goes out once the event loop runs, after all of the above.
    host_.post([this] { Guard([this] { WMStartListen(); }); });
}

std::vector<std::string> Engine::SubscriberNames(const std::string& keyPath) {
    auto key = registry_->OpenKey(keyPath, true);
    auto names = key->GetValueNames();
    key->Close();
    return names;
}

void Engine::FormDestroy() {
    if (!created_) return;
    created_ = false;
    // 1.-2. Stop the signal thread, then release CAPI. libcapi20's wait does
    //    not return on release, and releasing while the thread is inside a
    //    CAPI call is unsafe, so the thread is joined first.
    if (handOver_) handOver_->Stop();
    if (SignalThread) SignalThread->Join();
    SignalThread.reset();
    capi_.Release();
    // 3. The registry access object.
    registry_.reset();
    // 4. The tray icon belongs to the desktop front end.
    // 5. Every call record left.
    Connections_.Clear();
}

bool Engine::WMCapiSignal() {
    bool fetched = false;
    Guard([&] { fetched = capi_.WMCapiSignal(); });
    return fetched;
}

void Engine::WMStartListen() {
    if (!created_ || listening_) return;
    listening_ = true;
    capi_.SendListenReq();
}

void Engine::AlertConf(const CapiMessageView& msg) {
    TConnection* c = Connections_.FindConnectionByPLCI(msg.FirstParameter());
    // An incoming D-Mail call is rejected once it has been alerted.
    if (c != nullptr && c->Kind == 9) capi_.SendConnectResp(c->PLCI, 7);
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
    // Whether to announce callers and to look them up; the speaking
    // character's own settings come with the announcements.
    auto key = registry_->OpenKey(std::string(kRootKey) + "\\Agent", true);
    const auto flag = [&](const char* name, bool fallback) {
        if (!key->ValueExists(name)) return fallback;
        try {
            return key->ReadInteger(name) != 0;
        } catch (const RegistryError&) {
            return fallback;
        }
    };
    useAgent_ = flag("UseAgent", useAgent_);
    useOutlook_ = flag("UseOutlook", true);
    key->Close();
}

void Engine::cmQuitClick() {
    ui_.Quit();
}

void Engine::ShowWindow(std::optional<Page> page) {
    if (page) SetActivePage(*page);
    windowVisible_ = true;
    ui_.ShowWindow();
    FormShow();
}

void Engine::FormShow() {
    SetAttention(false);
}

void Engine::SetAttention(bool on) {
    tray_.SetAttention(on, dmailSettings_.DMailNotifySound);
}

void Engine::SetActivePage(Page page) {
    if (page == Page::ISDN && !isdnTabVisible_) return;
    if (page == activePage_) return;
    activePage_ = page;
    ui_.SetActivePage(page);
    // Looking at the event log ends the attention signal.
    if (page == Page::Protokoll) SetAttention(false);
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
    // Cancelling a D-Mail in progress arrives with the D-Mail sender.
}

}  // namespace tolvar
