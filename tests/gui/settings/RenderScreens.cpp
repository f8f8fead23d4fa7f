// Renders both settings dialogs (each kind and capability variant) and the progress and
// message dialog in each language to PNG files, so that a person can check the fitted
// layouts. Usage: settings_render <output folder>.
#include <QApplication>
#include <QDir>
#include <QPixmap>

#include <cstdio>
#include <functional>

#include "dialogkit/CMessageDialog.h"
#include "protocol/Record.h"
#include "res/StringTable.h"
#include "settings/dialogs/CSetNetwork.h"
#include "settings/dialogs/CSetNetworkRec.h"
#include "tests/gui/ScreenShots.h"
#include "tests/support/AnswerBuilder.h"
#include "tests/support/VirtualScheduler.h"

using namespace valdrune;

namespace {

_CommandDataTable Record(std::uint8_t kind, std::uint8_t capability, std::uint8_t ipv4Mode) {
    return test::RecordBuilder(kind)
        .Address("192.168.0.20", "255.255.255.0", "192.168.0.1").Dns("192.168.0.1")
        .PcAddress("10.0.0.20", "255.255.255.0").Port(80).Capability(capability).Ipv4Mode(ipv4Mode)
        .Addressing(kind == DEVICE_KIND_LEGACY ? 0x12 : 0x92);
}

_CommandDataTable TwoPort(std::uint16_t portKind, std::uint16_t optionA, std::uint16_t optionB) {
    return test::RecordBuilder(Record(DEVICE_KIND_TWO_PORT, 0, 3))
        .PortOptions(portKind, optionA, optionB);
}

void Save(test::ScreenShots& shots, QWidget& w, const QString& name) {
    w.show();
    QApplication::processEvents();
    shots.Save(w, name);
    w.hide();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    test::ScreenShots shots(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screens"));
    const std::pair<const char*, Language> languages[] = {{"en", Language::English},
                                                          {"ja", Language::Japanese},
                                                          {"zh_CN", Language::ChineseSimplified},
                                                          {"pt", Language::Portuguese}};
    const std::pair<const char*, _CommandDataTable> single[] = {
        {"standard-cap0", Record(DEVICE_KIND_STANDARD, 0, 0)},
        {"standard-cap1", Record(DEVICE_KIND_STANDARD, 1, 3)},
        {"standard-cap2", Record(DEVICE_KIND_STANDARD, 2, 5)},
        {"legacy", Record(DEVICE_KIND_LEGACY, 0, 0)}};
    const std::pair<const char*, _CommandDataTable> two[] = {
        {"two-port-pc", TwoPort(6, 1, 2)},
        {"two-port-single-pc-option", TwoPort(6, 1, 1)},
        {"two-port-no-modes", TwoPort(6, 0, 2)},
        {"two-port-view-only", TwoPort(5, 1, 2)}};
    test::VirtualScheduler clock;
    for (const auto& [suffix, language] : languages) {
        SetCurrentLanguage(language);
        const QString tail = QStringLiteral("-%1").arg(QLatin1String(suffix));
        for (const auto& [name, record] : single) {
            CSetNetwork d;
            d.SetRecord(record);
            Save(shots, d, QStringLiteral("set-network-") + QLatin1String(name) + tail);
        }
        for (const auto& [name, record] : two) {
            CSetNetworkRec d;
            d.SetRecord(record);
            Save(shots, d, QStringLiteral("set-network-rec-") + QLatin1String(name) + tail);
        }
        const std::pair<int, int> modes[] = {{0, 226}, {1, 238}, {2, 237}};
        for (const auto& [mode, textId] : modes) {
            CMessageDialog d(clock);
            d.SetMode(mode);
            d.SetTextId(textId);
            // The progress as it looks 12 s into the wait for the device's acceptance.
            if (mode == 0) {
                d.StartStep(Milliseconds(30000));
                clock.Advance(Milliseconds(12000));
            }
            Save(shots, d, QStringLiteral("message-mode%1").arg(mode) + tail);
        }
    }
    return shots.Finish(static_cast<int>(std::size(languages) * (std::size(single) + std::size(two) + 3)));
}
