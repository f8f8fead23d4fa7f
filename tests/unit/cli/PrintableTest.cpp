// Device texts on a terminal and in CSV: nothing a device sends may act as a control sequence.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <sstream>
#include <string>

#include "cli/RecordView.h"
#include "tests/support/CaseNames.h"

namespace valdrune::cli {
namespace {

struct PrintableCase {
    const char* name;
    std::string in;
    std::string out;
};

class PrintableTest : public testing::TestWithParam<PrintableCase> {};

TEST_P(PrintableTest, EscapesControlsAndBrokenBytesOnly) {
    EXPECT_EQ(Printable(GetParam().in), GetParam().out);
}

TEST(PrintableCommand, KeepsBackslashesButStillEscapesControls) {
    EXPECT_EQ(PrintableCommand("netsh program=\"C:\\Valdrune\\bin\\valdrune-cli.exe\"\r\x1b[2J"),
              "netsh program=\"C:\\Valdrune\\bin\\valdrune-cli.exe\"\\x0d\\x1b[2J");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PrintableTest,
    testing::Values(PrintableCase{"Plain", "Camera 1", "Camera 1"},
                    PrintableCase{"C0AndEscape", "a\x1b[2Jb\r\n", "a\\x1b[2Jb\\x0d\\x0a"},
                    PrintableCase{"DelAndBackslash", "x\x7f\\y", "x\\x7f\\x5cy"},
                    PrintableCase{"C1CsiAsUtf8",
                                  "a\xc2\x9b"
                                  "31mb",
                                  "a\\xc2\\x9b31mb"},
                    PrintableCase{"C1OscAsUtf8",
                                  "\xc2\x9d"
                                  "0;title\xc2\x9c",
                                  "\\xc2\\x9d0;title\\xc2\\x9c"},
                    PrintableCase{"RawCsiByte",
                                  "a\x9b"
                                  "31m",
                                  "a\\x9b31m"},
                    PrintableCase{"LastC1AndFirstAfter", "\xc2\x9f\xc2\xa0", "\\xc2\\x9f\xc2\xa0"},
                    PrintableCase{"Latin1AsUtf8", "Jo\xc3\xa3o", "Jo\xc3\xa3o"},
                    PrintableCase{"Cjk",
                                  "\xe3\x82\xab\xe3\x83\xa1\xe3\x83\xa9 \xe7\x9b\xb8\xe6\x9c\xba",
                                  "\xe3\x82\xab\xe3\x83\xa1\xe3\x83\xa9 \xe7\x9b\xb8\xe6\x9c\xba"},
                    PrintableCase{"FourByte", "\xf0\x9f\x93\xb7", "\xf0\x9f\x93\xb7"},
                    PrintableCase{"Overlong", "\xc0\x9b", "\\xc0\\x9b"},
                    PrintableCase{"Surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80"},
                    PrintableCase{"BeyondUnicode", "\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
                    PrintableCase{"CutShort", "ab\xe3\x82", "ab\\xe3\\x82"},
                    PrintableCase{"Latin1Bytes", "S\xe3o", "S\\xe3o"}),
    test::ByName{});

// Device texts that a spreadsheet would run as a formula get a leading apostrophe in CSV;
// values the tool writes itself (numbers, "--------") are left as they are.
TEST(DeviceCsvTest, DeviceTextsThatASpreadsheetWouldRunStayText) {
    DeviceView v;
    SetFieldText(v.record.deviceName, "=1+1");
    SetFieldText(v.record.model, "+1");
    SetFieldText(v.record.serialNumber, "-1");
    SetFieldText(v.record.versionText, "@SUM(A1)");
    v.browserClass = -1;
    const auto header = DeviceCsvHeader();
    const auto cells = DeviceCsvCells(v);
    auto cell = [&](const char* name) {
        for (std::size_t i = 0; i < header.size(); ++i)
            if (header[i] == name) return cells[i];
        return std::string("?");
    };
    EXPECT_EQ(cell("name"), "'=1+1");
    EXPECT_EQ(cell("model"), "'+1");
    EXPECT_EQ(cell("serial"), "'-1");
    EXPECT_EQ(cell("version"), "'@SUM(A1)");
    EXPECT_EQ(cell("browser_class"), "-1");
    EXPECT_EQ(cell("ipv6"), "--------");
    // Text output shows the name as the device has it.
    std::ostringstream text;
    WriteDevices(text, {v}, Format::Text);
    EXPECT_NE(text.str().find(" =1+1\n"), std::string::npos);
}

struct Ipv6Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    const char* text;
};

class Ipv6StandardTest : public testing::TestWithParam<Ipv6Case> {};

TEST_P(Ipv6StandardTest, FollowsTheRecommendedTextForm) {
    std::array<std::uint8_t, 16> a{};
    std::copy(GetParam().bytes.begin(), GetParam().bytes.end(), a.begin());
    EXPECT_EQ(Ipv6StandardText(a.data()), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, Ipv6StandardTest,
    testing::Values(
        Ipv6Case{"Unspecified", {}, "::"},
        Ipv6Case{"LinkLocal", {0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, "fe80::1"},
        // One zero group is not shortened; of equal runs the first is.
        Ipv6Case{"SingleZeroGroup",
                 {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1},
                 "2001:db8:0:1:1:1:1:1"},
        Ipv6Case{"FirstOfEqualRuns",
                 {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1},
                 "2001:db8::1:0:0:1"},
        Ipv6Case{"LongerRunWins",
                 {0x20, 0x01, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1},
                 "2001:0:0:1::1"},
        Ipv6Case{"Ipv4Mapped",
                 {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 192, 168, 0, 10},
                 "::ffff:192.168.0.10"}),
    test::ByName{});

// Columns line up on a terminal also when names take two columns per character.
TEST(DeviceTableTest, ColumnsLineUpAroundWideNames) {
    std::vector<DeviceView> devices(3);
    for (std::size_t i = 0; i < devices.size(); ++i) {
        devices[i].record.primary.mac = {2, 0, 0, 0, 0, static_cast<std::uint8_t>(i)};
        devices[i].record.capabilityFlag = 1;
        devices[i].record.primary.port = i == 1 ? 8080 : 80;
    }
    SetFieldText(devices[0].record.deviceName, "\xe3\x82\xab\xe3\x83\xa1\xe3\x83\xa9");  // カメラ
    SetFieldText(devices[1].record.deviceName, "Gate cam");
    SetFieldText(devices[2].record.deviceName, "a\x1b[2J");
    devices[2].overlaps = {"02-00-00-00-00-01"};
    std::ostringstream out;
    WriteDevices(out, devices, Format::Table);
    std::istringstream lines(out.str());
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) rows.push_back(line);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].rfind("MAC", 0), 0u);
    const auto columnOf = [](const std::string& row, const std::string& cell) {
        return DisplayWidth(row.substr(0, row.find(cell)));
    };
    EXPECT_EQ(columnOf(rows[1], "\xe3\x82\xab"), columnOf(rows[0], "NAME"));
    EXPECT_EQ(columnOf(rows[2], "Gate"), columnOf(rows[0], "NAME"));
    const std::size_t overlaps = columnOf(rows[0], "OVERLAPS");
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const std::string last = i == 3 ? "02-00-00-00-00-01" : "-";
        EXPECT_EQ(DisplayWidth(rows[i]) - DisplayWidth(last), overlaps) << rows[i];
    }
    EXPECT_NE(rows[2].find(" 8080  "), std::string::npos);  // numbers right-aligned
    EXPECT_NE(rows[3].find("a\\x1b[2J"), std::string::npos);
    EXPECT_NE(rows[3].find("02-00-00-00-00-01"), std::string::npos);
}

}  // namespace
}  // namespace valdrune::cli
