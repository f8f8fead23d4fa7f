// Turns a validated device answer (command 14 or 1) into a record and stores it.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "protocol/DeviceTable.h"
#include "protocol/Record.h"

namespace valdrune {

struct AnswerContext {
    MacAddress deviceMac{};
    std::uint8_t protocolMode = 0;
    std::uint8_t capability = 0;
    std::uint16_t sequence = 0;
};

struct AnswerHeader;

// The header fields the decoder needs, taken from a validated answer.
AnswerContext ContextOf(const AnswerHeader& header);

struct DecodeResult {
    _CommandDataTable record;
    bool hadAddress = false;  // tag 32 was present
    std::uint32_t address = 0;  // tag 32 value, 0 when absent
};

// Applies the items of `datagram` (already validated, payloadLength from its header) to a
// default record, with the kind rules, derivations, legacy model table and UTF-8 trimming.
// Pure: touches no table. Values sent "as is" (tags 64-66, 167-169, 209) are cut to their
// field and zero-padded; a numeric item of another length than its own is skipped whole; a
// truncated item ends the list, the items before it stand.
DecodeResult DecodeDeviceAnswer(std::span<const std::uint8_t> datagram,
                                std::uint16_t payloadLength, const AnswerContext& context);

struct StoredAnswer {
    std::uint32_t address = 0;            // tag-32 value, 0 when absent
    const DeviceEntry* entry = nullptr;  // the stored device; null when nothing was stored
};

// Decodes, then stores the record when the answer carried an address (a new device only while
// the table holds fewer than 100).
StoredAnswer ParseDeviceAnswer(DeviceTable& table, std::span<const std::uint8_t> datagram,
                               std::uint16_t payloadLength, const AnswerContext& context);

// Fills field with the legacy model name of code, or zeros for an unknown code.
void LookupLegacyModel(std::uint8_t code, Text16& field);

// The model prefixes of legacy families, in test order.
extern const std::array<const char*, 4> kLegacyPrefixes;

// True when model (up to its first NUL, at most 16 bytes) contains one of the legacy prefixes
// anywhere, spelt all upper case or all lower case.
bool HasLegacyPrefix(const Text16& model);

// Cuts a UTF-8 device name to its longest prefix of whole characters (at most 15 bytes).
void TrimUtf8Name(Text16& name);

}  // namespace valdrune
