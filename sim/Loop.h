// A single-threaded poll() loop with timers, for the simulator process.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <vector>

#include "protocol/Seams.h"

namespace valdrune::sim {

class CPollLoop : public IScheduler {
public:
    TimerId StartTimer(Milliseconds interval, bool periodic, std::function<void()> fn) override;
    void CancelTimer(TimerId id) override;
    void Post(std::function<void()> fn) override;
    Milliseconds Now() const override;

    // fn runs whenever fd is readable.
    void Watch(int fd, std::function<void()> fn);
    // Not from inside a watched descriptor's callback.
    void Unwatch(int fd);
    // Runs until Quit(); returns false when poll() failed.
    bool Run();
    void Quit() { quit_ = true; }

private:
    struct Timer {
        Milliseconds due;
        Milliseconds interval;
        bool periodic;
        std::function<void()> fn;
    };
    void RunDue();

    // Times count from the loop's creation, so log lines read as seconds since start.
    std::chrono::steady_clock::time_point epoch_ = std::chrono::steady_clock::now();
    std::map<TimerId, Timer> timers_;
    TimerId nextId_ = 1;
    std::vector<std::function<void()>> posted_;
    std::vector<std::pair<int, std::function<void()>>> watched_;
    bool quit_ = false;
};

}  // namespace valdrune::sim
