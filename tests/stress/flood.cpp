// Floods the PC's port with what a busy or hostile segment sends: garbage, truncated and
// oversized datagrams, valid answers from thousands of unknown devices and copies of the real
// devices' answers. Run inside the devices' network namespace only.
//   flood PC_IP PC_MAC SUBNET RATE SECONDS   (SUBNET as A.B.C, the simulator's --subnet)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "protocol/Datagram.h"
#include "sim/Scenario.h"
#include "tests/stress/PcTarget.h"

using namespace valdrune;
using namespace valdrune::sim;
using Bytes = std::vector<std::uint8_t>;

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fputs("usage: flood PC_IP PC_MAC SUBNET RATE SECONDS\n", stderr);
        return 2;
    }
    const auto target = ParsePcTarget(argv[1], argv[2], argv[3]);
    if (!target) {
        std::fputs("flood: bad address\n", stderr);
        return 2;
    }
    const int rate = std::atoi(argv[4]);
    const double seconds = std::atof(argv[5]);
    const Requester& requester = target->requester;
    const ScenarioOptions& options = target->options;

    std::vector<Bytes> real;
    const auto devices = BuiltInScenario("kinds", options);
    for (const DeviceSpec& d : *devices) real.push_back(BuildAnswer(d, requester));
    std::vector<Bytes> strangers;
    for (int i = 0; i < 5000; ++i) {
        DeviceSpec d = MakeDevice(static_cast<Kind>(i % 3), 1000 + i, options);
        d.record.primary.mac = {0x0A, 0xBB, 0, static_cast<std::uint8_t>(i >> 8),
                                static_cast<std::uint8_t>(i), 0x01};
        strangers.push_back(BuildAnswer(d, requester));
    }

    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to = target->to;
    std::mt19937 random(1);
    Bytes buffer;
    long sent = 0, failed = 0;
    const auto start = std::chrono::steady_clock::now();
    const long total = static_cast<long>(rate * seconds);
    const int burst = std::max(1, rate / 1000);  // one burst a millisecond
    while (sent + failed < total) {
        for (int b = 0; b < burst; ++b) {
            const long n = sent + failed;
            switch (n % 5) {
                case 0:  // garbage
                    buffer.resize(1 + random() % 1500);
                    for (auto& x : buffer) x = static_cast<std::uint8_t>(random());
                    break;
                case 1:  // a real answer cut short
                    buffer = real[n % real.size()];
                    buffer.resize(random() % buffer.size());
                    break;
                case 2:  // bigger than the receive buffer, valid header and checksum
                    buffer = real[n % real.size()];
                    buffer.resize(HEADER_SIZE);
                    buffer[2] = 0x05, buffer[3] = 0xBE;
                    buffer.resize(HEADER_SIZE + 1470 + 4, 0);
                    buffer[HEADER_SIZE] = 0xFF, buffer[HEADER_SIZE + 1] = 0xF1;
                    break;
                case 3:  // a device nobody has
                    buffer = strangers[random() % strangers.size()];
                    break;
                default:  // a copy of a real answer
                    buffer = real[n % real.size()];
                    break;
            }
            if (sendto(fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&to),
                       sizeof to) < 0)
                ++failed;
            else
                ++sent;
        }
        const auto due = start + std::chrono::microseconds((sent + failed) * 1000000L / rate);
        std::this_thread::sleep_until(due);
    }
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("flood: %ld datagrams in %.2f s (%.0f/s), %ld send errors\n", sent, took,
                static_cast<double>(sent) / took, failed);
    close(fd);
    return 0;
}
