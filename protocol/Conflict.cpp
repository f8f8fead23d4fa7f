// Address conflicts: among the devices that answered, and on the wire by ICMP echo.
#include <algorithm>
#include <utility>

#include "protocol/Protocol.h"

namespace valdrune {

namespace {

constexpr int kCheckAttempts = 3;
constexpr Milliseconds kFlushSettle{100};  // lets the neighbour entry go before probing
constexpr std::uint8_t kStaticIpv4Mode = 3;
constexpr std::uint8_t kStaticLegacyAddressing = 0x12;

int MapEchoOutcome(int code) {
    switch (code) {
    case ECHO_NET_UNREACHABLE:
    case ECHO_HOST_UNREACHABLE:
    case ECHO_TIMED_OUT:
    case ECHO_NOT_PREPARED:
    case ECHO_NOT_PERMITTED:
        return code;
    default:
        // Any other status means something is there.
        return ECHO_ANSWERED;
    }
}

}  // namespace

struct CProtocol::AddressCheck {
    std::uint32_t primary = 0;
    std::uint32_t second = 0;
    bool probePrimary = false;
    bool probeSecond = false;
    int attempt = 0;
    bool finished = false;
    std::function<void(int)> done;
};

int CProtocol::FindOverlaps(const _CommandDataTable& record,
                            std::vector<std::uint16_t>& overlaps) const {
    overlaps.clear();
    if (devices_.Empty()) return -1;
    const std::uint32_t address = record.primary.ipAddress;
    devices_.ForEach([&](const DeviceEntry& e) {
        if (e.record.primary.mac != record.primary.mac && address != 0 &&
            e.record.primary.ipAddress == address)
            overlaps.push_back(static_cast<std::uint16_t>(e.number));
    });
    std::sort(overlaps.begin(), overlaps.end());
    return static_cast<int>(overlaps.size());
}

std::uint32_t CProtocol::AddressAfterSettings(const _CommandDataTable& settings) {
    bool fixed = false;
    switch (settings.kind) {
    case DEVICE_KIND_STANDARD: fixed = settings.ipv4Mode == kStaticIpv4Mode; break;
    case DEVICE_KIND_LEGACY: fixed = settings.legacyAddressing == kStaticLegacyAddressing; break;
    case DEVICE_KIND_TWO_PORT: fixed = settings.ipv4Mode != 0; break;  // 0: LAN by DHCP
    default: break;
    }
    return fixed ? settings.primary.ipAddress : 0;
}

bool CProtocol::CanProbe() const { return env_.prober.CanProbe(); }

bool CProtocol::CanFlushNeighbours() const { return env_.neighbours.CanFlush(); }

void CProtocol::EchoProbe(std::uint32_t address, std::function<void(int)> done) {
    if (!env_.prober.CanProbe()) {
        Defer([done = std::move(done)] { done(ECHO_NOT_PERMITTED); });
        return;
    }
    // A prober may answer before Probe returns; the caller still hears back only afterwards.
    auto returned = std::make_shared<bool>(false);
    env_.prober.Probe(address, ECHO_DATA, ECHO_TIMEOUT,
                      [this, alive = lifeline_.Hold(), returned, done = std::move(done)](int code) {
                          if (!Lifeline::Alive(alive)) return;
                          const int result = MapEchoOutcome(code);
                          if (*returned)
                              done(result);
                          else
                              Defer([done, result] { done(result); });
                      });
    *returned = true;
}

void CProtocol::CheckAddressInUse(const _CommandDataTable& record, bool changedOnly,
                                  std::function<void(int)> done) {
    if (!socketReady_) {
        Defer([done = std::move(done)] { done(PROTO_SOCKET_NOT_READY); });
        return;
    }
    const _CommandDataTable stored =
        devices_.Find(record.primary.mac).value_or(_CommandDataTable{});

    auto check = std::make_shared<AddressCheck>();
    check->primary = record.primary.ipAddress;
    check->second = record.primary.ipAddress2;
    if (!changedOnly) {
        check->probePrimary = true;
    } else {
        if (record.primary.ipAddress != stored.primary.ipAddress) {
            switch (record.kind) {
            case DEVICE_KIND_TWO_PORT:
                check->probePrimary = true;
                break;
            case DEVICE_KIND_STANDARD:
                check->probePrimary = record.ipv4Mode == kStaticIpv4Mode;
                break;
            case DEVICE_KIND_LEGACY:
                check->probePrimary = record.legacyAddressing == kStaticLegacyAddressing;
                break;
            default:
                break;
            }
        }
        check->probeSecond = record.kind == DEVICE_KIND_TWO_PORT &&
                             record.primary.ipAddress2 != 0 &&
                             record.primary.ipAddress2 != stored.primary.ipAddress2;
    }

    if (!check->probePrimary && !check->probeSecond) {
        Defer([done = std::move(done)] { done(PROTO_OK); });
        return;
    }
    // A probe that cannot run must never read as "nobody uses the address".
    if (!env_.prober.CanProbe()) {
        Defer([done = std::move(done)] { done(PROTO_PROBE_NOT_PERMITTED); });
        return;
    }
    check->done = std::move(done);
    ++checksRunning_;
    RunCheckAttempt(check);
}

void CProtocol::RunCheckAttempt(const std::shared_ptr<AddressCheck>& check) {
    ++check->attempt;
    // The cached entry is always the primary address's, also when only the second is probed.
    env_.neighbours.Flush(check->primary);
    auto id = std::make_shared<TimerId>(0);
    *id = Schedule(kFlushSettle, false, [this, check, id] {
        checkTimers_.erase(std::remove(checkTimers_.begin(), checkTimers_.end(), *id),
                           checkTimers_.end());
        if (!check->probePrimary) {
            ProbeSecond(check);
            return;
        }
        EchoProbe(check->primary, [this, check](int code) {
            if (code == ECHO_ANSWERED)
                FinishCheck(check, PROTO_ADDRESS_IN_USE);
            else if (code == ECHO_NOT_PERMITTED)
                FinishCheck(check, PROTO_PROBE_NOT_PERMITTED);
            else
                ProbeSecond(check);
        });
    });
    checkTimers_.push_back(*id);
}

void CProtocol::ProbeSecond(const std::shared_ptr<AddressCheck>& check) {
    auto next = [this, check] {
        if (check->attempt < kCheckAttempts)
            RunCheckAttempt(check);
        else
            FinishCheck(check, PROTO_OK);
    };
    if (!check->probeSecond) {
        next();
        return;
    }
    EchoProbe(check->second, [this, check, next](int code) {
        if (code == ECHO_ANSWERED)
            FinishCheck(check, PROTO_ADDRESS_IN_USE);
        else if (code == ECHO_NOT_PERMITTED)
            FinishCheck(check, PROTO_PROBE_NOT_PERMITTED);
        else
            next();
    });
}

void CProtocol::FinishCheck(const std::shared_ptr<AddressCheck>& check, int result) {
    if (check->finished) return;
    check->finished = true;
    --checksRunning_;
    auto done = std::move(check->done);
    if (done) done(result);
}

}  // namespace valdrune
