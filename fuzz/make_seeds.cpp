// Writes the generated part of the seed corpora: the simulator's answers and acceptances for
// every built-in scenario, hand-broken variants of them, and captures of them in each file
// format and link type the decoder reads. Run: make_seeds fuzz/corpus
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "protocol/Datagram.h"
#include "sim/Scenario.h"

namespace {

using namespace valdrune;
using namespace valdrune::sim;
using Bytes = std::vector<std::uint8_t>;

const Requester kPc{{0x02, 0x00, 0x00, 0x00, 0x00, 0x01}, 0xC0A80064u};

void Save(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void Put16(Bytes& b, std::uint16_t v, bool big) {
    if (big) b.insert(b.end(), {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
    else b.insert(b.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)});
}
void Put32(Bytes& b, std::uint32_t v, bool big) {
    if (big) { Put16(b, static_cast<std::uint16_t>(v >> 16), true); Put16(b, static_cast<std::uint16_t>(v), true); }
    else { Put16(b, static_cast<std::uint16_t>(v), false); Put16(b, static_cast<std::uint16_t>(v >> 16), false); }
}

void Reseal(Bytes& d) {
    const std::size_t at = HEADER_SIZE + static_cast<std::size_t>(d[2] << 8 | d[3]) + 2;
    if (at + 2 > d.size()) return;
    const std::uint16_t sum = Checksum(std::span(d).first(at));
    d[at] = static_cast<std::uint8_t>(sum >> 8);
    d[at + 1] = static_cast<std::uint8_t>(sum);
}

// IPv4 + UDP around a payload, from a device to the PC's port.
Bytes Ipv4Udp(const Bytes& payload, std::uint16_t from, std::uint16_t to) {
    Bytes b = {0x45, 0x00};
    Put16(b, static_cast<std::uint16_t>(28 + payload.size()), true);
    b.insert(b.end(), {0, 1, 0x40, 0, 64, 17, 0, 0});
    Put32(b, 0xC0A80014u, true);
    Put32(b, 0xFFFFFFFFu, true);
    Put16(b, from, true);
    Put16(b, to, true);
    Put16(b, static_cast<std::uint16_t>(8 + payload.size()), true);
    Put16(b, 0, true);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Bytes Frame(int linkType, const Bytes& ip) {
    Bytes f;
    switch (linkType) {
        case 1:  // Ethernet
            f = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0, 0, 0, 0, 0x14, 0x08, 0x00};
            break;
        case 113:  // Linux cooked v1
            f = {0, 1, 0, 1, 0, 6, 0x02, 0, 0, 0, 0, 0x14, 0, 0, 0x08, 0x00};
            break;
        case 276:  // Linux cooked v2
            f = {0x08, 0x00, 0, 0, 0, 0, 0, 2, 0, 1, 0, 6, 0x02, 0, 0, 0, 0, 0x14, 0, 0};
            break;
        case 0:  // BSD loopback, host order family
            f = {2, 0, 0, 0};
            break;
        default:  // raw IPv4
            break;
    }
    f.insert(f.end(), ip.begin(), ip.end());
    return f;
}

Bytes Pcap(int linkType, const std::vector<Bytes>& frames, bool big, bool nano) {
    Bytes b;
    Put32(b, nano ? 0xA1B23C4Du : 0xA1B2C3D4u, big);
    Put16(b, 2, big);
    Put16(b, 4, big);
    Put32(b, 0, big);
    Put32(b, 0, big);
    Put32(b, 65535, big);
    Put32(b, static_cast<std::uint32_t>(linkType), big);
    std::uint32_t t = 1700000000;
    for (const Bytes& f : frames) {
        Put32(b, t++, big);
        Put32(b, 0, big);
        Put32(b, static_cast<std::uint32_t>(f.size()), big);
        Put32(b, static_cast<std::uint32_t>(f.size()), big);
        b.insert(b.end(), f.begin(), f.end());
    }
    return b;
}

void Block(Bytes& b, std::uint32_t type, const Bytes& body) {
    const std::uint32_t length = static_cast<std::uint32_t>(12 + (body.size() + 3) / 4 * 4);
    Put32(b, type, false);
    Put32(b, length, false);
    b.insert(b.end(), body.begin(), body.end());
    b.resize(b.size() + (4 - body.size() % 4) % 4, 0);
    Put32(b, length, false);
}

Bytes Pcapng(int linkType, const std::vector<Bytes>& frames) {
    Bytes b, shb, idb;
    Put32(shb, 0x1A2B3C4Du, false);
    Put16(shb, 1, false);
    Put16(shb, 0, false);
    Put32(shb, 0xFFFFFFFFu, false);
    Put32(shb, 0xFFFFFFFFu, false);
    Block(b, 0x0A0D0D0Au, shb);
    Put16(idb, static_cast<std::uint16_t>(linkType), false);
    Put16(idb, 0, false);
    Put32(idb, 65535, false);
    Block(b, 1, idb);
    for (const Bytes& f : frames) {
        Bytes epb;
        Put32(epb, 0, false);
        Put32(epb, 0, false);
        Put32(epb, 0, false);
        Put32(epb, static_cast<std::uint32_t>(f.size()), false);
        Put32(epb, static_cast<std::uint32_t>(f.size()), false);
        epb.insert(epb.end(), f.begin(), f.end());
        Block(b, 6, epb);
    }
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds CORPUS_DIR\n");
        return 2;
    }
    const std::string answers = std::string(argv[1]) + "/fuzz_answer/";
    const std::string captures = std::string(argv[1]) + "/fuzz_capture/";
    std::vector<Bytes> all;
    for (const std::string& name : ScenarioNames()) {
        ScenarioOptions options;
        options.count = 3;
        const auto devices = BuiltInScenario(name, options);
        if (!devices) continue;
        int i = 0;
        for (const DeviceSpec& d : *devices) {
            const std::string stem = answers + "sim-" + name + "-" + std::to_string(i++);
            const Bytes answer = BuildAnswer(d, kPc);
            Save(stem, answer);
            Save(stem + "-accept", BuildAcceptance(d, d.SettingsCommand(), kPc, 5));
            all.push_back(answer);
        }
    }

    // Broken in the ways validation and the item walk must survive, checksums kept right
    // where the break is past the header so that the decoder sees them.
    const Bytes& base = all.front();
    Bytes cut = base;
    cut.resize(HEADER_SIZE - 1);
    Save(answers + "bad-short-header", cut);
    cut = base;
    cut.resize(base.size() - 1);
    Save(answers + "bad-missing-checksum-byte", cut);
    Bytes noEnd = base;
    noEnd.resize(HEADER_SIZE + 6);
    noEnd[2] = 0;
    noEnd[3] = 2;
    noEnd.insert(noEnd.end(), {0x00, 0xA7, 0x03, 0xE8, 'x', 'y', 0, 0});
    Reseal(noEnd);
    Save(answers + "bad-item-past-end", noEnd);
    Bytes longName(base.begin(), base.begin() + HEADER_SIZE);
    const Bytes name = {0x00, 0xA7, 0x00, 0x28};
    longName.insert(longName.end(), name.begin(), name.end());
    for (int k = 0; k < 40; ++k) longName.push_back(k % 2 ? 0xC3 : 'A');
    longName.insert(longName.end(), {0x00, 0x20, 0x00, 0x04, 192, 168, 0, 30, 0xFF, 0xFF, 0, 0});
    longName[2] = 0;
    longName[3] = 52;
    Reseal(longName);
    Save(answers + "bad-name-longer-than-field", longName);
    Bytes oversize = base;
    oversize[2] = 0x05;
    oversize[3] = 0xBF;  // 1471
    Save(answers + "bad-length-1471", oversize);
    Bytes magic = base;
    magic[24] ^= 1;
    Save(answers + "bad-magic", magic);

    for (int linkType : {1, 113, 276, 101, 0}) {
        // A few answers a capture: small seeds keep the fuzzer fast.
        std::vector<Bytes> frames;
        for (std::size_t k = 0; k < all.size(); k += all.size() / 3)
            frames.push_back(Frame(linkType, Ipv4Udp(all[k], 10670, 10669)));
        frames.push_back(Frame(linkType, Ipv4Udp(all.front(), 5353, 5353)));  // not ours
        const std::string stem = captures + "link" + std::to_string(linkType);
        Save(stem + ".pcap", Pcap(linkType, frames, false, false));
        Save(stem + "-be-nano.pcap", Pcap(linkType, frames, true, true));
        Save(stem + ".pcapng", Pcapng(linkType, frames));
    }
    Bytes cutCapture = Pcap(1, {Frame(1, Ipv4Udp(all.front(), 10670, 10669))}, false, false);
    cutCapture.resize(cutCapture.size() - 10);
    Save(captures + "cut-last-frame.pcap", cutCapture);
    return 0;
}
