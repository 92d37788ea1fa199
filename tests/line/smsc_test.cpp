#include "line/smsc.h"

#include <gtest/gtest.h>

namespace tolvar::line {
namespace {

Bytes Stx(const std::string& inner) {
    Bytes b{0x02};
    Bytes t = ToBytes(inner);
    b.insert(b.end(), t.begin(), t.end());
    b.push_back(0x03);
    return b;
}

struct Centre {
    std::vector<std::string> notes;
    std::vector<AcceptedSms> accepted;
    std::unique_ptr<SmscDialog> dialog;
    explicit Centre(SmscConfig c) {
        dialog = MakeSmscDialog(
            c, [this](const std::string& n) { notes.push_back(n); },
            [this](AcceptedSms a) { accepted.push_back(a); }, [] { return "090996101010"; });
    }
};

// The worked example of the program's own frame.
const Bytes kExampleFrame = Stx("01/00062/O/51/12345/0/////////////////3//616263/////////////73");

TEST(UcpFrame, PublishedAnswers) {
    EXPECT_EQ(UcpFrame("00/00000/R/51/A//012234:090996101010/"),
              Stx("00/00039/R/51/A//012234:090996101010/68"));
    EXPECT_EQ(UcpFrame("00/00000/R/51/N/31//"), Stx("00/00022/R/51/N/31//07"));
}

TEST(UcpCentre, AcceptsTheWorkedExampleFedByteByByte) {
    SmscConfig c;
    c.number = "0171";
    Centre centre(c);
    Bytes answer;
    for (std::uint8_t b : kExampleFrame) {
        Bytes r = centre.dialog->Receive({b});
        answer.insert(answer.end(), r.begin(), r.end());
    }
    EXPECT_EQ(answer, Stx("01/00038/R/51/A//12345:090996101010/3B"));
    ASSERT_EQ(centre.accepted.size(), 1u);
    EXPECT_EQ(centre.accepted[0].recipient, "12345");
    EXPECT_EQ(centre.accepted[0].originator, "0");
    EXPECT_EQ(centre.accepted[0].text, ToBytes("abc"));
}

TEST(UcpCentre, ChecksWhatItReceives) {
    auto valid = [](const std::string& body) { return UcpFrame(body); };
    const std::string fields16 = "////////////////";
    struct Case {
        const char* what;
        Bytes frame;
        std::string code;
    } cases[] = {
        {"checksum", Stx("01/00062/O/51/12345/0/////////////////3//616263/////////////74"), "01"},
        {"LEN", Stx("01/00061/O/51/12345/0/////////////////3//616263/////////////72"), "02"},
        {"field count", valid("01/00000/O/51/12345/0/" + fields16 + "3//616263////////////"), "02"},
        {"operation", valid("01/00000/O/52/12345/0/" + fields16 + "3//616263/////////////"), "03"},
        {"hex", valid("01/00000/O/51/12345/0/" + fields16 + "3//61626X/////////////"), "02"},
        {"message type", valid("01/00000/O/51/12345/0/" + fields16 + "/2//616263/////////////"),
         "02"},
        {"recipient", valid("01/00000/O/51/12a45/0/" + fields16 + "3//616263/////////////"), "02"},
        {"too long",
         valid("01/00000/O/51/12345/0/" + fields16 + "3//" + std::string(322, '4') +
               "/////////////"),
         "24"},
    };
    for (const auto& k : cases) {
        SmscConfig c;
        Centre centre(c);
        Bytes answer = centre.dialog->Receive(k.frame);
        EXPECT_EQ(answer, UcpFrame("01/00000/R/51/N/" + k.code + "//")) << k.what;
        EXPECT_TRUE(centre.accepted.empty()) << k.what;
        EXPECT_FALSE(centre.notes.empty()) << k.what;
    }
}

TEST(UcpCentre, OutcomesRejectAndSilence) {
    SmscConfig c;
    c.outcome = SmscOutcome::Reject;
    c.error_code = "31";
    Centre reject(c);
    EXPECT_EQ(reject.dialog->Receive(kExampleFrame), Stx("01/00022/R/51/N/31//08"));
    c.outcome = SmscOutcome::Silence;
    Centre silent(c);
    EXPECT_TRUE(silent.dialog->Receive(kExampleFrame).empty());
    EXPECT_TRUE(silent.accepted.empty());
    c.outcome = SmscOutcome::Accept;
    c.message = "Nachricht angenommen";
    Centre named(c);
    EXPECT_EQ(named.dialog->Receive(kExampleFrame),
              UcpFrame("01/00000/R/51/A//Nachricht angenommen/"));
}

TEST(TapChecksum, WorkedExampleAndHighNibbles) {
    EXPECT_EQ(TapChecksum(ToBytes("\x02"
                                  "12345\rabc\r\x03")),
              "244\r");
    EXPECT_EQ(TapChecksum(ToBytes("\x02"
                                  "1\rz\r\x03")),
              "0<:\r");  // 0x0CA
}

TEST(TapCentre, WholeDialogue) {
    SmscConfig c;
    c.protocol = SmscProtocol::Tap;
    c.number = "0193";
    Centre centre(c);
    auto& d = *centre.dialog;
    EXPECT_EQ(d.Receive(ToBytes("\r")), ToBytes("ID="));
    EXPECT_EQ(d.Receive(ToBytes("\r")), ToBytes("ID="));  // the next wake-up
    EXPECT_EQ(d.Receive(ToBytes("\x1bPG1\r")), ToBytes("\r\x06\r\x1b[p\r"));
    EXPECT_EQ(d.Receive(ToBytes("\x02"
                                "12345\rabc\r\x03"
                                "244\r")),
              ToBytes("\r\x06\r"));
    EXPECT_EQ(d.Receive(ToBytes("\x04\r")), ToBytes("\r\x1b\x04\r"));
    EXPECT_TRUE(d.finished());
    ASSERT_EQ(centre.accepted.size(), 1u);
    EXPECT_EQ(centre.accepted[0].recipient, "12345");
    EXPECT_EQ(centre.accepted[0].text, ToBytes("abc"));
}

TEST(TapCentre, RefusalsAndChecks) {
    struct Case {
        const char* what;
        SmscOutcome outcome;
        bool rs;
        std::string block;
        std::string answer;
        std::size_t accepted;
    } cases[] = {
        {"bad checksum", SmscOutcome::Accept, false,
         "\x02"
         "12345\rabc\r\x03"
         "245\r",
         "\r\x15\r", 0},
        {"three fields", SmscOutcome::Accept, false,
         "\x02"
         "1\r2\r3\r\x03",
         "\r\x15\r", 0},
        {"refused with RS", SmscOutcome::Reject, true,
         "\x02"
         "12345\rabc\r\x03"
         "244\r",
         "\r\x1e\r", 0},
        {"refused with NAK", SmscOutcome::Reject, false,
         "\x02"
         "12345\rabc\r\x03"
         "244\r",
         "\r\x15\r", 0},
        {"silent", SmscOutcome::Silence, false,
         "\x02"
         "12345\rabc\r\x03"
         "244\r",
         "", 0},
        {"text line", SmscOutcome::Accept, false,
         "\x02"
         "12345\rabc\r\x03"
         "244\r",
         "\r\x06\r", 1},
    };
    for (const auto& k : cases) {
        SmscConfig c;
        c.protocol = SmscProtocol::Tap;
        c.outcome = k.outcome;
        c.tap_reject_with_rs = k.rs;
        Centre centre(c);
        centre.dialog->Receive(ToBytes("\r\x1bPG1\r"));
        std::string block = k.block;
        if (std::string(k.what) == "three fields") block += TapChecksum(ToBytes(block));
        EXPECT_EQ(ToString(centre.dialog->Receive(ToBytes(block))), k.answer) << k.what;
        EXPECT_EQ(centre.accepted.size(), k.accepted) << k.what;
    }
    SmscConfig c;
    c.protocol = SmscProtocol::Tap;
    c.logon = SmscOutcome::Reject;
    Centre refused(c);
    refused.dialog->Receive(ToBytes("\r"));
    EXPECT_EQ(refused.dialog->Receive(ToBytes("\x1bPG1\r")), ToBytes("\r\x15\r\r\x1b\x04\r"));
    EXPECT_TRUE(refused.dialog->finished());
}

}  // namespace
}  // namespace tolvar::line
