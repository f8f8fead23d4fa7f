// One simulated device: what it reports, how it behaves, and the datagrams it builds.
// Pure C++ (no OS headers) so that the answer builder and the settings application can be
// tested byte for byte.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/Datagram.h"
#include "protocol/Record.h"

namespace valdrune::sim {

enum class Kind { Standard, Legacy, TwoPort };

const char* KindName(Kind kind);

// Deliberately broken answers, for testing the PC side's validation.
struct Faults {
    bool badChecksum = false;          // checksum off by one
    bool foreignRequesterMac = false;  // bytes 12-17 are not the requester's MAC
    bool oversizedLength = false;      // L = 1471
    bool truncatedItems = false;       // the last item's value runs past L (no end tag at 48+L)
};

struct Behaviour {
    int answerDelayMs = 0;       // wait before answering a search
    int acceptDelayMs = 0;       // wait before accepting settings
    bool neverAccepts = false;   // settings requests are ignored
    int restartMs = 35000;       // silent this long after applying settings
    bool neverReturns = false;   // silent for good after applying settings
    bool zeroAfterRestart = false;  // after a restart it reports 0.0.0.0 and holds no address
    bool unicast = false;        // answer to the requester's address instead of broadcasting
    bool answersInfo = false;    // answers searches with command 1 instead of 14
};

struct DeviceSpec {
    std::string label;  // for the log only
    Kind kind = Kind::Standard;
    // The values the device reports. primary.mac is its identity; capabilityFlag is the
    // capability byte of its answers; sequence the sequence number it answers with.
    _CommandDataTable record;
    std::uint8_t protocolMode = 2;
    // Legacy devices report their model as a code (byte 1 of tags 184 and 179); 255 = not sent.
    std::uint8_t modelCode = 255;
    std::uint8_t modelCode2 = 255;
    std::uint8_t modelSource = 255;  // tag 183; 255 = not sent
    // The items of its answers, in this order. Empty means DefaultTags().
    std::vector<std::uint16_t> tags;
    Behaviour behaviour;
    Faults faults;

    bool RestartLocked() const { return (record.statusBits & 1u) != 0; }
    // The settings command this device understands: 2 for current devices, else 15.
    std::uint16_t SettingsCommand() const;
    std::uint16_t ConfirmCommand() const;
};

// The items a device of this kind sends when its description names none.
std::vector<std::uint16_t> DefaultTags(const DeviceSpec& device);

// The answer to a search (command 14, or 1 with answersInfo) addressed to `requester`.
std::vector<std::uint8_t> BuildAnswer(const DeviceSpec& device, const Requester& requester);

// The acceptance of a settings request (16 for 15, 3 for 2), with the request's sequence.
std::vector<std::uint8_t> BuildAcceptance(const DeviceSpec& device, std::uint16_t command,
                                          const Requester& requester, std::uint16_t sequence);

// Applies the items of a settings request (already validated) to the device's record, as a
// device does: address values, modes, flags. Items of unexpected length are ignored; unknown
// tags are skipped. Returns the number of items applied.
int ApplySettings(_CommandDataTable& record, std::span<const std::uint8_t> datagram,
                  std::uint16_t payloadLength);

// Checks that a datagram is a well-formed request: the same checks the PC applies to answers
// (length, magic, format word, payload bound, checksum), except that the requester MAC is
// the sender's own. nullopt means drop.
std::optional<AnswerHeader> ValidateRequest(std::span<const std::uint8_t> datagram);

}  // namespace valdrune::sim
