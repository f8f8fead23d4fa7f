#include "sim/Loop.h"

#include <poll.h>

#include <cerrno>
#include <chrono>

namespace valdrune::sim {

Milliseconds CPollLoop::Now() const {
    return std::chrono::duration_cast<Milliseconds>(
        std::chrono::steady_clock::now() - epoch_);
}

TimerId CPollLoop::StartTimer(Milliseconds interval, bool periodic, std::function<void()> fn) {
    const TimerId id = nextId_++;
    timers_[id] = Timer{Now() + interval, interval, periodic, std::move(fn)};
    return id;
}

void CPollLoop::CancelTimer(TimerId id) { timers_.erase(id); }

void CPollLoop::Post(std::function<void()> fn) { posted_.push_back(std::move(fn)); }

void CPollLoop::Watch(int fd, std::function<void()> fn) { watched_.emplace_back(fd, std::move(fn)); }

void CPollLoop::RunDue() {
    for (;;) {
        while (!posted_.empty()) {
            auto batch = std::move(posted_);
            posted_.clear();
            for (auto& fn : batch) fn();
        }
        const Milliseconds now = Now();
        TimerId due = 0;
        Milliseconds earliest{};
        for (const auto& [id, t] : timers_) {
            if (t.due <= now && (due == 0 || t.due < earliest)) {
                due = id;
                earliest = t.due;
            }
        }
        if (due == 0) return;
        Timer& t = timers_[due];
        std::function<void()> fn = t.fn;
        if (t.periodic)
            t.due += t.interval.count() > 0 ? t.interval : Milliseconds(1);
        else
            timers_.erase(due);
        fn();
    }
}

void CPollLoop::Unwatch(int fd) {
    std::erase_if(watched_, [fd](const auto& w) { return w.first == fd; });
}

bool CPollLoop::Run() {
    while (!quit_) {
        RunDue();
        if (quit_) break;
        int timeout = -1;
        const Milliseconds now = Now();
        for (const auto& [id, t] : timers_) {
            const long long left = (t.due - now).count();
            const int ms = left < 0 ? 0 : static_cast<int>(left > 60000 ? 60000 : left);
            if (timeout < 0 || ms < timeout) timeout = ms;
        }
        if (!posted_.empty()) timeout = 0;
        std::vector<pollfd> fds;
        for (const auto& w : watched_) fds.push_back(pollfd{w.first, POLLIN, 0});
        const int n = poll(fds.data(), fds.size(), timeout);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        for (std::size_t i = 0; i < fds.size() && !quit_; ++i)
            if (fds[i].revents & (POLLIN | POLLERR | POLLHUP)) watched_[i].second();
    }
    return true;
}

}  // namespace valdrune::sim
