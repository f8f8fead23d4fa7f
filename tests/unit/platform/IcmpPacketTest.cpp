#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/IcmpPacket.h"
#include "tests/support/CaseNames.h"

namespace valdrune {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kTarget = 0x0A4D0505;  // 10.77.5.5
constexpr std::uint32_t kRouter = 0x0A4D05FE;  // 10.77.5.254
constexpr std::uint32_t kLocal = 0x0A4D0501;   // 10.77.5.1

Bytes IpHeader(std::uint32_t source, std::uint32_t destination, std::size_t payload) {
    Bytes h(20, 0);
    h[0] = 0x45;
    const auto total = static_cast<std::uint16_t>(20 + payload);
    h[2] = static_cast<std::uint8_t>(total >> 8);
    h[3] = static_cast<std::uint8_t>(total);
    h[8] = 64;
    h[9] = 1;  // ICMP
    for (int i = 0; i < 4; ++i) {
        h[12 + i] = static_cast<std::uint8_t>(source >> (24 - 8 * i));
        h[16 + i] = static_cast<std::uint8_t>(destination >> (24 - 8 * i));
    }
    return h;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

constexpr char kData[] = "ICMP SEND DATA";

Bytes EchoReply(std::uint16_t id, std::uint16_t seq, const std::string& data = kData) {
    Bytes icmp = BuildEchoRequest(id, seq, data);
    icmp[0] = 0;
    return icmp;
}

// An ICMP error from `from` quoting our echo request to `quotedTarget`, cut to `quotedData`
// bytes of its data (routers may quote only the first 8 bytes of the ICMP part).
Bytes ErrorPacket(std::uint8_t type, std::uint8_t code, std::uint32_t from,
                  std::uint32_t quotedTarget, std::uint16_t id, std::uint16_t seq,
                  std::size_t quotedData = 14, std::uint8_t quotedType = 8) {
    Bytes echo = BuildEchoRequest(id, seq, kData);
    echo[0] = quotedType;
    echo.resize(8 + quotedData);
    const Bytes quoted = Concat(IpHeader(kLocal, quotedTarget, echo.size()), echo);
    Bytes icmp = {type, code, 0, 0, 0, 0, 0, 0};
    icmp = Concat(icmp, quoted);
    return Concat(IpHeader(from, kLocal, icmp.size()), icmp);
}

const EchoMatch kMatch{kTarget, 0x1234, 7, kData};

IcmpVerdict Raw(const Bytes& p) { return ClassifyIcmpPacket(p.data(), p.size(), true, 0, kMatch); }

TEST(EchoRequest, CarriesIdSequenceDataAndAValidChecksum) {
    const Bytes p = BuildEchoRequest(0xBEEF, 0x0102, kData);
    ASSERT_EQ(p.size(), 8u + 14u);
    EXPECT_EQ(p[0], 8);
    EXPECT_EQ(p[1], 0);
    EXPECT_EQ((Bytes{p[4], p[5], p[6], p[7]}), (Bytes{0xBE, 0xEF, 0x01, 0x02}));
    EXPECT_EQ(std::string(p.begin() + 8, p.end()), kData);
    EXPECT_EQ(InternetChecksum(p.data(), p.size()), 0);  // a correct sum folds to zero
    // Odd length: the last byte counts as the high half of a word.
    const Bytes odd = BuildEchoRequest(1, 1, "abc");
    EXPECT_EQ(InternetChecksum(odd.data(), odd.size()), 0);
}

struct ReplyCase {
    const char* name;
    std::uint32_t source;
    Bytes icmp;
    IcmpVerdict expected;
};

class EchoReplyTest : public testing::TestWithParam<ReplyCase> {};

// Ping sockets give the ICMP part and the source apart; raw sockets the whole IP packet.
TEST_P(EchoReplyTest, OnlyOurReplyFromTheTargetAnswers) {
    const auto& c = GetParam();
    EXPECT_EQ(ClassifyIcmpPacket(c.icmp.data(), c.icmp.size(), false, c.source, kMatch),
              c.expected);
    EXPECT_EQ(Raw(Concat(IpHeader(c.source, kLocal, c.icmp.size()), c.icmp)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, EchoReplyTest,
    testing::Values(
        ReplyCase{"Ours", kTarget, EchoReply(0x1234, 7), IcmpVerdict::Answered},
        ReplyCase{"FromAThirdHost", kRouter, EchoReply(0x1234, 7), IcmpVerdict::Unrelated},
        ReplyCase{"OtherId", kTarget, EchoReply(0x1235, 7), IcmpVerdict::Unrelated},
        ReplyCase{"OtherSequence", kTarget, EchoReply(0x1234, 8), IcmpVerdict::Unrelated},
        ReplyCase{"OtherData", kTarget, EchoReply(0x1234, 7, "ICMP SEND DATB"),
                  IcmpVerdict::Unrelated},
        ReplyCase{"ShortData", kTarget, EchoReply(0x1234, 7, "ICMP SEND"), IcmpVerdict::Unrelated},
        ReplyCase{"ARequestNotAReply", kTarget, BuildEchoRequest(0x1234, 7, kData),
                  IcmpVerdict::Unrelated}),
    test::ByName{});

// Every ICMP type and code: what a router's error means, and that the probed host itself
// sending any error means it is there. Only network and host unreachable (and the variants
// RFC 1812 folds into them) say "no answer".
struct TypeRow {
    std::uint8_t type, first, last;
    int status;
    IcmpVerdict fromRouter;
};

constexpr TypeRow kTypes[] = {
    {0, 0, 255, 0, IcmpVerdict::Unrelated},  // echo reply: no error
    {1, 0, 255, 0, IcmpVerdict::Unrelated},
    {2, 0, 255, 0, IcmpVerdict::Unrelated},
    {3, 0, 0, 11002, IcmpVerdict::NetUnreachable},
    {3, 1, 1, 11003, IcmpVerdict::HostUnreachable},
    {3, 2, 2, 11004, IcmpVerdict::Answered},
    {3, 3, 3, 11005, IcmpVerdict::Answered},
    {3, 4, 4, 11009, IcmpVerdict::Answered},
    {3, 5, 5, 11012, IcmpVerdict::Answered},
    {3, 6, 6, 11002, IcmpVerdict::NetUnreachable},
    {3, 7, 8, 11003, IcmpVerdict::HostUnreachable},
    {3, 9, 10, 11004, IcmpVerdict::Answered},  // prohibited: a filter, perhaps the host's own
    {3, 11, 11, 11002, IcmpVerdict::NetUnreachable},
    {3, 12, 12, 11003, IcmpVerdict::HostUnreachable},
    {3, 13, 15, 11004, IcmpVerdict::Answered},
    {3, 16, 255, 11040, IcmpVerdict::Answered},
    {4, 0, 255, 11016, IcmpVerdict::Answered},
    {5, 0, 255, 0, IcmpVerdict::Unrelated},  // redirect: the echo still went on
    {6, 0, 255, 0, IcmpVerdict::Unrelated},
    {7, 0, 255, 0, IcmpVerdict::Unrelated},
    {8, 0, 255, 0, IcmpVerdict::Unrelated},
    {9, 0, 255, 0, IcmpVerdict::Unrelated},
    {10, 0, 255, 0, IcmpVerdict::Unrelated},
    {11, 0, 0, 11013, IcmpVerdict::Answered},
    {11, 1, 1, 11014, IcmpVerdict::Answered},
    {11, 2, 255, 11041, IcmpVerdict::Answered},
    {12, 0, 255, 11015, IcmpVerdict::Answered},
};

TEST(IcmpErrorTable, EveryTypeAndCodeFromRouterAndTarget) {
    int checked = 0;
    for (int type = 0; type < 256; ++type) {
        for (int code = 0; code < 256; ++code) {
            TypeRow expected{0, 0, 0, 0, IcmpVerdict::Unrelated};  // types above 12
            for (const TypeRow& r : kTypes)
                if (r.type == type && code >= r.first && code <= r.last) expected = r;
            const auto t = static_cast<std::uint8_t>(type);
            const auto c = static_cast<std::uint8_t>(code);
            SCOPED_TRACE(testing::Message() << "type " << type << " code " << code);
            EXPECT_EQ(IcmpErrorStatus(t, c), expected.status);
            const IcmpVerdict fromTarget =
                expected.status == 0 ? IcmpVerdict::Unrelated : IcmpVerdict::Answered;
            EXPECT_EQ(ClassifyIcmpError(t, c, kRouter, kTarget), expected.fromRouter);
            EXPECT_EQ(ClassifyIcmpError(t, c, kTarget, kTarget), fromTarget);
            EXPECT_EQ(Raw(ErrorPacket(t, c, kRouter, kTarget, 0x1234, 7)), expected.fromRouter);
            EXPECT_EQ(Raw(ErrorPacket(t, c, kTarget, kTarget, 0x1234, 7)), fromTarget);
            // A quote of 8 bytes (no data) is enough; wrong id or sequence never decides.
            EXPECT_EQ(Raw(ErrorPacket(t, c, kRouter, kTarget, 0x1234, 7, 0)), expected.fromRouter);
            EXPECT_EQ(Raw(ErrorPacket(t, c, kRouter, kTarget, 0x4321, 7)), IcmpVerdict::Unrelated);
            EXPECT_EQ(Raw(ErrorPacket(t, c, kTarget, kTarget, 0x1234, 6)), IcmpVerdict::Unrelated);
            ++checked;
        }
    }
    EXPECT_EQ(checked, 256 * 256);
}

struct QuoteCase {
    const char* name;
    Bytes packet;
};

class ForeignQuoteTest : public testing::TestWithParam<QuoteCase> {};

TEST_P(ForeignQuoteTest, ErrorsAboutAnythingButOurRequestAreIgnored) {
    EXPECT_EQ(Raw(GetParam().packet), IcmpVerdict::Unrelated);
}

INSTANTIATE_TEST_SUITE_P(
    Quotes, ForeignQuoteTest,
    testing::Values(QuoteCase{"AnotherDestination", ErrorPacket(3, 1, kRouter, kRouter, 0x1234, 7)},
                    QuoteCase{"AnotherId", ErrorPacket(3, 1, kRouter, kTarget, 0x4321, 7)},
                    QuoteCase{"AnotherSequence", ErrorPacket(3, 1, kRouter, kTarget, 0x1234, 6)},
                    QuoteCase{"AnEchoReply", ErrorPacket(3, 1, kRouter, kTarget, 0x1234, 7, 14, 0)},
                    QuoteCase{"ATimestampRequest",
                              ErrorPacket(3, 1, kRouter, kTarget, 0x1234, 7, 14, 13)}),
    test::ByName{});

TEST(EchoMatching, QuotedDataMustBeOursAsFarAsItGoes) {
    EchoMatch other = kMatch;
    other.data = "ICMP SEND DATB";
    const Bytes full = ErrorPacket(3, 1, kRouter, kTarget, 0x1234, 7);
    EXPECT_EQ(ClassifyIcmpPacket(full.data(), full.size(), true, 0, other), IcmpVerdict::Unrelated);
    const Bytes cut = ErrorPacket(3, 1, kRouter, kTarget, 0x1234, 7, 9);  // "ICMP SEND"
    EXPECT_EQ(ClassifyIcmpPacket(cut.data(), cut.size(), true, 0, other),
              IcmpVerdict::HostUnreachable);
    const Bytes ours = BuildEchoRequest(0x1234, 7, kData);
    EXPECT_TRUE(IsOurEchoRequest(ours.data(), ours.size(), kMatch));
    EXPECT_FALSE(IsOurEchoRequest(ours.data(), 7, kMatch));
}

TEST(EchoMatching, TruncatedPacketsAreUnrelatedAndReadInBounds) {
    const Bytes reply = EchoReply(0x1234, 7);
    const Bytes full = Concat(IpHeader(kTarget, kLocal, reply.size()), reply);
    const Bytes error = ErrorPacket(3, 1, kRouter, kTarget, 0x1234, 7);
    for (const Bytes* p : {&full, &error}) {
        // The smallest complete prefix: headers plus 8 bytes (of the quoted echo for errors).
        const std::size_t needed = p == &full ? 28 : 20 + 8 + 20 + 8;
        for (std::size_t n = 0; n < needed; ++n) {
            // A copy of exactly n bytes, so that a sanitizer sees any read past the end.
            const Bytes prefix(p->begin(), p->begin() + static_cast<std::ptrdiff_t>(n));
            EXPECT_EQ(ClassifyIcmpPacket(prefix.data(), prefix.size(), true, 0, kMatch),
                      IcmpVerdict::Unrelated)
                << "prefix " << n;
        }
    }
    // A header length field larger than the packet.
    Bytes badHeader = full;
    badHeader[0] = 0x4F;
    EXPECT_EQ(Raw(badHeader), IcmpVerdict::Unrelated);
    EXPECT_EQ(ClassifyIcmpPacket(nullptr, 0, true, 0, EchoMatch{}), IcmpVerdict::Unrelated);
}

}  // namespace
}  // namespace valdrune
