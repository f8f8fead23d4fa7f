#include <gtest/gtest.h>

#include "protocol/Record.h"

namespace valdrune {
namespace {

TEST(Record, TextFormsOfAddresses) {
    EXPECT_EQ(MacText({0x00, 0x0a, 0xff, 0x01, 0x02, 0x03}), "00-0A-FF-01-02-03");
    EXPECT_EQ(Ipv4Text(0xC0A8000A), "192.168.0.10");
    EXPECT_EQ(Ipv4Text(0), "0.0.0.0");
    EXPECT_EQ(Ipv4Text(0xFFFFFFFF), "255.255.255.255");

    _CommandDataTable r;
    r.ipv6Port = 8080;
    EXPECT_EQ(Ipv6Text(r), "--------");
    EXPECT_EQ(Ipv6PortText(r), "--") << "no tag 64: the port is not shown";
    r.hasIpv6 = 1;
    r.ipv6Address = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01};
    EXPECT_EQ(Ipv6Text(r), "FE80:0:0:0:0:0:0:1");
    r.ipv6Address = {0x20, 0x01, 0x0d, 0xb8, 0xab, 0xcd, 0, 0x0f, 0xff, 0xff, 0, 0, 0x12, 0x34, 0, 0};
    EXPECT_EQ(Ipv6Text(r), "2001:DB8:ABCD:F:FFFF:0:1234:0");
    EXPECT_EQ(Ipv6PortText(r), "8080");
}

TEST(Record, FullTextFieldStopsAtSixteenBytes) {
    _CommandDataTable r;
    SetFieldText(r.model, "ABCDEFGHIJKLMNOPQRST");
    r.versionText.fill('Z');  // the next field has no NUL either
    EXPECT_EQ(FieldText(r.model), "ABCDEFGHIJKLMNOP");
    SetFieldText(r.model, "K9");
    EXPECT_EQ(FieldText(r.model), "K9");
    EXPECT_EQ(r.model[2], 0);
    EXPECT_EQ(r.model[15], 0);
    SetFieldText(r.model, std::string_view{});
    EXPECT_EQ(r.model, Text16{});
}

TEST(Record, DefaultsAndWholeCopies) {
    _CommandDataTable a;
    EXPECT_EQ(a.legacyAddressing, 255);
    EXPECT_EQ(a.flags, 255);
    EXPECT_EQ(a.portOptionA, 255);
    EXPECT_EQ(a.portOptionB, 255);
    EXPECT_EQ(a.primary.ifIndex, -1);

    a.primary.description = "first";
    _CommandDataTable b = a;
    b.primary.description = "second";
    b.model[0] = 'X';
    EXPECT_EQ(a.primary.description, "first");
    EXPECT_EQ(a.model[0], 0);
    EXPECT_TRUE(SameDevice(a, b)) << "identity is the MAC only";
    b.primary.mac[5] = 1;
    EXPECT_FALSE(SameDevice(a, b));
}

TEST(Record, ParsesOnlyStrictAddressTexts) {
    std::uint32_t ip = 7;
    EXPECT_TRUE(ParseIpv4("10.0.255.1", ip));
    EXPECT_EQ(ip, 0x0A00FF01u);
    for (const char* bad : {"", "10.0.0", "10.0.0.256", "10.0.0.1.", "1..2.3", "a.b.c.d",
                            "10.0.0.1 ", "0010.0.0.1"}) {
        ip = 7;
        EXPECT_FALSE(ParseIpv4(bad, ip)) << bad;
        EXPECT_EQ(ip, 7u) << "failed parse leaves the value";
    }
    MacAddress mac{};
    EXPECT_TRUE(ParseMac("aa:BB:cc:00:11:22", mac));
    EXPECT_EQ(MacText(mac), "AA-BB-CC-00-11-22");
    EXPECT_FALSE(ParseMac("AA-BB-CC-00-11:22", mac));
    EXPECT_FALSE(ParseMac("AA-BB-CC-00-11-2G", mac));
}

}  // namespace
}  // namespace valdrune
