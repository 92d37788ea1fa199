// The SMS job: the provider found by the receiver's prefix, the originator
// written back, the text as the centre gets it, and the page's messages.

#include <gtest/gtest.h>

#include "registry/registry.h"
#include "sms/sms_job.h"
#include "support/files.h"

namespace tolvar {
namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n\n";

// Prefixes 01 -> "Alle", 0178 -> "Netz" (UCP, a three-byte table), 0160 -> "Leer" (no key).
constexpr const char* kProviders =
    "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Prefix]\n"
    "\"01\"=\"Alle\"\n\"0178\"=\"Netz\"\n\"0160\"=\"Leer\"\n\"\"=\"Nie\"\n\n"
    "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Provider\\Alle]\n"
    "\"Phone\"=\"0190111\"\n\"Protocol\"=\"ucp\"\n\n"
    "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Provider\\Netz]\n"
    "\"Phone\"=\"01712521002\"\n\"Protocol\"=\"UCP\"\n\"XlateTable\"=hex:07,08,09\n\n";

class ProviderLookup : public ::testing::Test {
  protected:
    void Write(const std::string& keys) { test::WriteAll(path, kHeader + keys); }

    test::TempDir dir;
    std::string path = dir.File("registry.reg");
    Registry registry{path};
    SmsJob job;
};

TEST_F(ProviderLookup, LongestMatchingPrefixWins) {
    Write(kProviders);
    struct Case {
        const char* receiver;
        const char* phone;
        std::int32_t protocol;
    };
    const Case cases[] = {
        {"017812345", "01712521002", kProtocolUcp},  // 0178 beats 01
        {"0178", "01712521002", kProtocolUcp},       // a prefix equal to the whole number
        {"016312345", "0190111", kProtocolTap},      // only 01; "ucp" in lower case is TAP
        {"016012345", "", kProtocolTap},             // provider without a key: no number
        {"0012345", "", kProtocolTap},               // no prefix; the empty name never matches
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.receiver);
        job.SMSProtocol = -1;
        EXPECT_EQ(LookupSMSProvider(registry, job, c.receiver), c.phone);
        if (*c.phone) {
            EXPECT_EQ(job.SMSProtocol, c.protocol);
        }
    }
}

TEST_F(ProviderLookup, TableReplacesOnlyItsOwnEntriesAndStaysWithoutOne) {
    Write(kProviders);
    EXPECT_EQ(job.XlateTable, XlateTableBytes{});  // all zero at start
    job.XlateTable.fill(0x55);
    LookupSMSProvider(registry, job, "017800");
    EXPECT_EQ(job.XlateTable[0], 7);
    EXPECT_EQ(job.XlateTable[2], 9);
    EXPECT_EQ(job.XlateTable[3], 0x55);
    // "Alle" has no table: the last one stays.
    LookupSMSProvider(registry, job, "0163");
    EXPECT_EQ(job.XlateTable[1], 8);
}

TEST_F(ProviderLookup, ValuesOfTheWrongKindStopTheLookup) {
    const std::string provider =
        "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Prefix]\n"
        "\"0\"=\"P\"\n\n"
        "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Provider\\P]\n";
    std::string table257 = "\"XlateTable\"=hex:00";
    for (int i = 0; i < 256; ++i) table257 += ",01";
    for (const std::string& values :
         {std::string("\"Phone\"=dword:00000001\n"), std::string("\"Protocol\"=hex:55\n"),
          std::string("\"XlateTable\"=\"text\"\n"), table257 + "\n"}) {
        SCOPED_TRACE(values.substr(0, 30));
        Write(provider + values + "\n");
        EXPECT_THROW(LookupSMSProvider(registry, job, "0123"), RegistryError);
    }
    // A provider name that would be a path of keys.
    Write("[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Prefix]\n\"0\"=\"a\\\\b\"\n\n");
    EXPECT_THROW(LookupSMSProvider(registry, job, "0123"), RegistryError);
}

TEST_F(ProviderLookup, PrepareWritesTheOriginatorBackOnce) {
    Write(kProviders);
    PrepareSMSJob(registry, job, "017812345", "Grüße \xE2\x82\xAC \xC5\x81");
    EXPECT_EQ(job.SMSReceiver, "017812345");
    EXPECT_EQ(job.SMSOriginator, "0");
    EXPECT_EQ(job.SMSCenterPhone, "01712521002");
    // Windows-1252: the umlaut, sharp s and euro sign have bytes; "Ł" has none.
    EXPECT_EQ(job.SMSText,
              "Gr\xFC\xDF"
              "e \x80 ?");
    EXPECT_NE(test::ReadAll(path).find("[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS]\n"
                                       "\"MSN\"=\"0\""),
              std::string::npos);
    // An own number that is there is used as it is.
    Write(std::string(kProviders) +
          "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS]\n\"MSN\"=\"5551234\"\n\n");
    PrepareSMSJob(registry, job, "0001", "x");
    EXPECT_EQ(job.SMSOriginator, "5551234");
    EXPECT_EQ(job.SMSCenterPhone, "");
}

TEST(SmsText, LinesCharactersAndTranslation) {
    EXPECT_EQ(JoinLines("a\r\nb\nc\rd\r\n\r\ne"), "a b c d  e");
    const std::vector<std::string> none;
    EXPECT_EQ(CharactersWithoutCp1252("Grüße € ‚Ÿ?"), none);
    EXPECT_EQ(CharactersWithoutCp1252("Łódź ω Ł"), (std::vector<std::string>{"Ł", "ź", "ω"}));
    EXPECT_EQ(CharactersWithoutCp1252("a\xFF"
                                      "b"),
              (std::vector<std::string>{"?"}));
    EXPECT_EQ(CharacterCount("Grüße"), 5u);
    XlateTableBytes table{};
    table['a'] = 'A';
    table[0xE4] = 0x7B;
    EXPECT_EQ(TranslateText("abc\xE4", table), "A{");
}

TEST(SmsText, MessageBoxesCharacterForCharacter) {
    EXPECT_STREQ(kSmsReceiverFormatWarning,
                 "Das Eingabeformat für den Empfänger muß \"Telefonnummer + [ Text]\" sein."
                 "\r\rBeispiel:  017812345  Mutter");
    EXPECT_EQ(NoProviderMessage("0171"),
              "Keinen Provider für Teilnehmer \"0171\" gefunden !\r\rBitte tragen Sie den "
              "Provider für diesen Teilnehmer in die Registrierung ein:\r"
              R"(\\HKEY_CURRENT_USER\\Software\Brenwick\Tolvar\SMS)");
}

}  // namespace
}  // namespace tolvar
