#include "line/smsc.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace tolvar::line {
namespace {

constexpr std::uint8_t kStx = 0x02, kEtx = 0x03, kEot = 0x04, kAck = 0x06, kCr = 0x0D, kNak = 0x15,
                       kEsc = 0x1B, kRs = 0x1E;

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> out(1);
    for (char c : s) {
        if (c == sep)
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string TwoHex(unsigned v) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", v & 0xFFu);
    return buf;
}

// Operation 51 has 37 fields from TRN to RES5.
constexpr std::size_t kUcp51Fields = 37;
constexpr std::size_t kMaxSmsLength = 160;

class UcpCentre : public SmscDialog {
  public:
    UcpCentre(SmscConfig c, Note n, std::function<void(AcceptedSms)> a,
              std::function<std::string()> ts)
        : config_(std::move(c)),
          note_(std::move(n)),
          accepted_(std::move(a)),
          timestamp_(std::move(ts)) {}

    Bytes Receive(const Bytes& data) override {
        buf_.insert(buf_.end(), data.begin(), data.end());
        Bytes answer;
        for (;;) {
            std::size_t stx = 0;
            while (stx < buf_.size() && buf_[stx] != kStx) ++stx;
            if (stx > 0) {
                note_("ucp: ignored " + std::to_string(stx) + " bytes outside a frame: " +
                      Escape(Bytes(buf_.begin(), buf_.begin() + static_cast<long>(stx))));
                buf_.erase(buf_.begin(), buf_.begin() + static_cast<long>(stx));
            }
            std::size_t etx = 1;
            while (etx < buf_.size() && buf_[etx] != kEtx) ++etx;
            if (buf_.empty() || etx >= buf_.size()) break;
            std::string inner(buf_.begin() + 1, buf_.begin() + static_cast<long>(etx));
            buf_.erase(buf_.begin(), buf_.begin() + static_cast<long>(etx) + 1);
            Bytes reply = Handle(inner);
            answer.insert(answer.end(), reply.begin(), reply.end());
        }
        return answer;
    }

  private:
    Bytes Negative(const std::string& trn, const std::string& code) {
        return UcpFrame(trn + "/00000/R/51/N/" + code + "//");
    }

    Bytes Handle(const std::string& inner) {
        note_("ucp: received " + Escape(ToBytes(inner)));
        std::string trn = inner.size() >= 2 ? inner.substr(0, 2) : "00";
        if (!AllDigits(trn)) trn = "00";
        if (inner.size() < 3) {
            note_("ucp: frame too short");
            return config_.outcome == SmscOutcome::Silence ? Bytes{} : Negative(trn, "02");
        }
        std::string body = inner.substr(0, inner.size() - 2);
        std::string sum_text = inner.substr(inner.size() - 2);
        unsigned sum = 0;
        for (unsigned char c : body) sum += c;
        auto fields = Split(body, '/');
        // The body ends with the "/" before the checksum: one empty tail.
        std::string problem;
        if (TwoHex(sum) != sum_text) {
            problem = "checksum " + sum_text + " should be " + TwoHex(sum);
        } else if (fields.size() < 5 || !fields.back().empty()) {
            problem = "no field layout";
        } else if (fields[1].size() != 5 || !AllDigits(fields[1]) ||
                   std::stoul(fields[1]) != inner.size()) {
            problem = "LEN " + fields[1] + " should be " + std::to_string(inner.size());
        }
        if (!problem.empty()) {
            note_("ucp: bad frame: " + problem);
            if (config_.outcome == SmscOutcome::Silence) return {};
            return Negative(trn, problem.rfind("checksum", 0) == 0 ? "01" : "02");
        }
        fields.pop_back();
        if (fields[2] != "O" || fields[3] != "51") {
            note_("ucp: operation " + fields[2] + "/" + fields[3] + " not supported");
            return config_.outcome == SmscOutcome::Silence ? Bytes{} : Negative(trn, "03");
        }
        if (fields.size() != kUcp51Fields) {
            problem = std::to_string(fields.size()) + " fields, operation 51 has " +
                      std::to_string(kUcp51Fields);
        } else if (!AllDigits(fields[4])) {
            problem = "recipient \"" + fields[4] + "\" is not a number";
        } else if (fields[22] != "3") {
            problem = "message type \"" + fields[22] + "\" is not 3 (alphanumeric)";
        } else if (fields[24].size() % 2 != 0) {
            problem = "message field has an odd number of hex digits";
        }
        Bytes text;
        for (std::size_t i = 0; problem.empty() && i + 1 < fields[24].size(); i += 2) {
            int hi = HexValue(fields[24][i]), lo = HexValue(fields[24][i + 1]);
            if (hi < 0 || lo < 0)
                problem = "message field is not hexadecimal";
            else
                text.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
        if (!problem.empty()) {
            note_("ucp: bad operation 51: " + problem);
            return config_.outcome == SmscOutcome::Silence ? Bytes{} : Negative(trn, "02");
        }
        if (text.size() > kMaxSmsLength) {
            note_("ucp: message of " + std::to_string(text.size()) + " characters refused");
            return config_.outcome == SmscOutcome::Silence ? Bytes{} : Negative(trn, "24");
        }
        switch (config_.outcome) {
            case SmscOutcome::Silence:
                note_("ucp: message to " + fields[4] + " not answered (silent centre)");
                return {};
            case SmscOutcome::Reject:
                note_("ucp: message to " + fields[4] + " refused with error " + config_.error_code);
                return Negative(trn, config_.error_code);
            case SmscOutcome::Accept:
                break;
        }
        accepted_({config_.number, fields[4], fields[5], text});
        std::string sm = config_.message.empty() ? fields[4] + ":" + timestamp_() : config_.message;
        return UcpFrame(trn + "/00000/R/51/A//" + sm + "/");
    }

    SmscConfig config_;
    Note note_;
    std::function<void(AcceptedSms)> accepted_;
    std::function<std::string()> timestamp_;
    Bytes buf_;
};

class TapCentre : public SmscDialog {
  public:
    TapCentre(SmscConfig c, Note n, std::function<void(AcceptedSms)> a)
        : config_(std::move(c)), note_(std::move(n)), accepted_(std::move(a)) {}

    bool finished() const override { return state_ == State::Gone; }

    Bytes Receive(const Bytes& data) override {
        buf_.insert(buf_.end(), data.begin(), data.end());
        Bytes out;
        bool progress = true;
        while (progress && !buf_.empty() && state_ != State::Gone) {
            progress = Step(out);
        }
        return out;
    }

  private:
    enum class State { Idle, LoggedOn, Gone };

    void Answer(Bytes& out, SmscOutcome outcome) {
        if (!config_.message.empty()) {
            Bytes line = ToBytes(config_.message);
            out.insert(out.end(), line.begin(), line.end());
            out.push_back(kCr);
        }
        std::uint8_t code =
            outcome == SmscOutcome::Accept ? kAck : (config_.tap_reject_with_rs ? kRs : kNak);
        out.insert(out.end(), {kCr, code, kCr});
    }

    void Goodbye(Bytes& out) {
        out.insert(out.end(), {kCr, kEsc, kEot, kCr});
        state_ = State::Gone;
    }

    bool Step(Bytes& out) {
        std::uint8_t c = buf_.front();
        if (state_ == State::Idle) {
            if (c == kCr) {
                buf_.erase(buf_.begin());
                out.insert(out.end(), {'I', 'D', '='});
                return true;
            }
            if (c == kEsc) {
                auto cr = std::find(buf_.begin(), buf_.end(), kCr);
                if (cr == buf_.end()) return false;
                std::string logon(buf_.begin() + 1, cr);
                buf_.erase(buf_.begin(), cr + 1);
                return Logon(logon, out);
            }
            note_("tap: ignored " + Escape(Bytes{c}) + " before the logon");
            buf_.erase(buf_.begin());
            return true;
        }
        // Logged on: blocks, or EOT CR to end.
        if (c == kStx) return Block(out);
        if (c == kEot) {
            if (buf_.size() < 2) return false;
            if (buf_[1] != kCr) note_("tap: EOT not followed by CR");
            buf_.erase(buf_.begin(), buf_.begin() + 2);
            note_("tap: logoff");
            Goodbye(out);
            return true;
        }
        if (c != kCr) note_("tap: ignored " + Escape(Bytes{c}) + " outside a block");
        buf_.erase(buf_.begin());
        return true;
    }

    bool Logon(const std::string& logon, Bytes& out) {
        // Service type PG, category 1, an optional password of up to 6 characters.
        if (logon.size() < 3 || logon.substr(0, 3) != "PG1" || logon.size() > 9) {
            note_("tap: bad logon " + Escape(ToBytes(logon)));
            Answer(out, SmscOutcome::Reject);
            return true;
        }
        switch (config_.logon) {
            case SmscOutcome::Silence:
                note_("tap: logon not answered (silent centre)");
                return true;
            case SmscOutcome::Reject:
                note_("tap: logon refused");
                Answer(out, SmscOutcome::Reject);
                Goodbye(out);
                return true;
            case SmscOutcome::Accept:
                break;
        }
        note_("tap: logon " + Escape(ToBytes(logon)) + " accepted");
        out.insert(out.end(), {kCr, kAck, kCr, kEsc, '[', 'p', kCr});
        state_ = State::LoggedOn;
        return true;
    }

    bool Block(Bytes& out) {
        auto etx = std::find(buf_.begin(), buf_.end(), kEtx);
        if (etx == buf_.end() || buf_.end() - etx < 5) return false;  // ETX, 3 sum chars, CR
        Bytes block(buf_.begin(), etx + 1);
        std::string sum(etx + 1, etx + 4);
        std::uint8_t end = *(etx + 4);
        buf_.erase(buf_.begin(), etx + 5);
        std::string expect = TapChecksum(block);
        expect.pop_back();  // without its CR
        std::vector<std::string> fields =
            Split(std::string(block.begin() + 1, block.end() - 1), static_cast<char>(kCr));
        std::string problem;
        if (sum != expect || end != kCr) {
            problem = "checksum " + Escape(ToBytes(sum)) + " should be " + expect;
        } else if (fields.size() != 3 || !fields.back().empty()) {
            problem = "a block must hold exactly two fields, each ended by CR";
        } else if (!AllDigits(fields[0])) {
            problem = "pager id \"" + Escape(ToBytes(fields[0])) + "\" is not a number";
        } else if (fields[1].size() > kMaxSmsLength) {
            problem = "message of " + std::to_string(fields[1].size()) + " characters";
        }
        if (!problem.empty()) {
            note_("tap: bad block: " + problem);
            Answer(out, SmscOutcome::Reject);
            return true;
        }
        switch (config_.outcome) {
            case SmscOutcome::Silence:
                note_("tap: block to " + fields[0] + " not answered (silent centre)");
                return true;
            case SmscOutcome::Reject:
                note_("tap: block to " + fields[0] + " refused");
                Answer(out, SmscOutcome::Reject);
                return true;
            case SmscOutcome::Accept:
                break;
        }
        accepted_({config_.number, fields[0], "", ToBytes(fields[1])});
        Answer(out, SmscOutcome::Accept);
        return true;
    }

    SmscConfig config_;
    Note note_;
    std::function<void(AcceptedSms)> accepted_;
    Bytes buf_;
    State state_ = State::Idle;
};

}  // namespace

Bytes UcpFrame(std::string body) {
    std::size_t len = body.size() + 2;
    char digits[8];
    std::snprintf(digits, sizeof digits, "%05zu", len % 100000);
    if (body.size() >= 8) body.replace(3, 5, digits);
    unsigned sum = 0;
    for (unsigned char c : body) sum += c;
    Bytes out{kStx};
    Bytes b = ToBytes(body + TwoHex(sum));
    out.insert(out.end(), b.begin(), b.end());
    out.push_back(kEtx);
    return out;
}

std::string TapChecksum(const Bytes& block) {
    unsigned sum = 0;
    for (std::uint8_t c : block) sum += c & 0x7Fu;
    std::string out;
    out += static_cast<char>(0x30 + ((sum >> 8) & 0xF));
    out += static_cast<char>(0x30 + ((sum >> 4) & 0xF));
    out += static_cast<char>(0x30 + (sum & 0xF));
    out += static_cast<char>(kCr);
    return out;
}

std::unique_ptr<SmscDialog> MakeSmscDialog(const SmscConfig& config, SmscDialog::Note note,
                                           std::function<void(AcceptedSms)> accepted,
                                           std::function<std::string()> timestamp) {
    if (config.protocol == SmscProtocol::Ucp)
        return std::make_unique<UcpCentre>(config, std::move(note), std::move(accepted),
                                           std::move(timestamp));
    return std::make_unique<TapCentre>(config, std::move(note), std::move(accepted));
}

}  // namespace tolvar::line
