// Calls from the simulated exchange through the real program to a real
// mosquitto broker, read back by mosquitto_sub: the events and their fields,
// the retained topics, the will, a broker restart, refused links.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <regex>

#include "support/broker.h"
#include "support/files.h"
#include "support/line_fixture.h"

#include "tests/support/hive_header.h"

namespace tolvar {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string Entry(const std::string& caller, int action) {
    return "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\" + caller +
           "\\00:00]\n\"Action\"=dword:0000000" + std::to_string(action) + "\n\"Param\"=\"\"\n\n";
}

std::string MqttKey(int port, const std::string& more) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(port));
    return "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MQTT]\n\"Enabled\"=dword:00000001\n"
           "\"Host\"=\"127.0.0.1\"\n\"Port\"=dword:" +
           std::string(hex) + "\n" + more + "\n";
}

const std::string kRules = Entry("0302222 Nachbar", 0) + Entry("0303333 Abheber", 5) +
                           Entry("Unbekannt/Analog", 0) + Entry("Sonstige", 0);
// Texts sent through the line go to a UCP centre for 0171, with the identity table.
constexpr const char* kCentre = "01712521002";
std::string SmsProvider() {
    const std::string table = test::IdentityXlateTable();
    return "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS]\n\"MSN\"=\"5551234\"\n\n"
           "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Prefix]\n\"0171\"=\"Netz\"\n\n"
           "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Provider\\Netz]\n"
           "\"Phone\"=\"" +
           std::string(kCentre) + "\"\n\"Protocol\"=\"UCP\"\n" + table + "\n\n";
}
// The fields every event carries, the time as an ISO time with its offset.
const std::string kTime =
    R"("time": "20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-5][0-9][+-][0-9]{2}:[0-9]{2}")";

class MqttE2E : public ::testing::Test {
  protected:
    std::unique_ptr<test::Process> StartTolvar(const std::string& name, const std::string& mqtt) {
        return line.StartTolvar(name, kRules + mqtt);
    }
    // The next line of p matching re, waiting up to timeout.
    static std::optional<std::string> Next(test::Process& p, const std::string& re,
                                           std::chrono::milliseconds timeout = 10s) {
        const std::regex pattern(re);
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (true) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            auto l = p.ReadLine(left);
            if (!l) return std::nullopt;
            if (std::regex_match(*l, pattern)) return l;
        }
    }
    std::string Call(const std::vector<std::string>& args) {
        std::vector<std::string> command = {"call"};
        command.insert(command.end(), args.begin(), args.end());
        const auto reply = line.Ctl(command);
        EXPECT_FALSE(reply.empty());
        return reply.empty() || reply.back().rfind("ok call ", 0) != 0 ? "0"
                                                                       : reply.back().substr(8);
    }
    static std::string Event(const std::string& event, int id, const std::string& caller,
                             const std::string& name, const std::string& action) {
        return "tolvar/call \\{\"event\": \"" + event + "\", \"id\": " + std::to_string(id) + ", " +
               kTime + ", \"caller\": \"" + caller +
               "\", \"called\": \"5551234\", \"service\": \"\", \"name\": \"" + name +
               "\", \"action\": \"" + action + "\"";
    }

    test::LineFixture line;
};

TEST_F(MqttE2E, CallsReachEverySubscriberWithLastCallDiscoveryAndWill) {
    test::Broker broker(line.Dir() / "broker");
    // A caller the rules do not name has a card in the address book.
    const fs::path book = line.Dir() / "kontakte";
    fs::create_directories(book);
    test::WriteAll(book / "erika.vcf",
                   "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Erika Muster\r\n"
                   "TEL;TYPE=home:030 4445566\r\nEND:VCARD\r\n");
    ASSERT_EQ(line.Ctl({"smsc", kCentre, "ucp"}).at(0), "ok");
    auto tolvar = StartTolvar(
        "a", MqttKey(broker.Port(), "") + SmsProvider() +
                 "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\Agent]\n\"ContactsPath\"=\"" +
                 book.string() + "\"\n\n");
    ASSERT_TRUE(tolvar->WaitFor("mqtt: up 127.0.0.1:" + std::to_string(broker.Port()), 10s));
    auto sub = test::Subscribe(broker.Port(), {"-t", "tolvar/#", "-t", "homeassistant/#"});
    // What a subscriber finds on arrival, in the broker's order: the program
    // online, the CAPI up, three configs.
    std::vector<std::string> configs, states;
    for (int i = 0; i < 5; ++i) {
        auto l = sub->ReadLine(5s);
        ASSERT_TRUE(l);
        (l->rfind("homeassistant/", 0) == 0 ? configs : states)
            .push_back(l->substr(0, l->find(' ')) +
                       (l->rfind("tolvar/", 0) == 0 ? l->substr(l->find(' ')) : ""));
    }
    std::sort(configs.begin(), configs.end());
    std::sort(states.begin(), states.end());
    EXPECT_EQ(states, (std::vector<std::string>{"tolvar/capi up", "tolvar/status online"}));
    ASSERT_EQ(configs.size(), 3u);
    EXPECT_TRUE(std::regex_match(
        configs[0], std::regex("homeassistant/binary_sensor/tolvar_[0-9a-f]{8}/capi/config")));
    EXPECT_TRUE(std::regex_match(
        configs[1], std::regex("homeassistant/binary_sensor/tolvar_[0-9a-f]{8}/ringing/config")));
    EXPECT_TRUE(std::regex_match(
        configs[2], std::regex("homeassistant/sensor/tolvar_[0-9a-f]{8}/last_caller/config")));

    // A missed call: nobody answers, the caller gives up.
    std::string n = Call({"0302222", "5551234"});
    ASSERT_TRUE(Next(*sub, Event("ring", 1, "0302222", "Nachbar", "Aus") + "\\}"));
    line.Ctl({"hangup", n});
    ASSERT_TRUE(Next(*sub, Event("end", 1, "0302222", "Nachbar", "Aus") +
                               ", \"missed\": true, \"duration\": 0, \"line\": \"[0-9:]{8}   "
                               "0302222 -> 5551234  Nachbar\"\\}"));
    // Picked up here: connected, and the end tells how long it lasted.
    Call({"0303333", "5551234", "talk=1s"});
    ASSERT_TRUE(Next(*sub, Event("ring", 2, "0303333", "Abheber", "") + "\\}"));
    ASSERT_TRUE(Next(*sub, Event("connected", 2, "0303333", "Abheber", "") + "\\}"));
    ASSERT_TRUE(Next(*sub, Event("end", 2, "0303333", "Abheber", "") +
                               ", \"missed\": false, \"duration\": [12], \"line\": \"[0-9:]{8}   "
                               "0303333 -> 5551234  Abheber  abgehoben 00:00:0[12]\"\\}"));
    // Answered by another telephone, from a caller who withholds the number.
    n = Call({"0309999", "5551234", "pres=restricted"});
    ASSERT_TRUE(Next(*sub, Event("ring", 3, "", "", "Aus") + "\\}"));
    line.Ctl({"answer", n});
    ASSERT_TRUE(Next(*sub, Event("connected", 3, "", "", "Aus") + "\\}"));
    const auto last = Next(*sub, Event("end", 3, "", "", "Aus") +
                                     ", \"missed\": false, \"duration\": 0, \"line\": \"[0-9:]{8}  "
                                     " Unbekannt/Analog -> 5551234  verbunden.\"\\}");
    ASSERT_TRUE(last);
    ASSERT_TRUE(Next(*sub, "tolvar/last_call .*"));

    // The last call stays for those who subscribe later.
    auto later =
        test::Subscribe(broker.Port(), {"-t", "tolvar/last_call", "--retained-only", "-W", "2"});
    const auto retained = later->ReadLine(3s);
    ASSERT_TRUE(retained);
    EXPECT_EQ(retained->substr(retained->find(' ')), last->substr(last->find(' ')));

    // The contact's name where the rule gives none, from the ring on.
    n = Call({"0304445566", "5551234"});
    ASSERT_TRUE(Next(*sub, Event("ring", 4, "0304445566", "Erika Muster", "Aus") + "\\}"));
    line.Ctl({"hangup", n});
    ASSERT_TRUE(Next(
        *sub, Event("end", 4, "0304445566", "Erika Muster", "Aus") + ", \"missed\": true, .*\\}"));

    // Each send's outcome, never the message: an SMS the centre accepts, one
    // it is too busy to take, a D-Mail the far end refuses.
    tolvar->Send("sms-to 0171234567 Anna");
    tolvar->Send("sms-text Geheimnis eins");
    tolvar->Send("sms-send");
    ASSERT_TRUE(Next(*sub, R"(tolvar/sms \{"to": "0171234567", "ok": true, )"
                           R"("text": "Nachricht erfolgreich verschickt."\})"));
    line.Ctl({"smsc", kCentre, "ucp", "busy=yes"});
    tolvar->Send("sms-send");
    ASSERT_TRUE(Next(*sub, R"(tolvar/sms \{"to": "0171234567", "ok": false, )"
                           R"("text": "SMS Center besetzt."\})"));
    line.Ctl({"phone", "0409990000", "busy"});
    tolvar->Send("dmail-to 0409990000 Büro");
    tolvar->Send("dmail-text Geheimnis zwei");
    tolvar->Send("dmail-send");
    ASSERT_TRUE(Next(*sub, R"(tolvar/dmail \{"to": "0409990000", "ok": false, )"
                           R"("text": "Teilnehmer besetzt."\})"));
    for (const auto& l : sub->Lines()) EXPECT_EQ(l.find("Geheimnis"), std::string::npos) << l;

    // A crash: the broker's will says so.
    tolvar->Signal(SIGKILL);
    tolvar->Wait(5s);
    EXPECT_TRUE(Next(*sub, "tolvar/status offline", 5s));
}

TEST_F(MqttE2E, ABrokerRestartLosesNoCallAndDiscoveryOffPublishesNoConfig) {
    test::Broker broker(line.Dir() / "broker");
    auto tolvar = StartTolvar(
        "a", MqttKey(broker.Port(), "\"Discovery\"=dword:00000000\n\"Topic\"=\"haus/tolvar\"\n"));
    ASSERT_TRUE(tolvar->WaitFor("mqtt: up", 10s));
    // A session that outlives the restart, so that nothing sent meanwhile passes it by.
    auto sub = test::Subscribe(broker.Port(), {"-c", "-i", "mqtt-e2e", "-t", "haus/#"});
    std::vector<std::string> states = {*sub->ReadLine(5s), *sub->ReadLine(5s)};
    std::sort(states.begin(), states.end());
    EXPECT_EQ(states,
              (std::vector<std::string>{"haus/tolvar/capi up", "haus/tolvar/status online"}));
    auto peek =
        test::Subscribe(broker.Port(), {"-t", "homeassistant/#", "--retained-only", "-W", "1"});
    EXPECT_EQ(peek->ReadLine(2s), std::nullopt);

    broker.Stop();
    ASSERT_TRUE(tolvar->WaitFor("mqtt: down", 10s));
    for (int i = 0; i < 3; ++i) {
        const std::string n = Call({"030222" + std::to_string(i), "5551234"});
        line.Ctl({"wait", "call " + n + ": alerting", "timeout=5s"});
        line.Ctl({"hangup", n});
    }
    broker.Start();
    ASSERT_TRUE(tolvar->WaitFor("mqtt: up", 15s));
    for (int i = 0; i < 3; ++i) {
        const std::string caller = "030222" + std::to_string(i);
        const std::string fields = "\"id\": " + std::to_string(i + 1) + ", " + kTime +
                                   ", \"caller\": \"" + caller + "\".*";
        ASSERT_TRUE(Next(*sub, "haus/tolvar/call \\{\"event\": \"ring\", " + fields, 15s)) << i;
        ASSERT_TRUE(Next(*sub, "haus/tolvar/call \\{\"event\": \"end\", " + fields)) << i;
    }
    // Then the retained topics afresh.
    EXPECT_TRUE(Next(*sub, "haus/tolvar/status online"));
    tolvar->Send("quit");
    EXPECT_EQ(tolvar->Wait(5s), 0);
    EXPECT_TRUE(Next(*sub, "haus/tolvar/status offline", 5s));
}

TEST_F(MqttE2E, AWrongPasswordOrCaIsReportedAndCallsGoOn) {
    const fs::path dir = line.Dir() / "broker";
    fs::create_directories(dir);
    auto run = [](std::vector<std::string> argv) { return test::Run(argv); };
    // A CA and the broker's certificate, and another CA that did not sign it.
    ASSERT_EQ(run({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                   "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", (dir / "ca.key").string(),
                   "-out", (dir / "ca.crt").string(), "-days", "2", "-subj", "/CN=Test CA"}),
              0);
    ASSERT_EQ(
        run({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
             "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", (dir / "other.key").string(),
             "-out", (dir / "other.crt").string(), "-days", "2", "-subj", "/CN=Other CA"}),
        0);
    ASSERT_EQ(run({"/usr/bin/openssl",
                   "req",
                   "-x509",
                   "-newkey",
                   "ec",
                   "-pkeyopt",
                   "ec_paramgen_curve:prime256v1",
                   "-nodes",
                   "-keyout",
                   (dir / "server.key").string(),
                   "-out",
                   (dir / "server.crt").string(),
                   "-days",
                   "2",
                   "-subj",
                   "/CN=127.0.0.1",
                   "-addext",
                   "subjectAltName=IP:127.0.0.1",
                   "-CA",
                   (dir / "ca.crt").string(),
                   "-CAkey",
                   (dir / "ca.key").string()}),
              0);
    ASSERT_EQ(run({"/usr/bin/mosquitto_passwd", "-c", "-b", (dir / "passwd").string(), "anna",
                   "richtig"}),
              0);
    const int plain = test::FreeLoopbackPort();
    const int tls = test::FreeLoopbackPort();
    test::Broker broker(dir,
                        "per_listener_settings false\nallow_anonymous false\npassword_file " +
                            (dir / "passwd").string() + "\nlistener " + std::to_string(plain) +
                            " 127.0.0.1\nlistener " + std::to_string(tls) + " 127.0.0.1\ncafile " +
                            (dir / "ca.crt").string() + "\ncertfile " +
                            (dir / "server.crt").string() + "\nkeyfile " +
                            (dir / "server.key").string() + "\n",
                        plain);

    struct Case {
        int port;
        std::string more, down;
    } cases[] = {
        {plain, "\"User\"=\"anna\"\n\"Password\"=\"geheim-falsch\"\n",
         "mqtt: down Anmeldung abgelehnt: Connection Refused: not authorised."},
        {tls,
         "\"User\"=\"anna\"\n\"Password\"=\"richtig\"\n\"TLS\"=dword:00000001\n\"CAFile\"=\"" +
             (dir / "other.crt").string() + "\"\n",
         "mqtt: down TLS: certificate verify failed"},
        {tls,
         "\"User\"=\"anna\"\n\"Password\"=\"richtig\"\n\"TLS\"=dword:00000001\n\"CAFile\"=\"" +
             (dir / "ca.crt").string() + "\"\n",
         ""},
    };
    std::string name = "a";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.down);
        name[0]++;
        auto tolvar = StartTolvar(name, MqttKey(c.port, c.more));
        if (c.down.empty()) {
            EXPECT_TRUE(tolvar->WaitFor("mqtt: up 127.0.0.1:" + std::to_string(c.port), 10s));
        } else {
            const auto l = tolvar->WaitFor("mqtt: ", 10s);
            ASSERT_TRUE(l);
            EXPECT_EQ(*l, c.down);
        }
        // Calls go on as ever.
        const std::string n = Call({"0302222", "5551234"});
        EXPECT_TRUE(tolvar->WaitFor("protokoll 2: ", 10s));
        line.Ctl({"hangup", n});
        tolvar->Send("quit");
        EXPECT_EQ(tolvar->Wait(5s), 0);
        // The password is nobody's business: not printed, the file private.
        std::vector<std::string> output = tolvar->Lines();
        output.push_back(test::ReadAll(line.Dir() / name / "stderr.txt"));
        for (const auto& l : output) {
            EXPECT_EQ(l.find("falsch"), std::string::npos) << l;
            EXPECT_EQ(l.find("richtig"), std::string::npos) << l;
        }
        struct stat st {};
        ASSERT_EQ(stat((line.Dir() / name / "registry.reg").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 077, 0u);
    }
}

}  // namespace
}  // namespace tolvar
