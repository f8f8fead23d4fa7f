// The engine's device table and probe behind the open action's device seam.
#pragma once

#include <functional>
#include <utility>

#include "browser/core/BrowserSeams.h"
#include "protocol/Protocol.h"

namespace valdrune {

class ProtocolDeviceSource final : public IDeviceSource {
  public:
    using Classifier = std::function<int(const _CommandDataTable&)>;
    // classOf: the browser class of a device (the decisions' own classification).
    ProtocolDeviceSource(CProtocol& engine, Classifier classOf)
        : engine_(engine), classOf_(std::move(classOf)) {}

    std::optional<_CommandDataTable> FindDevice(const std::string& macText) const override {
        return engine_.FindDevice(macText);
    }
    int FindOverlaps(const _CommandDataTable& record) const override {
        std::vector<std::uint16_t> overlaps;
        return engine_.FindOverlaps(record, overlaps);
    }
    // The device's own address is probed; only an answer (the "in use" result) lets it open.
    void ProbeDevice(const _CommandDataTable& record, std::function<void(bool)> done) override {
        engine_.CheckAddressInUse(record, false, [done = std::move(done)](int result) {
            done(result == PROTO_ADDRESS_IN_USE);
        });
    }
    std::vector<std::string> EnumerateDeviceUrls(bool allDevices) const override {
        std::vector<std::string> urls;
        engine_.EnumerateDeviceUrls(urls, allDevices, classOf_);
        return urls;
    }

  private:
    CProtocol& engine_;
    Classifier classOf_;
};

}  // namespace valdrune
