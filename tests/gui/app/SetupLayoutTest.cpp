#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>

#include "WindowRig.h"
#include "dialogkit/ControlText.h"
#include "tests/support/CaseNames.h"

namespace valdrune::test {
namespace {

QString TextOf(const CTallyrigDlg& dlg, int id) {
    QWidget* w = dlg.Control(id);
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
    return {};
}

QStringList Items(const CTallyrigDlg& dlg, int id) {
    QStringList items;
    auto* combo = dlg.ControlAs<QComboBox>(id);
    for (int i = 0; combo != nullptr && i < combo->count(); ++i) items << combo->itemText(i);
    return items;
}

int Right(const CTallyrigDlg& dlg, int id) {
    const QWidget* w = dlg.Control(id);
    return w->x() + w->width();
}

TEST(MainWindowSetup, ShowsEveryTextAndComboOfTheTemplate) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    EXPECT_EQ(dlg.windowTitle(), "Valdrune");
    const std::pair<int, const char*> texts[] = {{IDC_HEADING, "List of camera-related device"},
                                                 {IDC_SEARCH, "Search"},
                                                 {IDC_NETWORK_SETTINGS, "Network Settings"},
                                                 {IDC_OPEN_DEVICE, "Open the device window"},
                                                 {IDC_VIEW_LABEL, "IPv4/IPv6"},
                                                 {IDC_BROWSER_LABEL, "Browser selection"},
                                                 {IDC_ABOUT, "About this software"},
                                                 {IDC_CLOSE, "Close"}};
    for (const auto& [id, text] : texts) EXPECT_EQ(TextOf(dlg, id), text) << id;
    EXPECT_EQ(Items(dlg, IDC_VIEW_COMBO), QStringList({"IPv4", "IPv6"}));
    EXPECT_EQ(dlg.ControlAs<QComboBox>(IDC_VIEW_COMBO)->currentIndex(), 0);
    EXPECT_EQ(Items(dlg, IDC_INTERFACE_COMBO),
              QStringList({"192.168.0.10 / eth0", "10.1.0.10 / eth1"}));
    EXPECT_EQ(dlg.InterfaceCount(), 2);
    QStringList headers;
    for (int c = 0; c < kDeviceColumns; ++c) headers << dlg.List().Model().HeaderText(c);
    EXPECT_EQ(headers, QStringList({"No.", "MAC Address", "IPv4 Address", "Port No.", "Device name",
                                    "Model", "Serial Number", "IPv4 overlap"}));
    EXPECT_EQ(dlg.Control(IDC_SEARCH), dlg.focusWidget());
    ASSERT_NE(dlg.WindowMenu(), nullptr);
    ASSERT_EQ(dlg.WindowMenu()->actions().size(), 2);
    EXPECT_TRUE(dlg.WindowMenu()->actions()[0]->isSeparator());
    EXPECT_EQ(dlg.WindowMenu()->actions()[1]->text(), "About this software...");
    EXPECT_FALSE(dlg.windowIcon().isNull());
}

TEST(MainWindowSetup, SearchesOnTheStoredInterfaceRightAway) {
    WindowRig rig;
    ASSERT_TRUE(rig.store->WriteIfMac(kEth1Mac));
    CTallyrigDlg& dlg = rig.Open();
    EXPECT_EQ(dlg.ControlAs<QComboBox>(IDC_INTERFACE_COMBO)->currentIndex(), 1);
    ASSERT_EQ(rig.transport.Sent().size(), 1u) << "the first request goes out during set-up";
    EXPECT_EQ(rig.transport.Sent()[0].time, Milliseconds(0));
    EXPECT_EQ(rig.transport.Sent()[0].ifIndex, 3);
    EXPECT_TRUE(dlg.Engine().SearchRunning());
    EXPECT_TRUE(rig.boxes.empty());
}

TEST(MainWindowSetup, WithoutSettingsStartsOnAutoAndTheDefaultInterfaceAndWritesNothing) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    EXPECT_EQ(dlg.BrowserCode(), 0);
    EXPECT_EQ(dlg.ControlAs<QComboBox>(IDC_BROWSER_COMBO)->currentIndex(), 0);
    EXPECT_EQ(dlg.ControlAs<QComboBox>(IDC_INTERFACE_COMBO)->currentIndex(), 0);
    EXPECT_FALSE(QFile::exists(rig.SettingsFile())) << "reading must not create the store";
}

TEST(MainWindowSetup, UnknownStoredBrowserShowsAutoButKeepsTheStoredValue) {
    WindowRig rig;
    ASSERT_TRUE(rig.store->WriteBrowser(4));
    CTallyrigDlg& dlg = rig.Open();
    EXPECT_EQ(dlg.ControlAs<QComboBox>(IDC_BROWSER_COMBO)->currentIndex(), 0);
    EXPECT_EQ(dlg.BrowserCode(), 0);
    EXPECT_EQ(rig.store->ReadBrowser(), 4);
}

TEST(MainWindowSetup, NoUsableAdapterEndsTheWindowWithText224) {
    WindowRig rig(false);
    rig.Create(rig.noBrowsers);
    EXPECT_FALSE(rig.dlg->OnInitDialog());
    ASSERT_EQ(rig.boxes.size(), 1u);
    EXPECT_EQ(rig.boxes[0].textId, 224);
    EXPECT_EQ(rig.boxes[0].boxType, MB_OK_ | MB_ICONERROR_);
    EXPECT_EQ(rig.boxes[0].owner, rig.dlg.get());
    EXPECT_EQ(rig.dlg->result(), 2);
}

// ---- Layout, in every language ----------------------------------------------------------

class MainWindowLayout : public testing::TestWithParam<Language> {};

TEST_P(MainWindowLayout, FitsButtonsListAndHeadingToTheTexts) {
    SetCurrentLanguage(GetParam());
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    const auto fit = [&](int id, int textId) {
        return CalcControlTextWidth(dlg.Control(id), DialogText(textId));
    };
    int b = 0;
    for (int textId : {206, 207, 208, 211}) b = std::max(b, fit(IDC_ABOUT, textId));
    for (int id : {IDC_SEARCH, IDC_NETWORK_SETTINGS, IDC_OPEN_DEVICE, IDC_CLOSE})
        EXPECT_EQ(dlg.Control(id)->width(), b) << "button " << id;
    EXPECT_EQ(dlg.Control(IDC_NETWORK_SETTINGS)->x() - Right(dlg, IDC_SEARCH), 30);
    EXPECT_EQ(dlg.Control(IDC_OPEN_DEVICE)->x() - Right(dlg, IDC_NETWORK_SETTINGS), 30);
    EXPECT_EQ(dlg.Control(IDC_SEARCH)->x(), dlg.DluToPixelsX(10)) << "left edges stay";

    EXPECT_EQ(dlg.Control(IDC_DEVICE_LIST)->width(), dlg.List().ColumnTotal());
    int columns = 0;
    for (int c = 0; c < kDeviceColumns; ++c) columns += dlg.List().ColumnWidth(c);
    EXPECT_EQ(dlg.List().ColumnTotal(),
              columns + dlg.style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4);
    const int listRight = Right(dlg, IDC_DEVICE_LIST);
    EXPECT_EQ(Right(dlg, IDC_ABOUT), listRight);
    EXPECT_EQ(Right(dlg, IDC_CLOSE), listRight);
    // The dialog grows or shrinks with the list: its margin right of the list stays as designed.
    EXPECT_EQ(dlg.width() - listRight, dlg.DluToPixelsX(459) - dlg.DluToPixelsX(449));

    EXPECT_EQ(dlg.Control(IDC_ABOUT)->width(), fit(IDC_ABOUT, 210));
    EXPECT_EQ(dlg.Control(IDC_VIEW_LABEL)->width(), fit(IDC_VIEW_LABEL, 209));
    EXPECT_EQ(dlg.Control(IDC_VIEW_COMBO)->width(), fit(IDC_VIEW_COMBO, 205));
    EXPECT_EQ(dlg.Control(IDC_BROWSER_COMBO)->width(), fit(IDC_BROWSER_COMBO, 232));

    const QWidget* heading = dlg.Control(IDC_HEADING);
    EXPECT_EQ(heading->width(), fit(IDC_HEADING, 202));
    EXPECT_EQ(heading->x(), (dlg.width() - heading->width()) / 2);
}

TEST_P(MainWindowLayout, ColumnsGetTheirSampleWidths) {
    SetCurrentLanguage(GetParam());
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    const QHeaderView* headerView = dlg.List().View()->header();
    const QFontMetrics metrics(headerView->font());
    const auto full = [&](const QString& sample) { return metrics.horizontalAdvance(sample) + 20; };
    EXPECT_EQ(dlg.List().ColumnWidth(COL_NUMBER), full("100"));
    EXPECT_EQ(dlg.List().ColumnWidth(COL_MAC), full("DD-DD-DD-00-00-00"));
    // Half-width columns never clip their own header.
    const auto header = [&](int textId) { return HeaderTextWidth(*headerView, DialogText(textId)); };
    EXPECT_EQ(dlg.List().ColumnWidth(COL_ADDRESS),
              std::max(full("DDDD:DDDD:DDDD:DDDD:DDDD:DDDD:DDDD:DDDD") / 2, header(214)));
    EXPECT_EQ(dlg.List().ColumnWidth(COL_PORT), full(DialogText(216)));
    EXPECT_EQ(dlg.List().ColumnWidth(COL_SERIAL),
              std::max(full("WWWWWWWWWWWWWWW") / 2, header(228)));
    EXPECT_EQ(dlg.List().ColumnWidth(COL_OVERLAP), full(DialogText(219)));
}

std::string LanguageName(const testing::TestParamInfo<Language>& info) {
    const char* const names[] = {"English", "Japanese", "ChineseSimplified", "Portuguese"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Languages, MainWindowLayout,
                         testing::Values(Language::English, Language::Japanese,
                                         Language::ChineseSimplified, Language::Portuguese),
    LanguageName);

TEST(MainWindowLayout, WiderHeaderFontWidensTheDialogByTheSameAmount) {
    WindowRig small;
    CTallyrigDlg& a = small.Open();
    WindowRig large;
    large.Create(large.noBrowsers);
    // Same dialog font, larger header font: only the column total changes.
    large.dlg->setStyleSheet(QStringLiteral("QHeaderView { font-size: 24px; }"));
    large.dlg->OnInitDialog();
    CTallyrigDlg& b = *large.dlg;
    ASSERT_GT(b.List().ColumnTotal(), a.List().ColumnTotal());
    EXPECT_EQ(b.width() - a.width(), b.List().ColumnTotal() - a.List().ColumnTotal());
    EXPECT_EQ(Right(b, IDC_CLOSE), Right(b, IDC_DEVICE_LIST));
}

}  // namespace
}  // namespace valdrune::test
