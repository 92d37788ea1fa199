// The address book: phone numbers as contacts carry them, vCard files of the
// three versions, and the search of a folder.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "desktop/contact_search.h"
#include "desktop/phone_number.h"
#include "desktop/vcard.h"
#include "support/files.h"

namespace tolvar {
namespace {

TEST(PhoneNumber, NormalisedAsCompared) {
    const std::pair<const char*, const char*> cases[] = {
        {"(030) 1234567", "0301234567"},
        {"+49 30 1234567", "0301234567"},  // "+49" becomes "0"
        {"+43 1 234", "00431234"},
        {" \t030 123 4567\r\n", "0301234567"},
        {"0049 30 1234567", "0049301234567"},
        {"030-1234567", "030-1234567"},  // typed text keeps its hyphen
        {"+49+49", "00"},
        {"", ""},
    };
    for (const auto& [typed, compared] : cases)
        EXPECT_EQ(NormalizePhoneNumber(typed), compared) << typed;
}

TEST(PhoneNumber, TelUrisLoseSchemeParametersAndVisualSeparators) {
    EXPECT_EQ(TelDisplayNumber("tel:+49-30-123.4567;ext=9"), "+49-30-123.4567");
    EXPECT_EQ(TelComparedNumber("tel:+49-30-123.4567;ext=9"), "0301234567");
    EXPECT_EQ(TelComparedNumber("TEL:(030)123-4567"), "0301234567");
    EXPECT_EQ(TelComparedNumber("030-1234567"), "030-1234567");
    EXPECT_TRUE(IsDialledNumber("0301234567"));
    EXPECT_FALSE(IsDialledNumber("Unbekannt/Analog"));
    EXPECT_FALSE(IsDialledNumber(""));
}

// vCard 2.1 as old phones and mail clients write it: bare type words,
// QUOTED-PRINTABLE with soft line breaks, Latin-1, a folded base64 photo.
constexpr const char* kCard21 =
    "BEGIN:VCARD\r\n"
    "VERSION:2.1\r\n"
    "N;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller;J=FCrgen;;Dr.\r\n"
    "FN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:Dr. J=FCrgen M=FC=\r\n"
    "ller\r\n"
    "ORG;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:B=C3=A4ckerei=20Sonne;Backstube\r\n"
    "TEL;WORK;VOICE:(030) 1234567\r\n"
    "TEL;CELL:+49 171 5550123\r\n"
    "EMAIL;INTERNET:juergen@example.org\r\n"
    "PHOTO;ENCODING=BASE64;TYPE=GIF:\r\n"
    "    R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7\r\n"
    "\r\n"
    "AGENT:\r\n"
    "BEGIN:VCARD\r\n"
    "FN:Sekretariat\r\n"
    "TEL:0309999\r\n"
    "END:VCARD\r\n"
    "END:VCARD\r\n";

TEST(VCard, Version21FoldedQuotedPrintableLatin1) {
    const auto cards = ParseVCards(kCard21);
    ASSERT_EQ(cards.size(), 1u);
    const ContactCard& c = cards[0];
    EXPECT_EQ(c.formattedName, "Dr. Jürgen Müller");
    EXPECT_EQ(c.organisation, "Bäckerei Sonne, Backstube");
    ASSERT_EQ(c.phones.size(), 2u);  // the agent's card is no number of this one
    EXPECT_EQ(c.phones[0].number, "(030) 1234567");
    EXPECT_EQ(c.phones[0].type, "geschäftlich");
    EXPECT_EQ(c.phones[0].compared, "0301234567");
    EXPECT_EQ(c.phones[1].type, "mobil");
    EXPECT_EQ(c.phones[1].compared, "01715550123");
    EXPECT_EQ(c.emails, std::vector<std::string>{"juergen@example.org"});
    ASSERT_GE(c.photo.size(), 6u);
    EXPECT_EQ(std::string(c.photo.begin(), c.photo.begin() + 6), "GIF89a");
}

TEST(VCard, Versions30And40) {
    const auto cards = ParseVCards(
        "\xEF\xBB\xBF"
        "BEGIN:VCARD\nVERSION:3.0\nN:Muster;Erika;;;\nORG:Muster\\, Meier & Co.;Einkauf\n"
        "TEL;TYPE=work,voice:030 555\n"
        "item1.TEL;type=HOME;type=FAX:+43 1 234\n"
        "EMAIL;TYPE=INTERNET:erika@example.org\n"
        "NOTE:Zeile eins\\nZeile zwei\\, mit Komma\nEND:VCARD\n"
        "BEGIN:VCARD\nVERSION:4.0\nFN:Max Mustermann\n"
        "TEL;VALUE=uri;TYPE=\"cell,voice\";PREF=1:tel:+49-171-555.1234\n"
        "TEL;VALUE=uri:tel:+49-30-1234567;ext=12\n"
        "PHOTO:data:image/gif;base64,R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7\n"
        "EMAIL:max@example.org\nEND:VCARD\n");
    ASSERT_EQ(cards.size(), 2u);
    EXPECT_EQ(cards[0].formattedName, "Erika Muster");  // from N, without FN
    EXPECT_EQ(cards[0].organisation, "Muster, Meier & Co., Einkauf");
    ASSERT_EQ(cards[0].phones.size(), 2u);
    EXPECT_EQ(cards[0].phones[0].type, "geschäftlich");
    EXPECT_EQ(cards[0].phones[1].type, "privat, Fax");
    EXPECT_EQ(cards[0].phones[1].compared, "00431234");
    EXPECT_EQ(cards[1].formattedName, "Max Mustermann");
    ASSERT_EQ(cards[1].phones.size(), 2u);
    EXPECT_EQ(cards[1].phones[0].number, "+49-171-555.1234");
    EXPECT_EQ(cards[1].phones[0].type, "mobil");
    EXPECT_EQ(cards[1].phones[0].compared, "01715551234");
    EXPECT_EQ(cards[1].phones[1].compared, "0301234567");
    EXPECT_EQ(std::string(cards[1].photo.begin(), cards[1].photo.begin() + 3), "GIF");
    EXPECT_EQ(cards[1].emails, std::vector<std::string>{"max@example.org"});
}

TEST(VCard, DamagedInputYieldsWhatCanBeRead) {
    // Every prefix of a valid file parses without harm; a card without its
    // end is no card (the last two bytes are the end's line break).
    const std::string text = kCard21;
    for (std::size_t n = 0; n + 2 < text.size(); ++n) {
        const auto cards = ParseVCards(std::string_view(text).substr(0, n));
        EXPECT_TRUE(cards.empty()) << n;
    }
    const auto junk = ParseVCards(
        "BEGIN:VCARD\nno colon here\n;;;:\nTEL;\"unclosed:0301\n"
        "FN;ENCODING=QUOTED-PRINTABLE:=\n=G1=\nEND:VCARD\n");
    ASSERT_EQ(junk.size(), 1u);
    EXPECT_TRUE(junk[0].phones.empty());
    EXPECT_EQ(ParseVCards("FN:Außerhalb\nTEL:0301\n").size(), 0u);
}

// Files as sync tools and old phones leave them: each case names the cards
// read (formatted name, then its compared numbers after "|").
TEST(VCard, DamagedAndJoinedFilesLoseNoCard) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> cards;
    };
    const Case cases[] = {
        {"a card without its end ends at the next card",
         "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ohne Ende\r\nTEL:0301\r\n"
         "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Danach\r\nTEL:0302\r\nEND:VCARD\r\n"
         "BEGIN:VCARD\r\nFN:Zuletzt\r\nTEL:0303\r\nEND:VCARD\r\n",
         {"Ohne Ende|0301", "Danach|0302", "Zuletzt|0303"}},
        {"2.1's AGENT still holds a card inside the card",
         "BEGIN:VCARD\nVERSION:2.1\nFN:Chef\nAGENT:\nBEGIN:VCARD\nFN:Sekretariat\n"
         "TEL:0309\nEND:VCARD\nTEL:0308\nEND:VCARD\n",
         {"Chef|0308"}},
        {"a byte-order mark where two files were joined",
         "\xEF\xBB\xBF"
         "BEGIN:VCARD\nFN:Erste\nTEL:0301\nEND:VCARD\n"
         "\xEF\xBB\xBF"
         "BEGIN:VCARD\nFN:Zweite\nTEL:0302\nEND:VCARD\n",
         {"Erste|0301", "Zweite|0302"}},
        {"2.1 unfolding keeps the folding blank",
         "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Erika\r\n Muster\r\nTEL;HOME:030\r\n 1234\r\n"
         "END:VCARD\r\n",
         {"Erika Muster|0301234"}},
        {"3.0 unfolding drops it",
         "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Erika\r\n  Muster\r\nTEL:0301\r\n 234\r\n"
         "END:VCARD\r\n",
         {"Erika Muster|0301234"}},
        {"a value folded at every character by soft line breaks",
         "BEGIN:VCARD\nVERSION:2.1\nFN;ENCODING=QUOTED-PRINTABLE:" +
             [] {
                 std::string v;
                 for (int i = 0; i < 2000; ++i) v += "a=\n";
                 return v;
             }() +
             "b\nTEL:0301\nEND:VCARD\n",
         {std::string(2000, 'a') + "b|0301"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> got;
        for (const auto& card : ParseVCards(c.text)) {
            std::string line = card.formattedName + "|";
            for (const auto& phone : card.phones) line += phone.compared + ",";
            if (!card.phones.empty()) line.pop_back();
            got.push_back(line);
        }
        EXPECT_EQ(got, c.cards) << c.what;
    }
}

std::string Card(const std::string& name, const std::string& tel) {
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name + "\r\nTEL;TYPE=work:" + tel +
           "\r\nEND:VCARD\r\n";
}

TEST(ContactFolder, FindsTheCardThatCarriesTheNumber) {
    test::TempDir dir;
    test::WriteAll(dir.File("a-klammer.vcf"), Card("Klammer", "(030) 1234567"));
    test::WriteAll(dir.File("b-plus49.vcf"), Card("Vorwahl", "+49 30 7654321"));
    test::WriteAll(dir.File("c-wien.VCF"), Card("Wien", "+43 1 234"));
    test::WriteAll(dir.File("d-alt.vcf"), kCard21);
    test::WriteAll(dir.File("e-keine.txt"), Card("Keine vCard", "0305555"));
    test::WriteAll(dir.File("f-unbekannt.vcf"), Card("Niemand", "Unbekannt/Analog"));
    // Nothing that is no plain file is opened, and a broken card is passed over.
    ASSERT_EQ(mkfifo(dir.File("0-pipe.vcf").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.File("0-folder.vcf"));
    test::WriteAll(dir.File("0-kaputt.vcf"), std::string("BEGIN:VCARD\n\xFF\xFE\0\0TEL", 18));

    const auto find = [&](const std::string& number) -> std::string {
        const auto m = FindContact(dir.Path().string(), number);
        return m ? m->card.formattedName + " <- " + m->file : "";
    };
    EXPECT_EQ(find("0301234567"), "Klammer <- " + dir.File("a-klammer.vcf"));
    EXPECT_EQ(find("0307654321"), "Vorwahl <- " + dir.File("b-plus49.vcf"));
    EXPECT_EQ(find("00431234"), "Wien <- " + dir.File("c-wien.VCF"));
    EXPECT_EQ(find("01715550123"), "Dr. Jürgen Müller <- " + dir.File("d-alt.vcf"));
    EXPECT_EQ(find("0305555"), "");
    EXPECT_EQ(find("0309999"), "");           // the agent's card inside another
    EXPECT_EQ(find("Unbekannt/Analog"), "");  // a withheld caller
    EXPECT_EQ(find("030123456"), "");         // no prefix match
    // One file instead of a folder; a folder that is not there.
    EXPECT_EQ(FindContact(dir.File("d-alt.vcf"), "0301234567")->card.formattedName,
              "Dr. Jürgen Müller");
    EXPECT_FALSE(FindContact(dir.File("fehlt"), "0301234567"));
    EXPECT_FALSE(FindContact("", "0301234567"));
    // A lookup told to stop finds nothing more.
    std::atomic<bool> cancel{true};
    EXPECT_FALSE(FindContact(dir.Path().string(), "0301234567", &cancel));
}

TEST(ContactFolder, FirstCardInFileOrderWins) {
    test::TempDir dir;
    test::WriteAll(dir.File("2.vcf"), Card("Zweite", "0301"));
    test::WriteAll(dir.File("1.vcf"), Card("Erste", "0302") + Card("Auch erste", "0301"));
    EXPECT_EQ(FindContact(dir.Path().string(), "0301")->card.formattedName, "Auch erste");
}

}  // namespace
}  // namespace tolvar
