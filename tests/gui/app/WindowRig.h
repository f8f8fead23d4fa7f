// The main window on fakes: virtual clock, in-memory transport, a fake host with two adapters,
// settings in a temporary file, browsers from a sandbox (none installed unless a test says so)
// and message boxes captured instead of shown.
#pragma once

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <initializer_list>
#include <memory>
#include <vector>

#include "app/SettingsChange.h"
#include "app/SettingsStore.h"
#include "app/TallyrigDlg.h"
#include "dialogkit/MessageBox.h"
#include "res/StringTable.h"
#include "tests/support/AnswerBuilder.h"
#include "HostBrowserSandbox.h"
#include "tests/support/FakeHost.h"
#include "tests/support/ListSelection.h"
#include "tests/support/MemoryTransport.h"
#include "tests/support/VirtualScheduler.h"

namespace valdrune::test {

inline const MacAddress kEth0Mac = {2, 0, 0, 0, 0, 1};
inline const MacAddress kEth1Mac = {2, 0, 0, 0, 0, 2};

struct WindowRig {
    // A further adapter's services while every adapter is searched: the rig's host and clock,
    // an in-memory socket of its own.
    struct AdapterServices final : IEngineServices {
        WindowRig& rig;
        std::shared_ptr<MemoryTransport> transport;
        explicit AdapterServices(WindowRig& r)
            : rig(r), transport(std::make_shared<MemoryTransport>(&r.clock)) {}
        ProtocolEnvironment Environment() override {
            return {rig.clock, *transport, rig.host, rig.prober, rig.neighbours};
        }
    };

    VirtualScheduler clock;
    MemoryTransport transport{&clock};
    FakeHostNetwork host;
    FakeEchoProber prober{clock};
    FakeNeighbourCache neighbours{&clock};
    QTemporaryDir dir;
    BrowserSandbox noBrowsers;
    std::unique_ptr<CSettingsStore> store;
    std::unique_ptr<CTallyrigDlg> dlg;
    std::vector<MessageBoxRequest> boxes;
    // The sockets of the further adapters, in the order they were opened.
    std::vector<std::shared_ptr<MemoryTransport>> extra;

    explicit WindowRig(bool adapters = true) {
        if (adapters) {
            host.Add("192.168.0.10", 2, "eth0", {kEth0Mac.begin(), kEth0Mac.end()}, "192.168.0.1");
            host.Add("10.1.0.10", 3, "eth1", {kEth1Mac.begin(), kEth1Mac.end()}, "10.1.0.1");
        }
        store = std::make_unique<CSettingsStore>(SettingsFile());
        SetMessageBoxHandler([this](const MessageBoxRequest& r) {
            boxes.push_back(r);
            return ID_OK;
        });
    }
    ~WindowRig() {
        dlg.reset();
        prober.CancelAll();
        SetMessageBoxHandler({});
        SetCurrentLanguage(Language::English);
    }
    QString SettingsFile() const { return dir.filePath(QStringLiteral("settings.ini")); }

    ProtocolEnvironment Environment() {
        return ProtocolEnvironment{clock, transport, host, prober, neighbours};
    }
    // The window without running its set-up.
    CTallyrigDlg& Create(BrowserSandbox& browsers) {
        dlg = std::make_unique<CTallyrigDlg>(Environment(), *store, browsers.Platform());
        return *dlg;
    }
    CTallyrigDlg& Open(BrowserSandbox& browsers) {
        Create(browsers).OnInitDialog();
        return *dlg;
    }
    CTallyrigDlg& Open() { return Open(noBrowsers); }
    // The window able to search every adapter, set up and shown.
    CTallyrigDlg& OpenWithAdapterServices() {
        Create(noBrowsers);
        dlg->SetAdapterServices([this] {
            auto services = std::make_unique<AdapterServices>(*this);
            extra.push_back(services->transport);
            return services;
        });
        dlg->OnInitDialog();
        dlg->show();
        return *dlg;
    }
    // The device enters that source's table and is reported as a decoded answer would be.
    void FoundOn(int source, const _CommandDataTable& record) {
        CProtocol& engine = dlg->SessionOf(source).Engine();
        const int number = engine.StoreDevice(record);
        dlg->OnDeviceFound(*engine.FindDevice(record.primary.mac), number, source);
    }

    // The device enters the engine's table and is reported to the window as the engine does
    // for a decoded answer.
    void Found(const _CommandDataTable& record) { FoundOn(0, record); }
    // Devices 1, 2, ... at these addresses, found in this order; then the posted refreshes.
    void FoundAt(std::initializer_list<const char*> addresses);
    // Runs whatever the window posted to itself.
    void Settle() { clock.RunPosted(); }
};

inline _CommandDataTable Device(std::uint8_t last, const char* ipv4, std::uint16_t port = 80,
                                const char* name = "Camera") {
    return RecordBuilder(DEVICE_KIND_STANDARD)
        .DeviceMac(Mac(last)).Address(ipv4).Port(port).Capability(1).Name(name).Model("WV-100")
        .Serial("SN0001");
}

inline void WindowRig::FoundAt(std::initializer_list<const char*> addresses) {
    std::uint8_t last = 0;
    for (const char* address : addresses) Found(Device(++last, address));
    Settle();
}

// Closes the next modal dialog as soon as it is up.
inline void CloseNextModal(int* seen = nullptr) {
    QTimer::singleShot(0, [seen] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            if (seen != nullptr) ++*seen;
            modal->close();
        }
    });
}

}  // namespace valdrune::test
