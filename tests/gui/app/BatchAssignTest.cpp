#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QTableWidget>

#include "WindowRig.h"
#include "app/BatchAssignDlg.h"
#include "dialogkit/ControlText.h"
#include "dialogkit/MessageBox.h"
#include "protocol/Datagram.h"
#include "settings/dialogs/CIpAddressCtrl.h"

namespace valdrune::test {
namespace {

// Devices 1 and 2 selectable, 3 restarted too long ago, 5 elsewhere in the list at .51.
struct BatchRig : WindowRig {
    BatchRig() {
        Open();
        auto locked = Device(3, "192.168.0.23");
        locked.statusBits = 1;
        for (const auto& d : {Device(1, "192.168.0.21", 80, "Gate"),
                              Device(2, "192.168.0.22", 80, "Lobby"), locked,
                              Device(5, "192.168.0.51", 80, "Other")})
            Found(d);
        Settle();
        dlg->show();
        QTreeView* list = dlg->List().View();
        for (int row : {0, 1, 2})
            list->selectionModel()->select(list->model()->index(row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        prober.SetResult(Ip("192.168.0.52"), ECHO_ANSWERED);
    }
    // Runs fn inside the batch dialog opened by the button, then closes it (a device still
    // being changed makes it ask; the test's box handler agrees).
    void InBatch(const std::function<void(CBatchAssignDlg&)>& fn) {
        QTimer::singleShot(0, [this, fn] {
            CBatchAssignDlg* batch = dlg->BatchDialog();
            ASSERT_NE(batch, nullptr);
            fn(*batch);
            batch->close();
        });
        dlg->ControlAs<QAbstractButton>(IDC_ASSIGN)->click();
    }
    void Run(Milliseconds step) {
        clock.Advance(step);
        Settle();
    }
    static QString Cell(CBatchAssignDlg& b, int row, int column) {
        return b.Preview()->item(row, column)->text();
    }
    static void SetFirst(CBatchAssignDlg& b, const char* ip) {
        b.ControlAs<CIpAddressCtrl>(IDC_BATCH_FIRST)->SetAddress(Ip(ip));
        b.ControlAs<CIpAddressCtrl>(IDC_BATCH_MASK)->SetAddress(Ip("255.255.255.0"));
    }
};

TEST(BatchAssign, ProposesAroundListedAndAnsweringAddressesAndRefusesCollisionsBeforeSending) {
    BatchRig rig;
    rig.InBatch([&](CBatchAssignDlg& b) {
        EXPECT_EQ(BatchRig::Cell(b, 2, BCOL_STATUS),
                  FormatString(DialogText(1134), DialogText(443)));
        BatchRig::SetFirst(b, "192.168.0.50");
        b.ControlAs<QAbstractButton>(IDC_BATCH_PROPOSE)->click();
        EXPECT_TRUE(b.Probing());
        EXPECT_FALSE(b.IsControlEnabled(IDC_BATCH_APPLY));
        rig.Run(Milliseconds(2000));  // .52 answers: proposed again and probed again
        ASSERT_FALSE(b.Probing());
        EXPECT_EQ(BatchRig::Cell(b, 0, BCOL_NEW), QStringLiteral("192.168.0.50"));
        EXPECT_EQ(BatchRig::Cell(b, 1, BCOL_NEW), QStringLiteral("192.168.0.53"));
        EXPECT_EQ(BatchRig::Cell(b, 1, BCOL_OLD), QStringLiteral("192.168.0.22"));
        EXPECT_EQ(BatchRig::Cell(b, 2, BCOL_NEW), QString()) << "left out";

        rig.transport.ClearSent();
        b.Preview()->item(1, BCOL_NEW)->setText(QStringLiteral("192.168.0.50"));
        b.ControlAs<QAbstractButton>(IDC_BATCH_APPLY)->click();
        b.Preview()->item(1, BCOL_NEW)->setText(QStringLiteral("192.168.0.51"));
        b.ControlAs<QAbstractButton>(IDC_BATCH_APPLY)->click();
        b.Preview()->item(1, BCOL_NEW)->setText(QStringLiteral("192.168.0.1"));
        b.ControlAs<QAbstractButton>(IDC_BATCH_APPLY)->click();
        rig.Run(Milliseconds(1000));
        EXPECT_FALSE(b.Running());
        EXPECT_TRUE(rig.transport.Sent().empty());
    });
    std::vector<int> ids;
    for (const auto& box : rig.boxes) ids.push_back(box.textId);
    EXPECT_EQ(ids, std::vector<int>({1148, 1149, 1146}));
    EXPECT_EQ(rig.boxes[0].extraText, FormatString(DialogText(1148), QStringLiteral("192.168.0.50"))
                                          .toStdString());
}

TEST(BatchAssign, ARangeThatCannotHoldTheSelectionIsRefusedWithItsReason) {
    BatchRig rig;
    rig.InBatch([&](CBatchAssignDlg& b) {
        BatchRig::SetFirst(b, "192.168.0.254");
        b.ControlAs<QAbstractButton>(IDC_BATCH_PROPOSE)->click();
        EXPECT_FALSE(b.IsControlEnabled(IDC_BATCH_APPLY));
    });
    ASSERT_EQ(rig.boxes.size(), 1u);
    EXPECT_EQ(rig.boxes[0].textId, 1144);
    EXPECT_EQ(rig.boxes[0].boxType, MB_OK_ | MB_ICONEXCLAMATION_);
}

TEST(BatchAssign, CancelStartsNoFurtherDeviceAndAFailureIsNeverShownAsDone) {
    BatchRig rig;
    rig.dlg->Engine().SetTransactionLimit(1);
    rig.InBatch([&](CBatchAssignDlg& b) {
        BatchRig::SetFirst(b, "192.168.0.60");
        b.ControlAs<QAbstractButton>(IDC_BATCH_PROPOSE)->click();
        rig.Run(Milliseconds(2000));
        b.ControlAs<QAbstractButton>(IDC_BATCH_APPLY)->click();
        rig.Run(Milliseconds(5000));  // probed, sent; the second waits for the first
        EXPECT_EQ(BatchRig::Cell(b, 0, BCOL_STATUS), DialogText(1129));
        EXPECT_EQ(BatchRig::Cell(b, 1, BCOL_STATUS), DialogText(1128));

        b.ControlAs<QAbstractButton>(2)->click();  // Cancel
        rig.Settle();
        EXPECT_EQ(BatchRig::Cell(b, 1, BCOL_STATUS), DialogText(1135));
        EXPECT_EQ(b.Control(IDC_BATCH_SUMMARY)->property("text").toString(),
                  FormatString(DialogText(1151), QStringLiteral("02-00-00-00-00-01")));
        EXPECT_TRUE(b.Running()) << "the sent device goes on";

        rig.Run(Milliseconds(31000));  // no acceptance within 30 s of the first request
        EXPECT_EQ(BatchRig::Cell(b, 0, BCOL_STATUS),
                  FormatString(DialogText(1133), DialogText(1136)));
        EXPECT_FALSE(b.Running());
        QString summary = DialogText(1150);
        for (int n : {0, 1, 1, 1}) summary = FormatNumber(summary, n);
        EXPECT_EQ(b.Control(IDC_BATCH_SUMMARY)->property("text").toString(), summary);
    });
    EXPECT_TRUE(rig.boxes.empty());
    EXPECT_EQ(rig.transport.SentWithCommand(CMD_SETUP_V2).size(), 3u) << "one device sent";
}

TEST(BatchAssign, ClosingWhileDevicesAreBeingChangedNamesThem) {
    BatchRig rig;
    rig.InBatch([&](CBatchAssignDlg& b) {
        BatchRig::SetFirst(b, "192.168.0.60");
        b.ControlAs<QAbstractButton>(IDC_BATCH_PROPOSE)->click();
        rig.Run(Milliseconds(2000));
        b.ControlAs<QAbstractButton>(IDC_BATCH_APPLY)->click();
        rig.Run(Milliseconds(5000));
        ASSERT_EQ(b.Unfinished().size(), 2);
    });
    ASSERT_EQ(rig.boxes.size(), 1u);
    EXPECT_EQ(rig.boxes[0].textId, 1152);
    EXPECT_EQ(rig.boxes[0].boxType, MB_OKCANCEL_ | MB_ICONEXCLAMATION_);
    EXPECT_NE(rig.boxes[0].extraText.find("02-00-00-00-00-01, 02-00-00-00-00-02"),
              std::string::npos);
    EXPECT_EQ(rig.dlg->BatchDialog(), nullptr);

    // Closing the window would cut those changes off: it names them and stays when told so.
    SetMessageBoxHandler([&](const MessageBoxRequest& r) {
        rig.boxes.push_back(r);
        return ID_CANCEL;
    });
    rig.dlg->ControlAs<QAbstractButton>(IDC_CLOSE)->click();
    ASSERT_EQ(rig.boxes.size(), 2u);
    EXPECT_EQ(rig.boxes[1].textId, 1156);
    EXPECT_NE(rig.boxes[1].extraText.find("02-00-00-00-00-01, 02-00-00-00-00-02"),
              std::string::npos);
    EXPECT_TRUE(rig.dlg->isVisible());
    rig.Run(Milliseconds(40000));  // both fail for want of an acceptance: nothing left to cut off
    rig.dlg->ControlAs<QAbstractButton>(IDC_CLOSE)->click();
    EXPECT_EQ(rig.boxes.size(), 2u);
    EXPECT_FALSE(rig.dlg->isVisible());
}

}  // namespace
}  // namespace valdrune::test
