// libFuzzer target over everything that touches bytes from the network: the validator, the
// item walk, the decoder and the device session every front end runs on, with invariants the
// rest of the system relies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "protocol/Datagram.h"
#include "protocol/Decoder.h"
#include "protocol/DeviceTable.h"
#include "protocol/Seams.h"
#include "protocol/Session.h"
#include "tests/support/EngineRig.h"

namespace {

using namespace valdrune;

const MacAddress kSelectedMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

void Require(bool condition) {
    if (!condition) std::abort();
}

// True when text (up to its NUL) is whole UTF-8 characters without control bytes.
bool WellFormedName(const Text16& name) {
    std::size_t p = 0;
    const auto at = [&](std::size_t i) { return static_cast<std::uint8_t>(name[i]); };
    while (p < name.size() && at(p) != 0) {
        const std::uint8_t b = at(p);
        std::size_t len = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
        if (b < 0x20 || (b >= 0x80 && b < 0xC2) || b > 0xF4) return false;
        if (p + len > 15) return false;
        for (std::size_t k = 1; k < len; ++k)
            if ((at(p + k) & 0xC0) != 0x80) return false;
        p += len;
    }
    return p <= 15;
}

void CheckFields(const DecodeResult& d, const AnswerContext& context) {
    const _CommandDataTable& r = d.record;
    Require(r.primary.mac == context.deviceMac);
    Require(r.sequence == context.sequence);
    if (context.protocolMode == 2 && context.capability != 0) Require(WellFormedName(r.deviceName));
    if (r.portKind != 0) {
        Require(r.kind == DEVICE_KIND_TWO_PORT);
        Require(r.portOptionA != 255 && r.portOptionB != 255);
    }
    if (!d.hadAddress) Require(d.address == 0);
}

// Only validated answers reach the engine, so only their records are round-tripped.
void CheckDecoded(const DecodeResult& d, const AnswerContext& context) {
    CheckFields(d, context);
    const _CommandDataTable& r = d.record;

    // Whatever was decoded must encode into a datagram that passes our own validator.
    std::uint16_t command = 0;
    std::uint16_t mask = 0;
    switch (r.kind) {
        case DEVICE_KIND_LEGACY: command = CMD_SETUP; mask = MASK_LEGACY; break;
        case DEVICE_KIND_TWO_PORT: command = CMD_SETUP; mask = MASK_TWO_PORT; break;
        default: command = CMD_SETUP_V2; mask = MASK_STANDARD; break;
    }
    const std::vector<std::uint8_t> request =
        BuildSettingsRequest(r, command, mask, Requester{kSelectedMac, 0x0A000001});
    Require(ValidateAnswer(request, kSelectedMac).has_value());
}

// A session as every front end runs it, on the selected adapter; kept from input to input.
struct SessionRig {
    test::EngineRig rig;
    std::unique_ptr<DeviceSession> session;

    explicit SessionRig(bool full) {
        rig.host.Add("192.168.0.10", 2, "eth0", {kSelectedMac.begin(), kSelectedMac.end()}, "");
        session = std::make_unique<DeviceSession>(rig.Env());
        Require(session->OpenInterface("") == OpenResult::Ok);
        for (std::size_t i = 0; full && i < MAX_DEVICES; ++i) {
            _CommandDataTable r;
            r.primary.mac = {0x0E, 0, 0, 0, 0, static_cast<std::uint8_t>(i)};
            r.primary.ipAddress = 0x0A000002;
            session->Engine().StoreDevice(r);
        }
    }
};

// The datagram as the socket hands it to the session, into an empty table and into a full one.
void ThroughSession(std::span<const std::uint8_t> bytes, bool full) {
    static SessionRig emptyRig(false);
    static SessionRig fullRig(true);
    DeviceSession& session = *(full ? fullRig : emptyRig).session;
    CProtocol& engine = session.Engine();
    if (!full) engine.ClearDevices();
    int found = 0;
    session.SetDeviceHook([&](const _CommandDataTable& r, int number) {
        ++found;
        Require(engine.DeviceNumber(r.primary.mac) == number);
        Require(engine.FindDevice(r.primary.mac)->primary.mac == r.primary.mac);
    });
    const std::size_t beyond = session.BeyondTable().size();
    const int result = engine.HandleDatagram(bytes);
    Require(result == PROTO_OK || result == PROTO_LATE_ACCEPTANCE ||
            result == PROTO_INVALID_DATAGRAM || result == PROTO_FOREIGN_ACCEPTANCE);
    Require(found <= 1);
    Require(engine.Devices().Size() == (full ? MAX_DEVICES : static_cast<std::size_t>(found)));
    if (session.BeyondTable().size() != beyond) Require(full && found == 0);
    for (const MacAddress& mac : session.BeyondTable()) Require(!engine.Devices().Contains(mac));
}

// True when the bytes passed validation (and were decoded and stored).
bool DecodeValid(std::span<const std::uint8_t> bytes) {
    const std::size_t size = bytes.size();
    const auto header = ValidateAnswer(bytes, kSelectedMac);
    if (header) {
        Require(header->payloadLength <= MAX_PAYLOAD);
        Require(size >= header->payloadLength + 52u);
        DeviceTable table;
        const AnswerContext context = ContextOf(*header);
        const DecodeResult decoded = DecodeDeviceAnswer(bytes, header->payloadLength, context);
        CheckDecoded(decoded, context);
        const StoredAnswer stored = ParseDeviceAnswer(table, bytes, header->payloadLength, context);
        Require(stored.address == decoded.address);
        Require((stored.entry != nullptr) == decoded.hadAddress);
        Require(table.Size() == (decoded.hadAddress ? 1u : 0u));
        if (stored.entry != nullptr) {
            const std::uint8_t kind = stored.entry->record.kind;
            Require(kind == DEVICE_KIND_LEGACY || kind == DEVICE_KIND_STANDARD ||
                    kind == DEVICE_KIND_TWO_PORT);
            Require(stored.entry->number == 0);
        }
    }
    ThroughSession(bytes, false);
    ThroughSession(bytes, true);
    return header.has_value();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const bool valid = DecodeValid(bytes);

    // Most mutations break the checksum; repair it in an exactly sized copy so that the
    // decoder and the device table see them as valid answers too.
    if (!valid && size >= HEADER_SIZE) {
        const std::size_t at = HEADER_SIZE + static_cast<std::size_t>(data[2] << 8 | data[3]) + 2;
        if (at + 2 <= size) {
            std::vector<std::uint8_t> sealed(data, data + size);
            const std::uint16_t sum = Checksum(std::span(sealed).first(at));
            sealed[at] = static_cast<std::uint8_t>(sum >> 8);
            sealed[at + 1] = static_cast<std::uint8_t>(sum & 0xFF);
            DecodeValid(sealed);
        }
    }

    // The walk and the decoder must also stay in bounds on data that never passed validation
    // (the engine only calls them after validation, but the bounds must not depend on it).
    if (size >= HEADER_SIZE) {
        const std::uint16_t length = static_cast<std::uint16_t>(data[2] << 8 | data[3]);
        WalkItems(bytes, length, [&](const TlvItem& item) {
            Require(item.value.data() >= data + HEADER_SIZE);
            Require(item.value.data() + item.value.size() <= data + size);
        });
        const AnswerContext context{{data[6], data[7], data[8], data[9], data[10], data[11]},
                                    data[35], data[36],
                                    static_cast<std::uint16_t>(data[22] << 8 | data[23])};
        CheckFields(DecodeDeviceAnswer(bytes, length, context), context);
    }
    return 0;
}
