// Renders the main window (with a few devices), the About box, the missing-privilege notice
// and the empty list's hint with the probe-rights note in each language to PNG files, so that a person can check the fitted layouts. Usage: app_render <output folder>.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

#include "WindowRig.h"
#include "app/AboutDlg.h"
#include "app/BatchAssignDlg.h"
#include "app/PrivilegeNotice.h"
#include "app/SearchHint.h"
#include "settings/dialogs/CIpAddressCtrl.h"
#include "tests/gui/ScreenShots.h"

using namespace valdrune;

namespace {

struct Sample {
    const char* suffix;
    Language language;
};

void AddDevices(test::WindowRig& rig) {
    auto legacy = test::Device(0x11, "192.168.0.11", 80, "Gate");
    legacy.kind = DEVICE_KIND_LEGACY;
    legacy.capabilityFlag = 0;
    auto twoPort = test::Device(0x12, "192.168.0.11", 8080, "Yard encoder");
    twoPort.kind = DEVICE_KIND_TWO_PORT;
    auto standard = test::Device(0x13, "192.168.0.13", 443, "Lobby");
    standard.hasIpv6 = 1;
    standard.ipv6Address = {0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0x02, 0, 0, 0xFF, 0xFE, 0, 0, 0x13};
    for (const auto& r : {legacy, twoPort, standard}) rig.Found(r);
    rig.Settle();
}

// The batch dialog with its proposal applied, one device at a time: one sent, one waiting,
// one left out by its rules.
void SaveBatch(test::WindowRig& rig, test::ScreenShots& shots, const QString& name) {
    CTallyrigDlg& dlg = *rig.dlg;
    auto locked = test::Device(0x14, "192.168.0.14", 80, "Dock");
    locked.statusBits = 1;
    rig.Found(locked);
    rig.Settle();
    dlg.Engine().SetTransactionLimit(1);
    dlg.List().View()->selectAll();
    QTimer::singleShot(0, [&rig, &shots, name] {
        CBatchAssignDlg* batch = rig.dlg->BatchDialog();
        if (batch == nullptr) return;
        batch->ControlAs<CIpAddressCtrl>(IDC_BATCH_FIRST)->SetAddress(test::Ip("192.168.0.60"));
        batch->ControlAs<CIpAddressCtrl>(IDC_BATCH_MASK)->SetAddress(test::Ip("255.255.255.0"));
        batch->ControlAs<CIpAddressCtrl>(IDC_BATCH_GATEWAY)->SetAddress(test::Ip("192.168.0.1"));
        batch->Propose();
        rig.clock.Advance(Milliseconds(2000));
        batch->Apply();
        rig.clock.Advance(Milliseconds(5000));
        rig.Settle();
        QApplication::processEvents();
        shots.Save(*batch, name);
        batch->close();  // the rig's box handler agrees to leave the change running
    });
    dlg.ControlAs<QAbstractButton>(IDC_ASSIGN)->click();
}

// Every adapter searched: the adapter column, the same device on both adapters, a conflict
// on one segment only.
void SaveAllAdapters(Language language, test::ScreenShots& shots, const QString& name) {
    SetCurrentLanguage(language);
    test::WindowRig rig;
    CTallyrigDlg& dlg = rig.OpenWithAdapterServices();
    auto* combo = dlg.ControlAs<QComboBox>(IDC_INTERFACE_COMBO);
    combo->setCurrentIndex(combo->count() - 1);
    emit combo->activated(combo->count() - 1);
    rig.FoundOn(0, test::Device(0x11, "192.168.0.11", 80, "Gate"));
    rig.FoundOn(0, test::Device(0x13, "192.168.0.13", 443, "Lobby"));
    rig.FoundOn(1, test::Device(0x13, "10.1.0.13", 443, "Lobby"));
    rig.FoundOn(1, test::Device(0x21, "10.1.0.21", 80, "Dock"));
    rig.FoundOn(1, test::Device(0x22, "10.1.0.21", 8080, "Yard encoder"));
    rig.Settle();
    test::SelectRow(dlg.List(), 2);
    QApplication::processEvents();
    shots.Save(dlg, name);
}

// A host whose firewall drops the answers.
struct DroppingFirewall final : INetworkSurvey {
    NetworkFacts Gather(const std::string&, std::int32_t) override {
        NetworkFacts f;
        f.adapterFound = true;
        f.adapter = AdapterFacts{"eth0", 0xC0A8000A, 24, true, true, false};
        f.rules = RuleOutcome::Drops;
        f.ruleText = "udp dport 10669 drop";
        f.rulePlace = "inet filter input handle 4";
        f.ruleFixCommand =
            "nft insert rule inet filter input iifname \"eth0\" udp dport 10669 accept";
        f.outsideRouteAdapter = "eth0";
        f.canProbe = true;
        return f;
    }
};

// A search cycle that found nothing, its hint, and the note about the neighbour cache.
void SaveSearchHint(test::ScreenShots& shots, const QString& name) {
    DroppingFirewall survey;
    test::WindowRig rig;
    CTallyrigDlg& dlg = rig.Create(rig.noBrowsers);
    dlg.SetNetworkSurvey(&survey);
    dlg.OnInitDialog();
    PrivilegeReport noFlush;
    noFlush.canProbe = true;
    noFlush.helper = "/usr/libexec/valdrune/valdrune-netprobe";
    GivePrivilegeNotice(dlg, noFlush);
    dlg.show();
    rig.clock.Advance(Milliseconds(8000));
    rig.Settle();
    for (int i = 0; i < 500 && dlg.Hint().Checking(); ++i) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    QApplication::processEvents();
    shots.Save(dlg, name);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    test::ScreenShots shots(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screens"));
    const Sample samples[] = {{"en", Language::English},
                              {"ja", Language::Japanese},
                              {"zh_CN", Language::ChineseSimplified},
                              {"pt", Language::Portuguese}};
    for (const Sample& s : samples) {
        SetCurrentLanguage(s.language);
        test::WindowRig rig;
        CTallyrigDlg& dlg = rig.Open();
        AddDevices(rig);
        test::SelectRow(dlg.List(), 2);
        dlg.List().OnColumnClick(COL_ADDRESS);
        dlg.show();
        QApplication::processEvents();
        const QString suffix = QLatin1String(s.suffix);
        shots.Save(dlg, QStringLiteral("main-") + suffix);
        CAboutDlg about(&dlg);
        about.show();
        QApplication::processEvents();
        shots.Save(about, QStringLiteral("about-") + suffix);
        about.close();
        SaveBatch(rig, shots, QStringLiteral("batch-") + suffix);
        // The real box through the default seam, grabbed once its modal loop runs.
        SetMessageBoxHandler({});
        QTimer::singleShot(0, [&shots, suffix] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                shots.Save(*box, QStringLiteral("notice-") + suffix);
                box->close();
            }
        });
        PrivilegeReport nothing;
        nothing.pingGroupCommand = "sysctl -w net.ipv4.ping_group_range=\"1000 1000\"";
        GivePrivilegeNotice(dlg, nothing);
        SaveSearchHint(shots, QStringLiteral("search-hint-") + suffix);
    }
    for (const Sample& s : samples)
        SaveAllAdapters(s.language, shots, QStringLiteral("alladapters-") + QLatin1String(s.suffix));
    return shots.Finish(6 * static_cast<int>(std::size(samples)));
}
