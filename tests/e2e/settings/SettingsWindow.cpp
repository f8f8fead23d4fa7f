// The real window on the real platform, driven through one settings change the way a user
// would: find the device's row, press Network Settings, enter a new address, Save, and wait for
// the result box. Runs inside the pc namespace of an end-to-end test. Prints what it saw:
//   box <text id> <box type>      every message box, in order
//   progress <text id>            each text the progress dialog showed
//   longest-block-ms <n>          the longest gap between ticks of a 5 ms watchdog timer,
//                                 from the click on Network Settings to the result box
//   row <mac> <adapter>           with --adapter: every row when the device is selected,
//                                 once it is listed on two adapters
// Exit code 0 once a result box was shown, 3 when the dialog refused Save, 4 on time-out.
//
// Usage: settings_e2e_window --mac MAC --address A.B.C.D [--field ID] [--no-wait]
//                            [--timeout-ms N] [--store FILE] [--adapter NAME]
// --adapter: every adapter is searched and the device's row on that adapter is changed.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <set>
#include <string>

#include "app/TallyrigDlg.h"
#include "dialogkit/CMessageDialog.h"
#include "dialogkit/MessageBox.h"
#include "settings/dialogs/CIpAddressCtrl.h"
#include "tests/e2e/settings/WindowUnderTest.h"
#include "settings/dialogs/CSetNetwork.h"
#include "settings/dialogs/CSetNetworkRec.h"
#include "tests/support/ListSelection.h"

using namespace valdrune;

namespace {

struct Options {
    QString mac;
    std::uint32_t address = 0;
    int field = 0;  // 0: the dialog's own address control (1015 or 1055)
    bool noWait = false;
    int timeoutMs = 60000;
    QString store = QStringLiteral("/tmp/settings-e2e-window.ini");
    QString adapter;
};

bool Parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--mac" && hasValue) o.mac = QString::fromLatin1(argv[++i]).toUpper();
        else if (a == "--address" && hasValue) {
            if (!ParseIpv4(argv[++i], o.address)) return false;
        } else if (a == "--field" && hasValue) o.field = std::atoi(argv[++i]);
        else if (a == "--no-wait") o.noWait = true;
        else if (a == "--timeout-ms" && hasValue) o.timeoutMs = std::atoi(argv[++i]);
        else if (a == "--store" && hasValue) o.store = QString::fromLocal8Bit(argv[++i]);
        else if (a == "--adapter" && hasValue) o.adapter = QString::fromLocal8Bit(argv[++i]);
        else return false;
    }
    return !o.mac.isEmpty() && o.address != 0;
}

// The device's row, on that adapter when one is named.
int FindRow(const CDeviceList& list, const QString& mac, const QString& adapter) {
    for (int row = 0; row < list.RowCount(); ++row)
        if (list.RowText(row, COL_MAC) == mac &&
            (adapter.isEmpty() || list.RowText(row, COL_ADAPTER) == adapter))
            return row;
    return -1;
}

bool IsOutcome(int id) {
    static const std::set<int> outcomes = {221, 436, 439, 440, 441, 442, 443};
    return outcomes.count(id) != 0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: settings_e2e_window --mac MAC --address A.B.C.D "
                             "[--field ID] [--no-wait] [--timeout-ms N] [--store FILE] "
                             "[--adapter NAME]\n");
        return 2;
    }
    if (!o.adapter.isEmpty()) CSettingsStore(o.store).WriteAllAdapters(true);
    const auto window = test::StartWindow(o.store);
    if (!window) return 2;
    CTallyrigDlg& dlg = *window->dlg;
    if (!o.adapter.isEmpty() && !dlg.Searching().AllAdapters()) {
        std::fprintf(stderr, "the window does not search every adapter\n");
        return 2;
    }
    test::UserLoop user(o.timeoutMs);
    const auto onBox = [&](const MessageBoxRequest& r) {
        std::printf("box %d 0x%02X\n", r.textId, r.boxType);
        std::fflush(stdout);
        if (IsOutcome(r.textId)) user.Finish(0);
        return ID_OK;
    };

    // Watchdog: a 5 ms timer; any longer gap between its ticks is time the UI thread spent
    // elsewhere without returning to the event loop.
    bool measuring = false;
    qint64 longest = 0;
    QElapsedTimer sinceTick;
    QTimer watchdog;
    watchdog.setTimerType(Qt::PreciseTimer);
    watchdog.setInterval(5);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        if (measuring) longest = std::max(longest, sinceTick.elapsed());
        sinceTick.restart();
    });
    sinceTick.start();
    watchdog.start();

    // The user: find and select the row, open the settings, enter the address, Save.
    bool clicked = false, saved = false;
    std::set<QString> progress;
    const int code = user.Run(onBox, 10, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* progressDialog = dynamic_cast<CMessageDialog*>(modal)) {
            if (progress.insert(progressDialog->MessageText()).second)
                std::printf("progress %s\n", qPrintable(progressDialog->MessageText()));
            return;
        }
        auto* settings = dynamic_cast<CTemplateDialog*>(modal);
        if (settings != nullptr && settings != &dlg) {
            if (saved) {
                std::printf("refused\n");
                settings->ControlAs<QAbstractButton>(2)->click();
                user.Finish(3);
                return;
            }
            const bool twoPort = dynamic_cast<CSetNetworkRec*>(settings) != nullptr;
            // A fixed address needs static (manual) addressing, which brings manual DNS.
            if (auto* manual = settings->ControlAs<QAbstractButton>(twoPort ? 1052 : 1022))
                manual->click();
            const int field = o.field != 0 ? o.field : twoPort ? 1055 : 1015;
            if (auto* ip = settings->ControlAs<CIpAddressCtrl>(field)) ip->SetAddress(o.address);
            if (o.noWait) {
                if (auto* wait = settings->ControlAs<QAbstractButton>(1032))
                    wait->setChecked(false);
            }
            saved = true;
            settings->ControlAs<QAbstractButton>(1)->click();
            return;
        }
        if (clicked) return;
        if (const int row = FindRow(dlg.List(), o.mac, o.adapter); row >= 0) {
            // The device is listed on a second adapter too before the change goes out.
            if (!o.adapter.isEmpty()) {
                int seen = 0;
                for (int r = 0; r < dlg.List().RowCount(); ++r)
                    seen += dlg.List().RowText(r, COL_MAC) == o.mac;
                if (seen < 2) return;
                for (int r = 0; r < dlg.List().RowCount(); ++r)
                    std::printf("row %s %s\n", qPrintable(dlg.List().RowText(r, COL_MAC)),
                                qPrintable(dlg.List().RowText(r, COL_ADAPTER)));
            }
            test::SelectRow(dlg.List(), row);
            clicked = true;
            measuring = true;
            sinceTick.restart();
            dlg.PostClick(IDC_NETWORK_SETTINGS);
            return;
        }
    });
    watchdog.stop();
    std::printf("longest-block-ms %lld\n", static_cast<long long>(longest));
    std::fflush(stdout);
    return code;
}
