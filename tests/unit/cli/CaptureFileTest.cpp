// The capture reader over files made here byte by byte: both formats, both byte orders, and
// malformed files that must end with a message instead of a read past the data.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/CaptureFile.h"
#include "tests/support/CaseNames.h"

namespace valdrune::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& b, std::uint32_t v, bool big) {
    for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(v >> (big ? 24 - 8 * i : 8 * i)));
}
void Put16(Bytes& b, std::uint16_t v, bool big) {
    b.push_back(std::uint8_t(big ? v >> 8 : v));
    b.push_back(std::uint8_t(big ? v : v >> 8));
}

Bytes Pcap(bool big, const std::vector<Bytes>& frames, std::uint32_t linkType = 1) {
    Bytes b;
    Put32(b, 0xA1B2C3D4, big);
    Put16(b, 2, big);
    Put16(b, 4, big);
    for (int i = 0; i < 3; ++i) Put32(b, i == 1 ? 65535 : 0, big);
    Put32(b, linkType, big);
    for (const auto& f : frames) {
        Put32(b, 1, big);
        Put32(b, 2, big);
        Put32(b, static_cast<std::uint32_t>(f.size()), big);
        Put32(b, static_cast<std::uint32_t>(f.size()), big);
        b.insert(b.end(), f.begin(), f.end());
    }
    return b;
}

Bytes Block(std::uint32_t type, const Bytes& body, bool big) {
    Bytes b;
    const auto padded = (body.size() + 3) / 4 * 4;
    const auto total = static_cast<std::uint32_t>(12 + padded);
    Put32(b, type, big);
    Put32(b, total, big);
    b.insert(b.end(), body.begin(), body.end());
    b.resize(8 + padded, 0);
    Put32(b, total, big);
    return b;
}

Bytes Section(bool big) {
    Bytes body;
    Put32(body, 0x1A2B3C4D, big);
    Put16(body, 1, big);
    Put16(body, 0, big);
    Put32(body, 0xFFFFFFFF, big);
    Put32(body, 0xFFFFFFFF, big);
    return Block(0x0A0D0D0A, body, big);
}

Bytes Interface(std::uint16_t linkType, bool big) {
    Bytes body;
    Put16(body, linkType, big);
    Put16(body, 0, big);
    Put32(body, 0, big);
    return Block(1, body, big);
}

Bytes Enhanced(std::uint32_t interfaceId, const Bytes& data, bool big,
               std::uint32_t claimed = 0xFFFFFFFF) {
    Bytes body;
    Put32(body, interfaceId, big);
    Put32(body, 0, big);
    Put32(body, 0, big);
    Put32(body, claimed == 0xFFFFFFFF ? static_cast<std::uint32_t>(data.size()) : claimed, big);
    Put32(body, static_cast<std::uint32_t>(data.size()), big);
    body.insert(body.end(), data.begin(), data.end());
    return Block(6, body, big);
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

struct Read {
    bool opened = false;
    std::vector<CapturedFrame> frames;
    std::string error;
};

Read ReadAll(const Bytes& file) {
    std::istringstream in(std::string(file.begin(), file.end()));
    CaptureReader reader(in);
    Read r;
    r.opened = reader.Open(r.error);
    if (!r.opened) return r;
    CapturedFrame f;
    while (reader.Next(f, r.error)) r.frames.push_back(f);
    return r;
}

const Bytes kFrame = {0xDE, 0xAD, 0xBE, 0xEF, 0x01};

TEST(CaptureReader, ReadsPcapAndPcapngOfEitherByteOrder) {
    for (bool big : {false, true}) {
        const Read pcap = ReadAll(Pcap(big, {kFrame, {0x02}}, 113));
        ASSERT_TRUE(pcap.opened) << pcap.error;
        EXPECT_EQ(pcap.error, "");
        ASSERT_EQ(pcap.frames.size(), 2u);
        EXPECT_EQ(pcap.frames[0].data, kFrame);
        EXPECT_EQ(pcap.frames[0].linkType, 113);

        // Two sections, the second of the other byte order, each with its own interfaces.
        const Read ng = ReadAll(Cat({Section(big), Interface(1, big), Interface(101, big),
                                     Enhanced(1, kFrame, big), Section(!big),
                                     Interface(276, !big), Enhanced(0, {0x07}, !big)}));
        ASSERT_TRUE(ng.opened) << ng.error;
        EXPECT_EQ(ng.error, "");
        ASSERT_EQ(ng.frames.size(), 2u);
        EXPECT_EQ(ng.frames[0].linkType, 101);
        EXPECT_EQ(ng.frames[0].data, kFrame);  // the padding is not part of it
        EXPECT_EQ(ng.frames[1].linkType, 276);
        EXPECT_EQ(ng.frames[1].data, Bytes{0x07});
    }
}

// The obsolete packet block (16-bit interface id, then a drop count) and the simple one
// (interface 0, its data cut to the original length); blocks without packets are passed over.
TEST(CaptureReader, ReadsObsoleteAndSimplePacketBlocks) {
    for (bool big : {false, true}) {
        Bytes obsolete;
        Put16(obsolete, 1, big);
        Put16(obsolete, 0xFFFF, big);
        for (std::uint32_t v : {0u, 0u, 5u, 5u}) Put32(obsolete, v, big);
        obsolete.insert(obsolete.end(), kFrame.begin(), kFrame.end());
        Bytes simple;
        Put32(simple, 3, big);
        simple.insert(simple.end(), {0x0A, 0x0B, 0x0C, 0x0D});
        const Read r = ReadAll(Cat({Section(big), Interface(1, big), Interface(113, big),
                                    Block(2, obsolete, big), Block(4, Bytes(4, 0), big),
                                    Block(3, simple, big)}));
        ASSERT_EQ(r.error, "");
        ASSERT_EQ(r.frames.size(), 2u);
        EXPECT_EQ(r.frames[0].linkType, 113);
        EXPECT_EQ(r.frames[0].data, kFrame);
        EXPECT_EQ(r.frames[1].linkType, 1);
        EXPECT_EQ(r.frames[1].data, (Bytes{0x0A, 0x0B, 0x0C}));
    }
}

struct Malformed {
    const char* name;
    Bytes file;
    bool opens;
};

class CaptureReaderMalformed : public testing::TestWithParam<Malformed> {};

TEST_P(CaptureReaderMalformed, EndsWithAMessage) {
    const Read r = ReadAll(GetParam().file);
    EXPECT_EQ(r.opened, GetParam().opens);
    EXPECT_FALSE(r.error.empty());
}

Bytes Cut(Bytes b, std::size_t drop) {
    b.resize(b.size() - drop);
    return b;
}

Bytes WithU32(Bytes b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
    return b;
}

const Bytes kNg = Cat({Section(false), Interface(1, false)});

INSTANTIATE_TEST_SUITE_P(
    Files, CaptureReaderMalformed,
    testing::Values(
        Malformed{"Empty", {}, false},
        Malformed{"UnknownMagic", {1, 2, 3, 4, 5, 6, 7, 8}, false},
        Malformed{"PcapHeaderCut", Cut(Pcap(false, {}), 4), false},
        Malformed{"PcapRecordCut", Cut(Pcap(false, {kFrame}), 2), true},
        Malformed{"PcapRecordHeaderCut", Cut(Pcap(false, {kFrame}), 10), true},
        Malformed{"PcapHugeRecord", WithU32(Pcap(false, {kFrame}), 24 + 8, 0x7FFFFFFF), true},
        Malformed{"SectionBadByteOrder", WithU32(Section(false), 8, 0x12345678), false},
        Malformed{"SectionBadLength", WithU32(Section(false), 4, 30), false},
        Malformed{"BlockLengthNotAligned",
                  Cat({kNg, WithU32(Enhanced(0, kFrame, false), 4, 41)}), true},
        Malformed{"BlockTrailerDiffers",
                  Cat({kNg, Cut(Enhanced(0, kFrame, false), 4), Bytes{9, 9, 9, 9}}), true},
        Malformed{"BlockCut", Cat({kNg, Cut(Enhanced(0, kFrame, false), 6)}), true},
        Malformed{"CapturedLongerThanBlock", Cat({kNg, Enhanced(0, kFrame, false, 400)}), true},
        Malformed{"PacketBlockTooShort", Cat({kNg, Block(6, Bytes(16, 0), false)}), true},
        Malformed{"UndeclaredInterface", Cat({kNg, Enhanced(3, kFrame, false)}), true},
        Malformed{"HugeBlock", Cat({kNg, WithU32(Enhanced(0, kFrame, false), 4, 0xFFFFFFF0)}),
                  true}),
    test::ByName{});

}  // namespace
}  // namespace valdrune::cli
