// "All adapters" in the main window: one engine and socket per adapter on in-memory transports,
// driven through the combo, the list, the buttons and the settings dialog.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <memory>

#include "WindowRig.h"
#include "app/ListTools.h"
#include "app/SearchRepeat.h"
#include "dialogkit/CMessageDialog.h"
#include "protocol/Datagram.h"
#include "settings/dialogs/CIpAddressCtrl.h"

namespace valdrune::test {
namespace {

struct AllRig : WindowRig {
    using WindowRig::WindowRig;
    CTallyrigDlg& OpenAll() { return OpenWithAdapterServices(); }
    QComboBox& Combo() { return *dlg->ControlAs<QComboBox>(IDC_INTERFACE_COMBO); }
    void Choose(int item) {
        Combo().setCurrentIndex(item);
        emit Combo().activated(item);
        Settle();
    }
    // An answer to this PC on that adapter's socket.
    static void Answer(MemoryTransport& on, std::uint8_t last, const char* ipv4,
                       const MacAddress& pc, const char* pcIp) {
        ASSERT_TRUE(on.Deliver(AnswerBuilder(14, Mac(last))
                                   .Requester(pc, Ip(pcIp))
                                   .U8(0, 0)
                                   .Ipv4(32, ipv4)
                                   .U16(37, 80)
                                   .Build()));
    }
    void OnEth0(std::uint8_t last, const char* ipv4) {
        Answer(transport, last, ipv4, kEth0Mac, "192.168.0.10");
    }
    void OnEth1(std::uint8_t last, const char* ipv4) {
        Answer(*extra.at(0), last, ipv4, kEth1Mac, "10.1.0.10");
    }
    QStringList Column(int column) const {
        QStringList texts;
        for (int row = 0; row < dlg->List().RowCount(); ++row)
            texts << dlg->List().RowText(row, column).trimmed();
        return texts;
    }
};

TEST(AllAdapters, SearchesEveryAdapterOnItsOwnSocketAndListsEachDeviceWithItsAdapter) {
    AllRig rig;
    CTallyrigDlg& dlg = rig.OpenAll();
    const int width = dlg.width();
    ASSERT_EQ(rig.Combo().count(), 3);
    EXPECT_EQ(rig.Combo().itemText(2), QStringLiteral("All adapters"));
    EXPECT_EQ(dlg.List().Model().columnCount(), kDeviceColumns);
    EXPECT_TRUE(rig.extra.empty()) << "one adapter, one socket";

    rig.Choose(2);
    ASSERT_EQ(rig.extra.size(), 1u);
    EXPECT_EQ(rig.extra[0]->BoundIfIndex(), 3);
    EXPECT_EQ(rig.transport.BoundIfIndex(), 2);
    EXPECT_FALSE(rig.extra[0]->SentWithCommand(CMD_SEARCH).empty());
    EXPECT_EQ(dlg.List().Model().columnCount(), kListColumns);
    EXPECT_EQ(dlg.List().Model().HeaderText(COL_ADAPTER), QStringLiteral("Adapter"));
    EXPECT_EQ(dlg.width(), width + dlg.List().ColumnWidth(COL_ADAPTER));
    EXPECT_EQ(dlg.Placement(IDC_CLOSE).right(), dlg.Placement(IDC_DEVICE_LIST).right());

    // Device 1 answers on both segments; 2 on eth0 has the address 3 and 4 share on eth1.
    rig.OnEth0(1, "192.168.0.44");
    rig.OnEth0(2, "10.1.0.45");
    rig.OnEth1(1, "10.1.0.44");
    rig.OnEth1(3, "10.1.0.45");
    rig.OnEth1(4, "10.1.0.45");
    rig.Settle();
    EXPECT_EQ(rig.Column(COL_NUMBER), QStringList({"1", "2", "3", "4", "5"}));
    EXPECT_EQ(rig.Column(COL_ADAPTER), QStringList({"eth0", "eth0", "eth1", "eth1", "eth1"}));
    EXPECT_EQ(rig.Column(COL_OVERLAP), QStringList({"", "", "", "5", "4"}))
        << "conflicts only within one adapter's segment, in the list's numbers";

    // Keep searching: device 1 stays silent on eth1 only; only that row is greyed.
    emit dlg.ControlAs<QAbstractButton>(IDC_KEEP_SEARCHING)->toggled(true);
    rig.clock.Advance(CSearchRepeat::kCycle);
    rig.OnEth0(1, "192.168.0.44");
    rig.OnEth0(2, "10.1.0.45");
    rig.OnEth1(3, "10.1.0.45");
    rig.OnEth1(4, "10.1.0.45");
    const std::size_t searches = rig.extra[0]->SentWithCommand(CMD_SEARCH).size();
    rig.clock.Advance(CSearchRepeat::kCycle);
    EXPECT_GT(rig.extra[0]->SentWithCommand(CMD_SEARCH).size(), searches);
    std::vector<bool> grey;
    for (int row = 0; row < 5; ++row) grey.push_back(dlg.List().Model().NotAnswering(row));
    EXPECT_EQ(grey, std::vector<bool>({false, false, true, false, false}));

    // Export and copy carry the adapter.
    const QString json = rig.dir.filePath(QStringLiteral("all.json"));
    ASSERT_TRUE(dlg.ListTools().ExportTo(json));
    QFile file(json);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonArray devices = QJsonDocument::fromJson(file.readAll()).array();
    ASSERT_EQ(devices.size(), 5);
    EXPECT_EQ(devices[2].toObject()[QStringLiteral("adapter")].toString(), QStringLiteral("eth1"));
    EXPECT_EQ(devices[2].toObject()[QStringLiteral("ipv4")].toString(), QStringLiteral("10.1.0.44"));
    SelectRow(dlg.List(), 2);
    EXPECT_TRUE(dlg.ListTools().SelectionText().endsWith(QStringLiteral("\teth1\n")));

    // Stored: the adapter chosen on its own stays in IFMAC for readers that know no more.
    EXPECT_TRUE(rig.store->ReadAllAdapters());
    EXPECT_EQ(rig.store->ReadIfMac(), MacAddress{});

    // Back on one adapter: the specified layout and columns, one socket.
    rig.Choose(1);
    EXPECT_EQ(dlg.List().Model().columnCount(), kDeviceColumns);
    EXPECT_EQ(dlg.width(), width);
    EXPECT_EQ(dlg.Sessions().Count(), 1);
    EXPECT_EQ(rig.transport.BoundIfIndex(), 3);
    EXPECT_FALSE(rig.store->ReadAllAdapters());
    EXPECT_EQ(rig.store->ReadIfMac(), kEth1Mac);
}

TEST(AllAdapters, TheStoredChoiceSearchesEveryAdapterFromTheStart) {
    AllRig rig;
    ASSERT_TRUE(rig.store->WriteAllAdapters(true));
    CTallyrigDlg& dlg = rig.OpenAll();
    EXPECT_EQ(rig.Combo().currentIndex(), 2);
    ASSERT_EQ(rig.extra.size(), 1u);
    EXPECT_EQ(rig.extra[0]->SentWithCommand(CMD_SEARCH).size(), 1u);
    EXPECT_EQ(rig.transport.SentWithCommand(CMD_SEARCH).size(), 1u);
    EXPECT_EQ(dlg.List().Model().columnCount(), kListColumns);
}

TEST(AllAdapters, OneAdapterOffersNoChoiceAndTheStoredOneIsIgnored) {
    AllRig rig(false);
    rig.host.Add("192.168.0.10", 2, "eth0", {kEth0Mac.begin(), kEth0Mac.end()}, "192.168.0.1");
    ASSERT_TRUE(rig.store->WriteAllAdapters(true));
    CTallyrigDlg& dlg = rig.OpenAll();
    EXPECT_EQ(rig.Combo().count(), 1);
    EXPECT_EQ(dlg.List().Model().columnCount(), kDeviceColumns);
    EXPECT_TRUE(rig.extra.empty());
}

TEST(AllAdapters, ABatchTakesDevicesOfOneAdapterAndLeavingAsksWhileOneRuns) {
    AllRig rig;
    CTallyrigDlg& dlg = rig.OpenAll();
    rig.Choose(2);
    rig.OnEth0(1, "192.168.0.44");
    rig.OnEth1(2, "10.1.0.44");
    rig.Settle();
    dlg.List().View()->selectAll();
    dlg.ControlAs<QAbstractButton>(IDC_ASSIGN)->click();
    ASSERT_EQ(rig.boxes.size(), 1u);
    EXPECT_EQ(rig.boxes[0].textId, 1182);
    EXPECT_EQ(dlg.BatchDialog(), nullptr);

    // A change still running on eth1's engine keeps "All adapters" unless the user goes on.
    TransactionRequest request;
    request.settings = *dlg.SessionOf(1).Engine().FindDevice(Mac(2));
    CProtocol::CommandForKind(DEVICE_KIND_STANDARD, request.command, request.mask);
    ASSERT_TRUE(dlg.SessionOf(1).Engine().StartTransaction(request));
    SetMessageBoxHandler([&rig](const MessageBoxRequest& r) {
        rig.boxes.push_back(r);
        return ID_CANCEL;
    });
    rig.Choose(0);
    EXPECT_EQ(rig.boxes.back().textId, 1184);
    EXPECT_NE(rig.boxes.back().extraText.find("02-00-00-00-00-02"), std::string::npos);
    EXPECT_EQ(rig.Combo().currentIndex(), 2);
    EXPECT_EQ(dlg.Sessions().Count(), 2);
}

// Network Settings on a device found on eth1 sends through eth1's socket only.
TEST(AllAdapters, AChangeGoesOutThroughTheAdapterTheDeviceWasFoundOn) {
    AllRig rig;
    CTallyrigDlg& dlg = rig.OpenAll();
    rig.Choose(2);
    _CommandDataTable device = Device(1, "10.1.0.44");
    device.ipv4Mode = 3;
    device.flags = 0x92;
    device.legacyAddressing = 0x92;
    device.primary.subnetMask = Ip("255.255.255.0");
    device.primary.gateway = Ip("10.1.0.1");
    rig.FoundOn(0, device);
    rig.FoundOn(1, device);
    rig.Settle();
    SelectRow(dlg.List(), 1);
    rig.clock.Advance(Milliseconds(7000));
    std::uint16_t command = 0, mask = 0;
    CProtocol::CommandForKind(DEVICE_KIND_STANDARD, command, mask);
    bool pumping = true, saved = false, accepted = false;
    std::function<void()> tick = [&] {
        if (!pumping) return;
        QTimer::singleShot(0, tick);
        QWidget* modal = QApplication::activeModalWidget();
        auto* settings = dynamic_cast<CTemplateDialog*>(modal);
        if (settings != nullptr && !dynamic_cast<CMessageDialog*>(modal) && !saved) {
            saved = true;
            settings->ControlAs<CIpAddressCtrl>(1015)->SetAddress(Ip("10.1.0.60"));
            settings->ControlAs<QAbstractButton>(1032)->click();  // no restart wait
            settings->ControlAs<QAbstractButton>(1)->click();
            return;
        }
        if (rig.clock.PendingPosts() > 0) {
            rig.clock.RunPosted();
            return;
        }
        rig.clock.Advance(Milliseconds(100));
        if (!accepted && !rig.extra[0]->SentWithCommand(command).empty()) {
            accepted = true;
            rig.extra[0]->Deliver(AnswerBuilder(CMD_SETUP_V2_REPLY, Mac(1)).Build());
        }
    };
    QTimer::singleShot(0, tick);
    dlg.ControlAs<QAbstractButton>(IDC_NETWORK_SETTINGS)->click();
    const Milliseconds limit = rig.clock.Now() + Milliseconds(60000);
    while (rig.boxes.empty() && rig.clock.Now() < limit)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    pumping = false;
    QCoreApplication::processEvents();
    ASSERT_TRUE(saved);
    EXPECT_EQ(rig.extra[0]->SentWithCommand(command).size(), 3u);
    EXPECT_TRUE(rig.transport.SentWithCommand(command).empty());
    ASSERT_EQ(rig.boxes.size(), 1u);
    EXPECT_EQ(rig.boxes[0].textId, 442);
    EXPECT_EQ(dlg.SettingsSequence().TargetSource(), 1);
}

}  // namespace
}  // namespace valdrune::test
