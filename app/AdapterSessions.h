// The sessions the main window searches with. Source 0 is the window's own session, on the
// adapter chosen in the combo; while every adapter is searched there is one more session for
// each other adapter that can be searched, each with an engine and a socket of its own (an
// engine binds to one adapter and keeps one device table). Rows, changes and batches name
// their source, so that everything done to a device goes out through the adapter it was
// found on.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/EngineServices.h"
#include "protocol/Session.h"

namespace valdrune {

class CAdapterSessions {
  public:
    using StartServices = std::function<std::unique_ptr<IEngineServices>()>;
    struct Hooks {
        std::function<void(int source, const _CommandDataTable&, int number)> device;
        std::function<void(int source, const TransactionEvent&)> transaction;
    };

    explicit CAdapterSessions(DeviceSession& own);
    ~CAdapterSessions();
    CAdapterSessions(const CAdapterSessions&) = delete;
    CAdapterSessions& operator=(const CAdapterSessions&) = delete;

    // Services for each further adapter; without them only the own session searches.
    void SetStartServices(StartServices start) { start_ = std::move(start); }
    // The further sessions' reports; the own session's are the window's to hook.
    void SetHooks(Hooks hooks) { hooks_ = std::move(hooks); }

    // True when services can be started and the own engine lists another adapter to search.
    bool CanSearchAll() const;
    // Opens a session on every adapter of the own engine's table other than its own and
    // loopback; returns the names of those that could not be opened (their sockets).
    std::vector<std::string> OpenAll();
    // Back to the own session alone; the further engines end with whatever they were doing.
    void CloseAll();
    bool AllOpen() const { return allOpen_; }

    int Count() const { return 1 + static_cast<int>(extra_.size()); }
    // An unknown source gives the own session.
    DeviceSession& At(int source);
    const DeviceSession& At(int source) const;
    std::vector<const CProtocol*> Engines() const;

  private:
    struct Extra {
        std::unique_ptr<IEngineServices> services;
        std::unique_ptr<DeviceSession> session;  // destroyed before its services
    };

    DeviceSession& own_;
    StartServices start_;
    Hooks hooks_;
    std::vector<Extra> extra_;
    bool allOpen_ = false;
};

}  // namespace valdrune
