// Device texts on a terminal and in CSV: nothing a device sends may act as a control sequence.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "cli/RecordView.h"

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
    [](const auto& row) { return std::string(row.param.name); });

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

}  // namespace
}  // namespace valdrune::cli
