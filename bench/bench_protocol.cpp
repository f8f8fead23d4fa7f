// How fast the engine turns answers into device records.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "tests/support/EngineRig.h"

namespace {

using namespace valdrune;
using namespace valdrune::test;

// What a current single-port device typically sends in reply to a search.
std::vector<std::uint8_t> TypicalAnswer(std::uint8_t macByte, std::uint8_t fifth = 0) {
    AnswerBuilder b(CMD_SEARCH_REPLY, Mac(macByte, fifth));
    b.Sequence(7)
        .U8(0, 3)
        .U8(1, 0)
        .U32(32, (192u << 24) | (168u << 16) | (static_cast<std::uint32_t>(fifth) << 8) | macByte)
        .Ipv4(33, "255.255.255.0")
        .Ipv4(34, "192.168.0.1")
        .Pair(35, Ip("192.168.0.1"), Ip("8.8.8.8"))
        .U16(37, 80)
        .Item(64, std::vector<std::uint8_t>(16, 0xFE))
        .Item(65, std::vector<std::uint8_t>(16, 0))
        .Item(66, std::vector<std::uint8_t>(32, 0))
        .U16(68, 80)
        .U8(166, 0x04)
        .Text(167, "Entrance cam")
        .Text(168, "K9000-W")
        .Text(169, "2.10")
        .U16(180, 0)
        .Text(209, "SN0012345678");
    return b.Build();
}

struct Bench {
    EngineRig rig;
    Bench() { rig.StartWithDefaultAdapter(); rig.engine->SetListener(nullptr); }
    int Process(const std::vector<std::uint8_t>& d) { return rig.engine->HandleDatagram(d); }
};

void BM_ProcessTypicalAnswer(benchmark::State& state) {
    Bench b;
    const auto answer = TypicalAnswer(0x20);
    for (auto _ : state) benchmark::DoNotOptimize(b.Process(answer));
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(answer.size()));
}
BENCHMARK(BM_ProcessTypicalAnswer);

void BM_FillTableWithHundredDevices(benchmark::State& state) {
    Bench b;
    std::vector<std::vector<std::uint8_t>> answers;
    for (int i = 0; i < 100; ++i)
        answers.push_back(TypicalAnswer(static_cast<std::uint8_t>(i % 250 + 1),
                                        static_cast<std::uint8_t>(i / 250)));
    for (auto _ : state) {
        b.rig.engine->ClearDevices();
        for (const auto& a : answers) benchmark::DoNotOptimize(b.Process(a));
    }
    if (b.rig.engine->Devices().Size() != 100) state.SkipWithError("table not filled");
    state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_FillTableWithHundredDevices);

void BM_RejectBadChecksum(benchmark::State& state) {
    Bench b;
    auto answer = TypicalAnswer(0x21);
    answer.back() ^= 1;
    for (auto _ : state) benchmark::DoNotOptimize(b.Process(answer));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RejectBadChecksum);

}  // namespace

BENCHMARK_MAIN();
