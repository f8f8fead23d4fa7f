#include "app/AdapterSessions.h"

namespace valdrune {

CAdapterSessions::CAdapterSessions(DeviceSession& own) : own_(own) {}

CAdapterSessions::~CAdapterSessions() { CloseAll(); }

bool CAdapterSessions::CanSearchAll() const {
    if (!start_) return false;
    const CProtocol& engine = own_.Engine();
    for (int p = 0; p < engine.InterfaceCount(); ++p)
        if (p != engine.SelectedInterface() &&
            !IsLoopback(engine.Interfaces()[static_cast<std::size_t>(p)]))
            return true;
    return false;
}

std::vector<std::string> CAdapterSessions::OpenAll() {
    CloseAll();
    allOpen_ = true;
    std::vector<std::string> failed;
    if (!start_) return failed;
    const CProtocol& engine = own_.Engine();
    for (int p = 0; p < engine.InterfaceCount(); ++p) {
        const _NetInfo& adapter = engine.Interfaces()[static_cast<std::size_t>(p)];
        if (p == engine.SelectedInterface() || IsLoopback(adapter)) continue;
        Extra extra;
        extra.services = start_();
        if (extra.services) {
            extra.session = std::make_unique<DeviceSession>(extra.services->Environment());
            CProtocol& own = extra.session->Engine();
            // The adapter's own MAC is preferred, so the first binding is already the right one.
            own.EnumerateInterfaces(adapter.mac);
            const int at = MatchInterface(own.Interfaces(), Ipv4Text(adapter.ipAddress));
            if (at < 0 || !own.SelectInterface(at) || !own.SocketReady()) extra.session.reset();
        }
        if (!extra.session) {
            failed.push_back(adapter.description.substr(0, adapter.description.find(" (")));
            continue;
        }
        const int source = Count();
        extra.session->SetDeviceHook([this, source](const _CommandDataTable& r, int number) {
            if (hooks_.device) hooks_.device(source, r, number);
        });
        extra.session->SetTransactionHook([this, source](const TransactionEvent& e) {
            if (hooks_.transaction) hooks_.transaction(source, e);
        });
        extra_.push_back(std::move(extra));
    }
    return failed;
}

void CAdapterSessions::CloseAll() {
    allOpen_ = false;
    for (Extra& e : extra_) {
        e.session->SetDeviceHook(nullptr);
        e.session->SetTransactionHook(nullptr);
    }
    extra_.clear();
}

DeviceSession& CAdapterSessions::At(int source) {
    if (source <= 0 || source >= Count()) return own_;
    return *extra_[static_cast<std::size_t>(source - 1)].session;
}

const DeviceSession& CAdapterSessions::At(int source) const {
    if (source <= 0 || source >= Count()) return own_;
    return *extra_[static_cast<std::size_t>(source - 1)].session;
}

std::vector<const CProtocol*> CAdapterSessions::Engines() const {
    std::vector<const CProtocol*> engines{&own_.Engine()};
    for (const Extra& e : extra_) engines.push_back(&e.session->Engine());
    return engines;
}

}  // namespace valdrune
