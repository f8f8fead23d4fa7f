// The scheduler seam on the Qt event loop of the thread that creates it.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>

#include "protocol/Seams.h"

namespace valdrune {

// interval / scale, but never rounds a nonzero interval down to 0 (that would busy-loop a
// periodic timer).
Milliseconds ScaleInterval(Milliseconds interval, int scale);

class QtScheduler final : public IScheduler {
  public:
    // scale >= 1 divides every interval (end-to-end test drivers speed the protocol up);
    // anything below 1 means real time.
    explicit QtScheduler(int scale = 1);
    ~QtScheduler() override;
    QtScheduler(const QtScheduler&) = delete;
    QtScheduler& operator=(const QtScheduler&) = delete;

    TimerId StartTimer(Milliseconds interval, bool periodic, std::function<void()> fn) override;
    void CancelTimer(TimerId id) override;
    void Post(std::function<void()> fn) override;
    // Elapsed real time since construction multiplied by the scale, so that durations the
    // caller measures agree with the (scaled) timers it started.
    Milliseconds Now() const override;

    int Scale() const { return scale_; }
    std::size_t ActiveTimers() const { return timers_.size(); }

  private:
    class Host;
    struct Entry {
        int qtId = 0;
        bool periodic = false;
        std::shared_ptr<std::function<void()>> fn;
    };
    void Fire(int qtId);

    int scale_ = 1;
    QElapsedTimer clock_;
    std::unique_ptr<Host> host_;
    TimerId nextId_ = 1;
    std::unordered_map<TimerId, Entry> timers_;
    std::unordered_map<int, TimerId> byQtId_;
};

}  // namespace valdrune
