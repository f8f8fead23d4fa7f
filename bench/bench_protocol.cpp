// How fast the engine turns answers into device records, against the cost of reading the same
// datagram from a socket. Prints "handle/recvfrom ratio" at the end; exits nonzero when a
// benchmark's own check fails.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
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
    if (b.Process(answer) != PROTO_OK || b.rig.engine->Devices().Size() != 1)
        state.SkipWithError("the typical answer was not stored");
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

// One recvfrom of a datagram as large as the typical answer, on a loopback UDP socket that
// sends to itself. The sends happen outside the timed part, a batch at a time.
void BM_RecvfromTypicalAnswerSize(benchmark::State& state) {
    const auto answer = TypicalAnswer(0x20);
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof self;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&self), &length) != 0) {
        state.SkipWithError("no loopback socket");
        if (fd >= 0) ::close(fd);
        return;
    }
    constexpr int kBatch = 64;
    std::vector<std::uint8_t> buffer(RECEIVE_BUFFER_SIZE);
    int queued = 0;
    for (auto _ : state) {
        if (queued == 0) {
            state.PauseTiming();
            for (; queued < kBatch; ++queued)
                if (::sendto(fd, answer.data(), answer.size(), 0,
                             reinterpret_cast<const sockaddr*>(&self),
                             sizeof self) != static_cast<ssize_t>(answer.size()))
                    break;
            state.ResumeTiming();
            // Nothing queued would leave the read below waiting for ever.
            if (queued == 0) {
                state.SkipWithError("loopback send failed");
                break;
            }
        }
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const auto n = ::recvfrom(fd, buffer.data(), buffer.size(), 0,
                                  reinterpret_cast<sockaddr*>(&from), &fromLength);
        --queued;
        if (n != static_cast<ssize_t>(answer.size())) {
            state.SkipWithError("short read");
            break;
        }
    }
    ::close(fd);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecvfromTypicalAnswerSize);

// Remembers each benchmark's time per iteration and whether any reported an error.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) failed = true;
            else if (run.iterations > 0)
                perIteration[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> perIteration;
    bool failed = false;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const auto handle = reporter.perIteration.find("BM_ProcessTypicalAnswer");
    const auto read = reporter.perIteration.find("BM_RecvfromTypicalAnswerSize");
    if (handle != reporter.perIteration.end() && read != reporter.perIteration.end() &&
        read->second > 0)
        std::printf("handle/recvfrom ratio: %.2f\n", handle->second / read->second);
    return reporter.failed ? 1 : 0;
}
