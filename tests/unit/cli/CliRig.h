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
    // What it reports: primary.mac is its identity; deviceName is sent (tag 167) when not empty.
    _CommandDataTable record;
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
        const _NetInfo& lan = record.primary;
        AnswerBuilder b(CMD_SEARCH_REPLY, lan.mac);
        b.Capability(record.capabilityFlag);
        if (record.kind != DEVICE_KIND_LEGACY) b.U8(0, record.ipv4Mode);
        b.U32(32, lan.ipAddress).U32(33, lan.subnetMask).U32(34, lan.gateway);
        b.Pair(35, lan.dns1, lan.dns2).U16(37, lan.port).U8(166, record.flags);
        if (record.kind == DEVICE_KIND_LEGACY) {
            b.U8(165, 0x12).U16(173, 0x0F00).U8(183, 2).Text(168, "ZM-P41");
        }
        if (record.kind == DEVICE_KIND_TWO_PORT) b.U16(192, 20);
        if (record.statusBits) b.U16(180, record.statusBits);
        if (record.deviceName[0] != '\0') b.Text(167, FieldText(record.deviceName));
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
        d.record = valdrune::test::RecordBuilder(kind)
                       .DeviceMac(Mac(last, kind))
                       .Address(ip, "255.255.255.0", "192.168.0.1")
                       .Port(80)
                       .Ipv4Mode(3)
                       .Flags(0x92)
                       .Capability(1);
        devices.push_back(d);
        // The device answers echo requests at its address.
        prober.SetResult(d.record.primary.ipAddress, ECHO_ANSWERED);
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
                           std::equal(dev.record.primary.mac.begin(), dev.record.primary.mac.end(),
                                      d.bytes.begin() + 6)) {
                    ++dev.settingsSeen;
                    dev.lastSettings = d.bytes;
                    if (!dev.accepts) continue;
                    Apply(dev, d.bytes);
                    const std::uint16_t reply =
                        command == CMD_SETUP_V2 ? CMD_SETUP_V2_REPLY : CMD_SETUP_REPLY;
                    transport.Deliver(AnswerBuilder(reply, dev.record.primary.mac).Build());
                }
            }
        }
    }

    void Apply(FakeDevice& dev, const std::vector<std::uint8_t>& bytes) {
        const std::uint16_t length = static_cast<std::uint16_t>(bytes[2] << 8 | bytes[3]);
        _NetInfo& lan = dev.record.primary;
        WalkItems(bytes, length, [&](const TlvItem& item) {
            auto u32 = [&] {
                return static_cast<std::uint32_t>(item.value[0]) << 24 | item.value[1] << 16 |
                       item.value[2] << 8 | item.value[3];
            };
            if (item.tag == 32 && item.value.size() == 4 && !dev.keepsAddress)
                lan.ipAddress = u32();
            if (item.tag == 33 && item.value.size() == 4) lan.subnetMask = u32();
            if (item.tag == 37 && item.value.size() == 2) {
                lan.port = static_cast<std::uint16_t>(item.value[0] << 8 | item.value[1]);
            }
            if (item.tag == 0 && item.value.size() == 1) dev.record.ipv4Mode = item.value[0];
        });
        prober.SetResult(lan.ipAddress, ECHO_ANSWERED);
        if (dev.record.kind != DEVICE_KIND_TWO_PORT || dev.twoPortRestarts) {
            dev.silentUntil = clock.Now() + dev.restart;
        }
        if (!dev.comesBack) dev.back = false;
    }

    std::size_t answered_ = 0;
};

}  // namespace valdrune::cli::test
