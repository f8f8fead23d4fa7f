#include <gtest/gtest.h>

#include "cli/SetRequest.h"
#include "tests/support/AnswerBuilder.h"
#include "tests/support/CaseNames.h"

namespace valdrune::cli {
namespace {

using valdrune::test::Ip;
using valdrune::test::Mac;
using valdrune::test::RecordBuilder;

_CommandDataTable Device(std::uint8_t kind) {
    return RecordBuilder(kind)
        .DeviceMac(Mac(1)).Address("192.168.0.20", "255.255.255.0", "192.168.0.1").Port(80)
        .Ipv4Mode(0)  // DHCP
        .Flags(0x90)  // DNS auto
        .Addressing(kind == DEVICE_KIND_LEGACY ? 1 : 0x90).Capability(0)
        .PortOptions(kind == DEVICE_KIND_TWO_PORT ? 20 : 0, 1, 2);
}

using Fields = std::vector<std::pair<const char*, const char*>>;

SetRequest Request(const Fields& fields) {
    SetRequest q;
    std::string error;
    EXPECT_TRUE(SetField(q, "mac", "02-00-00-00-00-01", error));
    for (const auto& [name, value] : fields) EXPECT_TRUE(SetField(q, name, value, error)) << error;
    return q;
}

struct AvailabilityCase {
    const char* name;
    std::uint8_t kind;
    std::uint8_t capability;
    Fields fields;
    const char* refusal;  // part of the refusal; null where the request is accepted
};

class OptionAvailability : public ::testing::TestWithParam<AvailabilityCase> {};

TEST_P(OptionAvailability, FollowsWhatTheDialogOffers) {
    const AvailabilityCase& c = GetParam();
    _CommandDataTable r = Device(c.kind);
    r.capabilityFlag = c.capability;
    const PreparedSettings p = PrepareSettings(r, Request(c.fields));
    EXPECT_EQ(p.ok, c.refusal == nullptr) << p.message;
    if (c.refusal != nullptr) {
        EXPECT_NE(p.message.find(c.refusal), std::string::npos) << p.message;
    }
}

const AvailabilityCase kAvailability[] = {
    {"AutoIpNeedsCapability1", 48, 0, {{"mode", "autoip"}}, "autoip"},
    {"AutoIpWithCapability1", 48, 1, {{"mode", "autoip"}}, nullptr},
    {"AutoNeedsCapability2", 48, 1, {{"mode", "auto"}}, "auto"},
    {"LegacyAuto", 3, 0, {{"mode", "auto"}}, nullptr},
    {"LegacyAutoIp", 3, 0, {{"mode", "autoip"}}, "autoip"},
    {"AddressNeedsStatic", 48, 0, {{"ip", "192.168.0.30"}}, "static"},
    {"DnsServersNeedManualDns", 48, 0, {{"dns1", "8.8.8.8"}}, "manual"},
    {"DnsServersWithManualDns", 48, 0, {{"dns", "manual"}, {"dns1", "8.8.8.8"}}, nullptr},
    // Static forces manual DNS as the radio does, so no 437 here...
    {"StaticForcesManualDns", 48, 0, {{"mode", "static"}, {"ip", "192.168.0.30"}}, nullptr},
    // ...unless DNS auto is asked for explicitly.
    {"StaticWithDnsAuto", 48, 0, {{"mode", "static"}, {"dns", "auto"}},
     "you must select DNS \"Manual\""},
    {"PortFixedInAutoMode", 48, 2, {{"mode", "auto"}, {"port", "8080"}}, "port"},
    {"PcPortOnSinglePort", 48, 0, {{"pc-ip", "10.0.0.1"}}, "two-port"},
    {"TwoPortManualForcesManualDns", 12, 0, {{"mode", "static"}, {"dns", "auto"}},
     "DHCP on one of the ports"},
    {"TwoPortPcDhcp", 12, 0, {{"mode", "pc-dhcp"}}, nullptr},
    {"TwoPortPcAddressInPcDhcp", 12, 0, {{"mode", "pc-dhcp"}, {"pc-ip", "10.0.0.1"}}, "PC-port"},
    {"TwoPortAuto", 12, 0, {{"mode", "auto"}}, "does not offer"},
    // The address controls never hold these octets, so neither can a typed value.
    {"MulticastAddress", 48, 0, {{"mode", "static"}, {"ip", "224.0.0.5"}},
     "The value 224 is invalid. Enter a value between 1 and 223."},
    {"AddressWithFirstOctet0", 3, 0, {{"mode", "static"}, {"ip", "0.168.0.30"}},
     "between 1 and 223"},
    {"GatewayAbove223", 48, 0, {{"mode", "static"}, {"gateway", "240.0.0.1"}},
     "between 0 and 223"},
    {"TwoPortLanAddressAbove223", 12, 0, {{"mode", "static"}, {"ip", "230.1.1.1"}},
     "between 1 and 223"},
    {"TwoPortPcAddressAbove223", 12, 0, {{"pc-ip", "250.0.0.1"}}, "between 0 and 223"},
};

INSTANTIATE_TEST_SUITE_P(Table, OptionAvailability, ::testing::ValuesIn(kAvailability),
                         test::ByName{});

TEST(PrepareSettings, LockedTwoPortAndViewOnlyDevicesAreRefused) {
    _CommandDataTable r = Device(48);
    r.statusBits = 1;
    EXPECT_EQ(PrepareSettings(r, Request({})).messageId, 443);
    r = Device(12);
    r.portKind = 5;
    EXPECT_NE(PrepareSettings(r, Request({})).message.find("only shows"), std::string::npos);
    r.portKind = 6;  // the first kind that can be set
    EXPECT_EQ(PrepareSettings(r, Request({})).message.find("only shows"), std::string::npos);
}

TEST(PrepareSettings, ChoosesCommandAndMaskByKind) {
    struct {
        std::uint8_t kind;
        std::uint16_t command, mask;
    } cases[] = {{48, 2, 32}, {3, 15, 2}, {12, 15, 8}};
    for (const auto& c : cases) {
        const PreparedSettings p = PrepareSettings(Device(c.kind), Request({{"port", "8080"}}));
        ASSERT_TRUE(p.ok) << int(c.kind) << ": " << p.message;
        EXPECT_EQ(p.command, c.command);
        EXPECT_EQ(p.mask, c.mask);
        EXPECT_EQ(p.after.primary.port, 8080);
    }
}

TEST(PrepareSettings, AnUntouchedRecordIsSentAsTheDialogWouldSaveIt) {
    _CommandDataTable r = Device(48);
    const PreparedSettings p = PrepareSettings(r, Request({}));
    ASSERT_TRUE(p.ok) << p.message;
    EXPECT_EQ(p.after.ipv4Mode, 0);
    EXPECT_EQ(p.after.flags, 0x90);
    EXPECT_EQ(p.after.secondary.ipAddress, r.primary.ipAddress);
}

TEST(Addresses, TwoPortTargetsFollowTheManualPorts) {
    _CommandDataTable r = Device(12);
    r.primary.ipAddress2 = Ip("10.0.0.5");
    r.ipv4Mode = 3;
    EXPECT_EQ(TargetAddresses(r), (std::vector<std::uint32_t>{Ip("192.168.0.20"), Ip("10.0.0.5")}));
    r.ipv4Mode = 0;  // LAN DHCP: only the PC port is fixed
    EXPECT_EQ(TargetAddresses(r), (std::vector<std::uint32_t>{Ip("10.0.0.5")}));
    r.ipv4Mode = 19;  // PC DHCP: only the LAN port
    EXPECT_EQ(TargetAddresses(r), (std::vector<std::uint32_t>{Ip("192.168.0.20")}));
    _CommandDataTable before = r;
    before.primary.ipAddress = Ip("192.168.0.21");
    EXPECT_EQ(IntroducedAddresses(before, r), (std::vector<std::uint32_t>{Ip("192.168.0.20")}));
    EXPECT_TRUE(IntroducedAddresses(r, r).empty());
}

}  // namespace
}  // namespace valdrune::cli
