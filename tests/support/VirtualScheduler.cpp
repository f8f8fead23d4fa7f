#include "tests/support/VirtualScheduler.h"

#include <stdexcept>
#include <utility>

namespace valdrune::test {

TimerId VirtualScheduler::StartTimer(Milliseconds interval, bool periodic,
                                     std::function<void()> fn) {
    // A periodic zero interval would spin forever on a virtual clock.
    if (periodic && interval.count() <= 0) throw std::invalid_argument("periodic timer of 0 ms");
    if (interval.count() < 0) interval = Milliseconds{0};
    const TimerId id = nextId_++;
    timers_.emplace(id, Timer{now_ + interval, interval, periodic, nextOrder_++, std::move(fn)});
    ++started_;
    return id;
}

void VirtualScheduler::CancelTimer(TimerId id) { timers_.erase(id); }

void VirtualScheduler::Post(std::function<void()> fn) { posted_.push_back(std::move(fn)); }

std::size_t VirtualScheduler::RunPosted() {
    std::size_t ran = 0;
    while (!posted_.empty()) {
        auto fn = std::move(posted_.front());
        posted_.pop_front();
        if (fn) fn();
        if (++ran > 1'000'000) throw std::runtime_error("posted callbacks never settle");
    }
    return ran;
}

TimerId VirtualScheduler::EarliestDue(Milliseconds limit) const {
    TimerId best = 0;
    const Timer* bestTimer = nullptr;
    for (const auto& [id, t] : timers_) {
        if (t.due > limit) continue;
        if (!bestTimer || t.due < bestTimer->due ||
            (t.due == bestTimer->due && t.order < bestTimer->order)) {
            best = id;
            bestTimer = &t;
        }
    }
    return best;
}

void VirtualScheduler::Advance(Milliseconds step) {
    if (step.count() < 0) return;
    const Milliseconds target = now_ + step;
    RunPosted();
    std::size_t fired = 0;
    while (TimerId id = EarliestDue(target)) {
        auto it = timers_.find(id);
        Timer& t = it->second;
        now_ = t.due;
        std::function<void()> fn;
        if (t.periodic) {
            t.due += t.interval;
            t.order = nextOrder_++;
            fn = t.fn;  // copy: the callback may cancel its own timer
        } else {
            fn = std::move(t.fn);
            timers_.erase(it);
        }
        if (fn) fn();
        RunPosted();
        if (++fired > 10'000'000) throw std::runtime_error("timers never settle");
    }
    now_ = target;
    RunPosted();
}

void VirtualScheduler::AdvanceTo(Milliseconds when) {
    if (when > now_) Advance(when - now_);
}

std::size_t VirtualScheduler::PeriodicTimers() const {
    std::size_t n = 0;
    for (const auto& [id, t] : timers_) n += t.periodic ? 1 : 0;
    return n;
}

Milliseconds VirtualScheduler::NextDue() const {
    const TimerId id = EarliestDue(Milliseconds::max());
    return id ? timers_.at(id).due : Milliseconds{-1};
}

}  // namespace valdrune::test
