#include <gtest/gtest.h>

#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QTest>

#include "WindowRig.h"
#include "app/ListTools.h"
#include "app/SearchRepeat.h"
#include "dialogkit/ControlText.h"
#include "protocol/Datagram.h"

namespace valdrune::test {
namespace {

struct ListRig : WindowRig {
    CTallyrigDlg* window = nullptr;
    ListRig() {
        window = &Open();
        Found(Device(1, "192.168.0.21", 80, "Gate"));
        Found(Device(2, "192.168.0.22", 80, "Lobby"));
        Found(Device(3, "192.168.0.23", 80, "Yard"));
        Settle();
        window->show();
    }
    void Type(const QString& text) {
        auto* filter = window->ControlAs<QLineEdit>(IDC_FILTER);
        filter->clear();
        QTest::keyClicks(filter, text);
    }
    std::vector<int> Shown() const { return window->List().ShownRows(); }
};

// The next save dialog, once up, is given this file.
void AnswerSaveDialog(const QString& path) {
    QTimer::singleShot(0, [path] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->selectFile(path);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

TEST(MainWindowFilter, NarrowsTheListByAnyColumnAndDropsHiddenRowsFromTheSelection) {
    ListRig rig;
    rig.window->List().View()->selectAll();
    rig.Type(QStringLiteral("lobby"));
    EXPECT_EQ(rig.Shown(), std::vector<int>({1})) << "name, any case";
    EXPECT_TRUE(rig.window->List().View()->isRowHidden(0, {}));
    EXPECT_EQ(rig.window->List().SelectedRows(), std::vector<int>({1}));
    rig.Type(QStringLiteral("00-03"));
    EXPECT_EQ(rig.Shown(), std::vector<int>({2})) << "MAC";
    // A device found while filtering is shown only when it matches.
    rig.Found(Device(4, "10.9.9.9", 80, "Gatehouse"));
    rig.Found(Device(5, "10.9.9.5", 80, "Dock"));
    rig.Type(QStringLiteral("gate"));
    EXPECT_EQ(rig.Shown(), std::vector<int>({0, 3}));
    rig.Type(QString());
    EXPECT_EQ(rig.Shown().size(), 5u);
}

TEST(MainWindowExport, WritesTheShownRowsInTheCommandLineFormats) {
    ListRig rig;
    rig.Found(Device(4, "10.9.9.9", 80, "Elsewhere"));
    rig.window->List().OnColumnClick(COL_NAME);
    rig.window->List().OnColumnClick(COL_NAME);  // descending: Yard, Lobby, Gate, Elsewhere
    rig.Type(QStringLiteral("192.168.0.2"));
    const QString json = rig.dir.filePath(QStringLiteral("list.json"));
    ASSERT_TRUE(rig.window->ListTools().ExportTo(json));
    QFile jf(json);
    ASSERT_TRUE(jf.open(QIODevice::ReadOnly));
    const QJsonArray devices = QJsonDocument::fromJson(jf.readAll()).array();
    ASSERT_EQ(devices.size(), 3);
    EXPECT_EQ(devices[0].toObject()[QStringLiteral("name")].toString(), QStringLiteral("Yard"));
    EXPECT_EQ(devices[2].toObject()[QStringLiteral("ipv4")].toString(),
              QStringLiteral("192.168.0.21"));

    // Through the button: the save dialog picks the file, CSV by its suffix.
    const QString csv = rig.dir.filePath(QStringLiteral("list.csv"));
    AnswerSaveDialog(csv);
    rig.window->ControlAs<QAbstractButton>(IDC_EXPORT)->click();
    QFile cf(csv);
    ASSERT_TRUE(cf.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = cf.readAll().split('\n');
    ASSERT_GE(lines.size(), 4);
    EXPECT_TRUE(lines[0].startsWith("mac,ipv4,subnet_mask,")) << lines[0].constData();
    EXPECT_TRUE(lines[1].startsWith("02-00-00-00-00-03,192.168.0.23,")) << lines[1].constData();
    EXPECT_TRUE(rig.boxes.empty());
}

TEST(MainWindowExport, AFileThatCannotBeWrittenIsReportedWithItsPath) {
    ListRig rig;
    const QString path = rig.dir.filePath(QStringLiteral("missing/list.csv"));
    AnswerSaveDialog(path);
    rig.window->ControlAs<QAbstractButton>(IDC_EXPORT)->click();
    ASSERT_EQ(rig.boxes.size(), 1u);
    EXPECT_EQ(rig.boxes[0].textId, 1108);
    EXPECT_NE(rig.boxes[0].extraText.find("missing/list.csv"), std::string::npos);
    EXPECT_FALSE(QFile::exists(path));
}

TEST(MainWindowCopy, CtrlCCopiesTheSelectedRowsTabSeparated) {
    ListRig rig;
    QTreeView* list = rig.window->List().View();
    list->setFocus();
    SelectRow(rig.window->List(), 0);
    list->selectionModel()->select(list->model()->index(2, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    const QStringList lines = QApplication::clipboard()->text().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 3);  // two rows and the final line break
    EXPECT_EQ(lines[0].split(QLatin1Char('\t')).mid(0, 5),
              QStringList({QStringLiteral("1"), QStringLiteral("02-00-00-00-00-01"),
                           QStringLiteral("192.168.0.21"), QStringLiteral("80"),
                           QStringLiteral("Gate")}));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("3\t02-00-00-00-00-03\t")));
}

TEST(MainWindowKeepSearching, RepeatsCyclesAndMarksDevicesThatStoppedAnswering) {
    ListRig rig;
    CSearchRepeat& repeat = rig.window->SearchRepeat();
    rig.clock.Advance(Milliseconds(10000));  // the first cycle is over
    ASSERT_FALSE(rig.window->Engine().SearchRunning());
    rig.window->ControlAs<QCheckBox>(IDC_KEEP_SEARCHING)->click();
    EXPECT_TRUE(rig.window->Engine().SearchRunning()) << "a cycle starts at once";

    // Devices 1 and 3 answer this cycle, 2 does not; a new device 4 turns up.
    rig.Found(Device(1, "192.168.0.21", 80, "Gate"));
    rig.Found(Device(3, "192.168.0.99", 80, "Yard"));
    rig.Found(Device(4, "192.168.0.24", 80, "New"));
    rig.clock.Advance(CSearchRepeat::kCycle);
    rig.Settle();
    const CDeviceList& list = rig.window->List();
    ASSERT_EQ(list.RowCount(), 4) << "nothing removed";
    EXPECT_FALSE(list.Model().NotAnswering(0));
    EXPECT_TRUE(list.Model().NotAnswering(1));
    EXPECT_EQ(list.RowText(2, COL_ADDRESS), QStringLiteral("192.168.0.99")) << "changed";
    EXPECT_EQ(list.Model().data(list.Model().index(1, COL_NAME), Qt::ToolTipRole).toString(),
              DialogText(1112));
    EXPECT_TRUE(rig.window->Engine().SearchRunning()) << "the next cycle";

    rig.Found(Device(2, "192.168.0.22", 80, "Lobby"));
    EXPECT_FALSE(list.Model().NotAnswering(1)) << "back as soon as it answers";
    // A repeated cycle: the engine's five requests and one of its own.
    rig.transport.ClearSent();
    rig.clock.Advance(CSearchRepeat::kCycle);
    EXPECT_EQ(rig.transport.SentWithCommand(CMD_SEARCH).size(), 6u);

    const int cycles = repeat.CyclesStarted();
    rig.window->ControlAs<QCheckBox>(IDC_KEEP_SEARCHING)->click();
    rig.clock.Advance(CSearchRepeat::kCycle * 3);
    EXPECT_EQ(repeat.CyclesStarted(), cycles) << "off: no further cycle";
}

}  // namespace
}  // namespace valdrune::test
