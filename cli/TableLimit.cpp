#include "cli/TableLimit.h"

#include "protocol/Decoder.h"

namespace valdrune::cli {

std::optional<MacAddress> AnswerBeyondTable(const CProtocol& engine,
                                            std::span<const std::uint8_t> datagram) {
    if (engine.Devices().Size() < MAX_DEVICES) return std::nullopt;
    const auto header = ValidateAnswer(datagram, engine.LocalInterface().mac);
    if (!header || (header->command != CMD_SEARCH_REPLY && header->command != CMD_INFO))
        return std::nullopt;
    if (engine.Devices().Contains(header->deviceMac)) return std::nullopt;
    if (!DecodeDeviceAnswer(datagram, header->payloadLength, ContextOf(*header)).hadAddress)
        return std::nullopt;
    return header->deviceMac;
}

std::string BeyondTableText(std::size_t count) {
    return "Note: the device table is full at " + std::to_string(MAX_DEVICES) + " devices; " +
           std::to_string(count) + " more device" + (count == 1 ? "" : "s") + " answered and " +
           (count == 1 ? "is" : "are") + " not listed. Search on a smaller segment to see them.";
}

}  // namespace valdrune::cli
