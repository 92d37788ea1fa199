#include "desktop/desktop_integration.h"

#include "capi/connection.h"
#include "core/front_end.h"
#include "desktop/phone_number.h"
#include "registry/registry.h"

namespace tolvar {

namespace {

// The caller's part of an event-log line: what follows the time.
std::string WithoutTime(const std::string& line) {
    const auto gap = line.find("   ");
    return gap == std::string::npos ? line : line.substr(gap + 3);
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

DesktopIntegration::DesktopIntegration(DesktopHost host)
    : h_(std::move(host)),
      speechDelay_(h_.timers, kSpeechDelayMs),
      index_({.timers = h_.timers,
              .io = h_.io,
              .dialogs = h_.dialogs,
              .post = h_.post,
              .startThread = h_.startThread},
             [this](const ContactCard& card, const std::string& file) {
                 h_.devices.contacts.ShowContact(card, file);
                 if (h_.contactFound) h_.contactFound(card);
             }) {
    speechDelay_.OnTimer = [this] { Speak(); };
}

void DesktopIntegration::LoadAgentOptions() {
    if (Registry* r = h_.registry()) tolvar::LoadAgentOptions(*r, options_, h_.defaults);
    // A character loaded and unloaded again by its name: nothing stays of
    // an announcement.
    ReleaseCharacter();
    KeepAddressBook();
}

void DesktopIntegration::KeepAddressBook() {
    index_.SetAddressBook(options_.UseOutlook ? options_.ContactsPath : "",
                          options_.ContactsPath != h_.defaults.contactsPath);
}

void DesktopIntegration::SaveAgentOptions() {
    if (Registry* r = h_.registry()) tolvar::SaveAgentOptions(*r, options_);
}

void DesktopIntegration::LookUpContact(const std::string& callingNumber) {
    // A withheld number ("Unbekannt/Analog") is in no address book.
    if (!IsDialledNumber(callingNumber)) return;
    ++lookups_;
    // The lookup is optional: whatever fails in it, the call's line is still written.
    try {
        index_.LookUp(callingNumber);
    } catch (const std::exception&) {
    }
}

void DesktopIntegration::AnnounceCaller(const std::string& name) {
    // The character appears at once and speaks a second later; meanwhile the
    // program goes on.
    const std::string text = "Anruf von " + name;
    characterLoaded_ = true;
    // One notification per call: where every call is notified, the call's
    // own notification, which follows at once, carries the announcement.
    if (options_.Notify) {
        announced_ = text;
    } else {
        announcementShown_ = true;
        h_.devices.notifier.Notify(kAnnouncementNotice,
                                   {.summary = text, .body = "", .expireMs = 0});
    }
    pendingSpeech_ = text;
    speechDelay_.Restart();
}

void DesktopIntegration::Speak() {
    speechDelay_.SetEnabled(false);
    if (!characterLoaded_) return;
    h_.devices.announcer.Speak(pendingSpeech_, {options_.AgentPath, options_.AgentName});
}

void DesktopIntegration::ReleaseCharacter() {
    if (!characterLoaded_) return;
    characterLoaded_ = false;
    speechDelay_.SetEnabled(false);
    h_.devices.announcer.StopSpeaking();
    announced_.clear();
    if (announcementShown_) h_.devices.notifier.Withdraw(kAnnouncementNotice);
    announcementShown_ = false;
}

std::uint32_t DesktopIntegration::NextNoticeId() {
    const std::uint32_t id = nextNoticeId_++;
    if (nextNoticeId_ == 0) nextNoticeId_ = kAnnouncementNotice + 1;
    return id;
}

void DesktopIntegration::CallArrived(std::uint32_t plci, const std::string& line) {
    const std::string summary = announced_.empty() ? "Anruf" : announced_;
    announced_.clear();
    if (!options_.Notify) return;
    // Records dropped from a full list never end; their notices must not pile up.
    if (callNotices_.size() >= h_.callCapacity()) callNotices_.erase(callNotices_.begin());
    const CallNotice notice{NextNoticeId(), WithoutTime(line)};
    callNotices_[plci] = notice;
    h_.devices.notifier.Notify(notice.id, {.summary = summary, .body = notice.line, .expireMs = 0});
}

void DesktopIntegration::CallFinished(std::uint32_t plci, const std::string& ending, bool missed) {
    const auto it = callNotices_.find(plci);
    if (it == callNotices_.end()) return;
    const CallNotice notice = it->second;
    callNotices_.erase(it);
    h_.devices.notifier.Notify(notice.id, {.summary = missed ? "Verpasster Anruf" : "Anruf",
                                           .body = notice.line + ending,
                                           .expireMs = kEndedNoticeMs});
}

void DesktopIntegration::DMailReceived(const std::string& logLine) {
    // A sender who keeps sending while nobody looks fills no screen: the
    // oldest goes.
    if (dmailNotices_.size() >= kMaxDMailNotices) {
        h_.devices.notifier.Withdraw(dmailNotices_.front());
        dmailNotices_.erase(dmailNotices_.begin());
    }
    dmailNotices_.push_back(NextNoticeId());
    h_.devices.notifier.Notify(dmailNotices_.back(),
                               {.summary = "DMail eingetroffen", .body = logLine, .expireMs = 0});
}

void DesktopIntegration::MessageLogInView() {
    for (std::uint32_t id : dmailNotices_) h_.devices.notifier.Withdraw(id);
    dmailNotices_.clear();
}

void DesktopIntegration::tsMSOptionsShow() {
    FrontEnd& ui = h_.ui;
    ui.SetControlChecked(Control::CBUseOutlook, options_.UseOutlook);
    ui.SetControlChecked(Control::CBUseAgent, options_.UseAgent);
    ui.SetControlChecked(Control::CBNotify, options_.Notify);
    ui.SetControlText(Control::edAgentPath, options_.AgentPath);
    ui.SetControlText(Control::edAgentName, options_.AgentName);
    ui.SetControlText(Control::edContactsPath, options_.ContactsPath);
}

void DesktopIntegration::tsMSOptionsHide() {
    FrontEnd& ui = h_.ui;
    options_.UseOutlook = ui.ControlChecked(Control::CBUseOutlook);
    options_.UseAgent = ui.ControlChecked(Control::CBUseAgent);
    options_.Notify = ui.ControlChecked(Control::CBNotify);
    options_.AgentPath = ui.ControlText(Control::edAgentPath);
    options_.AgentName = ui.ControlText(Control::edAgentName);
    options_.ContactsPath = ui.ControlText(Control::edContactsPath);
    SaveAgentOptions();
    // An emptied voice or address book falls back to the defaults at once.
    LoadAgentOptions();
}

void DesktopIntegration::CBUseOutlookClick() {
    options_.UseOutlook = h_.ui.ControlChecked(Control::CBUseOutlook);
    if (Registry* r = h_.registry()) WriteAgentSwitch(*r, "UseOutlook", options_.UseOutlook);
    KeepAddressBook();
}

void DesktopIntegration::CBUseAgentClick() {
    options_.UseAgent = h_.ui.ControlChecked(Control::CBUseAgent);
}

void DesktopIntegration::CBNotifyClick() {
    options_.Notify = h_.ui.ControlChecked(Control::CBNotify);
    if (Registry* r = h_.registry()) WriteAgentSwitch(*r, "Notify", options_.Notify);
}

void DesktopIntegration::BtnSelectPathClick() {
    const auto file =
        h_.dialogs.ChooseFile({.title = "Stimme auswählen.",
                               .filter = "Stimmen (*)",
                               .startFolder = FolderOf(h_.ui.ControlText(Control::edAgentPath))});
    if (!file) return;
    h_.ui.SetControlText(Control::edAgentPath, *file);
    h_.ui.SetControlText(Control::edAgentName, VoiceNameOf(*file));
}

void DesktopIntegration::BtnSelectContactsClick() {
    const auto folder =
        h_.dialogs.ChooseFile({.title = "Adressbuch-Ordner auswählen.",
                               .filter = "",
                               .startFolder = h_.ui.ControlText(Control::edContactsPath),
                               .folder = true});
    if (folder) h_.ui.SetControlText(Control::edContactsPath, *folder);
}

}  // namespace tolvar
