// An independent decoder reads the program's UCP frame: Wireshark's UCP
// dissector (tshark) gets the frame as TCP payload in a capture file and must
// find operation 51 with the recipient, originator and message the job holds.
// Runs where tshark is installed.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>

#include "sms/ucp.h"
#include "support/files.h"

namespace tolvar {
namespace {

void Put16(std::string& out, unsigned v, bool bigEndian) {
    const char b[2] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
    out += bigEndian ? std::string{b[1], b[0]} : std::string{b[0], b[1]};
}
void Put32(std::string& out, unsigned long v) {  // little-endian, for the file's own headers
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A capture file with one Ethernet frame carrying payload from TCP port 40000 to 5001.
std::string Capture(const std::string& payload) {
    std::string ip;
    ip += "\x45";
    ip += '\0';
    Put16(ip, static_cast<unsigned>(20 + 20 + payload.size()), true);
    ip += std::string("\x00\x01\x40\x00\x40\x06\x00\x00", 8);  // id, DF, TTL 64, TCP, checksum
    ip += std::string("\x7F\x00\x00\x01\x7F\x00\x00\x01", 8);  // 127.0.0.1 both ways
    std::string tcp;
    Put16(tcp, 40000, true);
    Put16(tcp, 5001, true);
    tcp += std::string("\x00\x00\x00\x01\x00\x00\x00\x01", 8);  // sequence and ack numbers
    tcp += std::string("\x50\x18\xFF\xFF\x00\x00\x00\x00", 8);  // header 20, PSH ACK, window
    const std::string frame =
        std::string(12, '\0') + "\x08" + std::string(1, '\0') + ip + tcp + payload;
    std::string file;
    Put32(file, 0xA1B2C3D4);
    Put16(file, 2, false);
    Put16(file, 4, false);
    Put32(file, 0);
    Put32(file, 0);
    Put32(file, 65535);
    Put32(file, 1);  // Ethernet
    Put32(file, 1);  // seconds
    Put32(file, 0);
    Put32(file, frame.size());
    Put32(file, frame.size());
    return file + frame;
}

std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[512];
        while (std::fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

TEST(UcpDecoder, TsharkReadsOperation51AsSent) {
    if (Shell("command -v tshark").empty()) GTEST_SKIP() << "tshark is not installed";
    SmsJob job;
    job.SMSReceiver = "0171234567";
    job.SMSOriginator = "5551234";
    job.SMSText = "Hallo Welt, 1+1=2!";
    std::iota(job.XlateTable.begin(), job.XlateTable.end(), 0);
    DialogueFields d;
    const std::string frame = UCPStep(job)(d).at(0).bytes;

    test::TempDir dir;
    const std::string path = dir.File("ucp.pcap");
    std::ofstream(path, std::ios::binary) << Capture(frame);
    const std::string fields =
        Shell("tshark -r " + path +
              " -d tcp.port==5001,ucp -T fields -E separator='|' -e ucp.hdr.TRN -e ucp.hdr.LEN"
              " -e ucp.hdr.O_R -e ucp.hdr.OT -e ucp.parm.AdC -e ucp.parm.OAdC -e ucp.parm.MT"
              " -e ucp.parm.AMsg 2>/dev/null");
    EXPECT_EQ(fields, "1|" + std::to_string(frame.size() - 2) +
                          "|'O'|51|0171234567|5551234|'3'|Hallo Welt, 1+1=2!\n")
        << Shell("tshark -r " + path + " -d tcp.port==5001,ucp -V -O ucp 2>/dev/null");
}

}  // namespace
}  // namespace tolvar
