// The address book kept by the real console program while calls come in
// through the simulated exchange: cards added and removed while it runs, and
// numbers written the way people write them.

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "support/files.h"
#include "support/line_fixture.h"

namespace tolvar {
namespace {

using namespace std::chrono_literals;

std::string Rule(const std::string& caller) {
    return "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\" + caller +
           "\\00:00]\n\"Action\"=dword:00000000\n\"Param\"=\"\"\n\n";
}

std::string Card(const std::string& name, const std::string& tel) {
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name + "\r\nTEL;TYPE=home:" + tel +
           "\r\nEND:VCARD\r\n";
}

TEST(AddressBookE2E, FollowsTheFolderWhileItRunsAndMatchesWrittenNumbers) {
    test::LineFixture line;
    const auto book = line.Dir() / "kontakte";
    std::filesystem::create_directories(book);
    test::WriteAll(book / "anna.vcf", Card("Anna", "030/1234567"));
    test::WriteAll(book / "mobil.vcf", Card("Mobil", "0171-1234567"));
    test::WriteAll(book / "null.vcf", Card("Null", "+49 (0)30 7654321"));
    auto tolvar = line.StartTolvar(
        "a", "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\Agent]\n\"ContactsPath\"=\"" +
                 book.string() + "\"\n\n" + Rule("030 Berlin") + Rule("0171 Handy"));
    ASSERT_TRUE(tolvar->ReadLine(10s));
    line.Ctl({"wait", "LISTEN_CONF", "timeout=10s"});

    // Each call's contact, or none: read up to the notice of the call's end.
    const auto call = [&](const std::string& from) -> std::string {
        line.Ctl({"call", from, "5551234", "ring=500ms"});
        const std::size_t before = tolvar->Lines().size();
        if (!tolvar->WaitFor("notify: Verpasster", 10s)) return "(no end)";
        const auto& lines = tolvar->Lines();
        const auto it =
            std::find_if(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end(),
                         [](const std::string& l) { return l.rfind("contact:", 0) == 0; });
        return it == lines.end() ? "" : *it;
    };
    EXPECT_EQ(call("0301234567"), "contact: Anna <- " + (book / "anna.vcf").string());
    EXPECT_EQ(call("01711234567"), "contact: Mobil <- " + (book / "mobil.vcf").string());
    EXPECT_EQ(call("0307654321"), "contact: Null <- " + (book / "null.vcf").string());

    // Added while it runs: found two seconds later. Removed: no longer found.
    test::WriteAll(book / "berta.vcf", Card("Berta", "(030) 2222"));
    std::filesystem::remove(book / "anna.vcf");
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(call("0302222"), "contact: Berta <- " + (book / "berta.vcf").string());
    EXPECT_EQ(call("0301234567"), "");

    tolvar->Send("quit");
    EXPECT_EQ(tolvar->Wait(5s), 0);
    for (const auto& l : tolvar->Lines()) EXPECT_NE(l.rfind("box:", 0), 0u) << l;
}

}  // namespace
}  // namespace tolvar
