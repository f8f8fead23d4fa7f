// Shared fixture and record helpers of the engine tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/CaseNames.h"
#include "tests/support/EngineRig.h"

namespace valdrune::test {

inline _CommandDataTable Device(const MacAddress& mac, const char* ip,
                                std::uint8_t kind = DEVICE_KIND_STANDARD) {
    return RecordBuilder(kind).DeviceMac(mac).Address(ip, "255.255.255.0").Port(80);
}

// A current device's search answer with an address.
inline AnswerBuilder SearchAnswer(const MacAddress& mac, const char* ip) {
    return AnswerBuilder(14, mac).U8(0, 0).Ipv4(32, ip).U16(37, 80);
}

inline std::vector<std::int64_t> Times(const std::vector<SentDatagram>& sent) {
    std::vector<std::int64_t> out;
    for (const auto& d : sent) out.push_back(d.time.count());
    return out;
}

class EngineTest : public ::testing::Test {
protected:
    CProtocol& engine() { return *rig.engine; }
    void SetUp() override { rig.StartWithDefaultAdapter(); }
    EngineRig rig;
};

}  // namespace valdrune::test
