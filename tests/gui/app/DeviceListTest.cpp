#include <gtest/gtest.h>

#include <QHeaderView>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

#include "WindowRig.h"
#include "tests/support/CaseNames.h"

namespace valdrune::test {
namespace {

QStringList Column(const CTallyrigDlg& dlg, int column) {
    QStringList texts;
    for (int row = 0; row < dlg.List().RowCount(); ++row) texts << dlg.List().RowText(row, column);
    return texts;
}

_CommandDataTable WithIpv6(_CommandDataTable r, std::uint16_t last, std::uint16_t port) {
    r.hasIpv6 = 1;
    r.ipv6Address = {0xFE, 0x80};
    r.ipv6Address[14] = static_cast<std::uint8_t>(last >> 8);
    r.ipv6Address[15] = static_cast<std::uint8_t>(last & 0xFF);
    r.ipv6Port = port;
    return r;
}

TEST(DeviceList, WritesEveryColumnOfARow) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    rig.Found(Device(0x21, "192.168.0.21", 8080, "Entrance"));
    ASSERT_EQ(dlg.List().RowCount(), 1);
    const QStringList expected = {
        "  1", "02-00-00-00-00-21", "192.168.0.21", "8080", "Entrance", "WV-100", "SN0001", ""};
    for (int c = 0; c < kDeviceColumns; ++c) EXPECT_EQ(dlg.List().RowText(0, c), expected[c]) << c;
    EXPECT_EQ(dlg.Engine().DeviceNumber(Mac(0x21)), 0);
}

TEST(DeviceList, ReadsTextFieldsOnlyUpToTheirSixteenBytes) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    _CommandDataTable r = Device(0x22, "192.168.0.22");
    r.deviceName.fill('N');  // no terminator at all
    SetFieldText(r.model, "M\0ignored");
    rig.Found(r);
    EXPECT_EQ(dlg.List().RowText(0, COL_NAME), QString(16, QLatin1Char('N')));
    EXPECT_EQ(dlg.List().RowText(0, COL_MODEL), "M");
}

// Names of devices without UTF-8 go through the platform's converter for the user's code page;
// UTF-8 names never do.
TEST(DeviceList, ConvertsNamesOfDevicesWithoutUtf8) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    dlg.SetAnsiDecoder([](std::string_view b) { return std::to_string(b.size()) + " bytes"; });
    _CommandDataTable ansi = Device(0x23, "192.168.0.23", 80, "Cam\xE9");
    ansi.capabilityFlag = 0;
    _CommandDataTable utf8 = Device(0x24, "192.168.0.24", 80, "Caf\xC3\xA9");
    utf8.capabilityFlag = 1;
    rig.Found(ansi);
    rig.Found(utf8);
    EXPECT_EQ(dlg.List().RowText(0, COL_NAME), "4 bytes");
    EXPECT_EQ(dlg.List().RowText(1, COL_NAME), QString::fromUtf8("Caf\xC3\xA9"));
}

TEST(DeviceList, DeviceAnsweringAgainKeepsItsRowAndNumber) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    rig.Found(Device(0x31, "192.168.0.31"));
    rig.Found(Device(0x32, "192.168.0.32"));
    rig.Found(Device(0x31, "192.168.0.99", 81));
    ASSERT_EQ(dlg.List().RowCount(), 2);
    EXPECT_EQ(dlg.List().RowText(0, COL_NUMBER), "  1");
    EXPECT_EQ(dlg.List().RowText(0, COL_ADDRESS), "192.168.0.99");
    EXPECT_EQ(dlg.List().RowText(0, COL_PORT), "81");
}

TEST(DeviceList, RowNumbersFollowDiscoveryAndSurviveSorting) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    // Names in reverse discovery order so that a name sort reverses the rows.
    for (int i = 1; i <= 10; ++i)
        rig.Found(Device(static_cast<std::uint8_t>(i), "192.168.0.50", 80,
                         std::string(1, static_cast<char>('Z' - i)).c_str()));
    EXPECT_EQ(dlg.List().RowText(0, COL_NUMBER), "  1");
    EXPECT_EQ(dlg.List().RowText(9, COL_NUMBER), " 10");
    dlg.List().OnColumnClick(COL_NAME);
    EXPECT_EQ(dlg.List().RowText(0, COL_NUMBER), " 10");
    EXPECT_EQ(dlg.List().RowText(0, COL_MAC), "02-00-00-00-00-0A")
        << "rows move with all their texts";
    dlg.List().OnColumnClick(COL_NUMBER);
    QStringList numbers;
    for (int i = 1; i <= 10; ++i) numbers << QString::asprintf("%3d", i);
    EXPECT_EQ(Column(dlg, COL_NUMBER), numbers) << "numeric, not text order";
}

TEST(DeviceList, SelectionStaysWithItsDeviceThroughSortsAndAnswers) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    rig.Found(Device(1, "192.168.0.3"));
    rig.Found(Device(2, "192.168.0.1"));
    rig.Found(Device(3, "192.168.0.2"));
    SelectRow(dlg.List(), 0);
    dlg.List().OnColumnClick(COL_ADDRESS);
    ASSERT_EQ(dlg.List().SelectedRow(), 2);
    rig.Found(Device(4, "192.168.0.0"));
    dlg.List().OnColumnClick(COL_ADDRESS);
    ASSERT_TRUE(dlg.List().SelectedRecord().has_value());
    EXPECT_EQ(dlg.List().SelectedRecord()->primary.mac, Mac(1));
    EXPECT_EQ(dlg.List().SelectedRow(), 0);
}

struct SortCase {
    const char* name;
    int view;  // combo selection: 0 IPv4, 1 IPv6
    int column;
    QStringList expected;  // texts of the column after an ascending sort
};

class DeviceListSort : public testing::TestWithParam<SortCase> {};

TEST_P(DeviceListSort, OrdersByTheColumnsKey) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    rig.Found(WithIpv6(Device(1, "192.168.0.10", 8080), 0x10, 443));
    rig.Found(Device(2, "192.168.0.9", 80));
    rig.Found(WithIpv6(Device(3, "10.0.0.200", 443), 0x9, 80));
    dlg.List().SwitchView(GetParam().view);
    dlg.List().OnColumnClick(GetParam().column);
    EXPECT_EQ(Column(dlg, GetParam().column), GetParam().expected);
    EXPECT_EQ(dlg.List().HeaderArrow(GetParam().column), 1);
    QStringList reversed = GetParam().expected;
    std::reverse(reversed.begin(), reversed.end());
    dlg.List().OnColumnClick(GetParam().column);
    EXPECT_EQ(Column(dlg, GetParam().column), reversed);
    EXPECT_EQ(dlg.List().HeaderArrow(GetParam().column), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, DeviceListSort,
    testing::Values(
        SortCase{"Ipv4Numeric", 0, COL_ADDRESS, {"10.0.0.200", "192.168.0.9", "192.168.0.10"}},
        SortCase{"PortNumeric", 0, COL_PORT, {"80", "443", "8080"}},
        SortCase{"Ipv6Groups",
                 1,
                 COL_ADDRESS,
                 {"--------", "FE80:0:0:0:0:0:0:9", "FE80:0:0:0:0:0:0:10"}},
        SortCase{"Ipv6PortDashesFirst", 1, COL_PORT, {"--", "80", "443"}},
        SortCase{"MacAsText",
                 0,
                 COL_MAC,
                 {"02-00-00-00-00-01", "02-00-00-00-00-02", "02-00-00-00-00-03"}}),
    ByName{});

TEST(DeviceList, TextColumnsSortByCodeUnitsSoCapitalsComeFirst) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    rig.Found(Device(1, "192.168.0.1", 80, "b"));
    rig.Found(Device(2, "192.168.0.2", 80, "C"));
    rig.Found(Device(3, "192.168.0.3", 80, "a"));
    dlg.List().OnColumnClick(COL_NAME);
    EXPECT_EQ(Column(dlg, COL_NAME), (QStringList{"C", "a", "b"}));
}

// Which way the sort arrow that the header paints for a section points: 1 up, 2 down, 0 none.
// The arrow is what differs between the header painted with and without its indicator.
int PaintedArrow(QHeaderView* header, int section) {
    const auto paint = [header] {
        QImage image(header->size(), QImage::Format_RGB32);
        image.fill(Qt::white);
        header->render(&image);
        return image;
    };
    const QImage with = paint();
    header->setSortIndicatorShown(false);
    const QImage without = paint();
    header->setSortIndicatorShown(true);
    const int left = header->sectionViewportPosition(section);
    std::vector<int> widths;
    for (int y = 0; y < with.height(); ++y) {
        int width = 0;
        for (int x = left; x < left + header->sectionSize(section); ++x)
            width += with.pixel(x, y) != without.pixel(x, y);
        if (width > 0) widths.push_back(width);
    }
    if (widths.size() < 2 || widths.front() == widths.back()) return 0;
    return widths.front() < widths.back() ? 1 : 2;
}

TEST(DeviceList, HeaderPaintsAnUpArrowForAscendingAndADownArrowForDescending) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    rig.Found(Device(1, "192.168.0.1"));
    dlg.show();
    QHeaderView* header = dlg.List().View()->header();
    dlg.List().OnColumnClick(COL_MODEL);
    EXPECT_EQ(PaintedArrow(header, COL_MODEL), 1);
    dlg.List().OnColumnClick(COL_MODEL);
    EXPECT_EQ(PaintedArrow(header, COL_MODEL), 2);
}

TEST(DeviceList, ClickingAnotherColumnMovesTheArrow) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    rig.Found(Device(1, "192.168.0.1"));
    // Through the real header, as the user clicks it.
    QHeaderView* header = dlg.List().View()->header();
    dlg.show();
    const auto click = [&](int column) {
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    };
    click(COL_PORT);
    EXPECT_EQ(dlg.List().SortColumn(), COL_PORT);
    EXPECT_EQ(dlg.List().HeaderArrow(COL_PORT), 1);
    click(COL_MODEL);
    EXPECT_EQ(dlg.List().HeaderArrow(COL_PORT), 0);
    EXPECT_EQ(dlg.List().HeaderArrow(COL_MODEL), 1);
    EXPECT_EQ(dlg.List().SortOrder(), 1);
    EXPECT_EQ(header->sortIndicatorSection(), COL_MODEL);
}

TEST(DeviceList, Ipv6ViewChangesOnlyTheAddressColumnsAndComesBack) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    rig.Found(WithIpv6(Device(1, "192.168.0.10", 8080), 0xABC, 443));
    rig.Found(Device(2, "192.168.0.11", 80));
    QStringList before;
    for (int c : {COL_NUMBER, COL_MAC, COL_NAME, COL_MODEL, COL_SERIAL, COL_OVERLAP})
        before << Column(dlg, c);
    dlg.List().SwitchView(1);
    EXPECT_EQ(dlg.List().Model().HeaderText(COL_ADDRESS), "IPv6 Address");
    EXPECT_EQ(Column(dlg, COL_ADDRESS), QStringList({"FE80:0:0:0:0:0:0:ABC", "--------"}));
    EXPECT_EQ(Column(dlg, COL_PORT), QStringList({"443", "--"}));
    QStringList after;
    for (int c : {COL_NUMBER, COL_MAC, COL_NAME, COL_MODEL, COL_SERIAL, COL_OVERLAP})
        after << Column(dlg, c);
    EXPECT_EQ(after, before);
    // New rows follow the view too.
    rig.Found(Device(3, "192.168.0.12", 80));
    EXPECT_EQ(dlg.List().RowText(2, COL_ADDRESS), "--------");
    dlg.List().SwitchView(0);
    EXPECT_EQ(dlg.List().Model().HeaderText(COL_ADDRESS), "IPv4 Address");
    EXPECT_EQ(Column(dlg, COL_ADDRESS),
              QStringList({"192.168.0.10", "192.168.0.11", "192.168.0.12"}));
    EXPECT_EQ(Column(dlg, COL_PORT), QStringList({"8080", "80", "80"}));
}

TEST(DeviceList, SwitchingViewResortsAnAddressSort) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    rig.Found(WithIpv6(Device(1, "192.168.0.1"), 0x1, 80));
    rig.Found(Device(2, "192.168.0.2"));
    dlg.List().OnColumnClick(COL_ADDRESS);
    EXPECT_EQ(dlg.List().RowText(0, COL_MAC), "02-00-00-00-00-01");
    dlg.List().SwitchView(1);
    EXPECT_EQ(dlg.List().SortKeyFamily(), 6);
    EXPECT_EQ(dlg.List().RowText(0, COL_MAC), "02-00-00-00-00-02") << "no IPv6 sorts first";
}

TEST(DeviceList, OverlapColumnListsTheOtherRowsAndRefreshes) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    rig.FoundAt({"192.168.0.10", "192.168.0.10"});
    EXPECT_EQ(Column(dlg, COL_OVERLAP), QStringList({"2", "1"}));
    rig.Found(Device(3, "192.168.0.10"));
    EXPECT_EQ(dlg.List().RowText(2, COL_OVERLAP), "1 ,2");
    EXPECT_EQ(dlg.List().RowText(0, COL_OVERLAP), "2") << "the others wait for the posted refresh";
    rig.Settle();
    EXPECT_EQ(Column(dlg, COL_OVERLAP), QStringList({"2 ,3", "1 ,3", "1 ,2"}));
    // Device 3 moves away: its row clears and the others lose it after the refresh.
    rig.Found(Device(3, "192.168.0.30"));
    rig.Settle();
    EXPECT_EQ(Column(dlg, COL_OVERLAP), QStringList({"2", "1", ""}));
}

TEST(DeviceList, ZeroAddressNeverOverlaps) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    rig.FoundAt({"0.0.0.0", "0.0.0.0"});
    EXPECT_EQ(Column(dlg, COL_OVERLAP), QStringList({"", ""}));
}

TEST(DeviceList, UnknownDeviceWritesNothing) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    dlg.List().WriteDeviceRow(Mac(0x77));
    EXPECT_EQ(dlg.List().RowCount(), 0);
}

TEST(DeviceList, AnswerOnTheWireBecomesARow) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    ASSERT_TRUE(rig.transport.Deliver(AnswerBuilder(14, Mac(0x44))
                                          .Requester(kEth0Mac, Ip("192.168.0.10"))
                                          .Ipv4(32, "192.168.0.44")
                                          .Build()));
    ASSERT_EQ(dlg.List().RowCount(), 1);
    EXPECT_EQ(dlg.List().RowText(0, COL_MAC), "02-00-00-00-00-44");
    EXPECT_EQ(dlg.List().RowText(0, COL_ADDRESS), "192.168.0.44");
}

TEST(DeviceList, SearchClearsRowsAndSortAndStartsOver) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    rig.Found(Device(1, "192.168.0.1"));
    dlg.List().SwitchView(1);
    dlg.List().OnColumnClick(COL_ADDRESS);
    rig.clock.Advance(Milliseconds(3000));
    rig.transport.ClearSent();
    dlg.ControlAs<QAbstractButton>(IDC_SEARCH)->click();
    EXPECT_EQ(dlg.List().RowCount(), 0);
    EXPECT_EQ(dlg.List().SortColumn(), -1);
    EXPECT_EQ(dlg.List().SortOrder(), 0);
    EXPECT_EQ(dlg.List().SortKeyFamily(), 4);
    EXPECT_EQ(dlg.List().HeaderArrow(COL_ADDRESS), 0);
    EXPECT_TRUE(dlg.Engine().Devices().Empty());
    EXPECT_EQ(rig.transport.Sent().size(), 1u);
    rig.Found(Device(2, "192.168.0.2"));
    EXPECT_EQ(dlg.List().RowText(0, COL_NUMBER), "  1") << "numbering restarts";
}

TEST(SortKeys, MatchTheirFixedWidthForms) {
    EXPECT_EQ(MakeSortKey("192.168.0.9", 4), "192.168.000.009");
    EXPECT_EQ(MakeSortKey("10.0.0", 4), "010.000.000.000");
    EXPECT_EQ(MakeSortKey("FE80:0:0:0:0:0:0:10", 6), "FE80:0000:0000:0000:0000:0000:0000:0010");
    EXPECT_EQ(MakeSortKey("fe80::1", 6), "FE80:0000:0001:0000:0000:0000:0000:0000");
    EXPECT_EQ(MakeSortKey("--------", 6), "--------");
    EXPECT_EQ(MakeSortKey("text", 5), "text");
    EXPECT_EQ(NumericSortKey("  7"), "000007");
    EXPECT_EQ(NumericSortKey("--"), "000000");
    EXPECT_EQ(OverlapText({1, 4}), "2 ,5");
    EXPECT_EQ(OverlapText({}), "");
}

}  // namespace
}  // namespace valdrune::test
