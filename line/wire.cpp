#include "line/wire.h"

#include <cstdio>
#include <stdexcept>

namespace tolvar::line {

Bytes ToBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::string ToString(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string Escape(const Bytes& bytes) {
    std::string out;
    for (std::uint8_t c : bytes) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

std::string HexDump(const Bytes& bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        if (i) out += ' ';
        out += buf;
    }
    return out;
}

std::string Hex4(std::uint32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04X", value);
    return buf;
}

Writer& Writer::U8(std::uint8_t v) {
    out_.push_back(v);
    return *this;
}
Writer& Writer::U16(std::uint16_t v) {
    out_.push_back(static_cast<std::uint8_t>(v));
    out_.push_back(static_cast<std::uint8_t>(v >> 8));
    return *this;
}
Writer& Writer::U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
}
Writer& Writer::Raw(const Bytes& b) {
    out_.insert(out_.end(), b.begin(), b.end());
    return *this;
}
Writer& Writer::Struct(const Bytes& content) {
    if (content.size() > 254) throw std::length_error("CAPI structure longer than 254 octets");
    U8(static_cast<std::uint8_t>(content.size()));
    return Raw(content);
}

Reader::Reader(const Bytes& b, std::size_t from, std::size_t to)
    : b_(b), pos_(from), end_(to < b.size() ? to : b.size()) {
    if (pos_ > end_) {
        pos_ = end_;
        ok_ = false;
    }
}

std::optional<std::uint8_t> Reader::U8() {
    if (!ok_ || left() < 1) {
        ok_ = false;
        return std::nullopt;
    }
    return b_[pos_++];
}
std::optional<std::uint16_t> Reader::U16() {
    if (!ok_ || left() < 2) {
        ok_ = false;
        return std::nullopt;
    }
    auto v = static_cast<std::uint16_t>(b_[pos_] | (b_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
}
std::optional<std::uint32_t> Reader::U32() {
    if (!ok_ || left() < 4) {
        ok_ = false;
        return std::nullopt;
    }
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | b_[pos_ + static_cast<std::size_t>(i)];
    pos_ += 4;
    return v;
}
std::optional<Bytes> Reader::Struct() {
    auto len = U8();
    if (!len) return std::nullopt;
    // 0xFF announces a 2-byte length in the standard; the messages handled
    // here never need one, so it counts as a coding error.
    if (*len == 0xFF || left() < *len) {
        ok_ = false;
        return std::nullopt;
    }
    Bytes content(b_.begin() + static_cast<std::ptrdiff_t>(pos_),
                  b_.begin() + static_cast<std::ptrdiff_t>(pos_ + *len));
    pos_ += *len;
    return content;
}

void FrameReader::Feed(const std::uint8_t* data, std::size_t n) {
    if (start_ > 0 && start_ == buf_.size()) {
        buf_.clear();
        start_ = 0;
    }
    buf_.insert(buf_.end(), data, data + n);
}

FrameReader::Status FrameReader::Next(Bytes& payload) {
    std::size_t have = buf_.size() - start_;
    if (have < 2) return Status::NeedMore;
    std::size_t len = (static_cast<std::size_t>(buf_[start_]) << 8) | buf_[start_ + 1];
    if (len < 2 || len > max_frame_) return Status::Bad;
    if (have < len) return Status::NeedMore;
    payload.assign(buf_.begin() + static_cast<std::ptrdiff_t>(start_ + 2),
                   buf_.begin() + static_cast<std::ptrdiff_t>(start_ + len));
    start_ += len;
    if (start_ > 65536) {
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    return Status::Frame;
}

Bytes Frame(const Bytes& payload) {
    std::size_t len = payload.size() + 2;
    if (len > 0xFFFF) throw std::length_error("frame too long");
    Bytes out;
    out.reserve(len);
    out.push_back(static_cast<std::uint8_t>(len >> 8));
    out.push_back(static_cast<std::uint8_t>(len));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

void RouterFrameReader::Feed(const std::uint8_t* data, std::size_t n) {
    if (start_ > 0 && start_ == buf_.size()) {
        buf_.clear();
        start_ = 0;
    }
    buf_.insert(buf_.end(), data, data + n);
}

FrameReader::Status RouterFrameReader::Next(Bytes& payload) {
    std::size_t have = buf_.size() - start_;
    if (have < 1) return FrameReader::Status::NeedMore;
    if (buf_[start_] != 0x80) return FrameReader::Status::Bad;
    if (have < 3) return FrameReader::Status::NeedMore;
    std::size_t len = buf_[start_ + 1] | (static_cast<std::size_t>(buf_[start_ + 2]) << 8);
    if (len < 8 || len > max_frame_) return FrameReader::Status::Bad;
    if (have < 3 + len) return FrameReader::Status::NeedMore;
    payload.assign(buf_.begin() + static_cast<std::ptrdiff_t>(start_ + 3),
                   buf_.begin() + static_cast<std::ptrdiff_t>(start_ + 3 + len));
    start_ += 3 + len;
    if (start_ > 65536) {
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    return FrameReader::Status::Frame;
}

Bytes RouterFrame(const Bytes& payload) {
    if (payload.size() > 0xFFFF) throw std::length_error("frame too long");
    Bytes out{0x80, static_cast<std::uint8_t>(payload.size()),
              static_cast<std::uint8_t>(payload.size() >> 8)};
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes RouterShortFrame(const Bytes& payload) {
    if (payload.size() > 0xFF) throw std::length_error("answer too long");
    Bytes out{0x80, static_cast<std::uint8_t>(payload.size())};
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

}  // namespace tolvar::line
