// The address book: phone numbers as contacts carry them, vCard files of the
// three versions, and the search of a folder.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <poll.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <system_error>

#include "core/virtual_time.h"
#include "desktop/contact_index.h"
#include "desktop/phone_number.h"
#include "desktop/vcard.h"
#include "support/files.h"
#include "support/recording_front_end.h"

namespace tolvar {
namespace {

TEST(PhoneNumber, NormalisedAsCompared) {
    const std::pair<const char*, const char*> cases[] = {
        {"(030) 1234567", "0301234567"},
        {"+49 30 1234567", "0301234567"},  // "+49" becomes "0"
        {"+43 1 234", "00431234"},
        {" \t030 123 4567\r\n", "0301234567"},
        {"0049 30 1234567", "0049301234567"},
        {"030-1234567", "0301234567"},  // the separators people write
        {"030/123 45.67", "0301234567"},
        {"+49 (0)30 1234567", "0301234567"},
        {"0049 (0)30 1234567", "0049301234567"},
        {"+1 (0)30", "00130"},
        {"030 (0) 1234", "03001234"},  // "(0)" not after a country code
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
    EXPECT_EQ(TelComparedNumber("030-1234567"), "0301234567");
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

// An index on virtual time, its results posted to the test's thread, its
// change watch polled by the test.
class Book final : public IoService {
  public:
    explicit Book(ThreadStarter start = StartThread)
        : index({.timers = time,
                 .io = *this,
                 .dialogs = ui,
                 .post = [this](std::function<void()> fn) { Post(std::move(fn)); },
                 .startThread = std::move(start)},
                [this](const ContactCard& card, const std::string& file) {
                    found.push_back(card.formattedName + " <- " + file);
                }) {}

    void Watch(int fd, std::function<void()> fn) override { watches[fd] = std::move(fn); }
    void Unwatch(int fd) override { watches.erase(fd); }

    // Runs what the reader thread posts, once something came.
    bool RunPosted(std::chrono::seconds within = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex);
        if (!cv.wait_for(lock, within, [this] { return !posted.empty(); })) return false;
        auto fns = std::exchange(posted, {});
        lock.unlock();
        for (auto& fn : fns) fn();
        return true;
    }
    // The folder changed: the watch is read, the changes settle and are read.
    bool Changed() {
        for (auto& [fd, fn] : std::map(watches)) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 0) > 0) fn();
        }
        time.Advance(ContactIndex::kSettleMs);
        return RunPosted();
    }
    std::string Find(const std::string& number) {
        found.clear();
        index.LookUp(number);
        return found.empty() ? "" : found.front();
    }

    VirtualTime time;
    test::RecordingFrontEnd ui;
    std::map<int, std::function<void()>> watches;
    std::vector<std::string> found;
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::function<void()>> posted;
    ContactIndex index;

  private:
    void Post(std::function<void()> fn) {
        std::lock_guard guard(mutex);
        posted.push_back(std::move(fn));
        cv.notify_all();
    }
};

TEST(ContactIndex, FindsTheFirstCardThatCarriesTheNumber) {
    test::TempDir dir;
    test::WriteAll(dir.File("a-klammer.vcf"), Card("Klammer", "(030) 1234567"));
    test::WriteAll(dir.File("b-plus49.vcf"), Card("Vorwahl", "+49 30 7654321"));
    test::WriteAll(dir.File("c-wien.VCF"), Card("Wien", "+43 1 234"));
    test::WriteAll(dir.File("d-alt.vcf"), kCard21);
    test::WriteAll(dir.File("e-keine.txt"), Card("Keine vCard", "0305555"));
    test::WriteAll(dir.File("f-unbekannt.vcf"), Card("Niemand", "Unbekannt/Analog"));
    test::WriteAll(dir.File("g-trenner.vcf"),
                   Card("Schrägstrich", "030/2222222") + Card("Bindestrich", "0171-1234567") +
                       Card("Null", "+49 (0)30 3333333") + Card("Zweite Klammer", "(030) 1234567"));
    // Nothing that is no plain file is opened, and a broken card is passed over.
    ASSERT_EQ(mkfifo(dir.File("0-pipe.vcf").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.File("0-folder.vcf"));
    test::WriteAll(dir.File("0-kaputt.vcf"), std::string("BEGIN:VCARD\n\xFF\xFE\0\0TEL", 18));

    Book book;
    book.index.SetAddressBook(dir.Path().string());
    // Asked before the index is ready: answered once it is.
    book.index.LookUp("0301234567");
    EXPECT_TRUE(book.found.empty());
    ASSERT_TRUE(book.RunPosted());
    EXPECT_EQ(book.found, std::vector<std::string>{"Klammer <- " + dir.File("a-klammer.vcf")});
    EXPECT_EQ(book.Find("0307654321"), "Vorwahl <- " + dir.File("b-plus49.vcf"));
    EXPECT_EQ(book.Find("00431234"), "Wien <- " + dir.File("c-wien.VCF"));
    EXPECT_EQ(book.Find("01715550123"), "Dr. Jürgen Müller <- " + dir.File("d-alt.vcf"));
    EXPECT_EQ(book.Find("0302222222"), "Schrägstrich <- " + dir.File("g-trenner.vcf"));
    EXPECT_EQ(book.Find("01711234567"), "Bindestrich <- " + dir.File("g-trenner.vcf"));
    EXPECT_EQ(book.Find("0303333333"), "Null <- " + dir.File("g-trenner.vcf"));
    EXPECT_EQ(book.Find("0305555"), "");
    EXPECT_EQ(book.Find("0309999"), "");    // the agent's card inside another
    EXPECT_EQ(book.Find("030123456"), "");  // no prefix match
    // Photos and notes stay out: the index holds the numbers only.
    EXPECT_EQ(book.index.Numbers(), 7u);

    // One file instead of a folder; a default folder that is not there says nothing.
    book.index.SetAddressBook(dir.File("d-alt.vcf"));
    ASSERT_TRUE(book.RunPosted());
    EXPECT_EQ(book.Find("0301234567"), "Dr. Jürgen Müller <- " + dir.File("d-alt.vcf"));
    book.index.SetAddressBook(dir.File("fehlt"), false);
    ASSERT_TRUE(book.RunPosted());
    EXPECT_EQ(book.Find("0301234567"), "");
    EXPECT_EQ(book.ui.events, std::vector<std::string>{});
}

TEST(ContactIndex, FollowsTheFolderAndReportsItsLossOnce) {
    test::TempDir dir;
    const auto folder = dir.Path() / "kontakte";
    std::filesystem::create_directory(folder);
    test::WriteAll(folder / "a.vcf", Card("Anna", "0301"));
    test::WriteAll(folder / "b.vcf", Card("Berta", "0302"));
    Book book;
    book.index.SetAddressBook(folder.string());
    ASSERT_TRUE(book.RunPosted());
    ASSERT_EQ(book.Find("0301"), "Anna <- " + (folder / "a.vcf").string());

    // Added, rewritten by renaming over, removed: only these files are read again.
    test::WriteAll(folder / "c.vcf", Card("Clara", "0303"));
    test::WriteAll(folder / "b.tmp", Card("Bertha", "0304"));
    std::filesystem::rename(folder / "b.tmp", folder / "b.vcf");
    std::filesystem::remove(folder / "a.vcf");
    ASSERT_TRUE(book.Changed());
    EXPECT_EQ(book.Find("0303"), "Clara <- " + (folder / "c.vcf").string());
    EXPECT_EQ(book.Find("0304"), "Bertha <- " + (folder / "b.vcf").string());
    EXPECT_EQ(book.Find("0302"), "");
    EXPECT_EQ(book.Find("0301"), "");
    EXPECT_EQ(book.index.Numbers(), 2u);

    // The folder goes: one box, however many calls come; it comes back.
    std::filesystem::rename(folder, dir.Path() / "weg");
    ASSERT_TRUE(book.Changed());
    const std::string box = "box: Das Adressbuch \"" + folder.string() +
                            "\" kann nicht gelesen werden (nicht vorhanden). Es wird wieder "
                            "gelesen, sobald es sich ändert.";
    EXPECT_EQ(book.ui.events, std::vector<std::string>{box});
    EXPECT_EQ(book.Find("0303"), "");
    EXPECT_EQ(book.Find("0304"), "");
    EXPECT_EQ(book.time.PendingTimers(), 0u);  // nothing polls meanwhile
    // Back again: the next call's lookup reads it and waits for that.
    std::filesystem::rename(dir.Path() / "weg", folder);
    EXPECT_EQ(book.Find("0303"), "");
    ASSERT_TRUE(book.RunPosted());
    EXPECT_EQ(book.found, std::vector<std::string>{"Clara <- " + (folder / "c.vcf").string()});
    // The same path again is no new address book; no path drops the index.
    book.index.SetAddressBook(folder.string());
    EXPECT_TRUE(book.index.Ready());
    book.index.SetAddressBook("");
    EXPECT_EQ(book.index.Numbers(), 0u);
    EXPECT_EQ(book.ui.events.size(), 1u);
}

TEST(ContactIndex, WithoutItsThreadFindsNothingAndTriesAgain) {
    test::TempDir dir;
    test::WriteAll(dir.File("a.vcf"), Card("Anna", "0301"));
    int refused = 0;
    Book book([&](std::function<void()> fn) {
        if (refused++ == 0) throw std::system_error(EAGAIN, std::generic_category());
        return std::thread(std::move(fn));
    });
    book.index.SetAddressBook(dir.Path().string());
    EXPECT_NO_THROW(book.index.LookUp("0301"));  // starts it now
    ASSERT_TRUE(book.RunPosted());
    EXPECT_EQ(book.found, std::vector<std::string>{"Anna <- " + dir.File("a.vcf")});
}

}  // namespace
}  // namespace tolvar
