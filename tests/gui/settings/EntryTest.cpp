// Typing into the settings dialogs: digit filtering of typed and pasted text, and the live
// octet check with its posted notice, message and focus.
#include <QClipboard>
#include <QComboBox>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QGuiApplication>

#include "dialogkit/ControlText.h"
#include "settings/dialogs/CEditCtrlEx.h"
#include "settings/dialogs/CSetNetwork.h"
#include "settings/dialogs/CSetNetworkRec.h"
#include "settings/rules/EntryRules.h"
#include "tests/gui/settings/GuiSupport.h"
#include "tests/support/CaseNames.h"

namespace valdrune::test {
namespace {

void Paste(QLineEdit* edit, const QString& text) {
    QGuiApplication::clipboard()->setText(text);
    edit->setFocus();
    edit->paste();
}

TEST(NumericEdit, KeepsDigitsOfTypedAndPastedText) {
    CEditCtrlEx edit;
    edit.setMaxLength(5);
    QTest::keyClicks(&edit, "8a0");
    EXPECT_EQ(edit.text(), "80");
    edit.clear();
    Paste(&edit, "1x2.3");
    EXPECT_EQ(edit.text(), "123");
    edit.setText("4-5");  // text set by code is filtered too
    EXPECT_EQ(edit.text(), "45");
}

_CommandDataTable StaticStandard() {
    return RecordBuilder(DEVICE_KIND_STANDARD)
        .Address("192.168.0.10", "255.255.255.0").Port(80).Capability(2).Ipv4Mode(3)
        .Addressing(0x92);
}

TEST(AddressFields, DropNonDigitsFromPastedTextAndRefuseTypedOnes) {
    CSetNetwork d;
    d.SetRecord(StaticStandard());
    ShowActive(d);
    CIpAddressCtrl* ip = Ip(d, ctl::single::kGateway);
    ip->Field(1)->clear();
    Paste(ip->Field(1), "1x9.");
    EXPECT_EQ(ip->FieldText(1), "19");
    ip->Field(2)->clear();
    QTest::keyClicks(ip->Field(2), "a7b");
    EXPECT_EQ(ip->FieldText(2), "7");
    EXPECT_EQ(ip->Address() & 0x00FFFF00u, (19u << 16) | (7u << 8));
}

TEST(AddressFields, EmptyFieldsReadAsZero) {
    CIpAddressCtrl ip;
    ip.SetAddress(0x0A000001);
    ip.Field(0)->clear();
    EXPECT_EQ(ip.Address(), 0x00000001u);
    ip.ClearAddress();
    EXPECT_TRUE(ip.IsBlank());
    EXPECT_EQ(ip.Address(), 0u);
}

struct Octet {
    const char* name;
    bool twoPort;
    int control;
    int field;
    const char* typed;  // "" empties the field
    const char* shown;  // the field's text right after leaving it
    int messageId;      // 0: accepted, no message
    const char* text;
};

class OctetCheck : public ::testing::TestWithParam<Octet> {};

TEST_P(OctetCheck, PutsInTheValueThenRaisesTheNoticeAndFocusesTheOctet) {
    const Octet& p = GetParam();
    MessageBoxLog boxes;
    std::unique_ptr<CTemplateDialog> dialog;
    if (p.twoPort) {
        auto d = std::make_unique<CSetNetworkRec>();
        _CommandDataTable r = StaticStandard();
        r.kind = DEVICE_KIND_TWO_PORT;
        r.portKind = 6;
        r.portOptionA = 1;
        r.portOptionB = 2;
        d->SetRecord(r);
        dialog = std::move(d);
    } else {
        auto d = std::make_unique<CSetNetwork>();
        d->SetRecord(StaticStandard());
        dialog = std::move(d);
    }
    ShowActive(*dialog);
    CIpAddressCtrl* ip = Ip(*dialog, p.control);
    ASSERT_TRUE(ip->isEnabled());
    QLineEdit* field = ip->Field(p.field);
    ip->SetFieldFocus(p.field);
    QTest::keyClick(field, Qt::Key_Backspace);  // the field's text is selected: empties it
    QTest::keyClicks(field, p.typed);
    // Leave the field: focus to the next field (or out of the control from the last one).
    QTest::keyClick(field, Qt::Key_Tab);
    EXPECT_EQ(ip->FieldText(p.field), p.shown);
    EXPECT_TRUE(boxes.boxes.empty()) << "the message comes with the posted notice";
    DrainEvents();
    if (p.messageId == 0) {
        EXPECT_TRUE(boxes.boxes.empty());
        return;
    }
    ASSERT_EQ(boxes.Ids(), std::vector<int>{p.messageId});
    EXPECT_EQ(boxes.boxes[0].boxType, 0x30);
    if (*p.text != 0) {
        EXPECT_EQ(boxes.boxes[0].extraText, p.text);
    }
    int focusedField = -1;
    EXPECT_EQ(FocusedControl(*dialog, &focusedField), p.control);
    EXPECT_EQ(focusedField, p.field);
}

INSTANTIATE_TEST_SUITE_P(
    BothDialogs, OctetCheck,
    ::testing::Values(
        Octet{"AddressFirstOctetZero", false, 1015, 0, "0", "192", 430,
              "The value 0 is invalid. Enter a value between 1 and 223."},
        Octet{"GatewayFirstOctetMulticast", false, 1017, 0, "224", "192", 434,
              "The value 224 is invalid. Enter a value between 0 and 223."},
        Octet{"GatewayFirstOctetEmptied", false, 1017, 0, "", "192", 435, ""},
        Octet{"MaskThirdOctetEmptied", false, 1016, 2, "", "0", 433, ""},
        Octet{"FourthOctetAboveByte", false, 1018, 3, "256", "255", 432,
              "The value 256 is invalid. Enter a value between 0 and 255."},
        Octet{"AcceptedOctetStaysQuiet", false, 1015, 0, "10", "10", 0, ""},
        Octet{"TwoPortPcAddressFirstOctet", true, 1065, 0, "230", "192", 434, ""},
        Octet{"TwoPortLanAddressEmptied", true, 1055, 0, "", "192", 431, ""}),
    ByName{});

}  // namespace
}  // namespace valdrune::test

namespace valdrune::test {
namespace {

// The margin each class of control adds to the text's extent, with v the width of a vertical
// scroll bar; the constants are the layout's, not recomputed from the product's code.
TEST(ControlTextWidth, AddsTheMarginOfTheControlsClass) {
    QWidget parent;
    QComboBox combo(&parent);
    QLabel label(&parent);
    QPushButton button(&parent);
    QHeaderView header(Qt::Horizontal, &parent);
    const QString text = QStringLiteral("Network Settings");
    const int v = parent.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &combo);
    ASSERT_GT(v, 1);
    const auto margin = [&](QWidget& w) {
        return CalcControlTextWidth(&w, text) - QFontMetrics(w.font()).horizontalAdvance(text);
    };
    EXPECT_EQ(margin(combo), (5 * v) / 2);
    EXPECT_EQ(margin(button), (3 * v) / 2);
    EXPECT_EQ(margin(label), 4);
    EXPECT_EQ(margin(header), 20);
}

}  // namespace
}  // namespace valdrune::test
