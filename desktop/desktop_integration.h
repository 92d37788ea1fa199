#pragma once
// The desktop's part in the program, apart from the tray: the options of the
// page "Desktop", the announcement of a known caller (a notification at once,
// the spoken text a second later), the notification of every call and of a
// received D-Mail, and the contact lookup. No Qt: the notifications, the
// speech and the contact window are devices of the front end.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "capi/connection.h"
#include "core/devices.h"
#include "core/timer.h"
#include "desktop/agent_options.h"
#include "desktop/call_desktop.h"
#include "desktop/contact_index.h"

namespace tolvar {

class Dialogs;
class FrontEnd;
class Registry;

struct DesktopHost {
    FrontEnd& ui;
    Dialogs& dialogs;
    TimerService& timers;
    IoService& io;
    Devices devices;
    // Runs a function on the engine's thread; callable from any thread.
    std::function<void(std::function<void()>)> post;
    // The registry access object; none before start-up made it.
    std::function<Registry*()> registry;
    AgentDefaults defaults = SystemAgentDefaults();
    // How many calls can be in progress at once (the call list's capacity).
    std::function<std::size_t()> callCapacity = [] { return Connections::kMaxRecords; };
    // Starts the address book's reader thread (tests make it fail).
    ThreadStarter startThread = StartThread;
    // A caller's card was found in the address book (besides being shown).
    std::function<void(const ContactCard& card)> contactFound;
};

class DesktopIntegration final : public CallDesktop {
  public:
    // Between the notification and the speech.
    static constexpr std::uint32_t kSpeechDelayMs = 1000;
    // How long the notification of an ended call stays.
    static constexpr std::uint32_t kEndedNoticeMs = 10000;
    static constexpr std::uint32_t kAnnouncementNotice = 1;
    // Received D-Mails notified at the same time, at most.
    static constexpr std::size_t kMaxDMailNotices = 8;

    explicit DesktopIntegration(DesktopHost host);

    const AgentOptions& Options() const { return options_; }
    void LoadAgentOptions();
    void SaveAgentOptions();

    // CallDesktop
    void LookUpContact(const std::string& callingNumber) override;
    void AnnounceCaller(const std::string& name) override;
    void CallArrived(std::uint32_t plci, const std::string& line) override;
    void CallFinished(std::uint32_t plci, const std::string& ending, bool missed) override;

    // A D-Mail arrived while its message log was not in view (logLine: its
    // line there); it stays notified until the log comes into view.
    void DMailReceived(const std::string& logLine);
    void MessageLogInView();

    // At the end of every call that had a record: an announcement still
    // shown or spoken goes.
    void ReleaseCharacter();
    bool CharacterLoaded() const { return characterLoaded_; }
    // How many calls were looked up in the address book.
    std::size_t LookupsStarted() const { return lookups_; }
    const ContactIndex& AddressBook() const { return index_; }

    // The page "Desktop".
    void tsMSOptionsShow();
    void tsMSOptionsHide();
    void CBUseOutlookClick();
    void CBUseAgentClick();
    void CBNotifyClick();
    void BtnSelectPathClick();
    void BtnSelectContactsClick();

  private:
    void Speak();
    // The address book indexed is the one chosen, while the lookup is on.
    void KeepAddressBook();
    std::uint32_t NextNoticeId();

    DesktopHost h_;
    AgentOptions options_;
    Timer speechDelay_;
    std::string pendingSpeech_;
    bool characterLoaded_ = false;
    ContactIndex index_;
    std::size_t lookups_ = 0;
    // The announcement's own notification is shown (call notifications off).
    bool announcementShown_ = false;
    // The announcement that the call's notification, following at once, carries.
    std::string announced_;
    // The notifications of calls still in progress, by PLCI: id and line.
    struct CallNotice {
        std::uint32_t id;
        std::string line;
    };
    std::map<std::uint32_t, CallNotice> callNotices_;
    std::uint32_t nextNoticeId_ = kAnnouncementNotice + 1;
    std::vector<std::uint32_t> dmailNotices_;
};

}  // namespace tolvar
