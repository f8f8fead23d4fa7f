// The tool's session over the fakes, with a few scripted devices that answer searches, accept
// settings and come back after a restart, all on the virtual clock.
#pragma once

#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Session.h"
#include "protocol/Datagram.h"
#include "tests/support/AnswerBuilder.h"
#include "tests/support/FakeHost.h"
#include "tests/support/MemoryTransport.h"
#include "tests/support/VirtualScheduler.h"

namespace valdrune::cli::test {

using valdrune::test::AnswerBuilder;
using valdrune::test::Ip;
using valdrune::test::Mac;

struct FakeDevice {
    MacAddress mac{};
    std::uint8_t kind = DEVICE_KIND_STANDARD;
    std::uint32_t ip = 0;
    std::uint32_t mask = 0xFFFFFF00u;
    std::uint32_t gateway = 0;
    std::uint16_t port = 80;
    std::uint8_t ipv4Mode = 3;
    std::uint8_t flags = 0x92;
    std::uint8_t capability = 1;
    std::uint16_t statusBits = 0;
    std::string name;              // tag 167 as bytes, when not empty
    bool accepts = true;           // answers a settings request with an acceptance
    bool comesBack = true;         // answers searches again after its restart
    bool twoPortRestarts = false;  // a two-port device that also goes silent for `restart`
    bool keepsAddress = false;     // accepts, restarts, and comes back with its old address
    Milliseconds restart{40000};   // silent this long after accepting
    std::function<void(FakeDevice&)> answered;  // after each answer to a search
    Milliseconds silentUntil{0};
    bool back = true;
    int settingsSeen = 0;
    std::vector<std::uint8_t> lastSettings;

    std::vector<std::uint8_t> Answer() const {
        AnswerBuilder b(CMD_SEARCH_REPLY, mac);
        b.Capability(capability);
        if (kind != DEVICE_KIND_LEGACY) b.U8(0, ipv4Mode);
        b.U32(32, ip).U32(33, mask).U32(34, gateway).Pair(35, 0, 0).U16(37, port).U8(166, flags);
        if (kind == DEVICE_KIND_LEGACY) {
            b.U8(165, 0x12).U16(173, 0x0F00).U8(183, 2).Text(168, "ZM-P41");
        }
        if (kind == DEVICE_KIND_TWO_PORT) b.U16(192, 20);
        if (statusBits) b.U16(180, statusBits);
        if (!name.empty()) b.Text(167, name.c_str());
        return b.Build();
    }
};

class CliRig {
  public:
    valdrune::test::VirtualScheduler clock;
    valdrune::test::MemoryTransport transport{&clock};
    valdrune::test::FakeHostNetwork host;
    valdrune::test::FakeEchoProber prober{clock};
    valdrune::test::FakeNeighbourCache neighbours{&clock};
    std::ostringstream out, err;
    std::vector<FakeDevice> devices;
    std::unique_ptr<Session> session;
    std::optional<int> exitCode;

    CliRig() {
        devices.reserve(256);  // AddDevice hands out references
        host.Add("192.168.0.10", 2, "eth0 (wired, e1000e, 02:00:00:00:00:01)", {2, 0, 0, 0, 0, 1},
                 "192.168.0.1");
        session = std::make_unique<Session>(
            ProtocolEnvironment{clock, transport, host, prober, neighbours}, out, err);
    }
    ~CliRig() {
        session.reset();
        prober.CancelAll();
    }

    FakeDevice& AddDevice(std::uint8_t last, std::uint8_t kind, const char* ip) {
        FakeDevice d;
        d.mac = Mac(last, kind);
        d.kind = kind;
        d.ip = Ip(ip);
        d.gateway = Ip("192.168.0.1");
        devices.push_back(d);
        // The device answers echo requests at its address.
        prober.SetResult(d.ip, ECHO_ANSWERED);
        return devices.back();
    }

    Done Finish() {
        return [this](int code) { exitCode = code; };
    }

    // The set command with these options, run to its end.
    void Set(const SetOptions& options) {
        RunSet(*session, options, Finish());
        Run();
    }

    // Advances the clock in small steps, answering every datagram the tool sent.
    void Run(Milliseconds limit = Milliseconds{300000}) {
        const Milliseconds end = clock.Now() + limit;
        while (!exitCode && clock.Now() < end) {
            clock.Advance(Milliseconds{10});
            Answer();
        }
    }

    std::size_t SentWithCommand(std::uint16_t command) const {
        return transport.SentWithCommand(command).size();
    }

  private:
    void Answer() {
        const auto& sent = transport.Sent();
        for (; answered_ < sent.size(); ++answered_) {
            const valdrune::test::SentDatagram d = sent[answered_];
            const std::uint16_t command = d.Command();
            for (auto& dev : devices) {
                if (command == CMD_SEARCH) {
                    const bool silent = clock.Now() < dev.silentUntil || !dev.back;
                    if (silent) continue;
                    transport.Deliver(dev.Answer());
                    if (dev.answered) dev.answered(dev);
                } else if ((command == CMD_SETUP_V2 || command == CMD_SETUP) &&
                           std::equal(dev.mac.begin(), dev.mac.end(), d.bytes.begin() + 6)) {
                    ++dev.settingsSeen;
                    dev.lastSettings = d.bytes;
                    if (!dev.accepts) continue;
                    Apply(dev, d.bytes);
                    const std::uint16_t reply =
                        command == CMD_SETUP_V2 ? CMD_SETUP_V2_REPLY : CMD_SETUP_REPLY;
                    transport.Deliver(AnswerBuilder(reply, dev.mac).Build());
                }
            }
        }
    }

    void Apply(FakeDevice& dev, const std::vector<std::uint8_t>& bytes) {
        const std::uint16_t length = static_cast<std::uint16_t>(bytes[2] << 8 | bytes[3]);
        WalkItems(bytes, length, [&](const TlvItem& item) {
            auto u32 = [&] {
                return static_cast<std::uint32_t>(item.value[0]) << 24 | item.value[1] << 16 |
                       item.value[2] << 8 | item.value[3];
            };
            if (item.tag == 32 && item.value.size() == 4 && !dev.keepsAddress) dev.ip = u32();
            if (item.tag == 33 && item.value.size() == 4) dev.mask = u32();
            if (item.tag == 37 && item.value.size() == 2) {
                dev.port = static_cast<std::uint16_t>(item.value[0] << 8 | item.value[1]);
            }
            if (item.tag == 0 && item.value.size() == 1) dev.ipv4Mode = item.value[0];
        });
        prober.SetResult(dev.ip, ECHO_ANSWERED);
        if (dev.kind != DEVICE_KIND_TWO_PORT || dev.twoPortRestarts) {
            dev.silentUntil = clock.Now() + dev.restart;
        }
        if (!dev.comesBack) dev.back = false;
    }

    std::size_t answered_ = 0;
};

}  // namespace valdrune::cli::test
