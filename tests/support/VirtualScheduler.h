// A scheduler on a virtual clock: nothing runs until the test advances time, and then every
// due timer and posted callback runs at once, in time order, without sleeping.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <map>

#include "protocol/Seams.h"

namespace valdrune::test {

class VirtualScheduler : public IScheduler {
public:
    TimerId StartTimer(Milliseconds interval, bool periodic, std::function<void()> fn) override;
    void CancelTimer(TimerId id) override;
    void Post(std::function<void()> fn) override;
    Milliseconds Now() const override { return now_; }

    // Moves the clock forward by `step`, running posted callbacks first and then every timer
    // that falls due on the way (ties in the order they were started), each at its own time.
    void Advance(Milliseconds step);
    // Advances to an absolute virtual time; does nothing when it lies in the past.
    void AdvanceTo(Milliseconds when);
    // Runs posted callbacks, including ones they post, until none is left. Returns how many ran.
    std::size_t RunPosted();

    std::size_t LiveTimers() const { return timers_.size(); }
    std::size_t PeriodicTimers() const;
    std::size_t PendingPosts() const { return posted_.size(); }
    // Due time of the earliest live timer, or -1 ms when there is none.
    Milliseconds NextDue() const;
    // Every StartTimer call so far, live or not.
    std::size_t TimersStarted() const { return started_; }

private:
    struct Timer {
        Milliseconds due;
        Milliseconds interval;
        bool periodic;
        std::uint64_t order;
        std::function<void()> fn;
    };
    // Returns the id of the earliest timer due at or before `limit`, 0 when none.
    TimerId EarliestDue(Milliseconds limit) const;

    Milliseconds now_{0};
    TimerId nextId_ = 1;
    std::uint64_t nextOrder_ = 0;
    std::size_t started_ = 0;
    std::map<TimerId, Timer> timers_;
    std::deque<std::function<void()>> posted_;
};

}  // namespace valdrune::test
