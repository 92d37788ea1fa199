// A known caller through the simulated exchange into the real console
// program with announcements on: the notification and the spoken text, the
// contact from the address book, and what the end of the call takes away.

#include <gtest/gtest.h>

#include "support/files.h"
#include "support/line_fixture.h"

namespace tolvar {
namespace {

using namespace std::chrono_literals;

std::string Rule(const std::string& caller, int action, const std::string& param = "") {
    return "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\" + caller +
           "\\00:00]\n\"Action\"=dword:0000000" + std::to_string(action) + "\n\"Param\"=\"" +
           param + "\"\n\n";
}

TEST(DesktopE2E, KnownCallerIsAnnouncedLookedUpAndNotified) {
    test::LineFixture line;
    const auto book = line.Dir() / "kontakte";
    std::filesystem::create_directories(book);
    test::WriteAll(book / "mutter.vcf",
                   "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Muster;Mutter\r\n"
                   "FN;ENCODING=QUOTED-PRINTABLE:Mutter M=\r\nuster\r\n"
                   "TEL;HOME:(030) 1111\r\nEND:VCARD\r\n");
    const std::string wav = (line.Dir() / "klingel.wav").string();
    test::WriteAll(wav, "RIFF");
    auto tolvar = line.StartTolvar(
        "a",
        "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\Agent]\n\"UseAgent\"=dword:00000001\n"
        "\"ContactsPath\"=\"" +
            book.string() + "\"\n\n" + Rule("0301111 Mutter", 0) + Rule("0302222 Klingel", 2, wav));
    ASSERT_TRUE(tolvar->ReadLine(10s));
    line.Ctl({"wait", "LISTEN_CONF", "timeout=10s"});

    // A named caller: the contact from the address book's index, one
    // notification at once, the speech a second later; the caller hangs up
    // after three seconds.
    line.Ctl({"call", "0301111", "5551234", "ring=3s"});
    EXPECT_EQ(tolvar->WaitFor("contact:"),
              "contact: Mutter Muster <- " + (book / "mutter.vcf").string());
    EXPECT_EQ(tolvar->WaitFor("notify: Anruf von"),
              "notify: Anruf von Mutter\\n0301111 -> 5551234  Mutter");
    EXPECT_EQ(tolvar->WaitFor("announce:"), "announce: Anruf von Mutter");
    // Its end: the same notification tells the line's ending.
    EXPECT_EQ(tolvar->WaitFor("notify: Verpasster", 10s),
              "notify: Verpasster Anruf\\n0301111 -> 5551234  Mutter");

    // A caller whose entry plays a sound is not announced, but notified.
    line.Ctl({"call", "0302222", "5551234", "ring=2500ms"});
    EXPECT_EQ(tolvar->WaitFor("sound:"), "sound: " + wav);
    EXPECT_EQ(tolvar->WaitFor("notify: Verpasster", 10s),
              "notify: Verpasster Anruf\\n0302222 -> 5551234  Klingel (klingel.wav)");
    tolvar->Send("quit");
    EXPECT_EQ(tolvar->Wait(5s), 0);

    std::vector<std::string> desktop;
    for (const auto& l : tolvar->Lines())
        if (l.rfind("notify", 0) == 0 || l.rfind("announce", 0) == 0 || l.rfind("contact", 0) == 0)
            desktop.push_back(l);
    EXPECT_EQ(desktop, (std::vector<std::string>{
                           "contact: Mutter Muster <- " + (book / "mutter.vcf").string(),
                           "notify: Anruf von Mutter\\n0301111 -> 5551234  Mutter",
                           "announce: Anruf von Mutter",
                           "notify: Verpasster Anruf\\n0301111 -> 5551234  Mutter",
                           "notify: Anruf\\n0302222 -> 5551234  Klingel (klingel.wav)",
                           "notify: Verpasster Anruf\\n0302222 -> 5551234  Klingel (klingel.wav)",
                       }));
}

}  // namespace
}  // namespace tolvar
