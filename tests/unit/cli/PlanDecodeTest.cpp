#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "cli/Decode.h"
#include "cli/ExitCodes.h"
#include "cli/Plan.h"
#include "cli/RecordView.h"
#include "tests/support/AnswerBuilder.h"
#include "tests/support/CaseNames.h"

namespace valdrune::cli {
namespace {

using valdrune::test::AnswerBuilder;
using valdrune::test::Ip;
using valdrune::test::Mac;

// ---- plan -----------------------------------------------------------------------------------

TEST(Plan, ReadsHeaderCommentsQuotesAndEmptyCells) {
    const Plan p = ParsePlan(
        "# cameras of floor 2\n"
        "MAC, mode, ip, port, dns\n"
        "\n"
        "02-00-00-00-00-01,static,\"10.0.0.5\",8080,\n"
        "02:00:00:00:00:02,dhcp,,,manual\r\n");
    ASSERT_TRUE(p.problems.empty()) << p.problems[0].message;
    ASSERT_EQ(p.rows.size(), 2u);
    EXPECT_EQ(p.rows[0].line, 4);
    EXPECT_EQ(p.rows[0].request.ip, Ip("10.0.0.5"));
    EXPECT_EQ(p.rows[0].request.port, "8080");
    EXPECT_FALSE(p.rows[0].request.dns.has_value());
    EXPECT_EQ(p.rows[1].request.macText, "02-00-00-00-00-02");
    EXPECT_FALSE(p.rows[1].request.port.has_value());  // empty cell keeps the device's port
    EXPECT_EQ(p.rows[1].request.dns, DnsMode::Manual);
}

TEST(Plan, DoubledQuoteInAQuotedCellIsOneQuoteAndOutputDoublesItAgain) {
    const std::vector<std::string> cells = {"say \"hi\"", "b"};
    EXPECT_EQ(SplitCsv("\"say \"\"hi\"\"\",b"), cells);
    EXPECT_EQ(CsvLine(cells), "\"say \"\"hi\"\"\",b");
    EXPECT_EQ(SplitCsv(CsvLine(cells)), cells);
}

TEST(Plan, ByteOrderMarkOfASpreadsheetIsNotPartOfTheFirstLine) {
    for (const char* text : {"\xEF\xBB\xBFmac,ip\n02-00-00-00-00-01,10.0.0.5\n",
                             "\xEF\xBB\xBF# floor 2\nmac,ip\n02-00-00-00-00-01,10.0.0.5\n"}) {
        const Plan p = ParsePlan(text);
        ASSERT_TRUE(p.problems.empty()) << p.problems[0].message;
        ASSERT_EQ(p.rows.size(), 1u);
        EXPECT_EQ(p.rows[0].request.ip, Ip("10.0.0.5"));
    }
}

struct BadPlanCase {
    const char* name;
    const char* text;
    int line;
    const char* message;
};

class BadPlan : public ::testing::TestWithParam<BadPlanCase> {};

TEST_P(BadPlan, NamesTheLineAndTheFault) {
    const BadPlanCase& c = GetParam();
    const Plan p = ParsePlan(c.text);
    ASSERT_FALSE(p.problems.empty());
    EXPECT_EQ(p.problems[0].line, c.line);
    EXPECT_NE(p.problems[0].message.find(c.message), std::string::npos) << p.problems[0].message;
    EXPECT_EQ(p.problems[0].exitCode, EXIT_REFUSED);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadPlan,
    ::testing::Values(
        BadPlanCase{"UnknownColumn", "mac,colour\n", 1, "unknown column"},
        BadPlanCase{"NoMacColumn", "ip\n10.0.0.1\n", 1, "no \"mac\""},
        BadPlanCase{"BadAddress", "mac,ip\n02-00-00-00-00-01,10.0.0.256\n", 2, "malformed IPv4"},
        BadPlanCase{"BadMac", "mac\n02-00-00-00-00\n", 2, "malformed MAC"},
        BadPlanCase{"BadPort", "mac,port\n02-00-00-00-00-01,80a\n", 2, "malformed port"},
        BadPlanCase{"BadMode", "mac,mode\n02-00-00-00-00-01,fixed\n", 2, "unknown address mode"},
        BadPlanCase{"TooManyCells", "mac\n02-00-00-00-00-01,1\n", 2, "more cells"},
        BadPlanCase{"Empty", "# nothing\n", 0, "empty"}),
    test::ByName{});

_CommandDataTable Current(std::uint8_t last, const char* ip) {
    return test::RecordBuilder(DEVICE_KIND_STANDARD).DeviceMac(Mac(last)).Address(ip).Ipv4Mode(0);
}

PreparedSettings StaticTo(const _CommandDataTable& before, const char* ip) {
    PreparedSettings p;
    p.ok = true;
    p.before = before;
    p.after = before;
    p.after.ipv4Mode = 3;
    p.after.primary.ipAddress = Ip(ip);
    return p;
}

TEST(PlanConflicts, DuplicateTargetsDuplicateRowsAndAddressesOfOtherDevices) {
    Plan plan = ParsePlan(
        "mac\n02-00-00-00-00-01\n02-00-00-00-00-02\n02-00-00-00-00-03\n02-00-00-00-00-01\n");
    ASSERT_EQ(plan.rows.size(), 4u);
    const auto a = Current(1, "10.0.0.1"), b = Current(2, "10.0.0.2"), c = Current(3, "10.0.0.3");
    const auto other = Current(9, "10.0.0.9");
    std::vector<PreparedSettings> prepared = {StaticTo(a, "10.0.0.50"), StaticTo(b, "10.0.0.50"),
                                              StaticTo(c, "10.0.0.9"), StaticTo(a, "10.0.0.60")};
    const auto problems = CheckPlanConflicts(plan.rows, prepared, {a, b, c, other});
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_EQ(problems[0].line, 3);
    EXPECT_EQ(problems[0].exitCode, EXIT_CONFLICT);
    EXPECT_NE(problems[0].message.find("also planned for 02-00-00-00-00-01"), std::string::npos);
    EXPECT_EQ(problems[1].line, 4);
    EXPECT_NE(problems[1].message.find("already used by 02-00-00-00-00-09"), std::string::npos);
    EXPECT_EQ(problems[2].line, 5);
    EXPECT_EQ(problems[2].exitCode, EXIT_REFUSED);
}

TEST(PlanConflicts, AnAddressAnotherDeviceUsesOnItsPcPortIsTaken) {
    Plan plan = ParsePlan("mac\n02-00-00-00-00-01\n");
    const auto a = Current(1, "10.0.0.1");
    auto recorder = Current(9, "10.0.0.9");
    recorder.primary.ipAddress2 = Ip("10.0.0.50");
    const auto problems = CheckPlanConflicts(plan.rows, {StaticTo(a, "10.0.0.50")}, {a, recorder});
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].message.find("already used by 02-00-00-00-00-09"), std::string::npos);
}

TEST(PlanConflicts, KeepingOnesOwnAddressOrDhcpIsNoConflict) {
    Plan plan = ParsePlan("mac\n02-00-00-00-00-01\n02-00-00-00-00-02\n");
    const auto a = Current(1, "10.0.0.1"), b = Current(2, "10.0.0.1");
    PreparedSettings keep = StaticTo(a, "10.0.0.1");
    PreparedSettings dhcp;
    dhcp.ok = true;
    dhcp.before = b;
    dhcp.after = b;  // DHCP: its address is not fixed by the change
    EXPECT_TRUE(CheckPlanConflicts(plan.rows, {keep, dhcp}, {a, b}).empty());
}

// ---- decode ---------------------------------------------------------------------------------

TEST(Hex, AcceptsCommonSeparatorsAndRejectsStrayCharacters) {
    std::vector<std::uint8_t> b;
    std::string error;
    ASSERT_TRUE(ParseHex("00 01:0a-FF\n0x10", b, error)) << error;
    EXPECT_EQ(b, (std::vector<std::uint8_t>{0x00, 0x01, 0x0A, 0xFF, 0x10}));
    EXPECT_FALSE(ParseHex("0 1", b, error));
    EXPECT_FALSE(ParseHex("abc", b, error));
    EXPECT_FALSE(ParseHex("zz", b, error));
    EXPECT_FALSE(ParseHex("", b, error));
}

std::vector<std::uint8_t> StandardAnswer() {
    return AnswerBuilder(14, Mac(1))
        .U8(0, 3)
        .Ipv4(32, "192.168.0.20")
        .Ipv4(33, "255.255.255.0")
        .U16(37, 8080)
        .Text(167, "Lobby")
        .Build();
}

TEST(Decode, ValidAnswerGivesHeaderItemsAndRecord) {
    const DecodedDatagram d = DecodeDatagram(StandardAnswer(), std::nullopt);
    ASSERT_TRUE(d.valid) << d.reason;
    EXPECT_EQ(d.header.command, 14);
    ASSERT_EQ(d.items.size(), 5u);
    EXPECT_EQ(d.items[1].tag, 32);
    EXPECT_TRUE(d.endTagReached);
    ASSERT_TRUE(d.record);
    EXPECT_EQ(d.record->kind, DEVICE_KIND_STANDARD);
    EXPECT_EQ(d.record->primary.port, 8080);
    EXPECT_EQ(FieldText(d.record->deviceName), "Lobby");
}

struct BrokenCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    int step;
};

class BrokenDatagram : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenDatagram, ReportsTheFirstFailingStep) {
    const BrokenCase& c = GetParam();
    const DecodedDatagram d = DecodeDatagram(c.bytes, MacAddress{2, 0, 0, 0, 0, 1});
    EXPECT_FALSE(d.valid);
    EXPECT_EQ(d.failedStep, c.step) << d.reason;
    EXPECT_FALSE(d.reason.empty());
}

std::vector<std::uint8_t> Cut(std::vector<std::uint8_t> b, std::size_t n) {
    b.resize(n);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Table, BrokenDatagram,
    ::testing::Values(
        BrokenCase{"ShortHeader", Cut(StandardAnswer(), 47), 1},
        BrokenCase{"ForeignRequester",
                   AnswerBuilder(14, Mac(1)).Requester(Mac(7), Ip("192.168.0.9")).Build(), 2},
        BrokenCase{"LengthOver1470", AnswerBuilder(14, Mac(1)).LengthField(1471).Build(), 3},
        BrokenCase{"BadMagic", AnswerBuilder(14, Mac(1)).BadMagic().Build(), 4},
        BrokenCase{"Truncated", Cut(StandardAnswer(), 60), 5},
        BrokenCase{"ChecksumOffByOne", AnswerBuilder(14, Mac(1)).ChecksumDelta(1).Build(), 6}),
    test::ByName{});

TEST(Decode, MissingRequesterCheckAcceptsAnswersForAnyPc) {
    const auto b = AnswerBuilder(14, Mac(1)).Requester(Mac(7), Ip("192.168.0.9")).Build();
    EXPECT_TRUE(DecodeDatagram(b, std::nullopt).valid);
}

// An Ethernet frame carrying one UDP datagram from the device port to the PC port.
std::vector<std::uint8_t> Frame(const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> f(14, 0);
    f[12] = 0x08;
    const std::size_t udpLength = 8 + payload.size();
    const std::size_t total = 20 + udpLength;
    const std::uint8_t ip[20] = {0x45,
                                 0,
                                 std::uint8_t(total >> 8),
                                 std::uint8_t(total),
                                 0,
                                 0,
                                 0x40,
                                 0,
                                 64,
                                 17,
                                 0,
                                 0,
                                 192,
                                 168,
                                 0,
                                 20,
                                 192,
                                 168,
                                 0,
                                 10};
    f.insert(f.end(), ip, ip + 20);
    const std::uint8_t udp[8] = {
        0x29, 0xAE, 0x29, 0xAD, std::uint8_t(udpLength >> 8), std::uint8_t(udpLength), 0, 0};
    f.insert(f.end(), udp, udp + 8);
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

TEST(Capture, ExtractsTheUdpPayloadOfAnEthernetFrame) {
    const auto answer = StandardAnswer();
    const auto p = ExtractUdp(1 /* Ethernet */, Frame(answer));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->sourcePort, 10670);
    EXPECT_EQ(p->destinationPort, 10669);
    EXPECT_EQ(p->sourceIp, Ip("192.168.0.20"));
    EXPECT_EQ(p->payload, answer);
}

TEST(DeviceText, ControlBytesADeviceSendsNeverReachTheTerminal) {
    DeviceView v;
    SetFieldText(v.record.deviceName, "A\x1b]0;x\x07\r\nB");
    SetFieldText(v.record.model, "C:\\cam");
    for (const Format format : {Format::Text, Format::Csv}) {
        std::ostringstream out;
        WriteDevices(out, {v}, format);
        const std::string text = out.str();
        for (const char c : text) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20);
        EXPECT_NE(text.find("A\\x1b]0;x\\x07\\x0d\\x0aB"), std::string::npos) << text;
        EXPECT_NE(text.find("C:\\x5ccam"), std::string::npos) << text;
    }
    // JSON carries the bytes as sent; its own escaping keeps them off the terminal.
    EXPECT_EQ(DeviceJson(v)["name"], "A\x1b]0;x\x07\r\nB");
}

TEST(Capture, FilesAreTakenForCapturesByTheirMagicNumberOnly) {
    auto head = [](const char* text) {
        return std::vector<std::uint8_t>(text, text + std::strlen(text));
    };
    // Hex files the decoder reads as text, even when they do not start with two hex digits.
    for (const char* text : {"0x00 01", " 00 01", "\n0001", "00 01", "ab"})
        EXPECT_FALSE(IsCaptureMagic(head(text))) << text;
    const std::vector<std::vector<std::uint8_t>> captures = {{0xD4, 0xC3, 0xB2, 0xA1},
                                                             {0xA1, 0xB2, 0xC3, 0xD4},
                                                             {0x4D, 0x3C, 0xB2, 0xA1},
                                                             {0x0A, 0x0D, 0x0D, 0x0A}};
    for (const auto& magic : captures) EXPECT_TRUE(IsCaptureMagic(magic));
}

TEST(Capture, DropsCutOffAndMalformedFramesWithoutReadingPastThem) {
    const auto frame = Frame(StandardAnswer());
    for (std::size_t n = 0; n < frame.size(); ++n) {
        // A heap copy of exactly n bytes, so that a read past it is caught by sanitizers.
        std::vector<std::uint8_t> cut(frame.begin(), frame.begin() + static_cast<long>(n));
        EXPECT_FALSE(ExtractUdp(1, cut)) << n;
    }
    auto badIhl = frame;
    badIhl[14] = 0x4F;  // header length beyond the frame's UDP header
    EXPECT_FALSE(ExtractUdp(1, badIhl));
    auto udpTooLong = frame;
    udpTooLong[14 + 20 + 4] = 0xFF;
    EXPECT_FALSE(ExtractUdp(1, udpTooLong));
    EXPECT_FALSE(ExtractUdp(12345, frame));
}

TEST(Capture, MutatedFramesAndDatagramsAreHandledWithinTheirBytes) {
    // Deterministic mutations of a valid frame; run under the sanitizers this catches any
    // read outside the given bytes in the frame walk, the validation steps or the decoder.
    const auto frame = Frame(StandardAnswer());
    std::uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::uint8_t> f = frame;
        const int flips = 1 + static_cast<int>(next() % 4);
        for (int k = 0; k < flips; ++k) f[next() % f.size()] = static_cast<std::uint8_t>(next());
        f.resize(next() % (f.size() + 1));
        std::vector<std::uint8_t> exact(f.begin(), f.end());
        if (auto p = ExtractUdp(1, exact)) {
            EXPECT_LE(p->payload.size(), exact.size());
            DecodeDatagram(p->payload, std::nullopt);
        }
        // The datagram alone, mutated, and every other time with a checksum that fits, so
        // that mutated items reach the item walk and the decoder.
        std::vector<std::uint8_t> payload = StandardAnswer();
        for (int k = 0; k < flips; ++k) {
            payload[next() % payload.size()] = static_cast<std::uint8_t>(next());
        }
        if (round % 2 && payload.size() >= 4 && (payload[2] << 8 | payload[3]) <= 1470) {
            AnswerBuilder::FixChecksum(payload);
        }
        payload.resize(next() % (payload.size() + 1) + (round % 2 ? payload.size() : 0));
        payload.shrink_to_fit();
        const DecodedDatagram d = DecodeDatagram(payload, MacAddress{});
        EXPECT_TRUE(d.valid || d.failedStep >= 1);
    }
}

}  // namespace
}  // namespace valdrune::cli
