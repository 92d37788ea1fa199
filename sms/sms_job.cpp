#include "sms/sms_job.h"

#include <algorithm>

#include "core/charset.h"
#include "registry/registry.h"

namespace tolvar {

const char* const kSmsReceiverFormatWarning =
    "Das Eingabeformat für den Empfänger muß \"Telefonnummer + [ Text]\" sein.\r\r"
    "Beispiel:  017812345  Mutter";

std::string NoProviderLine(const std::string& receiverNumber) {
    return "Keinen Provider für Teilnehmer \"" + receiverNumber + "\" gefunden !";
}

std::string NoProviderMessage(const std::string& receiverNumber) {
    return NoProviderLine(receiverNumber) +
           "\r\rBitte tragen Sie den Provider für diesen Teilnehmer in die "
           "Registrierung ein:\r\\\\HKEY_CURRENT_USER\\\\Software\\Brenwick\\Tolvar\\SMS";
}

std::string ReceiverFormatLine(const std::string& receiverEntry) {
    return "Das Eingabeformat für den Empfänger \"" + receiverEntry +
           "\" muß \"Telefonnummer + [ Text]\" sein.";
}

std::optional<std::string> XlateTableProblem(const SmsJob& job) {
    if (!job.HasXlateTable)
        return "Keine Zeichentabelle \"XlateTable\" für Provider \"" + job.SMSProvider +
               "\" gefunden !";
    if (TranslateText(job.SMSText, job.XlateTable).empty())
        return "Die Zeichentabelle \"XlateTable\" des Providers \"" + job.SMSProvider +
               "\" lässt alle Zeichen der Nachricht weg !";
    return std::nullopt;
}

std::string XlateTableMessage(const SmsJob& job) {
    return XlateTableProblem(job).value_or("") +
           "\r\rBitte tragen Sie die Zeichentabelle für diesen Provider in die Registrierung "
           "ein:\r\\\\HKEY_CURRENT_USER\\\\Software\\Brenwick\\Tolvar\\SMS\\Provider\\" +
           job.SMSProvider;
}

std::string LookupSMSProvider(Registry& registry, SmsJob& job, const std::string& receiver) {
    job.SMSProvider.clear();
    job.HasXlateTable = false;
    std::string provider;
    {
        auto prefixes = registry.OpenKey(kSmsPrefixKey, true);
        std::string best;
        for (const auto& name : prefixes->GetValueNames())
            if (!name.empty() && name.size() > best.size() && receiver.starts_with(name))
                best = name;
        if (!best.empty()) provider = prefixes->ReadString(best);
        prefixes->Close();
    }
    if (provider.empty()) return "";
    // A backslash would make the name a path of several keys.
    if (provider.find('\\') != std::string::npos)
        throw RegistryError("Der Providername \"" + provider + "\" enthält \"\\\".");
    auto key = registry.OpenKey(std::string(kSmsProviderKey) + "\\" + provider, true);
    const std::string phone = key->ValueExists("Phone") ? key->ReadString("Phone") : "";
    const std::string protocol = key->ValueExists("Protocol") ? key->ReadString("Protocol") : "";
    job.SMSProtocol = protocol == "UCP" ? kProtocolUcp : kProtocolTap;
    job.SMSProvider = provider;
    job.HasXlateTable = key->ValueExists("XlateTable");
    if (job.HasXlateTable) {
        const auto table = key->ReadBinaryData("XlateTable");
        if (table.size() > job.XlateTable.size())
            throw RegistryError("\"XlateTable\" des Providers \"" + provider + "\" ist " +
                                std::to_string(table.size()) + " Bytes lang (höchstens 256).");
        std::copy(table.begin(), table.end(), job.XlateTable.begin());
    }
    key->Close();
    return phone;
}

void PrepareSMSJob(Registry& registry, SmsJob& job, const std::string& receiver,
                   const std::string& textUtf8) {
    RegistryBatch batch(registry);
    job.SMSText = Utf8ToCp1252(textUtf8);
    job.SMSReceiver = receiver;
    {
        auto sms = registry.OpenKey(kSmsKey, true);
        job.SMSOriginator = sms->ValueExists("MSN") ? sms->ReadString("MSN") : "";
        if (job.SMSOriginator.empty()) {
            job.SMSOriginator = "0";
            sms->WriteString("MSN", "0");
        }
        sms->Close();
    }
    job.SMSCenterPhone = LookupSMSProvider(registry, job, job.SMSReceiver);
    batch.Commit();
}

std::string TranslateText(const std::string& text, const XlateTableBytes& table) {
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (const std::uint8_t t = table[static_cast<std::uint8_t>(c)]; t != 0)
            out += static_cast<char>(t);
    return out;
}

std::string JoinLines(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += ' ';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (text[i] == '\n') {
            out += ' ';
        } else {
            out += text[i];
        }
    }
    return out;
}

namespace {

// The length of the UTF-8 sequence that starts with this byte (1 for a stray byte).
std::size_t SequenceLength(std::uint8_t lead) {
    if (lead >= 0xF0) return 4;
    if (lead >= 0xE0) return 3;
    if (lead >= 0xC0) return 2;
    return 1;
}

}  // namespace

std::vector<std::string> CharactersWithoutCp1252(const std::string& textUtf8) {
    std::vector<std::string> lacking;
    for (std::size_t i = 0; i < textUtf8.size();) {
        std::size_t n =
            std::min(SequenceLength(static_cast<std::uint8_t>(textUtf8[i])), textUtf8.size() - i);
        if (!IsValidUtf8(textUtf8.substr(i, n))) n = 1;  // a broken byte stands alone
        const std::string one = textUtf8.substr(i, n);
        i += n;
        // A character has a Windows-1252 byte when it comes back from it unchanged.
        const std::string byte = Utf8ToCp1252(one);
        if (byte.size() == 1 && Cp1252ToUtf8(byte) == one) continue;
        const std::string shown = IsValidUtf8(one) ? one : "?";
        if (std::find(lacking.begin(), lacking.end(), shown) == lacking.end())
            lacking.push_back(shown);
    }
    return lacking;
}

std::size_t CharacterCount(const std::string& textUtf8) {
    std::size_t count = 0;
    for (char c : textUtf8)
        if ((static_cast<std::uint8_t>(c) & 0xC0) != 0x80) ++count;
    return count;
}

}  // namespace tolvar
