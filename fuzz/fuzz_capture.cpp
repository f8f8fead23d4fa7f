// libFuzzer target over what `decode` reads: capture files (pcap, pcapng) and hex text, down to
// the JSON it prints, which must always parse back.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <span>
#include <sstream>
#include <string>
#include <string_view>

#include "cli/Decode.h"

namespace {

using namespace valdrune;
using namespace valdrune::cli;

void Require(bool condition) {
    if (!condition) std::abort();
}

// The reader takes a path; one memory file serves every run.
const std::string& MemoryPath() {
    static const std::string path = [] {
        const int fd = memfd_create("capture", 0);
        Require(fd >= 0);
        return "/proc/self/fd/" + std::to_string(fd);
    }();
    return path;
}

void WriteMemoryFile(std::span<const std::uint8_t> bytes) {
    const int fd = std::stoi(MemoryPath().substr(sizeof "/proc/self/fd/" - 1));
    Require(ftruncate(fd, 0) == 0);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done,
                                 static_cast<off_t>(done));
        Require(n > 0);
        done += static_cast<std::size_t>(n);
    }
}

void CheckDecoded(const DecodedDatagram& d, std::size_t size) {
    Require(d.bytes.size() == size);
    if (d.valid) Require(d.failedStep == 0);
    else Require(d.failedStep >= 1 && d.failedStep <= 6);
}

// Both output formats; the JSON one must be a well-formed array of one entry per datagram.
void Write(const std::vector<DecodedDatagram>& all) {
    std::ostringstream text;
    WriteDecoded(text, all, Format::Text);
    std::ostringstream json;
    WriteDecoded(json, all, Format::Json);
    const auto parsed = nlohmann::json::parse(json.str(), nullptr, false);
    Require(!parsed.is_discarded() && parsed.is_array() && parsed.size() == all.size());
}

const MacAddress kPcMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    std::vector<DecodedDatagram> all;
    if (IsCaptureMagic(bytes.first(std::min<std::size_t>(size, 4)))) {
        WriteMemoryFile(bytes);
        std::string error;
        ReadCapture(
            MemoryPath(),
            [&](UdpPayload&& p) {
                Require(p.payload.size() <= size);
                Require(p.sourcePort == 10669 || p.sourcePort == 10670 ||
                        p.destinationPort == 10669 || p.destinationPort == 10670);
                DecodedDatagram d = DecodeDatagram(p.payload, kPcMac);
                CheckDecoded(d, p.payload.size());
                if (all.size() < 8) all.push_back(std::move(d));
            },
            error);
    } else if (size > 0) {
        // A frame of the link type named by the first byte, as the reader hands it over.
        static constexpr int kLinkTypes[] = {1, 113, 276, 101, 228, 0, 12, 14};
        const int linkType = kLinkTypes[data[0] % std::size(kLinkTypes)];
        if (const auto udp = ExtractUdp(linkType, bytes.subspan(1))) {
            Require(udp->payload.size() < size);
            CheckDecoded(DecodeDatagram(udp->payload, std::nullopt), udp->payload.size());
        }
        // And the same bytes as hex text, one datagram per line as `decode` reads them.
        std::vector<std::uint8_t> parsed;
        std::string error;
        const std::string_view text(reinterpret_cast<const char*>(data), size);
        if (ParseHex(text, parsed, error)) {
            Require(parsed.size() <= size / 2);
            DecodedDatagram d = DecodeDatagram(parsed, std::nullopt);
            CheckDecoded(d, parsed.size());
            all.push_back(std::move(d));
        } else {
            Require(!error.empty());
        }
    }
    Write(all);
    return 0;
}
