// The page "Desktop" and what it switches, through the engine on a fake CAPI
// and virtual time: the stored options and their defaults, the page's
// controls, the announcement, the notification of every call, and the
// contact lookup that never holds up the next call.

#include <gtest/gtest.h>

#include <algorithm>

#include <system_error>
#include <thread>

#include "calls/call_message.h"
#include "registry/registry.h"
#include "support/test_host.h"

namespace tolvar {
namespace {

using test::CallSetup;

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n\n";
const std::string kAgent = "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\Agent]\n";
constexpr const char* kVoice = "/sprache/espeak-ng-data/lang/gmw/de";
constexpr const char* kBook = "/daten/contacts";

std::string Rule(const std::string& caller, int action, const std::string& param = "") {
    return "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\" + caller +
           "\\00:00]\n\"Action\"=dword:0000000" + std::to_string(action) + "\n\"Param\"=\"" +
           param + "\"\n\n";
}

// An engine whose defaults come from a known environment.
class Desk {
  public:
    explicit Desk(const std::string& keys = "", bool start = true) {
        setenv("ESPEAK_DATA_PATH", "/sprache", 1);
        setenv("XDG_DATA_HOME", "/daten", 1);
        host.time = VirtualTime(DateTime::From({2026, 12, 7}, 8, 0, 0));
        host.eventLogPath = (host.dir / "Tolvar.txt").string();
        if (!keys.empty()) host.WriteHive(kHeader + keys);
        if (start) host.Start();
    }
    Engine& engine() { return *host.engine; }
    DesktopIntegration& desktop() { return host.engine->Desktop(); }
    std::optional<RegKey> Agent() {
        // Each look gets its own registry, which lives as long as the test.
        registries.push_back(std::make_unique<Registry>(host.registryPath));
        return registries.back()->OpenKey("\\Software\\Brenwick\\Tolvar\\Agent", false);
    }
    // Recorded effects on one channel since the last look at it.
    std::vector<std::string> Take(const std::string& channel) {
        std::vector<std::string> out;
        const std::string prefix = channel + ": ";
        for (; seen_[channel] < host.ui.events.size(); ++seen_[channel]) {
            const std::string& e = host.ui.events[seen_[channel]];
            if (e.rfind(prefix, 0) == 0) out.push_back(e.substr(prefix.size()));
        }
        return out;
    }
    void Call(const std::string& digits, std::uint32_t plci) {
        CallSetup c;
        c.caller = digits;
        c.plci = plci;
        host.Receive(test::ConnectInd(c));
    }
    // Until the address book's first index is there.
    bool AddressBookReady() {
        while (!desktop().AddressBook().Ready())
            if (!host.RunPostedWhenThere()) return false;
        return true;
    }
    void End(std::uint32_t plci, std::uint16_t reason = 0x3490) {
        host.Receive(test::DisconnectInd(plci, reason));
    }

    test::TestHost host;
    std::vector<std::unique_ptr<Registry>> registries;

  private:
    std::map<std::string, std::size_t> seen_;
};

TEST(DesktopOptions, FirstStartWritesTheDefaultsButNotUseAgent) {
    Desk desk;
    auto agent = desk.Agent();
    ASSERT_TRUE(agent);
    EXPECT_EQ(agent->GetValueNames(),
              (std::vector<std::string>{"AgentPath", "AgentName", "UseOutlook", "ContactsPath",
                                        "Notify"}));
    EXPECT_EQ(agent->ReadString("AgentPath"), kVoice);
    EXPECT_EQ(agent->ReadString("AgentName"), "de");
    EXPECT_EQ(agent->ReadInteger("UseOutlook"), 1);
    EXPECT_EQ(agent->ReadString("ContactsPath"), kBook);
    EXPECT_EQ(agent->ReadInteger("Notify"), 1);
    EXPECT_FALSE(desk.engine().UseAgent());
    EXPECT_TRUE(desk.engine().UseOutlook());
}

TEST(DesktopOptions, StoredValuesAndTheirRepairs) {
    struct Case {
        const char* name;
        std::string stored;
        AgentOptions inForce;
        std::string hiveAfter;  // the Agent key's values as written
    };
    const std::string full =
        "\"AgentPath\"=\"/v/anna\"\n\"AgentName\"=\"anna\"\n\"UseAgent\"=dword:00000001\n"
        "\"UseOutlook\"=dword:00000000\n\"ContactsPath\"=\"/k.vcf\"\n\"Notify\"=dword:00000000\n";
    const std::string defaults = std::string("\"AgentPath\"=\"") + kVoice +
                                 "\"\n\"AgentName\"=\"de\"\n\"UseOutlook\"=dword:00000001\n";
    const std::vector<Case> cases = {
        {"all stored", full, {"/v/anna", "anna", true, false, "/k.vcf", false}, full},
        // An empty name brings back the voice and switches the lookup on.
        {"empty name",
         "\"AgentPath\"=\"/v/anna\"\n\"AgentName\"=\"\"\n\"UseAgent\"=dword:00000001\n"
         "\"UseOutlook\"=dword:00000000\n\"ContactsPath\"=\"/k.vcf\"\n\"Notify\"=dword:00000000\n",
         {kVoice, "de", true, true, "/k.vcf", false},
         std::string("\"AgentPath\"=\"") + kVoice +
             "\"\n\"AgentName\"=\"de\"\n\"UseAgent\"=dword:00000001\n\"UseOutlook\"=dword:"
             "00000001\n\"ContactsPath\"=\"/k.vcf\"\n\"Notify\"=dword:00000000\n"},
        // A voice set by hand stays, though "UseAgent" was never written.
        {"no UseAgent",
         "\"AgentPath\"=\"/v/anna\"\n\"AgentName\"=\"anna\"\n",
         {"/v/anna", "anna", false, true, kBook, true},
         "\"AgentPath\"=\"/v/anna\"\n\"AgentName\"=\"anna\"\n\"UseOutlook\"=dword:00000001\n"
         "\"ContactsPath\"=\"" +
             std::string(kBook) + "\"\n\"Notify\"=dword:00000001\n"},
        // Values of the wrong type read as missing.
        {"wrong types",
         "\"UseAgent\"=\"1\"\n\"UseOutlook\"=\"0\"\n\"ContactsPath\"=dword:00000001\n",
         {kVoice, "de", false, true, kBook, true},
         "\"UseAgent\"=\"1\"\n\"UseOutlook\"=dword:00000001\n\"ContactsPath\"=\"" +
             std::string(kBook) + "\"\n" + defaults.substr(0, defaults.find("\"UseOutlook")) +
             "\"Notify\"=dword:00000001\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Desk desk(kAgent + c.stored + "\n");
        const AgentOptions& o = desk.desktop().Options();
        EXPECT_EQ(o.AgentPath, c.inForce.AgentPath);
        EXPECT_EQ(o.AgentName, c.inForce.AgentName);
        EXPECT_EQ(o.UseAgent, c.inForce.UseAgent);
        EXPECT_EQ(o.UseOutlook, c.inForce.UseOutlook);
        EXPECT_EQ(o.ContactsPath, c.inForce.ContactsPath);
        EXPECT_EQ(o.Notify, c.inForce.Notify);
        const std::string hive = desk.host.ReadHive();
        const auto at = hive.find(kAgent);
        ASSERT_NE(at, std::string::npos);
        const auto from = at + kAgent.size();
        EXPECT_EQ(hive.substr(from, hive.find("\n\n", from) + 1 - from), c.hiveAfter);
    }
}

TEST(DesktopPage, FilledWhenShownTakenOverWhenLeft) {
    Desk desk(kAgent + "\"AgentPath\"=\"/v/anna\"\n\"AgentName\"=\"anna\"\n" +
              "\"UseOutlook\"=dword:00000000\n\n");
    auto& ui = desk.host.ui;
    desk.engine().ShowWindow(Page::Desktop);
    EXPECT_EQ(ui.texts[Control::edAgentPath], "/v/anna");
    EXPECT_EQ(ui.texts[Control::edAgentName], "anna");
    EXPECT_EQ(ui.texts[Control::edContactsPath], kBook);
    EXPECT_FALSE(ui.checked[Control::CBUseOutlook]);
    EXPECT_FALSE(ui.checked[Control::CBUseAgent]);
    EXPECT_TRUE(ui.checked[Control::CBNotify]);

    // The agent box counts in memory only; hiding the window is no leaving.
    ui.checked[Control::CBUseAgent] = true;
    desk.desktop().CBUseAgentClick();
    EXPECT_TRUE(desk.engine().UseAgent());
    ui.texts[Control::edAgentName] = "";
    desk.engine().cmCloseClick();
    EXPECT_FALSE(desk.Agent()->ValueExists("UseAgent"));
    EXPECT_EQ(desk.Agent()->ReadString("AgentName"), "anna");

    // Leaving the page: an emptied name brings back the voice and the lookup.
    desk.engine().ShowWindow();
    ui.texts[Control::edAgentName] = "";
    desk.engine().SetActivePage(Page::Protokoll);
    auto agent = desk.Agent();
    EXPECT_EQ(agent->ReadInteger("UseAgent"), 1);
    EXPECT_EQ(agent->ReadString("AgentName"), "de");
    EXPECT_EQ(agent->ReadString("AgentPath"), kVoice);
    EXPECT_EQ(agent->ReadInteger("UseOutlook"), 1);
    EXPECT_TRUE(desk.engine().UseOutlook());
    desk.engine().SetActivePage(Page::Desktop);
    EXPECT_EQ(ui.texts[Control::edAgentName], "de");
    EXPECT_TRUE(ui.checked[Control::CBUseOutlook]);

    // The address book field and the notification box go the same way.
    ui.texts[Control::edContactsPath] = "/home/x/karten";
    ui.checked[Control::CBNotify] = false;
    desk.engine().SetActivePage(Page::Info);
    EXPECT_EQ(desk.Agent()->ReadString("ContactsPath"), "/home/x/karten");
    EXPECT_EQ(desk.Agent()->ReadInteger("Notify"), 0);
    desk.engine().SetActivePage(Page::Desktop);
    ui.texts[Control::edContactsPath] = "";
    desk.engine().SetActivePage(Page::Info);
    EXPECT_EQ(desk.Agent()->ReadString("ContactsPath"), kBook);
}

TEST(DesktopPage, CheckBoxesThatAreWrittenAtOnce) {
    Desk desk;
    auto& ui = desk.host.ui;
    desk.engine().ShowWindow(Page::Desktop);
    ui.checked[Control::CBUseOutlook] = false;
    desk.desktop().CBUseOutlookClick();
    EXPECT_EQ(desk.Agent()->ReadInteger("UseOutlook"), 0);
    EXPECT_FALSE(desk.engine().UseOutlook());
    ui.checked[Control::CBNotify] = false;
    desk.desktop().CBNotifyClick();
    EXPECT_EQ(desk.Agent()->ReadInteger("Notify"), 0);
    EXPECT_FALSE(desk.desktop().Options().Notify);
}

TEST(DesktopPage, ChoosingAVoiceFileAndAnAddressBook) {
    Desk desk;
    auto& ui = desk.host.ui;
    desk.engine().ShowWindow(Page::Desktop);
    ui.chosenFiles = {std::string("/stimmen/Merlin.acs"), std::nullopt,
                      std::string("/stimmen/ohne"), std::string("/home/x/Kontakte")};
    desk.desktop().BtnSelectPathClick();
    EXPECT_EQ(ui.texts[Control::edAgentPath], "/stimmen/Merlin.acs");
    EXPECT_EQ(ui.texts[Control::edAgentName], "Merlin");
    ASSERT_EQ(ui.chooserCalls.size(), 1u);
    EXPECT_EQ(ui.chooserCalls[0].title, "Stimme auswählen.");
    EXPECT_EQ(ui.chooserCalls[0].filter, "Stimmen (*)");
    EXPECT_EQ(ui.chooserCalls[0].startFolder, "/sprache/espeak-ng-data/lang/gmw");
    EXPECT_FALSE(ui.chooserCalls[0].folder);
    desk.desktop().BtnSelectPathClick();  // cancelled: nothing changes
    EXPECT_EQ(ui.chooserCalls[1].startFolder, "/stimmen");
    EXPECT_EQ(ui.texts[Control::edAgentName], "Merlin");
    desk.desktop().BtnSelectPathClick();
    EXPECT_EQ(ui.texts[Control::edAgentName], "ohne");
    desk.desktop().BtnSelectContactsClick();
    EXPECT_TRUE(ui.chooserCalls[3].folder);
    EXPECT_EQ(ui.chooserCalls[3].startFolder, kBook);
    EXPECT_EQ(ui.texts[Control::edContactsPath], "/home/x/Kontakte");
}

const std::string kAgentOn = kAgent + "\"UseAgent\"=dword:00000001\n\n";

TEST(Announcement, OneNotificationAtOnceSpokenASecondLaterGoneWithTheNextCallEnd) {
    Desk desk(kAgentOn + Rule("0178 Mutter", 0) + Rule("0179 Vater", 0));
    desk.Call("17812345", 1);
    // The call's notification carries the announcement: one, not two.
    EXPECT_EQ(desk.Take("notify"),
              std::vector<std::string>{"2 Anruf von Mutter | 017812345 -> 5551234  Mutter"});
    desk.host.time.Advance(999);
    EXPECT_TRUE(desk.Take("announce").empty());
    desk.host.time.Advance(1);
    EXPECT_EQ(desk.Take("announce"), std::vector<std::string>{"Anruf von Mutter"});
    ASSERT_EQ(desk.host.ui.voices.size(), 1u);
    EXPECT_EQ(desk.host.ui.voices[0].file, kVoice);
    EXPECT_EQ(desk.host.ui.voices[0].name, "de");

    // Any call's end silences the announcement; the call's own notification
    // says how it ended.
    desk.End(1);
    EXPECT_EQ(desk.Take("speech-stop").size(), 1u);
    EXPECT_TRUE(desk.Take("notify-close").empty());
    EXPECT_EQ(
        desk.Take("notify"),
        std::vector<std::string>{"2 Verpasster Anruf | 017812345 -> 5551234  Mutter (10000 ms)"});
    EXPECT_FALSE(desk.desktop().CharacterLoaded());

    // A call that ends before its second is up is never spoken.
    desk.Call("17912345", 2);
    desk.host.time.Advance(500);
    desk.End(2, 0x349A);
    desk.host.time.Advance(2000);
    EXPECT_TRUE(desk.Take("announce").empty());
    EXPECT_EQ(
        desk.Take("notify"),
        (std::vector<std::string>{"3 Anruf von Vater | 017912345 -> 5551234  Vater",
                                  "3 Anruf | 017912345 -> 5551234  Vater  verbunden. (10000 ms)"}));
    // An unnamed caller after an announced one is just a call.
    desk.Call("0301", 3);
    EXPECT_EQ(desk.Take("notify"), std::vector<std::string>{"4 Anruf | 0301 -> 5551234"});

    // With call notifications off the announcement shows its own, taken
    // away with the next call's end.
    desk.host.ui.checked[Control::CBNotify] = false;
    desk.desktop().CBNotifyClick();
    desk.End(3);
    desk.Take("notify");
    desk.Call("17812345", 4);
    EXPECT_EQ(desk.Take("notify"), std::vector<std::string>{"1 Anruf von Mutter"});
    desk.End(4);
    EXPECT_EQ(desk.Take("notify-close"), std::vector<std::string>{"1"});
    EXPECT_TRUE(desk.Take("notify").empty());
}

TEST(CallNotice, EveryCallAndItsEndingUnlessSwitchedOff) {
    Desk desk(Rule("0301 Abfang", 3) + Rule("0302 Abheber", 5) + Rule("0303 SMS", 4, "017199"));
    desk.Call("0301", 1);
    desk.host.Receive(test::ConnectActiveInd(1));
    desk.End(1);
    desk.Call("0302", 2);
    desk.host.time.Advance(3000);
    desk.End(2);
    desk.Call("0303", 3);
    desk.End(3);
    desk.Call("0304", 4);  // a caller without rule is notified too
    EXPECT_EQ(desk.Take("notify"),
              (std::vector<std::string>{
                  "2 Anruf | 0301 -> 5551234  Abfang",
                  "2 Anruf | 0301 -> 5551234  Abfang  abgefangen. (10000 ms)",
                  "3 Anruf | 0302 -> 5551234  Abheber",
                  "3 Anruf | 0302 -> 5551234  Abheber  abgehoben 00:00:03 (10000 ms)",
                  "4 Anruf | 0303 -> 5551234  SMS",
                  "4 Verpasster Anruf | 0303 -> 5551234  SMS  SMS nicht verschickt. (10000 ms)",
                  "5 Anruf | 0304 -> 5551234",
              }));
    desk.host.ui.checked[Control::CBNotify] = false;
    desk.desktop().CBNotifyClick();
    desk.End(4);  // shown before it was switched off: it still ends
    desk.Call("0305", 5);
    desk.End(5);
    EXPECT_EQ(desk.Take("notify"),
              std::vector<std::string>{"5 Verpasster Anruf | 0304 -> 5551234 (10000 ms)"});
}

std::string Card(int i, const std::string& tel) {
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Kontakt " + std::to_string(i) + "\r\nN:Kontakt;" +
           std::to_string(i) + ";;;\r\nTEL;TYPE=home:" + tel + "\r\nEMAIL:k" + std::to_string(i) +
           "@example.org\r\nEND:VCARD\r\n";
}

TEST(ContactLookup, AReaderThatCannotStartCostsTheCallNothing) {
    test::TempDir book;
    test::WriteAll(book.File("a.vcf"), Card(1, "(030) 1234567"));
    Desk desk(
        kAgent + "\"ContactsPath\"=\"" + book.Path().string() + "\"\n\n" + Rule("030 Berlin", 0),
        false);
    bool refuse = true;
    desk.host.startThread = [&refuse](std::function<void()> fn) {
        if (refuse) throw std::system_error(EAGAIN, std::generic_category(), "no thread");
        return std::thread(std::move(fn));
    };
    desk.host.Start();
    desk.Call("301234567", 1);
    // The call's line is written although its lookup could not start.
    const auto& events = desk.host.ui.events;
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const std::string& e) {
                                return e.rfind("protokoll ", 0) == 0 &&
                                       e.find("0301234567 -> 5551234  Berlin") != std::string::npos;
                            }),
              1);
    EXPECT_TRUE(desk.Take("box").empty());
    EXPECT_TRUE(desk.host.ui.contacts.empty());
    // The next call finds its reader.
    refuse = false;
    desk.Call("301234567", 2);
    ASSERT_TRUE(desk.AddressBookReady());
    EXPECT_EQ(desk.Take("contact"), std::vector<std::string>{"Kontakt 1 <- " + book.File("a.vcf")});
}

TEST(ContactLookup, OnlyForKnownCallersWithTheOptionOnAndANumber) {
    test::TempDir book;
    test::WriteAll(book.File("a.vcf"), Card(1, "(030) 1234567") + Card(2, "Unbekannt/Analog"));
    const std::string path = "\"ContactsPath\"=\"" + book.Path().string() + "\"\n";
    {
        Desk desk(kAgent + path + "\n" + Rule("030 Berlin", 0) + Rule("Unbekannt/Analog", 0));
        ASSERT_TRUE(desk.AddressBookReady());
        desk.Call("301234567", 1);
        EXPECT_EQ(desk.Take("contact"),
                  std::vector<std::string>{"Kontakt 1 <- " + book.File("a.vcf")});
        desk.Call("", 2);  // withheld: nothing to look for
        EXPECT_EQ(desk.desktop().LookupsStarted(), 1u);
    }
    {
        Desk desk(
            kAgent + path +
            "\"AgentPath\"=\"/v/de\"\n\"AgentName\"=\"de\"\n\"UseOutlook\"=dword:00000000\n\n" +
            Rule("030 Berlin", 0));
        desk.Call("301234567", 1);
        EXPECT_EQ(desk.desktop().LookupsStarted(), 0u);
    }
}

}  // namespace
}  // namespace tolvar
