// A second source of the simulator's answers: copies of the "many" scenario's answers of every
// EVERY-th device (indexes EVERY-1, 2*EVERY-1, ...), COPIES of each, sent to the PC at random
// moments within SECONDS and so out of order with the simulator's own. Run inside the devices'
// network namespace only.
//   replay PC_IP PC_MAC SUBNET COUNT EVERY COPIES SECONDS   (SUBNET as A.B.C)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "protocol/Datagram.h"
#include "sim/Scenario.h"
#include "tests/stress/PcTarget.h"

using namespace valdrune;
using namespace valdrune::sim;

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fputs("usage: replay PC_IP PC_MAC SUBNET COUNT EVERY COPIES SECONDS\n", stderr);
        return 2;
    }
    auto target = ParsePcTarget(argv[1], argv[2], argv[3]);
    if (!target) {
        std::fputs("replay: bad address\n", stderr);
        return 2;
    }
    ScenarioOptions& options = target->options;
    options.count = std::atoi(argv[4]);
    const int every = std::max(1, std::atoi(argv[5]));
    const int copies = std::atoi(argv[6]);
    const double seconds = std::atof(argv[7]);
    const Requester& requester = target->requester;

    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_real_distribution<double> when(0, seconds);
    std::vector<std::pair<double, std::vector<std::uint8_t>>> plan;
    const auto devices = BuiltInScenario("many", options);
    for (std::size_t i = every - 1; i < devices->size(); i += every)
        for (int c = 0; c < copies; ++c)
            plan.emplace_back(when(random), BuildAnswer((*devices)[i], requester));
    std::sort(plan.begin(), plan.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });

    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to = target->to;
    const auto start = std::chrono::steady_clock::now();
    long failed = 0;
    for (const auto& [at, answer] : plan) {
        std::this_thread::sleep_until(start + std::chrono::duration<double>(at));
        if (sendto(fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&to),
                   sizeof to) < 0)
            ++failed;
    }
    close(fd);
    std::printf("replay: %zu copies, %ld send errors\n", plan.size(), failed);
    return failed == 0 ? 0 : 1;
}
