// The real window on the real platform, driven through one batch assignment the way a user
// would: wait for the devices to be listed, select them all, "Assign addresses...", type the
// first address and the mask, Propose, Apply, and wait for the summary. Runs inside the pc
// namespace of an end-to-end test. Prints what it saw:
//   row <MAC> <new address or -> <status>   each device of the batch, once it is over
//   summary <text>
//   box <text id>                           every message box, in order
// Exit code 0 once the summary was shown, 3 when the batch was refused, 4 on time-out.
//
// Usage: batch_e2e_window --devices N --first A.B.C.D [--timeout-ms N] [--store FILE]
#include <QAbstractButton>
#include <QApplication>
#include <QTableWidget>
#include <QTreeView>
#include <cstdio>
#include <string>

#include "app/BatchAssignDlg.h"
#include "app/TallyrigDlg.h"
#include "dialogkit/MessageBox.h"
#include "settings/dialogs/CIpAddressCtrl.h"
#include "tests/e2e/settings/WindowUnderTest.h"

using namespace valdrune;

namespace {

struct Options {
    int devices = 0;
    std::uint32_t first = 0;
    int timeoutMs = 60000;
    QString store = QStringLiteral("/tmp/batch-e2e-window.ini");
};

bool Parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--devices" && hasValue) o.devices = std::atoi(argv[++i]);
        else if (a == "--first" && hasValue) {
            if (!ParseIpv4(argv[++i], o.first)) return false;
        } else if (a == "--timeout-ms" && hasValue) o.timeoutMs = std::atoi(argv[++i]);
        else if (a == "--store" && hasValue) o.store = QString::fromLocal8Bit(argv[++i]);
        else return false;
    }
    return o.devices > 0 && o.first != 0;
}

enum class Step { Listing, Opening, Proposing, Applying };

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: batch_e2e_window --devices N --first A.B.C.D "
                             "[--timeout-ms N] [--store FILE]\n");
        return 2;
    }
    const auto window = test::StartWindow(o.store);
    if (!window) return 2;
    CTallyrigDlg& dlg = *window->dlg;
    test::UserLoop user(o.timeoutMs);
    const auto onBox = [&](const MessageBoxRequest& r) {
        std::printf("box %d\n", r.textId);
        std::fflush(stdout);
        if (r.textId >= 1142 && r.textId <= 1149) user.Finish(3);
        return ID_OK;
    };
    Step step = Step::Listing;
    return user.Run(onBox, 20, [&] {
        CBatchAssignDlg* batch = dlg.BatchDialog();
        switch (step) {
            case Step::Listing:
                if (dlg.List().RowCount() < o.devices || dlg.Engine().SearchRunning()) return;
                dlg.List().View()->selectAll();
                step = Step::Opening;
                dlg.PostClick(IDC_ASSIGN);
                return;
            case Step::Opening:
                if (batch == nullptr) return;
                batch->ControlAs<CIpAddressCtrl>(IDC_BATCH_FIRST)->SetAddress(o.first);
                batch->ControlAs<CIpAddressCtrl>(IDC_BATCH_MASK)->SetAddress(0xFFFFFF00u);
                step = Step::Proposing;
                batch->ControlAs<QAbstractButton>(IDC_BATCH_PROPOSE)->click();
                return;
            case Step::Proposing:
                if (batch == nullptr || !batch->IsControlEnabled(IDC_BATCH_APPLY)) return;
                step = Step::Applying;
                batch->ControlAs<QAbstractButton>(IDC_BATCH_APPLY)->click();
                return;
            case Step::Applying: {
                if (batch == nullptr || batch->Running()) return;
                for (int r = 0; r < batch->Preview()->rowCount(); ++r) {
                    const QString address = batch->Preview()->item(r, BCOL_NEW)->text();
                    std::printf("row %s %s %s\n",
                                qPrintable(batch->Preview()->item(r, BCOL_MAC)->text()),
                                address.isEmpty() ? "-" : qPrintable(address),
                                qPrintable(batch->StatusText(r)));
                }
                std::printf("summary %s\n", qPrintable(batch->Summary()));
                std::fflush(stdout);
                batch->close();
                user.Finish(0);
                return;
            }
        }
    });
}
