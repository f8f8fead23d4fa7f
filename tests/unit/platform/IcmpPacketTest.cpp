#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/IcmpPacket.h"

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

Bytes EchoReply(std::uint16_t id, std::uint16_t seq) {
    Bytes icmp = BuildEchoRequest(id, seq, "ICMP SEND DATA");
    icmp[0] = 0;
    return icmp;
}

// An ICMP error from `from` quoting our echo request to `quotedTarget`.
Bytes ErrorPacket(std::uint8_t type, std::uint8_t code, std::uint32_t from,
                  std::uint32_t quotedTarget, std::uint16_t id, std::uint16_t seq) {
    const Bytes echo = BuildEchoRequest(id, seq, "ICMP SEND DATA");
    const Bytes quoted = Concat(IpHeader(kLocal, quotedTarget, echo.size()), echo);
    Bytes icmp = {type, code, 0, 0, 0, 0, 0, 0};
    icmp = Concat(icmp, quoted);
    return Concat(IpHeader(from, kLocal, icmp.size()), icmp);
}

IcmpVerdict Raw(const Bytes& p, std::uint16_t id = 0x1234, std::uint16_t seq = 7) {
    return ClassifyIcmpPacket(p.data(), p.size(), true, 0, EchoMatch{kTarget, id, seq, true});
}

TEST(EchoRequest, CarriesIdSequenceDataAndAValidChecksum) {
    const Bytes p = BuildEchoRequest(0xBEEF, 0x0102, "ICMP SEND DATA");
    ASSERT_EQ(p.size(), 8u + 14u);
    EXPECT_EQ(p[0], 8);
    EXPECT_EQ(p[1], 0);
    EXPECT_EQ((Bytes{p[4], p[5], p[6], p[7]}), (Bytes{0xBE, 0xEF, 0x01, 0x02}));
    EXPECT_EQ(std::string(p.begin() + 8, p.end()), "ICMP SEND DATA");
    EXPECT_EQ(InternetChecksum(p.data(), p.size()), 0);  // a correct sum folds to zero
    // Odd length: the last byte counts as the high half of a word.
    const Bytes odd = BuildEchoRequest(1, 1, "abc");
    EXPECT_EQ(InternetChecksum(odd.data(), odd.size()), 0);
}

TEST(EchoMatching, RawReplyMustComeFromTargetWithOurIdAndSequence) {
    const Bytes reply = EchoReply(0x1234, 7);
    EXPECT_EQ(Raw(Concat(IpHeader(kTarget, kLocal, reply.size()), reply)), IcmpVerdict::Answered);
    EXPECT_EQ(Raw(Concat(IpHeader(kRouter, kLocal, reply.size()), reply)), IcmpVerdict::Unrelated);
    const Bytes otherId = EchoReply(0x1235, 7);
    EXPECT_EQ(Raw(Concat(IpHeader(kTarget, kLocal, otherId.size()), otherId)),
              IcmpVerdict::Unrelated);
    const Bytes otherSeq = EchoReply(0x1234, 8);
    EXPECT_EQ(Raw(Concat(IpHeader(kTarget, kLocal, otherSeq.size()), otherSeq)),
              IcmpVerdict::Unrelated);
    // Another host's echo request seen by the raw socket is not a reply.
    const Bytes request = BuildEchoRequest(0x1234, 7, "x");
    EXPECT_EQ(Raw(Concat(IpHeader(kTarget, kLocal, request.size()), request)),
              IcmpVerdict::Unrelated);
}

TEST(EchoMatching, PingSocketReplyIgnoresTheRewrittenId) {
    const Bytes reply = EchoReply(0x9999, 7);  // the kernel chose the id
    const EchoMatch match{kTarget, 0x1234, 7, false};
    EXPECT_EQ(ClassifyIcmpPacket(reply.data(), reply.size(), false, kTarget, match),
              IcmpVerdict::Answered);
    EXPECT_EQ(ClassifyIcmpPacket(reply.data(), reply.size(), false, kRouter, match),
              IcmpVerdict::Unrelated);
    const EchoMatch laterProbe{kTarget, 0x1234, 8, false};
    EXPECT_EQ(ClassifyIcmpPacket(reply.data(), reply.size(), false, kTarget, laterProbe),
              IcmpVerdict::Unrelated);
}

struct ErrorCase {
    std::uint8_t type;
    std::uint8_t code;
    std::uint32_t from;
    IcmpVerdict expected;
};

class IcmpErrorTest : public testing::TestWithParam<ErrorCase> {};

TEST_P(IcmpErrorTest, QuotedEchoGivesTheOutcome) {
    const auto c = GetParam();
    EXPECT_EQ(Raw(ErrorPacket(c.type, c.code, c.from, kTarget, 0x1234, 7)), c.expected);
    EXPECT_EQ(ClassifyIcmpError(c.type, c.code, c.from, kTarget), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, IcmpErrorTest,
    testing::Values(ErrorCase{3, 0, kRouter, IcmpVerdict::NetUnreachable},
                    ErrorCase{3, 6, kRouter, IcmpVerdict::NetUnreachable},
                    ErrorCase{3, 1, kRouter, IcmpVerdict::HostUnreachable},
                    ErrorCase{3, 1, kLocal, IcmpVerdict::HostUnreachable},
                    ErrorCase{3, 13, kRouter, IcmpVerdict::HostUnreachable},
                    // A router refusing is no sign of the address being in use ...
                    ErrorCase{3, 3, kRouter, IcmpVerdict::HostUnreachable},
                    ErrorCase{11, 0, kRouter, IcmpVerdict::HostUnreachable},
                    // ... but the probed host refusing the protocol is.
                    ErrorCase{3, 2, kTarget, IcmpVerdict::Answered},
                    ErrorCase{3, 3, kTarget, IcmpVerdict::Answered}));

TEST(EchoMatching, ErrorsAboutOtherEchoesAreIgnored) {
    EXPECT_EQ(Raw(ErrorPacket(3, 1, kRouter, kRouter, 0x1234, 7)), IcmpVerdict::Unrelated);
    EXPECT_EQ(Raw(ErrorPacket(3, 1, kRouter, kTarget, 0x4321, 7)), IcmpVerdict::Unrelated);
    EXPECT_EQ(Raw(ErrorPacket(3, 1, kRouter, kTarget, 0x1234, 6)), IcmpVerdict::Unrelated);
    EXPECT_EQ(Raw(ErrorPacket(5, 1, kRouter, kTarget, 0x1234, 7)), IcmpVerdict::Unrelated);
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
            EXPECT_EQ(ClassifyIcmpPacket(prefix.data(), prefix.size(), true, 0,
                                         EchoMatch{kTarget, 0x1234, 7, true}),
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
