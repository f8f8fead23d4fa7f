#include <gtest/gtest.h>

#include <string>

#include "RulesTest.h"
#include "settings/rules/EntryRules.h"
#include "tests/support/CaseNames.h"

namespace valdrune {
namespace {

using test::ByName;
using test::CaseName;
using test::NamedBy;

TEST(KeepDigits, DropsEverythingButDigitsInOrder) {
    EXPECT_EQ(KeepDigits("8a0"), "80");
    EXPECT_EQ(KeepDigits("1x9."), "19");
    EXPECT_EQ(KeepDigits(""), "");
    EXPECT_EQ(KeepDigits("\xEF\xBC\x91"
                         "2"),
              "2");  // a full-width digit is not a digit
    EXPECT_EQ(KeepDigits("0123456789012"), "0123456789012");
}

// ---- octet ranges -------------------------------------------------------------------------

struct OctetCase {
    int control;
    int octet;
    int value;
    bool refused;
    int putIn;
    int messageId;
    int wParam;
};

class OctetFieldRule : public ::testing::TestWithParam<OctetCase> {};

TEST_P(OctetFieldRule, RefusesOutsideTheControlsRange) {
    const OctetCase& c = GetParam();
    const auto r = CheckOctetField(c.control, c.octet, c.value);
    ASSERT_EQ(r.has_value(), c.refused);
    if (!r) return;
    EXPECT_EQ(r->putIn, c.putIn);
    EXPECT_EQ(r->notice.messageId, c.messageId);
    EXPECT_EQ(r->wParam, c.wParam);
    EXPECT_EQ(r->notice.value, c.value);
    EXPECT_EQ(r->notice.controlId, c.control);
    EXPECT_EQ(r->notice.octetIndex, c.octet);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OctetFieldRule,
    ::testing::Values(
        // address controls: first octet 1-223
        OctetCase{1015, 0, 0, true, 192, 430, 1}, OctetCase{1015, 0, 1, false, 0, 0, 0},
        OctetCase{1015, 0, 223, false, 0, 0, 0}, OctetCase{1015, 0, 224, true, 192, 430, 1},
        OctetCase{1055, 0, -1, true, 192, 431, 0}, OctetCase{1055, 0, 0, true, 192, 430, 1},
        // gateway, DNS and PC-port address: first octet 0-223
        OctetCase{1017, 0, 0, false, 0, 0, 0}, OctetCase{1017, 0, 224, true, 192, 434, 1},
        OctetCase{1017, 0, -1, true, 192, 435, 0}, OctetCase{1079, 0, 223, false, 0, 0, 0},
        OctetCase{1065, 0, 224, true, 192, 434, 1}, OctetCase{1019, 0, 255, true, 192, 434, 1},
        // masks: first octet 0-255
        OctetCase{1016, 0, 255, false, 0, 0, 0}, OctetCase{1067, 0, -1, true, 0, 433, 0},
        OctetCase{1057, 0, 256, true, 255, 432, 1},
        // other octets of every control
        OctetCase{1015, 2, -1, true, 0, 433, 0}, OctetCase{1017, 2, -1, true, 0, 433, 0},
        OctetCase{1065, 3, 256, true, 255, 432, 1}, OctetCase{1015, 1, 0, false, 0, 0, 0},
        OctetCase{1015, 3, 255, false, 0, 0, 0},
        // controls without a rule, octet out of range
        OctetCase{1014, 0, 999, false, 0, 0, 0}, OctetCase{1015, 4, 999, false, 0, 0, 0}),
    NamedBy([](const OctetCase& c) {
        return CaseName("Control", c.control, "Octet", c.octet, "Value", c.value);
    }));

TEST(OctetRule, EmptiedAlwaysTakesTheEmptiedColumnEvenBelowTheLowestBound) {
    const OctetRule rule{1, 223, 192, 192, 431, 430};
    const OctetCheck c = CheckOctet(rule, -5);
    EXPECT_FALSE(c.accepted);
    EXPECT_EQ(c.messageId, 431);
    EXPECT_FALSE(c.formatWithValue);
}

// ---- ports --------------------------------------------------------------------------------

struct PortCase {
    std::uint32_t port;
    std::uint8_t kind;
    std::uint8_t https;
    bool allowed;
};

class PortRule : public ::testing::TestWithParam<PortCase> {};

TEST_P(PortRule, FollowsTheDevicesKind) {
    const PortCase& c = GetParam();
    EXPECT_EQ(IsPortAllowed(c.port, c.kind, c.https), c.allowed)
        << "port " << c.port << " kind " << int(c.kind) << " https " << int(c.https);
}

const auto kPortCaseName = NamedBy([](const PortCase& c) {
    return CaseName("Port", c.port, "Kind", int(c.kind), c.https ? "Https" : "");
});

constexpr std::uint8_t S = DEVICE_KIND_STANDARD;
constexpr std::uint8_t L = DEVICE_KIND_LEGACY;
constexpr std::uint8_t T = DEVICE_KIND_TWO_PORT;

INSTANTIATE_TEST_SUITE_P(
    Standard, PortRule,
    ::testing::Values(
        PortCase{0, S, 0, true}, PortCase{80, S, 0, true}, PortCase{443, S, 1, true},
        PortCase{554, S, 0, false}, PortCase{995, S, 0, false}, PortCase{20, S, 0, false},
        PortCase{22, S, 0, true}, PortCase{1900, S, 0, true}, PortCase{10669, S, 0, false},
        PortCase{10670, S, 0, false}, PortCase{10671, S, 0, true}, PortCase{58999, S, 0, true},
        PortCase{59000, S, 0, false}, PortCase{61000, S, 0, false}, PortCase{61001, S, 0, true},
        PortCase{65535, S, 0, true}, PortCase{65536, S, 0, false}, PortCase{99999, S, 0, false}),
    kPortCaseName);

INSTANTIATE_TEST_SUITE_P(Legacy, PortRule,
                         ::testing::Values(PortCase{0, L, 0, false}, PortCase{80, L, 0, true},
                                           PortCase{81, L, 0, false}, PortCase{1023, L, 0, false},
                                           PortCase{1024, L, 0, true}, PortCase{1900, L, 0, false},
                                           PortCase{554, L, 0, false}, PortCase{10669, L, 0, true},
                                           PortCase{65535, L, 0, true},
                                           PortCase{65536, L, 0, false}),
    kPortCaseName);

INSTANTIATE_TEST_SUITE_P(
    TwoPort, PortRule,
    ::testing::Values(
        PortCase{0, T, 0, true}, PortCase{80, T, 0, true}, PortCase{80, T, 1, false},
        PortCase{443, T, 0, false}, PortCase{443, T, 1, true}, PortCase{79, T, 0, false},
        PortCase{546, T, 0, false}, PortCase{554, T, 0, true}, PortCase{1900, T, 0, true},
        PortCase{1024, T, 0, true}, PortCase{10000, T, 0, true}, PortCase{10001, T, 0, false},
        PortCase{10007, T, 0, false}, PortCase{10008, T, 0, true}, PortCase{10670, T, 0, false},
        PortCase{49999, T, 0, true}, PortCase{50000, T, 0, false}, PortCase{50255, T, 0, false},
        PortCase{50256, T, 0, true}, PortCase{59000, T, 0, true}, PortCase{65536, T, 0, false}),
    kPortCaseName);

INSTANTIATE_TEST_SUITE_P(OtherKinds, PortRule,
                         ::testing::Values(PortCase{80, 0, 0, false}, PortCase{1024, 1, 0, false},
                                           PortCase{0, 255, 0, false}),
    kPortCaseName);

TEST(InitialPort, ShowsEightyWhenTheRecordsPortIsRefused) {
    _CommandDataTable r;
    r.kind = S;
    r.primary.port = 21;
    EXPECT_EQ(InitialPort(r), 80);
    r.primary.port = 8080;
    EXPECT_EQ(InitialPort(r), 8080);
    r.kind = T;
    r.https = 1;
    r.primary.port = 80;
    EXPECT_EQ(InitialPort(r), 80);  // refused, and 80 is what it falls back to anyway
}

// ---- addresses ----------------------------------------------------------------------------

struct AddressCase {
    const char* address;
    unsigned flags;
    bool passes;
};

class AddressRule : public ::testing::TestWithParam<AddressCase> {};

TEST_P(AddressRule, RefusesWhatItsFlagsName) {
    const AddressCase& c = GetParam();
    EXPECT_EQ(CheckAddress(Ip(c.address), c.flags), c.passes) << c.address << " / " << c.flags;
}

INSTANTIATE_TEST_SUITE_P(
    Table, AddressRule,
    ::testing::Values(AddressCase{"0.0.0.0", 1, false}, AddressCase{"0.0.0.0", 6, true},
                      AddressCase{"127.0.0.1", 2, false}, AddressCase{"127.0.0.2", 7, true},
                      AddressCase{"127.0.0.1", 1, true}, AddressCase{"255.255.255.255", 4, false},
                      AddressCase{"255.255.255.255", 11, true},
                      AddressCase{"255.255.255.0", 15, true}, AddressCase{"255.0.255.0", 15, false},
                      AddressCase{"255.255.0.255", 8, false}, AddressCase{"0.0.0.0", 14, true},
                      AddressCase{"0.0.0.0", 15, false}, AddressCase{"128.0.0.0", 15, true},
                      AddressCase{"255.255.255.254", 15, true}, AddressCase{"0.0.0.255", 8, false},
                      AddressCase{"127.255.255.255", 8, false},
                      AddressCase{"192.168.0.1", 0, true}),
    NamedBy([](const AddressCase& c) { return CaseName(c.address, "Flags", c.flags); }));

// ---- combinations -------------------------------------------------------------------------

_NetInfo Lan(const char* a, const char* m, const char* g = "0.0.0.0", const char* d1 = "0.0.0.0",
             const char* d2 = "0.0.0.0") {
    _NetInfo n;
    n.ipAddress = Ip(a);
    n.subnetMask = Ip(m);
    n.gateway = Ip(g);
    n.dns1 = Ip(d1);
    n.dns2 = Ip(d2);
    return n;
}

struct CombinationCase {
    const char* name;
    _NetInfo net;
    bool staticLan;
    int singleFocus;  // expected CheckCombination result
};

class SinglePortCombination : public ::testing::TestWithParam<CombinationCase> {};

TEST_P(SinglePortCombination, RefusesWithFocusOnTheAddress) {
    const CombinationCase& c = GetParam();
    EXPECT_EQ(CheckCombination(c.net, c.staticLan), c.singleFocus) << c.name;
}

const char* const A = "192.168.0.10";
const char* const M = "255.255.255.0";

INSTANTIATE_TEST_SUITE_P(
    Table, SinglePortCombination,
    ::testing::Values(
        CombinationCase{"plain", Lan(A, M), true, 0},
        CombinationCase{"gateway ok", Lan(A, M, "192.168.0.1"), true, 0},
        CombinationCase{"gateway other subnet", Lan(A, M, "192.168.1.1"), true, 1015},
        CombinationCase{"gateway is address", Lan(A, M, A), true, 1015},
        CombinationCase{"gateway network", Lan(A, M, "192.168.0.0"), true, 1015},
        CombinationCase{"gateway broadcast", Lan(A, M, "192.168.0.255"), true, 1015},
        CombinationCase{"dns outside", Lan(A, M, "0.0.0.0", "8.8.8.8"), true, 0},
        CombinationCase{"dns host part 255", Lan(A, M, "0.0.0.0", "10.0.0.255"), true, 1015},
        CombinationCase{"dns host part 0", Lan(A, M, "0.0.0.0", "8.8.8.8", "10.0.0.0"), true, 1015},
        CombinationCase{"dns is address", Lan(A, M, "0.0.0.0", A), true, 1015},
        CombinationCase{"address is network", Lan("192.168.0.0", M), true, 1015},
        CombinationCase{"address is broadcast", Lan("192.168.0.255", M), true, 1015},
        CombinationCase{"network address only checked when static", Lan("192.168.0.0", M), false,
                        0},
        CombinationCase{"gateway still checked when not static", Lan(A, M, "10.0.0.1"), false,
                        1015}),
    ByName{});

struct TwoPortCase {
    const char* name;
    _NetInfo net;
    bool staticLan;
    int focus;
};

_NetInfo WithPc(_NetInfo n, const char* p, const char* pm) {
    n.ipAddress2 = Ip(p);
    n.subnetMask2 = Ip(pm);
    return n;
}

class TwoPortCombination : public ::testing::TestWithParam<TwoPortCase> {};

TEST_P(TwoPortCombination, RefusesWithFocusOnTheFaultyPort) {
    const TwoPortCase& c = GetParam();
    EXPECT_EQ(CheckCombinationTwoPort(c.net, c.staticLan), c.focus) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, TwoPortCombination,
    ::testing::Values(
        TwoPortCase{"no pc port", Lan(A, M), true, 0},
        TwoPortCase{"lan address is broadcast", Lan("192.168.0.255", M), true, 1055},
        TwoPortCase{"pc mask without pc address", WithPc(Lan(A, M), "0.0.0.0", M), true, 1065},
        TwoPortCase{"pc address without mask", WithPc(Lan(A, M), "10.0.0.5", "0.0.0.0"), true,
                    1065},
        TwoPortCase{"pc address is its network", WithPc(Lan(A, M), "10.0.0.0", M), true, 1065},
        TwoPortCase{"pc address equals lan", WithPc(Lan(A, M), A, "255.255.0.0"), true, 1065},
        TwoPortCase{"pc port ok", WithPc(Lan(A, M), "10.0.0.5", M), true, 0},
        TwoPortCase{"pc checks only when static", WithPc(Lan(A, M), "0.0.0.0", M), false, 0},
        TwoPortCase{"gateway in pc subnet", WithPc(Lan(A, M, "10.0.0.1"), "10.0.0.5", M), true, 0},
        TwoPortCase{"gateway in neither subnet", WithPc(Lan(A, M, "172.16.0.1"), "10.0.0.5", M),
                    true, 1055},
        TwoPortCase{"gateway equals pc address", WithPc(Lan(A, M, "10.0.0.5"), "10.0.0.5", M), true,
                    1065},
        TwoPortCase{"gateway outside lan, no pc port", Lan(A, M, "10.0.0.1"), true, 1055},
        // host part of the gateway is taken under the LAN mask even when it sits in the PC subnet
        TwoPortCase{"gateway in pc subnet, lan host part 0",
                    WithPc(Lan(A, M, "10.0.0.0"), "10.0.0.5", "255.0.0.0"), true, 1055},
        TwoPortCase{"gateway equals lan address", Lan(A, M, A), true, 1055},
        TwoPortCase{"dns broadcast under lan mask", Lan(A, M, "0.0.0.0", "8.8.8.255"), true, 1055},
        TwoPortCase{"second dns is address", Lan(A, M, "0.0.0.0", "8.8.8.8", A), false, 1055}),
    ByName{});

}  // namespace
}  // namespace valdrune
