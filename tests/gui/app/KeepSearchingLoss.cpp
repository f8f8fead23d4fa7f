// How many devices the window lists after one and after two search cycles with "Keep
// searching" on, when every datagram is lost with a given probability in each direction.
// The window runs on the fakes (virtual clock, in-memory transport); each search request that
// goes out reaches each device, and its answer comes back, with independent losses.
// Usage: keep_searching_loss [loss percent (30)] [trials (100)] [devices (100)]
#include <QAbstractButton>
#include <QApplication>
#include <cstdio>
#include <random>

#include "WindowRig.h"
#include "app/SearchRepeat.h"
#include "protocol/Datagram.h"

using namespace valdrune;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const double loss = (argc > 1 ? std::atof(argv[1]) : 30.0) / 100.0;
    const int trials = argc > 2 ? std::atoi(argv[2]) : 100;
    const int devices = argc > 3 ? std::atoi(argv[3]) : 100;
    std::mt19937 random(20261210);
    std::bernoulli_distribution lost(loss);
    long listed[2] = {0, 0};
    for (int t = 0; t < trials; ++t) {
        test::WindowRig rig;
        CTallyrigDlg& dlg = rig.Open();
        dlg.ControlAs<QAbstractButton>(IDC_KEEP_SEARCHING)->click();
        std::size_t seen = 0;
        const Milliseconds step(10);
        for (int cycle = 0; cycle < 2; ++cycle) {
            // The first cycle started with the window; "Keep searching" adds the next ones.
            for (Milliseconds at(0); at < CSearchRepeat::kCycle; at += step) {
                const auto& sent = rig.transport.Sent();
                for (; seen < sent.size(); ++seen) {
                    if (sent[seen].Command() != CMD_SEARCH) continue;
                    for (int d = 0; d < devices; ++d) {
                        if (lost(random) || lost(random)) continue;
                        const auto mac = test::Mac(static_cast<std::uint8_t>(d % 250),
                                                   static_cast<std::uint8_t>(d / 250));
                        const std::string ip = "10.7." + std::to_string(d / 250) + "." +
                                               std::to_string(d % 250 + 1);
                        rig.transport.Deliver(test::AnswerBuilder(CMD_SEARCH_REPLY, mac)
                                                  .U8(0, 0)
                                                  .Ipv4(32, ip)
                                                  .U16(37, 80)
                                                  .Build());
                    }
                }
                rig.clock.Advance(step);
                rig.Settle();
            }
            listed[cycle] += dlg.List().RowCount();
        }
    }
    const double total = static_cast<double>(trials) * devices;
    std::printf("loss %.0f %% each way, %d trials of %d devices\n", loss * 100, trials, devices);
    for (int c = 0; c < 2; ++c)
        std::printf("after %d cycle%s: %ld of %.0f listed, %.3f %%\n", c + 1, c ? "s" : "",
                    listed[c], total, 100.0 * static_cast<double>(listed[c]) / total);
    return 0;
}
