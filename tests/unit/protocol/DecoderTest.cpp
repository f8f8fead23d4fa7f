#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Answer.h"
#include "protocol/Datagram.h"
#include "protocol/Decoder.h"
#include "tests/support/CaseNames.h"

namespace valdrune {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::Answer;
using test::AnswerBuilder;

const MacAddress kPcMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

DecodeResult Decode(const Bytes& d) {
    const auto h = ValidateAnswer(d, kPcMac);
    EXPECT_TRUE(h.has_value()) << "test answer must be valid";
    if (!h) return {};
    return DecodeDeviceAnswer(d, h->payloadLength, ContextOf(*h));
}

_CommandDataTable DecodeRecord(const AnswerBuilder& b) { return Decode(b.Build()).record; }

Text16 Field(const char* text) {
    Text16 f{};
    std::memcpy(f.data(), text, std::min<std::size_t>(std::strlen(text), 16));
    return f;
}

// --- kinds --------------------------------------------------------------------------------

struct KindCase {
    const char* name;
    std::uint8_t mode;
    const char* model;  // nullptr: no tag 168
    bool tag0;
    bool tag1;
    std::uint8_t kind;
};

class DecoderKind : public testing::TestWithParam<KindCase> {};

TEST_P(DecoderKind, FollowsModeModelPrefixAndModeItems) {
    const KindCase& c = GetParam();
    AnswerBuilder b = Answer();
    b.Mode(c.mode).U32(32, 0xC0A80014);
    if (c.model) b.Text(168, c.model);
    if (c.tag0) b.U8(0, 3);
    if (c.tag1) b.U8(1, 0);
    EXPECT_EQ(DecodeRecord(b).kind, c.kind);
}

INSTANTIATE_TEST_SUITE_P(
    Decoder, DecoderKind,
    testing::Values(KindCase{"CurrentWithModeItem", 2, nullptr, true, false, 48},
                    KindCase{"CurrentWithOnlyIpv6Mode", 2, nullptr, false, true, 48},
                    KindCase{"CurrentWithoutModeItems", 2, nullptr, false, false, 3},
                    KindCase{"ModeZeroLegacyPrefix", 0, "ZM-P41", true, false, 3},
                    KindCase{"ModeZeroNoPrefix", 0, "K9000", true, false, 48},
                    KindCase{"ModeZeroNoPrefixNoModeItems", 0, "K9000", false, false, 3},
                    KindCase{"ModeZeroPrefixInsideText", 0, "xx-rt-9", true, false, 3},
                    KindCase{"OtherModeStaysLegacy", 1, "K9000", true, false, 3}),
    test::ByName{});

struct PrefixCase {
    const char* model;
    bool prefix;
};

class LegacyPrefix : public testing::TestWithParam<PrefixCase> {};

TEST_P(LegacyPrefix, MatchesAllUpperOrAllLowerAnywhere) {
    EXPECT_EQ(HasLegacyPrefix(Field(GetParam().model)), GetParam().prefix) << GetParam().model;
}

INSTANTIATE_TEST_SUITE_P(Decoder, LegacyPrefix,
                         testing::Values(PrefixCase{"QF-1", true}, PrefixCase{"RT-WNT528", true},
                                         PrefixCase{"abc-zm-x", true}, PrefixCase{"xWH-", true},
                                         PrefixCase{"Zm-x", false}, PrefixCase{"ZM_P41", false},
                                         PrefixCase{"", false}, PrefixCase{"K9000", false},
                                         // All 16 bytes used, prefix at the very end.
                                         PrefixCase{"0123456789abcWH-", true}),
    test::NamedByText(&PrefixCase::model));

TEST(Decoder, PrefixTestStopsAtTheFirstNul) {
    Text16 f = Field("AB");
    std::memcpy(f.data() + 3, "ZM-", 3);  // after the NUL: not part of the text
    EXPECT_FALSE(HasLegacyPrefix(f));
}

// --- two-port devices ---------------------------------------------------------------------

struct PortCase {
    std::uint16_t portKind;
    int tag212;  // -1: absent
    std::uint16_t optionA;
    std::uint16_t optionB;
};

class TwoPortOptions : public testing::TestWithParam<PortCase> {};

TEST_P(TwoPortOptions, DerivedOnlyWhenNotReceived) {
    const PortCase& c = GetParam();
    AnswerBuilder b = Answer();
    b.Mode(2).U8(0, 3).U32(32, 1).U16(192, c.portKind);
    if (c.tag212 >= 0) b.U16(212, static_cast<std::uint16_t>(c.tag212));
    const _CommandDataTable r = DecodeRecord(b);
    EXPECT_EQ(r.kind, DEVICE_KIND_TWO_PORT);
    EXPECT_EQ(r.portOptionA, c.optionA);
    EXPECT_EQ(r.portOptionB, c.optionB);
}

INSTANTIATE_TEST_SUITE_P(Decoder, TwoPortOptions,
                         testing::Values(PortCase{11, -1, 1, 1}, PortCase{20, -1, 1, 2},
                                         PortCase{5, -1, 0, 2}, PortCase{16, -1, 1, 1},
                                         PortCase{9, -1, 0, 1}, PortCase{18, -1, 1, 1},
                                         PortCase{19, -1, 1, 2}, PortCase{8, -1, 0, 2},
                                         PortCase{11, 7, 7, 1}),
    test::NamedBy([](const PortCase& c) {
                             return test::CaseName("PortKind", c.portKind,
                                                   c.tag212 < 0 ? "" : "Tag212_",
                                                   c.tag212 < 0 ? "" : std::to_string(c.tag212));
                         }));

TEST(Decoder, TwoPortDeviceTakesHttpsFromFlagsEvenFromALegacyStart) {
    // Mode 0, prefix present, capability 0: tag 166 alone would not set https.
    const _CommandDataTable on = DecodeRecord(
        Answer().Mode(0).Text(168, "ZM-X").U32(32, 1).U8(166, 0x04).U16(192, 3));
    EXPECT_EQ(on.kind, DEVICE_KIND_TWO_PORT);
    EXPECT_EQ(on.https, 1);
    // flags never received (255) means no HTTPS although bit 2 of 255 is set.
    const _CommandDataTable off =
        DecodeRecord(Answer().Mode(2).U8(0, 1).U32(32, 1).U8(40, 1).U16(192, 3));
    EXPECT_EQ(off.https, 0);
    // A two-port device keeps the model it sent: no legacy table lookup.
    const _CommandDataTable named = DecodeRecord(
        Answer().Mode(0).Text(168, "ZM-X").U32(32, 1).U16(192, 3).Item(184, {0, 19}));
    EXPECT_EQ(FieldText(named.model), "ZM-X");
}

// --- https and item order -----------------------------------------------------------------

TEST(Decoder, FlagsSetHttpsOnlyForCurrentDevicesWithCapability) {
    auto httpsOf = [](std::uint8_t mode, std::uint8_t cap, std::uint8_t flags) {
        return DecodeRecord(Answer().Mode(mode).Capability(cap).U8(0, 3).U32(32, 1).U8(
                                166, flags))
            .https;
    };
    EXPECT_EQ(httpsOf(2, 1, 0x94), 1);
    EXPECT_EQ(httpsOf(2, 1, 0x90), 0);
    EXPECT_EQ(httpsOf(2, 0, 0x94), 0);
    EXPECT_EQ(httpsOf(0, 1, 0x94), 0);
}

TEST(Decoder, LaterItemsOverwriteEarlierOnes) {
    const _CommandDataTable r =
        DecodeRecord(Answer().Mode(2).Capability(1).U8(0, 3).U32(32, 0x0A000001)
                         .U8(40, 1).U8(166, 0x90)  // 166 after 40: https cleared
                         .U32(32, 0x0A000002).Text(168, "FIRST").Text(168, "SECOND"));
    EXPECT_EQ(r.primary.ipAddress, 0x0A000002u);
    EXPECT_EQ(r.https, 0);
    EXPECT_EQ(FieldText(r.model), "SECOND");
}

TEST(Decoder, HeaderFieldsAndEveryAnswerTagReachTheRecord) {
    MacAddress mac{0x00, 0x0A, 0xFF, 0x01, 0x02, 0x03};
    Bytes pair(32);
    for (std::size_t i = 0; i < 32; ++i) pair[i] = static_cast<std::uint8_t>(0xC0 + i);
    const DecodeResult d = Decode(
        Answer().DeviceMac(mac).Mode(2).Capability(2).Sequence(77)
            .U8(0, 3).U8(1, 6).U32(32, 0xC0A80014).U32(33, 0xFFFFFF00).U32(34, 0xC0A80001)
            .Item(35, {8, 8, 8, 8, 8, 8, 4, 4}).U16(37, 8080).U32(48, 0xAC100001)
            .U32(49, 0xFFFF0000).Item(64, Bytes(16, 0xFE)).Item(65, Bytes(16, 0x65))
            .Item(66, pair).U16(68, 443).U32(160, 0x0A000005).U32(161, 0xFF000000)
            .U32(162, 0x0A000001).Item(163, {1, 2, 3, 4, 5, 6, 7, 8}).U8(165, 0x11)
            .U8(166, 0x94).Text(167, "cam").Text(168, "K9000").Text(169, "2.40")
            .U16(173, 0x0F00).U16(180, 1).Text(209, "SN-1").U16(210, 0x0203)
            .Build());
    const _CommandDataTable& r = d.record;
    EXPECT_TRUE(d.hadAddress);
    EXPECT_EQ(d.address, 0xC0A80014u);
    EXPECT_EQ(r.primary.mac, mac);
    EXPECT_EQ(r.sequence, 77);
    EXPECT_EQ(r.capabilityFlag, 2);
    EXPECT_EQ(r.kind, DEVICE_KIND_STANDARD);
    EXPECT_EQ(r.ipv4Mode, 3);
    EXPECT_EQ(r.ipv6Mode, 6);
    EXPECT_EQ(r.hasIpv6Mode, 1);
    EXPECT_EQ(r.primary.subnetMask, 0xFFFFFF00u);
    EXPECT_EQ(r.primary.gateway, 0xC0A80001u);
    EXPECT_EQ(r.primary.dns1, 0x08080808u);
    EXPECT_EQ(r.primary.dns2, 0x08080404u);
    EXPECT_EQ(r.primary.port, 8080);
    EXPECT_EQ(r.primary.ipAddress2, 0xAC100001u);
    EXPECT_EQ(r.primary.subnetMask2, 0xFFFF0000u);
    EXPECT_EQ(r.hasIpv6, 1);
    EXPECT_EQ(r.ipv6Address[15], 0xFE);
    EXPECT_EQ(r.ipv6Address2[0], 0x65);
    EXPECT_TRUE(std::equal(pair.begin(), pair.end(), r.ipv6AddressPair.begin()));
    EXPECT_EQ(r.ipv6Port, 443);
    EXPECT_EQ(r.secondary.ipAddress, 0x0A000005u);
    EXPECT_EQ(r.secondary.subnetMask, 0xFF000000u);
    EXPECT_EQ(r.secondary.gateway, 0x0A000001u);
    EXPECT_EQ(r.secondary.dns1, 0x01020304u);
    EXPECT_EQ(r.secondary.dns2, 0x05060708u);
    EXPECT_EQ(r.secondary.mac, MacAddress{});
    EXPECT_EQ(r.legacyAddressing, 0x11);
    EXPECT_EQ(r.flags, 0x94);
    EXPECT_EQ(r.https, 1);
    EXPECT_EQ(FieldText(r.deviceName), "cam");
    EXPECT_EQ(FieldText(r.model), "K9000");
    EXPECT_EQ(FieldText(r.versionText), "2.40");
    EXPECT_EQ(r.legacyWord, 0x0F00);
    EXPECT_EQ(r.statusBits, 1);
    EXPECT_EQ(FieldText(r.serialNumber), "SN-1");
    EXPECT_EQ(r.hasBrowserBits, 1);
    EXPECT_EQ(r.browserBits, 0x0203);
    EXPECT_EQ(r.portKind, 0);
    EXPECT_EQ(r.portOptionA, 255);
    EXPECT_EQ(r.portOptionB, 255);
    EXPECT_EQ(r.legacyPrefix, 0);
}

// --- bounds of item values ----------------------------------------------------------------

TEST(Decoder, ValuesLongerThanTheirFieldAreCutAndShorterOnesZeroPadded) {
    Bytes longName(20, 'n');
    const _CommandDataTable r = DecodeRecord(
        Answer().Mode(2).Capability(0).U8(0, 3).U32(32, 1)
            .Item(167, longName)              // no trimming: capability 0
            .Item(64, {0x20, 0x01, 0x0d, 0xb8})  // 4 of 16 bytes
            .Item(66, Bytes(40, 0x66))
            .Item(169, Bytes(16, 'v')).Item(169, {'1'})  // shorter value clears the old one
            .Item(209, Bytes(17, 's')));
    EXPECT_EQ(std::string(r.deviceName.data(), 16), std::string(16, 'n'));
    EXPECT_EQ(r.hasIpv6, 1);
    EXPECT_EQ(r.ipv6Address[3], 0xb8);
    EXPECT_EQ(r.ipv6Address[4], 0);
    EXPECT_EQ(r.ipv6AddressPair, (std::array<std::uint8_t, 32>{} = [] {
                  std::array<std::uint8_t, 32> a{};
                  a.fill(0x66);
                  return a;
              }()));
    EXPECT_EQ(FieldText(r.versionText), "1");
    EXPECT_EQ(FieldText(r.serialNumber), std::string(16, 's'));
}

TEST(Decoder, NumericItemOfTheWrongLengthLeavesItsFieldAlone) {
    const DecodeResult d = Decode(
        Answer().Mode(2).U8(0, 3).U16(37, 80)
            .Item(37, {0x1F})                 // short port
            .Item(35, {1, 2, 3, 4})           // half a DNS pair
            .Item(166, {0x94, 0x00})          // two-byte flags
            .Item(1, {})                      // empty mode item: not a mode item
            .Item(32, {10, 0, 0})             // short address: no address at all
            .Build());
    EXPECT_EQ(d.record.primary.port, 80);
    EXPECT_EQ(d.record.primary.dns1, 0u);
    EXPECT_EQ(d.record.flags, 255);
    EXPECT_EQ(d.record.hasIpv6Mode, 0);
    EXPECT_FALSE(d.hadAddress);
    EXPECT_EQ(d.address, 0u);
}

TEST(Decoder, TruncatedItemEndsDecodingButKeepsEarlierItems) {
    // The checksum covers the malformed list, so it passes validation.
    const DecodeResult d = Decode(Answer().Mode(2).U8(0, 3).U32(32, 0x0A000009)
                                      .Raw({0x00, 0xA8, 0x00, 0x10, 'Z', 'M'})
                                      .Build());
    EXPECT_TRUE(d.hadAddress);
    EXPECT_EQ(d.record.primary.ipAddress, 0x0A000009u);
    EXPECT_EQ(FieldText(d.record.model), "");
}

// --- legacy models ------------------------------------------------------------------------

TEST(LegacyModel, TableHoldsExactlyTheSixtyCodes) {
    int known = 0;
    for (int code = 0; code < 256; ++code) {
        Text16 f = Field("garbage-garbage!");
        LookupLegacyModel(static_cast<std::uint8_t>(code), f);
        const std::string name = FieldText(f);
        if (!name.empty()) {
            ++known;
            EXPECT_LE(name.size(), 15u) << code;
            EXPECT_EQ(f[15], 0) << code;
        }
        for (std::size_t i = name.size(); i < 16; ++i) EXPECT_EQ(f[i], 0) << code;
    }
    EXPECT_EQ(known, 60);
}

struct ModelCode {
    std::uint8_t code;
    const char* name;
};

class LegacyModelName : public testing::TestWithParam<ModelCode> {};

TEST_P(LegacyModelName, IsFamilyBaseNamePlusVariantSuffix) {
    Text16 f{};
    LookupLegacyModel(GetParam().code, f);
    EXPECT_EQ(FieldText(f), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Decoder, LegacyModelName,
    testing::Values(ModelCode{0, "ZM-P41"}, ModelCode{2, "ZM-P41CE"}, ModelCode{3, ""},
                    ModelCode{8, ""}, ModelCode{9, "QF-WNT638A"}, ModelCode{19, "ZM-P63C"},
                    ModelCode{20, "ZM-P63CN"}, ModelCode{35, ""}, ModelCode{36, "RT-WNT528CN"},
                    ModelCode{88, ""}, ModelCode{132, "ZM-P7CN"}, ModelCode{145, "QF-WNT491A"},
                    ModelCode{144, ""}, ModelCode{226, "RT-WNT219CE"}, ModelCode{227, ""},
                    ModelCode{255, ""}),
    test::NamedBy([](const ModelCode& c) { return test::CaseName("Code", int(c.code)); }));

struct LegacyAnswer {
    const char* name;
    int tag184;  // byte 1; -1 absent
    int tag179;
    int tag183;
    const char* model;
};

class LegacyAnswerModel : public testing::TestWithParam<LegacyAnswer> {};

TEST_P(LegacyAnswerModel, ComesFromTheCodesUnlessTheSourceSaysText) {
    const LegacyAnswer& c = GetParam();
    AnswerBuilder b = Answer();
    b.Mode(0).U8(0, 0).U32(32, 1).Text(168, "ZM-TEXT");
    auto code = [](int v) {
        Bytes value(16, 0);
        value[1] = static_cast<std::uint8_t>(v);
        return value;
    };
    if (c.tag184 >= 0) b.Item(184, code(c.tag184));
    if (c.tag179 >= 0) b.Item(179, code(c.tag179));
    if (c.tag183 >= 0) b.U8(183, static_cast<std::uint8_t>(c.tag183));
    const _CommandDataTable r = DecodeRecord(b);
    EXPECT_EQ(r.kind, DEVICE_KIND_LEGACY);
    EXPECT_EQ(r.legacyPrefix, 1) << "the prefix is taken from the text as received";
    EXPECT_EQ(FieldText(r.model), c.model);
}

INSTANTIATE_TEST_SUITE_P(
    Decoder, LegacyAnswerModel,
    testing::Values(LegacyAnswer{"FirstCodeWins", 19, 0, -1, "ZM-P63C"},
                    LegacyAnswer{"TextSourceKeepsModel", 19, 0, 2, "ZM-TEXT"},
                    LegacyAnswer{"OtherSourceUsesCodes", 19, 0, 1, "ZM-P63C"},
                    LegacyAnswer{"FirstAbsentUsesSecond", 255, 0, -1, "ZM-P41"},
                    LegacyAnswer{"UnknownCodeClearsModel", 3, 0, -1, ""},
                    LegacyAnswer{"NoCodesClearsModel", -1, -1, -1, ""}),
    test::ByName{});

// --- UTF-8 trimming -----------------------------------------------------------------------

struct NameCase {
    const char* name;
    Bytes in;
    Bytes out;
};

class Utf8Trim : public testing::TestWithParam<NameCase> {};

TEST_P(Utf8Trim, KeepsTheLongestWellFormedPrefix) {
    Text16 f{};
    std::memcpy(f.data(), GetParam().in.data(), std::min<std::size_t>(16, GetParam().in.size()));
    TrimUtf8Name(f);
    // Readers stop at the first NUL; what lies behind it is not part of the name.
    const Bytes& out = GetParam().out;
    EXPECT_EQ(FieldText(f), std::string(out.begin(), out.end()));
}

Bytes Letters(std::size_t n) { return Bytes(n, 'x'); }

Bytes LettersThen(std::size_t n, Bytes tail) {
    Bytes b;
    b.reserve(n + tail.size());
    b.assign(n, 'x');
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Decoder, Utf8Trim,
    testing::Values(
        NameCase{"ValidThreeByte", {0x41, 0x42, 0xE3, 0x81, 0x82, 0x43}, {0x41, 0x42, 0xE3, 0x81, 0x82, 0x43}},
        NameCase{"CutThreeByte", {0x41, 0x42, 0xE3, 0x81, 0x43}, {0x41, 0x42}},
        NameCase{"ControlByte", {0x41, 0x0A, 0x42}, {0x41}},
        NameCase{"SixteenLettersCutToFifteen", Letters(16), Letters(15)},
        NameCase{"CharacterCrossingByteFifteen", LettersThen(13, {0xE3, 0x81, 0x82}), Letters(13)},
        NameCase{"TwoByteEndingAtFourteen", LettersThen(13, {0xC3, 0xA9, 'y'}), LettersThen(13, {0xC3, 0xA9})},
        NameCase{"StrayContinuation", {0x41, 0x80, 0x42}, {0x41}},
        NameCase{"OverlongC0", {0xC0, 0x80}, {}},
        NameCase{"OverlongE0", {0x41, 0xE0, 0x80, 0x80}, {0x41}},
        NameCase{"ValidE0", {0xE0, 0xA0, 0x80}, {0xE0, 0xA0, 0x80}},
        NameCase{"SurrogateED", {0x41, 0xED, 0xA0, 0x80}, {0x41}},
        NameCase{"ValidED", {0xED, 0x9F, 0xBF}, {0xED, 0x9F, 0xBF}},
        NameCase{"ValidFourByte", {0xF0, 0x9F, 0x98, 0x80, 0x41}, {0xF0, 0x9F, 0x98, 0x80, 0x41}},
        NameCase{"OverlongF0", {0xF0, 0x8F, 0xBF, 0xBF}, {}},
        NameCase{"AboveMaxF4", {0x41, 0xF4, 0x90, 0x80, 0x80}, {0x41}},
        NameCase{"ValidF4", {0xF4, 0x8F, 0xBF, 0xBF}, {0xF4, 0x8F, 0xBF, 0xBF}},
        NameCase{"F5Lead", {0x41, 0xF5, 0x80, 0x80, 0x80}, {0x41}},
        NameCase{"DelIsKept", {0x41, 0x7F}, {0x41, 0x7F}},
        NameCase{"NulEndsScan", {0x41, 0x00, 0x0A, 0xFF}, {0x41}}),
    test::ByName{});

TEST(Decoder, TrimmingWritesOneNulAndLeavesTheRestOfTheField) {
    Text16 f{};
    const std::uint8_t in[] = {0x41, 0x0A, 0x42, 0x00, 0x0A, 0xFF};
    std::memcpy(f.data(), in, sizeof in);
    TrimUtf8Name(f);
    EXPECT_EQ(f[1], 0);
    EXPECT_EQ(f[2], 0x42);
    Text16 untouched = f;
    untouched[1] = 0x41;  // a NUL before any fault ends the scan without change
    untouched[0] = 0;
    Text16 copy = untouched;
    TrimUtf8Name(copy);
    EXPECT_EQ(copy, untouched);
}

TEST(Decoder, NamesAreTrimmedOnlyForCurrentDevicesWithCapability) {
    const Bytes bad = {'A', 0xFF, 'B'};
    auto nameOf = [&](std::uint8_t mode, std::uint8_t cap) {
        const _CommandDataTable r =
            DecodeRecord(Answer().Mode(mode).Capability(cap).U8(0, 3).U32(32, 1).Item(167, bad));
        return FieldText(r.deviceName);
    };
    EXPECT_EQ(nameOf(2, 1), "A");
    EXPECT_EQ(nameOf(2, 0), "A\xFF" "B");
    EXPECT_EQ(nameOf(0, 1), "A\xFF" "B");
}

// --- device table -------------------------------------------------------------------------

StoredAnswer Parse(DeviceTable& table, const Bytes& d) {
    const auto h = ValidateAnswer(d, kPcMac);
    EXPECT_TRUE(h.has_value());
    return ParseDeviceAnswer(table, d, h->payloadLength, ContextOf(*h));
}

MacAddress NthMac(int n) {
    return MacAddress{0x02, 0x10, 0x00, 0x00, static_cast<std::uint8_t>(n >> 8),
                      static_cast<std::uint8_t>(n)};
}

TEST(DeviceTableParse, AnswerWithoutAddressIsNeitherStoredNorReported) {
    DeviceTable table;
    const StoredAnswer r = Parse(table, Answer().U8(0, 3).Text(168, "K9000").Build());
    EXPECT_EQ(r.address, 0u);
    EXPECT_EQ(r.entry, nullptr);
    EXPECT_TRUE(table.Empty());
}

TEST(DeviceTableParse, ZeroAddressIsStoredAndReportedUnderTheMac) {
    DeviceTable table;
    const MacAddress mac{0x00, 0x0A, 0xFF, 0x01, 0x02, 0x03};
    const Bytes d = Answer().DeviceMac(mac).U8(0, 3).U32(32, 0).Build();
    const StoredAnswer r = Parse(table, d);
    EXPECT_EQ(r.address, 0u);
    ASSERT_NE(r.entry, nullptr);
    EXPECT_EQ(r.entry->record.primary.mac, mac);
    EXPECT_TRUE(table.Contains(mac));
}

TEST(DeviceTableParse, FullTableDropsNewDevicesButUpdatesKnownOnesKeepingTheirNumber) {
    DeviceTable table;
    for (int i = 0; i < 99; ++i)
        Parse(table, Answer().DeviceMac(NthMac(i)).U8(0, 3).U32(32, 1).Build());
    // The last free slot still takes a new device.
    ASSERT_NE(Parse(table, Answer().DeviceMac(NthMac(99)).U8(0, 3).U32(32, 1).Build()).entry,
              nullptr);
    ASSERT_EQ(table.Size(), 100u);

    const StoredAnswer dropped =
        Parse(table, Answer().DeviceMac(NthMac(100)).U8(0, 3).U32(32, 0x0A000064).Build());
    EXPECT_EQ(dropped.address, 0x0A000064u)
        << "the address is reported even when the device is not kept";
    EXPECT_EQ(dropped.entry, nullptr);
    EXPECT_EQ(table.Size(), 100u);
    EXPECT_FALSE(table.Contains(NthMac(100)));

    const StoredAnswer known = Parse(
        table, Answer().DeviceMac(NthMac(5)).Sequence(9).U8(0, 3).U32(32, 0x0A000005).Build());
    ASSERT_NE(known.entry, nullptr);
    EXPECT_EQ(known.entry->number, 5);
    EXPECT_EQ(known.entry->record.primary.ipAddress, 0x0A000005u);
    EXPECT_EQ(table.Find(NthMac(5))->sequence, 9);
}

}  // namespace
}  // namespace valdrune
