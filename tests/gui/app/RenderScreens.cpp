// Renders the main window (with a few devices), the About box and the missing-privilege notice
// in each language to PNG files, so that a person can check the fitted layouts. Usage: app_render <output folder>.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

#include "WindowRig.h"
#include "app/AboutDlg.h"
#include "app/PrivilegeNotice.h"
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
        GivePrivilegeNotice(&dlg, nothing);
    }
    return shots.Finish(3 * static_cast<int>(std::size(samples)));
}
