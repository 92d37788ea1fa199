#include "line/wire.h"

#include <gtest/gtest.h>

namespace tolvar::line {
namespace {

const Bytes kStream{0x00, 0x05, 'a', 'b', 'c', 0x00, 0x02, 0x00, 0x04, 0x01, 0x02};
const std::vector<Bytes> kPayloads{{'a', 'b', 'c'}, {}, {0x01, 0x02}};

std::vector<Bytes> Drain(FrameReader& r) {
    std::vector<Bytes> out;
    Bytes p;
    while (r.Next(p) == FrameReader::Status::Frame) out.push_back(p);
    return out;
}

TEST(FrameReader, WholeSplitAndByteByByte) {
    for (std::size_t step : {kStream.size(), std::size_t{1}, std::size_t{3}, std::size_t{4}}) {
        FrameReader r(4096);
        std::vector<Bytes> got;
        for (std::size_t i = 0; i < kStream.size(); i += step) {
            r.Feed(kStream.data() + i, std::min(step, kStream.size() - i));
            auto more = Drain(r);
            got.insert(got.end(), more.begin(), more.end());
        }
        EXPECT_EQ(got, kPayloads) << "step " << step;
        EXPECT_EQ(r.buffered(), 0u);
    }
}

TEST(FrameReader, LengthsOutOfRangeAreBad) {
    struct Case {
        Bytes bytes;
        FrameReader::Status status;
    } cases[] = {
        {{0x00, 0x00}, FrameReader::Status::Bad},
        {{0x00, 0x01}, FrameReader::Status::Bad},
        {{0x10, 0x01}, FrameReader::Status::Bad},  // 4097 > limit
        {{0x10, 0x00, 0x00}, FrameReader::Status::NeedMore},
        {{0x00}, FrameReader::Status::NeedMore},
    };
    for (const auto& c : cases) {
        FrameReader r(4096);
        r.Feed(c.bytes.data(), c.bytes.size());
        Bytes p;
        EXPECT_EQ(r.Next(p), c.status) << HexDump(c.bytes);
    }
}

TEST(RouterFrameReader, WholeSplitByteByByteAndBadStarts) {
    // Two CAPI messages as libcapi20's fritzbox module frames them: 0x80,
    // the length little-endian, the message.
    const Bytes listen{0x80, 0x0A, 0x00, 0x0A, 0x00, 0x01, 0x00,
                       0x05, 0x80, 0x00, 0x00, 0x01, 0x00};
    const Bytes alert{0x80, 0x08, 0x00, 0x08, 0x00, 0x01, 0x00, 0x01, 0x80, 0x02, 0x00};
    Bytes stream = listen;
    stream.insert(stream.end(), alert.begin(), alert.end());
    const std::vector<Bytes> want{Bytes(listen.begin() + 3, listen.end()),
                                  Bytes(alert.begin() + 3, alert.end())};
    for (std::size_t step : {stream.size(), std::size_t{1}, std::size_t{2}, std::size_t{5}}) {
        RouterFrameReader r(4096);
        std::vector<Bytes> got;
        for (std::size_t i = 0; i < stream.size(); i += step) {
            r.Feed(stream.data() + i, std::min(step, stream.size() - i));
            Bytes p;
            while (r.Next(p) == FrameReader::Status::Frame) got.push_back(p);
        }
        EXPECT_EQ(got, want) << "step " << step;
    }
    EXPECT_EQ(RouterFrame(want[1]), alert);
    EXPECT_EQ(RouterShortFrame({1, 2}), (Bytes{0x80, 0x02, 1, 2}));
    for (const Bytes& bad :
         {Bytes{0x00, 0x08, 0x00}, Bytes{0x80, 0x07, 0x00}, Bytes{0x80, 0x01, 0x10}}) {
        RouterFrameReader r(4096);
        r.Feed(bad.data(), bad.size());
        Bytes p;
        EXPECT_EQ(r.Next(p), FrameReader::Status::Bad) << HexDump(bad);
    }
}

TEST(Reader, EveryPrefixOfAListenRequestFails) {
    Bytes params =
        Writer().U32(1).U32(0x3FF).U32(0x1FFF03FF).U32(1).Struct({0x00, 0x80, '1'}).Empty().Take();
    auto read_all = [](const Bytes& b) {
        Reader r(b);
        r.U32();
        r.U32();
        r.U32();
        r.U32();
        auto calling = r.Struct();
        auto sub = r.Struct();
        return r.ok() && calling && sub;
    };
    EXPECT_TRUE(read_all(params));
    for (std::size_t n = 0; n < params.size(); ++n)
        EXPECT_FALSE(read_all(Bytes(params.begin(), params.begin() + static_cast<long>(n)))) << n;
}

TEST(Reader, StructureLongerThanTheMessageFails) {
    Bytes b{0x05, 'a', 'b'};
    Reader r(b);
    EXPECT_FALSE(r.Struct());
    EXPECT_FALSE(r.U8());  // stays failed
    Bytes limited{0x01, 'a', 0x01, 'b'};
    Reader l(limited, 0, 3);
    EXPECT_EQ(l.Struct(), Bytes{'a'});
    EXPECT_FALSE(l.Struct());
}

TEST(Writer, StructureOfMoreThan254OctetsIsRefused) {
    EXPECT_THROW(Writer().Struct(Bytes(255, 'x')), std::length_error);
    EXPECT_EQ(Writer().Struct(Bytes(254, 'x')).bytes().size(), 255u);
}

}  // namespace
}  // namespace tolvar::line
