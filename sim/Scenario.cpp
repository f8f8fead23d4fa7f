#include "sim/Scenario.h"

#include <arpa/inet.h>

#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace valdrune::sim {

namespace {

using nlohmann::json;

std::uint32_t Host(const ScenarioOptions& o, int host) {
    return (o.network & 0xFFFFFF00u) | static_cast<std::uint32_t>(host & 0xFF);
}

std::uint32_t Ip(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return (static_cast<std::uint32_t>(a) << 24) | (static_cast<std::uint32_t>(b) << 16) |
           (static_cast<std::uint32_t>(c) << 8) | d;
}

// A link-local IPv6 address derived from the MAC, as devices form it (EUI-64).
std::array<std::uint8_t, 16> LinkLocal(const MacAddress& m) {
    return {0xFE, 0x80, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(m[0] ^ 0x02), m[1], m[2],
            0xFF, 0xFE, m[3], m[4], m[5]};
}

// A global address from the documentation range, unique per device.
std::array<std::uint8_t, 16> Global(const MacAddress& m) {
    return {0x20, 0x01, 0x0D, 0xB8, 0, 0x10, 0, 0, static_cast<std::uint8_t>(m[0] ^ 0x02), m[1],
            m[2], 0xFF, 0xFE, m[3], m[4], m[5]};
}

void SetIpv6(_CommandDataTable& r) {
    r.ipv6Address = Global(r.primary.mac);
    r.ipv6Address2 = LinkLocal(r.primary.mac);
    std::copy(r.ipv6Address.begin(), r.ipv6Address.end(), r.ipv6AddressPair.begin());
    std::copy(r.ipv6Address2.begin(), r.ipv6Address2.end(), r.ipv6AddressPair.begin() + 16);
}

// What single-port and two-port devices of the current generation answer alike: DHCP, IPv6
// addresses derived from the MAC, the current protocol.
void CurrentGeneration(DeviceSpec& d) {
    _CommandDataTable& r = d.record;
    d.protocolMode = 2;
    r.capabilityFlag = 1;
    r.ipv4Mode = 0;
    r.flags = 0x00;
    r.ipv6Port = 80;
    SetIpv6(r);
}

// A device of the kind at the network's host number `host`.
DeviceSpec At(Kind kind, const ScenarioOptions& o, int n, int host) {
    DeviceSpec d = MakeDevice(kind, n, o);
    d.record.primary.ipAddress = Host(o, host);
    return d;
}

// The same, named and labelled `name`.
DeviceSpec Named(Kind kind, const ScenarioOptions& o, int n, int host, const char* name) {
    DeviceSpec d = At(kind, o, n, host);
    d.label = name;
    SetFieldText(d.record.deviceName, name);
    return d;
}

DeviceSpec Standard(const ScenarioOptions& o, int n, int host, const char* name,
                    const char* model) {
    DeviceSpec d = Named(Kind::Standard, o, n, host, name);
    SetFieldText(d.record.model, model);
    return d;
}

std::vector<DeviceSpec> Kinds(const ScenarioOptions& o) {
    std::vector<DeviceSpec> v;
    v.push_back(Standard(o, 1, 21, "Entrance", "DX-N3471"));
    v.push_back(At(Kind::Legacy, o, 2, 22));
    v.push_back(At(Kind::TwoPort, o, 3, 23));
    return v;
}

std::vector<DeviceSpec> Demo(const ScenarioOptions& o) {
    std::vector<DeviceSpec> v;
    v.push_back(Standard(o, 1, 21, "Entrance", "DX-N3471"));
    // 15 bytes of UTF-8: five Japanese characters ("entrance camera").
    v.push_back(Standard(o, 2, 22, "\xE7\x8E\x84\xE9\x96\xA2\xE3\x82\xAB\xE3\x83\xA1\xE3\x83\xA9",
                         "DX-P4517"));
    v.back().label = "genkan";
    DeviceSpec secure = Standard(o, 3, 23, "Loading dock", "DX-V2013");
    secure.record.https = 1;
    secure.record.flags = 0x04;
    secure.record.primary.port = 443;
    secure.record.ipv6Port = 443;
    v.push_back(secure);
    DeviceSpec locked = Standard(o, 4, 24, "Server room", "DX-R4943");
    locked.record.statusBits = 0x0001;  // restart lock: settings no longer accepted
    v.push_back(locked);
    // A model in none of the browser lists: its page needs Internet Explorer.
    v.push_back(Standard(o, 5, 25, "Old lobby cam", "DX-Q0815"));
    // Two cameras answering with one address: the overlap column shows them.
    v.push_back(Standard(o, 6, 30, "Parking east", "DX-B7101"));
    v.push_back(Standard(o, 7, 30, "Parking west", "DX-B7101"));

    v.push_back(Named(Kind::Legacy, o, 8, 40, "Warehouse"));
    // Still on its factory address, in another network: heard because answers are broadcast.
    DeviceSpec factory = MakeDevice(Kind::Legacy, 9, o);
    factory.modelCode = 36;
    SetFieldText(factory.record.model, "RT-WNT528CN");
    factory.record.primary.ipAddress = Ip(192, 168, 1, 254);
    factory.record.primary.subnetMask = Ip(255, 255, 255, 0);
    factory.record.primary.gateway = Ip(192, 168, 1, 1);
    SetFieldText(factory.record.deviceName, "New unit");
    factory.label = "factory default";
    v.push_back(factory);

    v.push_back(Named(Kind::TwoPort, o, 10, 50, "Recorder 1"));
    DeviceSpec recorder2 = Named(Kind::TwoPort, o, 11, 51, "Recorder 2");
    recorder2.record.portKind = 20;
    recorder2.record.portOptionA = 0;
    recorder2.record.portOptionB = 2;
    recorder2.record.hasBrowserBits = 1;
    recorder2.record.browserBits = 0x0003;
    SetFieldText(recorder2.record.model, "NR-S3216");
    v.push_back(recorder2);
    return v;
}

std::vector<DeviceSpec> Many(const ScenarioOptions& o) {
    std::vector<DeviceSpec> v;
    for (int i = 0; i < o.count; ++i) {
        DeviceSpec d = MakeDevice(i % 10 == 9 ? Kind::Legacy : i % 10 == 8 ? Kind::TwoPort
                                                                             : Kind::Standard,
                                  100 + i, o);
        // 200 hosts per /24, continuing in the next ones so that any count fits.
        d.record.primary.ipAddress = Host(o, i % 200 + 20) +
                                     (static_cast<std::uint32_t>(i / 200) << 8);
        v.push_back(d);
    }
    return v;
}

std::vector<DeviceSpec> FaultsScenario(const ScenarioOptions& o) {
    std::vector<DeviceSpec> v;
    v.push_back(Standard(o, 1, 21, "Good", "DX-N3471"));
    const char* names[] = {"Bad checksum", "Foreign MAC", "Oversized", "Truncated"};
    for (int i = 0; i < 4; ++i) {
        DeviceSpec d = Standard(o, 2 + i, 22 + i, names[i], "DX-N3471");
        d.faults.badChecksum = i == 0;
        d.faults.foreignRequesterMac = i == 1;
        d.faults.oversizedLength = i == 2;
        d.faults.truncatedItems = i == 3;
        v.push_back(d);
    }
    return v;
}

// One device per behaviour, for tests of the PC side's failure paths.
std::vector<DeviceSpec> Behaviours(const ScenarioOptions& o) {
    std::vector<DeviceSpec> v;
    // Numbered in the order added: device n is host 20 + n of the scenario's network.
    const auto add = [&](const char* name, const std::function<void(DeviceSpec&)>& make) {
        const int n = static_cast<int>(v.size()) + 1;
        DeviceSpec d = Standard(o, n, 20 + n, name, "DX-N3471");
        if (make) make(d);
        v.push_back(std::move(d));
    };
    add("Normal", {});
    add("Accepts at 31 s", [](DeviceSpec& d) { d.behaviour.acceptDelayMs = 31000; });
    add("Never accepts", [](DeviceSpec& d) { d.behaviour.neverAccepts = true; });
    add("Never returns", [](DeviceSpec& d) { d.behaviour.neverReturns = true; });
    add("Back as 0.0.0.0", [](DeviceSpec& d) { d.behaviour.zeroAfterRestart = true; });
    add("Restart-locked", [](DeviceSpec& d) { d.record.statusBits = 0x0001; });
    add("Restarts in 100 s", [](DeviceSpec& d) { d.behaviour.restartMs = 100000; });
    add("Answers unicast", [](DeviceSpec& d) { d.behaviour.unicast = true; });
    return v;
}

// --- JSON -----------------------------------------------------------------------------------

struct JsonError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::uint32_t ParseAddress(const json& j, const ScenarioOptions& o, const std::string& key) {
    if (!j.is_string()) throw JsonError(key + ": expected an address text");
    const std::string s = j.get<std::string>();
    std::uint32_t v = 0;
    if (!s.empty() && s[0] == '.') {
        int host = 0;
        try {
            host = std::stoi(s.substr(1));
        } catch (...) {
            throw JsonError(key + ": bad host number '" + s + "'");
        }
        if (host < 0 || host > 255) throw JsonError(key + ": bad host number '" + s + "'");
        return Host(o, host);
    }
    if (!ParseIpv4(s, v)) throw JsonError(key + ": bad IPv4 address '" + s + "'");
    return v;
}

void ParseIpv6(const json& j, std::array<std::uint8_t, 16>& out, const std::string& key) {
    if (!j.is_string()) throw JsonError(key + ": expected an IPv6 address text");
    in6_addr a{};
    if (inet_pton(AF_INET6, j.get<std::string>().c_str(), &a) != 1)
        throw JsonError(key + ": bad IPv6 address");
    std::memcpy(out.data(), &a, 16);
}

template <typename T>
T Number(const json& j, const std::string& key, long long lo, long long hi) {
    if (!j.is_number_integer()) throw JsonError(key + ": expected an integer");
    const long long v = j.get<long long>();
    if (v < lo || v > hi) throw JsonError(key + ": out of range");
    return static_cast<T>(v);
}

bool Flag(const json& j, const std::string& key) {
    if (!j.is_boolean()) throw JsonError(key + ": expected true or false");
    return j.get<bool>();
}

void Text(const json& j, Text16& field, const std::string& key) {
    if (!j.is_string()) throw JsonError(key + ": expected a text");
    SetFieldText(field, j.get<std::string>());
}

Kind ParseKind(const json& j) {
    const std::string k = j.is_string() ? j.get<std::string>() : "";
    if (k == "standard" || k == "current") return Kind::Standard;
    if (k == "legacy") return Kind::Legacy;
    if (k == "two-port" || k == "twoport" || k == "recorder") return Kind::TwoPort;
    throw JsonError("kind: expected standard, legacy or two-port");
}

DeviceSpec ParseDevice(const json& j, int number, const ScenarioOptions& o) {
    if (!j.is_object()) throw JsonError("each device must be an object");
    const Kind kind = j.contains("kind") ? ParseKind(j.at("kind")) : Kind::Standard;
    DeviceSpec d = MakeDevice(kind, number, o);
    _CommandDataTable& r = d.record;
    // The MAC first: the default IPv6 addresses derive from it, explicit ones must win.
    if (j.contains("mac")) {
        const json& v = j.at("mac");
        if (!v.is_string() || !ParseMac(v.get<std::string>(), r.primary.mac))
            throw JsonError("mac: expected AA-BB-CC-DD-EE-FF");
        SetIpv6(r);
    }
    for (const auto& [key, v] : j.items()) {
        if (key == "kind" || key == "mac") continue;
        else if (key == "label") d.label = v.get<std::string>();
        else if (key == "ip") r.primary.ipAddress = ParseAddress(v, o, key);
        else if (key == "mask") r.primary.subnetMask = ParseAddress(v, o, key);
        else if (key == "gateway") r.primary.gateway = ParseAddress(v, o, key);
        else if (key == "dns1") r.primary.dns1 = ParseAddress(v, o, key);
        else if (key == "dns2") r.primary.dns2 = ParseAddress(v, o, key);
        else if (key == "port") r.primary.port = Number<std::uint16_t>(v, key, 0, 65535);
        else if (key == "ip2") r.primary.ipAddress2 = ParseAddress(v, o, key);
        else if (key == "mask2") r.primary.subnetMask2 = ParseAddress(v, o, key);
        else if (key == "secondaryIp") r.secondary.ipAddress = ParseAddress(v, o, key);
        else if (key == "secondaryMask") r.secondary.subnetMask = ParseAddress(v, o, key);
        else if (key == "secondaryGateway") r.secondary.gateway = ParseAddress(v, o, key);
        else if (key == "secondaryDns1") r.secondary.dns1 = ParseAddress(v, o, key);
        else if (key == "secondaryDns2") r.secondary.dns2 = ParseAddress(v, o, key);
        else if (key == "https") {
            r.https = Flag(v, key) ? 1 : 0;
            r.flags = static_cast<std::uint8_t>(r.https ? (r.flags | 4u) : (r.flags & ~4u));
        }
        else if (key == "ipv4Mode") r.ipv4Mode = Number<std::uint8_t>(v, key, 0, 255);
        else if (key == "ipv6Mode") r.ipv6Mode = Number<std::uint8_t>(v, key, 0, 255);
        else if (key == "ipv6") ParseIpv6(v, r.ipv6Address, key);
        else if (key == "ipv6LinkLocal") ParseIpv6(v, r.ipv6Address2, key);
        else if (key == "ipv6Port") r.ipv6Port = Number<std::uint16_t>(v, key, 0, 65535);
        else if (key == "name") Text(v, r.deviceName, key);
        else if (key == "model") Text(v, r.model, key);
        else if (key == "version") Text(v, r.versionText, key);
        else if (key == "serial") Text(v, r.serialNumber, key);
        else if (key == "sequence") r.sequence = Number<std::uint16_t>(v, key, 0, 65535);
        else if (key == "capability") r.capabilityFlag = Number<std::uint8_t>(v, key, 0, 255);
        else if (key == "protocolMode") d.protocolMode = Number<std::uint8_t>(v, key, 0, 255);
        else if (key == "flags") r.flags = Number<std::uint8_t>(v, key, 0, 255);
        else if (key == "legacyAddressing")
            r.legacyAddressing = Number<std::uint8_t>(v, key, 0, 255);
        else if (key == "legacyWord") r.legacyWord = Number<std::uint16_t>(v, key, 0, 65535);
        else if (key == "modelCode") d.modelCode = Number<std::uint8_t>(v, key, 0, 255);
        else if (key == "modelCode2") d.modelCode2 = Number<std::uint8_t>(v, key, 0, 255);
        else if (key == "modelSource") d.modelSource = Number<std::uint8_t>(v, key, 0, 255);
        else if (key == "statusBits") r.statusBits = Number<std::uint16_t>(v, key, 0, 65535);
        else if (key == "restartLocked")
            r.statusBits = static_cast<std::uint16_t>(Flag(v, key) ? (r.statusBits | 1u)
                                                                   : (r.statusBits & ~1u));
        else if (key == "portKind") r.portKind = Number<std::uint16_t>(v, key, 0, 65535);
        else if (key == "portOptionA") r.portOptionA = Number<std::uint16_t>(v, key, 0, 65535);
        else if (key == "portOptionB") r.portOptionB = Number<std::uint16_t>(v, key, 0, 65535);
        else if (key == "browserBits") {
            r.browserBits = Number<std::uint16_t>(v, key, 0, 65535);
            r.hasBrowserBits = 1;
        }
        else if (key == "tags") {
            if (!v.is_array()) throw JsonError("tags: expected a list of numbers");
            d.tags.clear();
            for (const auto& t : v) d.tags.push_back(Number<std::uint16_t>(t, key, 0, 65534));
        }
        else if (key == "answerDelayMs") d.behaviour.answerDelayMs = Number<int>(v, key, 0, 1 << 30);
        else if (key == "acceptDelayMs") d.behaviour.acceptDelayMs = Number<int>(v, key, 0, 1 << 30);
        else if (key == "restartMs") d.behaviour.restartMs = Number<int>(v, key, 0, 1 << 30);
        else if (key == "neverAccepts") d.behaviour.neverAccepts = Flag(v, key);
        else if (key == "neverReturns") d.behaviour.neverReturns = Flag(v, key);
        else if (key == "zeroAfterRestart") d.behaviour.zeroAfterRestart = Flag(v, key);
        else if (key == "unicast") d.behaviour.unicast = Flag(v, key);
        else if (key == "answersInfo") d.behaviour.answersInfo = Flag(v, key);
        else if (key == "faults") {
            if (!v.is_array()) throw JsonError("faults: expected a list of names");
            for (const auto& f : v) {
                const std::string name = f.is_string() ? f.get<std::string>() : "";
                if (name == "badChecksum") d.faults.badChecksum = true;
                else if (name == "foreignRequesterMac") d.faults.foreignRequesterMac = true;
                else if (name == "oversizedLength") d.faults.oversizedLength = true;
                else if (name == "truncatedItems") d.faults.truncatedItems = true;
                else throw JsonError("faults: unknown fault '" + name + "'");
            }
        }
        else throw JsonError("unknown field '" + key + "'");
    }
    return d;
}

}  // namespace

DeviceSpec MakeDevice(Kind kind, int number, const ScenarioOptions& o) {
    DeviceSpec d;
    d.kind = kind;
    _CommandDataTable& r = d.record;
    const std::uint8_t kindByte = kind == Kind::Standard ? 0x30 : kind == Kind::Legacy ? 0x03 : 0x0C;
    r.primary.mac = {0x02, 0x00, 0x00, kindByte, static_cast<std::uint8_t>((number >> 8) & 0xFF),
                     static_cast<std::uint8_t>(number & 0xFF)};
    r.primary.ipAddress = Host(o, 20 + number);
    r.primary.subnetMask = Ip(255, 255, 255, 0);
    r.primary.gateway = Host(o, 1);
    r.primary.port = 80;
    r.sequence = static_cast<std::uint16_t>(number * 3 + 4);
    char serial[17];
    std::snprintf(serial, sizeof serial, "VD%c%07d",
                  kind == Kind::Standard ? 'S' : kind == Kind::Legacy ? 'L' : 'R', number);
    SetFieldText(r.serialNumber, serial);
    switch (kind) {
        case Kind::Standard:
            CurrentGeneration(d);
            r.ipv6Mode = 1;
            r.secondary.subnetMask = Ip(255, 255, 255, 0);
            SetFieldText(r.deviceName, "Camera " + std::to_string(number));
            SetFieldText(r.model, "DX-N3471");
            SetFieldText(r.versionText, "4.20");
            break;
        case Kind::Legacy:
            d.protocolMode = 0;
            r.capabilityFlag = 0;
            r.legacyAddressing = 0x12;
            r.flags = 0x12;
            r.legacyWord = 0x0F00;
            d.modelCode = 19;  // ZM-P63C
            SetFieldText(r.model, "ZM-P63C");
            SetFieldText(r.deviceName, "Legacy " + std::to_string(number));
            break;
        case Kind::TwoPort:
            CurrentGeneration(d);
            r.ipv6Mode = 0;
            r.portKind = 11;
            r.primary.ipAddress2 = Ip(192, 168, 254, 1);
            r.primary.subnetMask2 = Ip(255, 255, 255, 0);
            SetFieldText(r.deviceName, "Recorder " + std::to_string(number));
            SetFieldText(r.model, "NR-S1608");
            break;
    }
    d.label = FieldText(r.deviceName);
    return d;
}

std::vector<std::string> ScenarioNames() {
    return {"kinds", "demo", "many", "faults", "behaviours"};
}

std::optional<std::vector<DeviceSpec>> BuiltInScenario(const std::string& name,
                                                       const ScenarioOptions& options) {
    if (name == "kinds") return Kinds(options);
    if (name == "demo") return Demo(options);
    if (name == "many") return Many(options);
    if (name == "faults") return FaultsScenario(options);
    if (name == "behaviours") return Behaviours(options);
    return std::nullopt;
}

std::optional<std::vector<DeviceSpec>> LoadDevicesJson(const std::string& text,
                                                       const ScenarioOptions& options,
                                                       std::string& error) {
    try {
        const json doc = json::parse(text);
        const json& list = doc.is_object() && doc.contains("devices") ? doc.at("devices") : doc;
        if (!list.is_array()) throw JsonError("expected a list of devices");
        std::vector<DeviceSpec> devices;
        int number = 1;
        for (const auto& item : list) {
            try {
                devices.push_back(ParseDevice(item, number++, options));
            } catch (const std::exception& e) {
                throw JsonError("device " + std::to_string(number - 1) + ": " + e.what());
            }
        }
        return devices;
    } catch (const std::exception& e) {
        error = e.what();
        return std::nullopt;
    }
}

}  // namespace valdrune::sim
