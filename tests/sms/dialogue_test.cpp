// The UCP and TAP dialogues as transcripts: bytes from the centre in, the
// step's actions out, one 200 ms tick per line.

#include <gtest/gtest.h>

#include <numeric>

#include "sms/tap.h"
#include "sms/ucp.h"

namespace tolvar {
namespace {

// Control characters written by name, so a transcript reads like the wire.
const std::pair<char, const char*> kNames[] = {
    {'\x02', "<STX>"}, {'\x03', "<ETX>"}, {'\x04', "<EOT>"}, {'\x06', "<ACK>"},
    {'\r', "<CR>"},    {'\x15', "<NAK>"}, {'\x1B', "<ESC>"}, {'\x1E', "<RS>"}};

std::string Wire(const std::string& bytes) {
    std::string out;
    for (char c : bytes) {
        std::string shown(1, c);
        for (const auto& [ch, name] : kNames)
            if (ch == c) shown = name;
        out += shown;
    }
    return out;
}

// The reverse: "<CR>" and friends to their bytes.
std::string Bytes(std::string text) {
    for (const auto& [c, name] : kNames)
        for (std::size_t at; (at = text.find(name)) != std::string::npos;)
            text.replace(at, std::string(name).size(), 1, c);
    return text;
}

std::string Show(const DialogueAction& a) {
    switch (a.kind) {
        case DialogueAction::Kind::Send:
            return "send " + Wire(a.bytes);
        case DialogueAction::Kind::Trace:
            return "trace " + Wire(a.bytes);
        case DialogueAction::Kind::Result:
            return (a.success ? "ok " : "fail ") + a.bytes;
        case DialogueAction::Kind::EndB3:
            return "end";
    }
    return "";
}

std::string Show(const DialogueActions& actions) {
    std::string out;
    for (const auto& a : actions) out += (out.empty() ? "" : " | ") + Show(a);
    return out;
}

SmsJob Job(std::string receiver, std::string text, std::string originator = "0") {
    SmsJob job;
    job.SMSReceiver = std::move(receiver);
    job.SMSOriginator = std::move(originator);
    job.SMSText = std::move(text);
    std::iota(job.XlateTable.begin(), job.XlateTable.end(), 0);  // identity
    return job;
}

TEST(UcpFrame, WorkedExampleByteForByte) {
    EXPECT_EQ(BuildUcpFrame("12345", "0", "abc"),
              "\x02"
              "01/00062/O/51/12345/0/////////////////3//616263/////////////73\x03");
}

TEST(UcpFrame, TextsOfEveryLength) {
    // All left out: the message field is empty.
    SmsJob zero = Job("12345", "abc");
    zero.XlateTable.fill(0);
    DialogueFields d;
    const auto frame = UCPStep(zero)(d).at(0).bytes;
    EXPECT_EQ(frame.size(), 58u);
    EXPECT_EQ(frame.substr(frame.size() - 19, 16), "3//" + std::string(13, '/')) << Wire(frame);
    // 160 characters give 320 hexadecimal digits and a five-digit LEN.
    const std::string full = BuildUcpFrame("12345", "0", std::string(160, 'Z'));
    std::string hex;
    for (int i = 0; i < 160; ++i) hex += "5A";
    EXPECT_NE(full.find("3//" + hex + "/////////////"), std::string::npos);
    EXPECT_EQ(full.substr(4, 5), "00" + std::to_string(full.size() - 2));
    // Bytes above 0x7F are written as upper-case hexadecimal.
    EXPECT_NE(BuildUcpFrame("1", "0", "\xE4\x0A").find("//E40A/"), std::string::npos);
}

TEST(TapChecksum, WorkedExampleAndNibblesAboveNine) {
    std::string block =
        "\x02"
        "12345\rabc\r\x03";
    AppendTAPChecksum(block);
    EXPECT_EQ(block.substr(block.size() - 4), "244\r");
    // 0x7F + 0x7F + 0x2D = 0x12B: bits 11-8 give "1", 7-4 "2", 3-0 ";".
    std::string high = "\x7F\x7F\x2D";
    AppendTAPChecksum(high);
    EXPECT_EQ(high.substr(3), "12;\r");
    // Only the low 7 bits count: 0xFF adds 0x7F.
    std::string upper = "\xFF";
    AppendTAPChecksum(upper);
    EXPECT_EQ(upper.substr(1), "07?\r");
    EXPECT_EQ(Wire(BuildTapBlock("12345", "abc")), "<STX>12345<CR>abc<CR><ETX>244<CR>");
}

// One tick: what arrived since the last one, the tick count, the actions
// expected (joined by " | "), the state afterwards.
struct Tick {
    std::string in;
    std::string expect;
    int state = -1;  // -1: not checked
    std::uint32_t tick = 0;
};

struct Transcript {
    const char* name;
    std::vector<Tick> ticks;
    std::int32_t silence = 0;  // SilenceTime before the first tick
    int state = 0;             // ProtocolState before the first tick
};

template <typename Step>
void Play(const Transcript& t, Step step) {
    DialogueFields d;
    d.SilenceTime = t.silence;
    d.ProtocolState = t.state;
    int n = 0;
    for (const auto& tick : t.ticks) {
        SCOPED_TRACE(std::string(t.name) + ", tick " + std::to_string(++n));
        d.RxBuffer += Bytes(tick.in);
        d.SilenceTime += 200;
        EXPECT_EQ(Show(step(d, tick.tick)), tick.expect);
        if (tick.state >= 0) {
            EXPECT_EQ(d.ProtocolState, tick.state);
        }
    }
}

const std::string kExampleFrame =
    "send <STX>01/00062/O/51/12345/0/////////////////3//616263/////////////73<ETX>";

TEST(UcpDialogue, Transcripts) {
    const SmsJob job = Job("12345", "abc");
    const Transcript transcripts[] = {
        {"accepted, answer in pieces",
         {{"", kExampleFrame, 2},
          {"", "", 2},
          {"<STX>01/00039/R/51/A//01", "", 2},
          {"2345:071226113927/6F<ETX>",
           "trace 012345:071226113927 | ok Nachricht erfolgreich verschickt. | end", 2},
          {"", "", 2}}},
        {"refused: no system message, only the failure",
         {{"", kExampleFrame},
          {"<STX>01/00022/R/51/N/02//1B<ETX>", "fail Fehler beim Verschicken der Nachricht ! | end",
           2}}},
        {"refused with a system message",
         {{"", kExampleFrame},
          {"<STX>01/00030/R/51/N/31/gesperrt/AB<ETX>",
           "trace gesperrt | fail Fehler beim Verschicken der Nachricht ! | end"}}},
        {"an answer neither A nor N ends the link without a result",
         {{"", kExampleFrame}, {"<STX>01/00020/R/51/X///00<ETX>", "end", 2}}},
        // Fewer than 16 characters before the ETX: no answer character at all.
        {"a short frame is neither A nor N",
         {{"", kExampleFrame}, {"<STX>01/0/A<ETX>", "end"}, {"", ""}}},
        {"silence: given up after more than 50 s, then at every tick",
         {{"", "", 2},
          {"", "end | fail Gegenstelle reagiert nicht."},
          {"", "end | fail Gegenstelle reagiert nicht."}},
         49800,
         2},
        {"an answer resets the silence",
         {{"<STX>01/00039/R/51/A//x/00<ETX>",
           "trace x | ok Nachricht erfolgreich verschickt. | end"},
          {"", ""}},
         49800,
         2},
    };
    for (const auto& t : transcripts)
        Play(t, [&job](DialogueFields& d, std::uint32_t) { return UCPStep(job)(d); });
}

TEST(UcpDialogue, ConsumesTheAnswerThroughItsEtx) {
    const SmsJob job = Job("12345", "abc");
    DialogueFields d;
    d.ProtocolState = 2;
    d.RxBuffer = Bytes("<STX>01/00039/R/51/A//sm/00<ETX><STX>01");
    const auto actions = UCPStep(job)(d);
    EXPECT_EQ(Show(actions), "trace sm | ok Nachricht erfolgreich verschickt. | end");
    EXPECT_EQ(Wire(d.RxBuffer), "<STX>01");
    EXPECT_EQ(d.SilenceTime, 0);
}

TEST(Dialogues, EveryPrefixOfAnAnswerWaits) {
    const SmsJob job = Job("12345", "abc");
    const std::string ucp = Bytes("<STX>01/00039/R/51/A//sm/00<ETX>");
    for (std::size_t n = 0; n < ucp.size(); ++n) {
        DialogueFields d;
        d.ProtocolState = 2;
        d.RxBuffer = ucp.substr(0, n);
        EXPECT_EQ(Show(UCPStep(job)(d)), "") << n;
        EXPECT_EQ(d.RxBuffer, ucp.substr(0, n));
    }
    const std::pair<int, const char*> tap[] = {{2, "text<CR><CR><ACK><CR>"},
                                               {3, "<CR><ESC><EOT><CR>"}};
    for (const auto& [state, answer] : tap) {
        const std::string full = Bytes(answer);
        for (std::size_t n = 0; n < full.size(); ++n) {
            DialogueFields d;
            d.ProtocolState = state;
            d.RxBuffer = full.substr(0, n);
            EXPECT_EQ(Show(TAPStep(job)(d, 0)), "") << answer << " " << n;
        }
    }
}

TEST(TapDialogue, Transcripts) {
    const SmsJob job = Job("12345", "abc");
    const std::string block = "send <STX>12345<CR>abc<CR><ETX>244<CR>";
    const std::string logon = "send <ESC>PG1<CR>";
    const std::string sent = "ok Nachricht erfolgreich verschickt.";
    const std::string failed = "fail Fehler beim Verschicken der Nachricht !";
    const Transcript transcripts[] = {
        {"whole session with the centre's text lines",
         {{"", "send <CR>", 0, 1000},
          {"ID=", logon, 1, 1200},
          {"Willkommen<CR><CR><ACK><CR><ESC>[p<CR>", "trace Willkommen | " + block, 2, 1400},
          {"OK<CR><CR><ACK><CR>", "trace OK | " + sent + " | send <EOT><CR>", 3, 1600},
          {"Tschuess<CR><CR><ESC><EOT><CR>", "trace Tschuess | end", 3, 1800},
          {"", "", 3, 2000}}},
        {"a prompt within the first second: exactly one CR before the logon",
         {{"", "send <CR>", 0, 5000}, {"", "", 0, 5200}, {"ID=", logon, 1, 5400}}},
        {"wake-up CR once a second, strictly after it",
         {{"", "send <CR>", 0, 100},
          {"", "", 0, 300},
          {"", "", 0, 900},
          {"", "", 0, 1100},  // equal to the next CR's tick: not yet
          {"", "send <CR>", 0, 1300},
          {"", "", 0, 2300},
          {"", "send <CR>", 0, 2500}}},
        {"wake-up CR across the tick count's wrap",
         {{"", "send <CR>", 0, 0xFFFFFE00u},
          {"", "", 0, 0xFFFFFFC8u},
          {"", "", 0, 0x00000190u},
          {"", "", 0, 0x000001E8u},
          {"", "send <CR>", 0, 0x000002B0u}}},
        {"logon answer and go-ahead in one piece: the block goes at once",
         {{"<CR><ACK><CR><ESC>[p<CR>", block, 2}},
         0,
         1},
        {"logon refused: the link ends, no result",
         {{"<CR><NAK><CR>", "end", 1}, {"", "", 1}},
         0,
         1},
        {"logon refused with RS, go-ahead anyway: the block still goes",
         {{"<CR><RS><CR><ESC>[p<CR>", "end | " + block, 2}},
         0,
         1},
        {"block refused with NAK, then the normal logoff",
         {{"<CR><NAK><CR>", failed + " | send <EOT><CR>", 3}, {"<CR><ESC><EOT><CR>", "end"}},
         0,
         2},
        {"block refused with RS", {{"<CR><RS><CR>", failed + " | send <EOT><CR>", 3}}, 0, 2},
        {"ACK is looked for first, wherever it stands",
         {{"<CR><RS><CR><CR><ACK><CR>", "trace <CR><RS> | " + sent + " | send <EOT><CR>", 3}},
         0,
         2},
        {"an answer with nothing before it adds no line",
         {{"<CR><ACK><CR>", sent + " | send <EOT><CR>", 3}},
         0,
         2},
        {"an answer in pieces waits for its closing CR",
         {{"<CR>", "", 2}, {"<ACK>", "", 2}, {"<CR>", sent + " | send <EOT><CR>", 3}},
         0,
         2},
        {"no goodbye: the silence ends the link after the result",
         {{"", "", 3}, {"", "end | fail Gegenstelle reagiert nicht."}},
         49800,
         3},
        {"the wake-up CRs are no progress",
         {{"", "end | fail Gegenstelle reagiert nicht. | send <CR>", 0, 1000},
          {"", "end | fail Gegenstelle reagiert nicht.", 0, 1200}},
         50000},
    };
    for (const auto& t : transcripts)
        Play(t, [&job](DialogueFields& d, std::uint32_t tick) { return TAPStep(job)(d, tick); });
}

TEST(TapDialogue, TranslatesTheTextAndLeavesOutZeroEntries) {
    SmsJob job = Job("017812345",
                     "a\xE4"
                     "b");
    job.XlateTable['a'] = 'A';
    job.XlateTable[0xE4] = 0x7B;  // a centre's own code for the umlaut
    job.XlateTable['b'] = 0;      // left out
    DialogueFields d;
    d.ProtocolState = 1;
    d.RxBuffer = Bytes("<ESC>[p<CR>");
    const auto actions = TAPStep(job)(d, 0);
    ASSERT_EQ(actions.size(), 1u);
    std::string expected =
        "\x02"
        "017812345\rA{\r\x03";
    AppendTAPChecksum(expected);
    EXPECT_EQ(Wire(actions[0].bytes), Wire(expected));
}

}  // namespace
}  // namespace tolvar
