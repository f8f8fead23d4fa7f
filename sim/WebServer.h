// Serves each simulated device's page on its own address and HTTP port: plain HTTP, or HTTPS
// with a self-signed certificate made at start for devices that report HTTPS. One listening
// socket per port on any address; the address a connection came to picks the device, so the
// page follows the device when its settings move it.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "sim/DevicePeer.h"
#include "sim/Loop.h"

namespace valdrune::sim {

class CWebServer {
  public:
    // interface: bind the listeners to it (empty: every interface).
    CWebServer(CPollLoop& loop, const CDevicePeer& peer, std::string interface);
    ~CWebServer();
    CWebServer(const CWebServer&) = delete;
    CWebServer& operator=(const CWebServer&) = delete;

    // Listens on every port the devices report; call again after settings may have changed
    // them (never from inside a watched descriptor's callback). False with a reason when a
    // port could not be listened on; the others still serve.
    bool Sync(std::string& error);

    struct Tls;  // the certificate and key of this run

  private:
    void OnConnection(int listener, std::uint16_t port);
    bool EnsureTls(std::string& error);

    CPollLoop& loop_;
    const CDevicePeer& peer_;
    std::string interface_;
    std::map<std::uint16_t, int> listeners_;  // port -> listening socket
    std::shared_ptr<Tls> tls_;                // shared with connections still being served
};

}  // namespace valdrune::sim
