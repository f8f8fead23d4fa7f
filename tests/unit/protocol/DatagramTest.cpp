#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "Answer.h"
#include "protocol/Catalogue.h"
#include "protocol/Datagram.h"
#include "protocol/Decoder.h"
#include "tests/support/CaseNames.h"

namespace valdrune {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Requester kPc{{0x02, 0x00, 0x00, 0x00, 0x00, 0x01}, 0xC0A8000A};  // 192.168.0.10
const MacAddress kDevice{0x02, 0x00, 0x00, 0x00, 0x00, 0x02};

Bytes Hex(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    std::string pair;
    while (in >> pair) out.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
    return out;
}

std::string ToHex(const Bytes& b) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < b.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", b[i]);
        if (i) out += ' ';
        out += buf;
    }
    return out;
}

std::vector<std::uint16_t> TagsOf(const Bytes& d) {
    std::vector<std::uint16_t> tags;
    WalkItems(d, static_cast<std::uint16_t>(d[2] << 8 | d[3]),
              [&](const TlvItem& item) { tags.push_back(item.tag); });
    return tags;
}

const std::string kHeaderTail = "20 11 1E 11 23 1F 1E 19 13 00";
const std::string kEleven = "00 00 00 00 00 00 00 00 00 00 00";

TEST(Datagram, SearchRequestMatchesWorkedExampleByteForByte) {
    const Bytes expected = Hex(
        "00 01 00 2A 00 0D 00 00 00 00 00 00 02 00 00 00 00 01 C0 A8 00 0A 00 00 " + kHeaderTail +
        " 00 02 01 " + kEleven +
        " FF F0 00 26 00 20 00 21 00 22 00 23 00 25 00 28 00 40 00 41 00 42 00 44 00 A5 00 A6"
        " 00 A7 00 A8 00 AD 00 B3 00 B4 00 B7 00 B8 FF FF 0E A7");
    EXPECT_EQ(ToHex(BuildSearchRequest(2, kPc)), ToHex(expected));
}

TEST(Datagram, SearchRequestInModeZeroDiffersOnlyInModeByteAndChecksum) {
    Bytes two = BuildSearchRequest(2, kPc);
    Bytes zero = BuildSearchRequest(0, kPc);
    ASSERT_EQ(zero.size(), 94u);
    EXPECT_EQ(zero[35], 0);
    EXPECT_EQ(zero[36], 1);
    zero[35] = 2;
    test::AnswerBuilder::FixChecksum(zero);
    EXPECT_EQ(zero, two);
}

TEST(Datagram, LegacySettingsRequestMatchesWorkedExampleByteForByte) {
    _CommandDataTable r = test::RecordBuilder(DEVICE_KIND_LEGACY)
                              .DeviceMac(kDevice)
                              .Address("192.168.0.20", "255.255.255.0", "192.168.0.1").Port(80)
                              .Flags(0x12).Addressing(0x12).Capability(0);
    r.legacyWord = 0x0F00;
    r.sequence = 41;  // command 15 never carries a sequence
    const Bytes expected = Hex(
        "00 01 00 3A 00 0F 02 00 00 00 00 02 02 00 00 00 00 01 C0 A8 00 0A 00 00 " + kHeaderTail +
        " 00 00 00 " + kEleven +
        " 00 20 00 04 C0 A8 00 14 00 21 00 04 FF FF FF 00 00 22 00 04 C0 A8 00 01"
        " 00 23 00 08 00 00 00 00 00 00 00 00 00 25 00 02 00 50 00 A5 00 01 12"
        " 00 A6 00 01 12 00 AD 00 02 0F 00 FF FF 0D D0");
    std::uint16_t written = 99;
    EXPECT_EQ(ToHex(BuildSettingsRequest(r, CMD_SETUP, MASK_LEGACY, kPc, &written)),
              ToHex(expected));
    EXPECT_EQ(written, 0);
}

TEST(Datagram, SetupConfirmationMatchesWorkedExampleByteForByte) {
    const Bytes expected =
        Hex("00 01 00 00 00 11 02 00 00 00 00 02 02 00 00 00 00 01 C0 A8 00 0A 00 00 " +
            kHeaderTail + " 00 00 01 " + kEleven + " FF FF 04 77");
    EXPECT_EQ(ToHex(BuildConfirmation(CMD_SETUP_CONFIRM, kDevice, 1, 1234, kPc)),
              ToHex(expected));
}

struct RequestShape {
    const char* name;
    std::uint16_t command;
    std::uint16_t mask;
    bool hasIpv6Mode;
    std::size_t size;
    std::uint8_t mode;
    std::vector<std::uint16_t> tags;
};

class SettingsRequestShape : public testing::TestWithParam<RequestShape> {};

TEST_P(SettingsRequestShape, CarriesTheCatalogueItemsOfItsMask) {
    const RequestShape& s = GetParam();
    _CommandDataTable r;
    r.primary.mac = kDevice;
    r.hasIpv6Mode = s.hasIpv6Mode ? 1 : 0;
    r.capabilityFlag = 2;
    const Bytes d = BuildSettingsRequest(r, s.command, s.mask, kPc);
    ASSERT_EQ(d.size(), s.size);
    EXPECT_EQ(d[2] << 8 | d[3], static_cast<int>(s.size - 52));
    EXPECT_EQ(d[4] << 8 | d[5], s.command);
    EXPECT_EQ(d[35], s.mode);
    EXPECT_EQ(d[36], 2) << "capability byte is echoed";
    EXPECT_EQ(TagsOf(d), s.tags);
    EXPECT_TRUE(ValidateAnswer(d, kPc.mac).has_value()) << "end tag and checksum in place";
}

INSTANTIATE_TEST_SUITE_P(
    Datagram, SettingsRequestShape,
    testing::Values(
        RequestShape{"Legacy", CMD_SETUP, MASK_LEGACY, true, 110, 0,
                     {32, 33, 34, 35, 37, 165, 166, 173}},
        RequestShape{"TwoPort", CMD_SETUP, MASK_TWO_PORT, false, 201, 2,
                     {0, 1, 32, 33, 34, 35, 37, 48, 49, 64, 65, 66, 166}},
        RequestShape{"Standard", CMD_SETUP_V2, MASK_STANDARD, true, 227, 2,
                     {0, 1, 32, 33, 34, 35, 37, 64, 65, 66, 68, 160, 161, 162, 163, 166}},
        RequestShape{"StandardWithoutIpv6Mode", CMD_SETUP_V2, MASK_STANDARD, false, 140, 2,
                     {0, 32, 33, 34, 35, 37, 160, 161, 162, 163, 166}}),
    test::ByName{});

TEST(Datagram, SearchRequestIs94BytesAndConfirmationsAre52) {
    EXPECT_EQ(BuildSearchRequest(2, kPc).size(), 94u);
    for (std::uint16_t command : {CMD_SETUP_CONFIRM, CMD_SETUP_V2_CONFIRM}) {
        const Bytes c = BuildConfirmation(command, kDevice, 0, 5, kPc);
        ASSERT_EQ(c.size(), 52u);
        EXPECT_EQ(c[48], 0xFF);
        EXPECT_EQ(c[49], 0xFF);
        EXPECT_TRUE(ValidateAnswer(c, kPc.mac).has_value());
    }
}

TEST(Datagram, CurrentSettingsAndConfirmationCountTheSequenceOnFromTheLastAnswer) {
    _CommandDataTable r;
    r.primary.mac = kDevice;
    r.sequence = 7;
    std::uint16_t written = 0;
    const Bytes request = BuildSettingsRequest(r, CMD_SETUP_V2, MASK_STANDARD, kPc, &written);
    EXPECT_EQ(written, 8);
    EXPECT_EQ(request[22] << 8 | request[23], 8);
    const Bytes confirm = BuildConfirmation(CMD_SETUP_V2_CONFIRM, kDevice, 1, written, kPc);
    EXPECT_EQ(confirm[22] << 8 | confirm[23], 9);
    EXPECT_EQ(confirm[35], 2);

    r.sequence = 0xFFFF;  // wraps like the device's 16-bit counter
    BuildSettingsRequest(r, CMD_SETUP_V2, MASK_STANDARD, kPc, &written);
    EXPECT_EQ(written, 0);
}

TEST(Datagram, SettingsRequestRoundTripsEveryCarriedFieldThroughTheDecoder) {
    _CommandDataTable r = test::RecordBuilder()
                              .DeviceMac(kDevice).Address("10.0.1.2", "255.255.0.0", "10.0.0.1")
                              .Dns("8.8.8.8", "1.1.1.1").Port(8443)
                              .PcAddress("192.168.1.1", "255.255.255.128").Ipv4Mode(3).Flags(0x92);
    r.secondary = test::RecordBuilder()
                      .Address("10.0.1.3", "255.255.254.0", "10.0.0.254").Dns("9.9.9.9", "4.4.4.4")
                      .Build().primary;
    r.ipv6Mode = 5;
    r.hasIpv6Mode = 1;
    r.ipv6Port = 8080;
    for (std::size_t i = 0; i < 16; ++i) {
        r.ipv6Address[i] = static_cast<std::uint8_t>(0xA0 + i);
        r.ipv6Address2[i] = static_cast<std::uint8_t>(0x10 + i);
    }
    for (std::size_t i = 0; i < 32; ++i) r.ipv6AddressPair[i] = static_cast<std::uint8_t>(i * 3);

    for (std::uint16_t mask : {MASK_STANDARD, MASK_TWO_PORT}) {
        const std::uint16_t command = mask == MASK_STANDARD ? CMD_SETUP_V2 : CMD_SETUP;
        const Bytes d = BuildSettingsRequest(r, command, mask, kPc);
        const std::uint16_t length = static_cast<std::uint16_t>(d[2] << 8 | d[3]);
        const _CommandDataTable got =
            DecodeDeviceAnswer(d, length, AnswerContext{kDevice, 2, 0, 0}).record;
        SCOPED_TRACE(mask);
        EXPECT_EQ(test::Ipv4Settings(got.primary), test::Ipv4Settings(r.primary));
        EXPECT_EQ(got.primary.port, r.primary.port);
        EXPECT_EQ(got.ipv4Mode, r.ipv4Mode);
        EXPECT_EQ(got.ipv6Mode, r.ipv6Mode);
        EXPECT_EQ(got.flags, r.flags);
        EXPECT_EQ(got.ipv6Address, r.ipv6Address);
        EXPECT_EQ(got.ipv6Address2, r.ipv6Address2);
        EXPECT_EQ(got.ipv6AddressPair, r.ipv6AddressPair);
        if (mask == MASK_STANDARD) {
            EXPECT_EQ(got.ipv6Port, r.ipv6Port);
            EXPECT_EQ(test::Ipv4Settings(got.secondary), test::Ipv4Settings(r.secondary));
        } else {
            EXPECT_EQ(got.primary.ipAddress2, r.primary.ipAddress2);
            EXPECT_EQ(got.primary.subnetMask2, r.primary.subnetMask2);
        }
    }
}

TEST(Catalogue, SearchTagsAreTheRowsOfMaskOneInPositionOrder) {
    const std::vector<std::uint16_t> expected = {32,  33,  34,  35,  37,  40,  64,
                                                 65,  66,  68,  165, 166, 167, 168,
                                                 173, 179, 180, 183, 184};
    EXPECT_EQ(SearchRequestTags(), expected);
    std::uint16_t previous = 0;
    for (std::size_t i = 0; i < kCatalogue.size(); ++i) {
        EXPECT_TRUE(i == 0 || kCatalogue[i].Tag() > previous) << "rows stay in tag order";
        previous = kCatalogue[i].Tag();
    }
    EXPECT_EQ(kCatalogue[12].Tag(), 66);
    EXPECT_EQ(kCatalogue[12].Length(), 32);
}

TEST(Datagram, ChecksumEqualsThePlainByteSumPlusOneAtEveryLength) {
    // All 0xFF is the worst case for the wide accumulation; the pattern catches lane mix-ups.
    for (std::uint8_t fill : {std::uint8_t{0xFF}, std::uint8_t{0}}) {
        Bytes d(2100, fill);
        for (std::size_t i = 0; fill == 0 && i < d.size(); ++i)
            d[i] = static_cast<std::uint8_t>(i * 37 + (i >> 3));
        unsigned plain = 1;
        for (std::size_t n = 0; n <= d.size(); ++n) {
            ASSERT_EQ(Checksum(std::span(d).first(n)), static_cast<std::uint16_t>(plain)) << n;
            if (n < d.size()) plain += d[n];
        }
    }
}

// --- validation ---------------------------------------------------------------------------

Bytes GoodAnswer() {
    return test::Answer().Requester(kPc.mac, kPc.ipAddress).U32(32, 0xC0A80014).Build();
}

struct Mutation {
    const char* name;
    void (*apply)(Bytes&);
    bool accepted;
};

class AnswerValidation : public testing::TestWithParam<Mutation> {};

TEST_P(AnswerValidation, AcceptsOrDropsSilently) {
    Bytes d = GoodAnswer();
    GetParam().apply(d);
    EXPECT_EQ(ValidateAnswer(d, kPc.mac).has_value(), GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Datagram, AnswerValidation,
    testing::Values(
        Mutation{"Unchanged", [](Bytes&) {}, true},
        Mutation{"ShorterThanHeader", [](Bytes& d) { d.resize(47); }, false},
        Mutation{"ForeignRequesterMac",
                 [](Bytes& d) { d[17] = 0x77; test::AnswerBuilder::FixChecksum(d); }, false},
        Mutation{"ForeignMacWithZeroRequesterAddress",
                 [](Bytes& d) {
                     d[17] = 0x77;
                     d[18] = d[19] = d[20] = d[21] = 0;
                     test::AnswerBuilder::FixChecksum(d);
                 },
                 true},
        Mutation{"ForeignMacWithOneNonzeroAddressByte",
                 [](Bytes& d) {
                     d[12] = 0x77;
                     d[18] = d[19] = d[20] = 0;
                     d[21] = 1;
                     test::AnswerBuilder::FixChecksum(d);
                 },
                 false},
        Mutation{"WrongMagic", [](Bytes& d) { d[31] ^= 1; test::AnswerBuilder::FixChecksum(d); }, false},
        Mutation{"WrongFormatWord",
                 [](Bytes& d) { d[33] = 1; test::AnswerBuilder::FixChecksum(d); }, false},
        Mutation{"ChecksumOffByOne", [](Bytes& d) { d.back() = static_cast<std::uint8_t>(d.back() + 1); },
                 false},
        Mutation{"ChecksumHighByteWrong", [](Bytes& d) { d[d.size() - 2] ^= 0x80; }, false},
        Mutation{"TruncatedChecksum", [](Bytes& d) { d.pop_back(); }, false},
        Mutation{"TrailingBytesAfterChecksum", [](Bytes& d) { d.push_back(0xAB); }, true},
        Mutation{"VersionAndReservedIgnored",
                 [](Bytes& d) {
                     d[0] = 0x55;
                     d[34] = 0x55;
                     d[40] = 0x55;
                     test::AnswerBuilder::FixChecksum(d);
                 },
                 true}),
    test::ByName{});

TEST(Datagram, ValidatorEnforcesTheLargestPayloadExactly) {
    for (std::size_t length : {1470u, 1471u}) {
        test::AnswerBuilder b = test::Answer();
        b.Item(500, Bytes(length - 4, 0x5A));
        const Bytes d = b.Build();
        ASSERT_EQ(d.size(), length + 52);
        EXPECT_EQ(ValidateAnswer(d, kPc.mac).has_value(), length == 1470) << length;
    }
}

TEST(Datagram, ValidatorReportsTheHeaderFields) {
    const Bytes d = test::Answer()
                        .Command(CMD_INFO)
                        .Sequence(0x1234)
                        .Mode(2)
                        .Capability(3)
                        .Requester(kPc.mac, kPc.ipAddress)
                        .U16(37, 80)
                        .Build();
    const auto h = ValidateAnswer(d, kPc.mac);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->payloadLength, 6);
    EXPECT_EQ(h->command, CMD_INFO);
    EXPECT_EQ(h->deviceMac, kDevice);
    EXPECT_EQ(h->requesterMac, kPc.mac);
    EXPECT_EQ(h->requesterIp, kPc.ipAddress);
    EXPECT_EQ(h->sequence, 0x1234);
    EXPECT_EQ(h->protocolMode, 2);
    EXPECT_EQ(h->capability, 3);
}

// --- item walk bounds ---------------------------------------------------------------------

struct Walked {
    std::vector<std::uint16_t> tags;
    bool reachedEnd = false;
};

// Walks `d` as if it had been received alone; values must point inside it.
Walked Walk(const Bytes& d, std::uint16_t length) {
    Walked w;
    w.reachedEnd = WalkItems(d, length, [&](const TlvItem& item) {
        EXPECT_GE(item.value.data(), d.data() + 48);
        EXPECT_LE(item.value.data() + item.value.size(), d.data() + d.size());
        w.tags.push_back(item.tag);
    });
    return w;
}

TEST(ItemWalk, DeliversItemsInWireOrderUpToTheEndTag) {
    const Bytes d = test::Answer().U8(0, 3).Item(700, {}).U32(32, 1).U8(0, 4).Build();
    const Walked w = Walk(d, static_cast<std::uint16_t>(d[2] << 8 | d[3]));
    EXPECT_EQ(w.tags, (std::vector<std::uint16_t>{0, 700, 32, 0}));
    EXPECT_TRUE(w.reachedEnd);
}

TEST(ItemWalk, StopsAtAnEarlyEndTag) {
    // An end tag inside the payload ends the list; what follows is never read.
    const Bytes d = test::Answer().U8(0, 3).Raw({0xFF, 0xFF}).U32(32, 1).Build();
    const Walked w = Walk(d, static_cast<std::uint16_t>(d[2] << 8 | d[3]));
    EXPECT_EQ(w.tags, (std::vector<std::uint16_t>{0}));
    EXPECT_TRUE(w.reachedEnd);
}

TEST(ItemWalk, ItemCrossingThePayloadEndEndsTheWalkAfterEarlierItems) {
    // The last item claims 40 value bytes, more than the payload holds: earlier items stand,
    // the truncated one is not delivered.
    Bytes d = test::Answer().U8(0, 3).Raw({0x00, 0x20, 0x00, 0x28, 1, 2, 3, 4}).Build();
    const Walked w = Walk(d, static_cast<std::uint16_t>(d[2] << 8 | d[3]));
    EXPECT_EQ(w.tags, (std::vector<std::uint16_t>{0}));
    EXPECT_FALSE(w.reachedEnd);
}

TEST(ItemWalk, ItemHeaderSplitByThePayloadEndEndsTheWalk) {
    const Bytes d = test::Answer().U8(0, 3).Raw({0x00, 0x20}).Build();
    const Walked w = Walk(d, static_cast<std::uint16_t>(d[2] << 8 | d[3]));
    EXPECT_EQ(w.tags, (std::vector<std::uint16_t>{0}));
    EXPECT_FALSE(w.reachedEnd);
}

TEST(ItemWalk, NeverReadsPastTheReceivedBytesWhateverTheDeclaredLength) {
    // A declared payload far beyond what arrived: every cut of the datagram must be walked
    // without touching bytes past the cut (the vector is exactly the received size).
    const Bytes full = test::Answer().U32(32, 1).Text(168, "ZM-P41").U16(37, 80).Build();
    for (std::size_t cut = 0; cut <= full.size(); ++cut) {
        const Bytes received(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
        const Walked w = Walk(received, 1470);
        EXPECT_FALSE(w.reachedEnd && cut < full.size() - 2) << cut;
        EXPECT_LE(w.tags.size(), 3u);
    }
}

TEST(ItemWalk, MissingEndTagAtThePayloadEndIsReported) {
    Bytes d = test::Answer().U8(0, 3).Build();
    d[d.size() - 4] = 0x00;  // the end tag becomes 00 FF
    const Walked w = Walk(d, static_cast<std::uint16_t>(d[2] << 8 | d[3]));
    EXPECT_EQ(w.tags, (std::vector<std::uint16_t>{0}));
    EXPECT_FALSE(w.reachedEnd);
}

}  // namespace
}  // namespace valdrune
