#include "platform/qt/QtScheduler.h"

#include <QMetaObject>
#include <QTimerEvent>
#include <limits>

namespace valdrune {

Milliseconds ScaleInterval(Milliseconds interval, int scale) {
    if (interval.count() <= 0) return Milliseconds{0};
    if (scale <= 1) return interval;
    const auto scaled = interval.count() / scale;
    return Milliseconds{scaled > 0 ? scaled : 1};
}

// Receives the timer events and is the context of posted calls: destroying it drops every
// pending posted call, so nothing runs after the scheduler is gone.
class QtScheduler::Host final : public QObject {
  public:
    explicit Host(QtScheduler& owner) : owner_(owner) {}

  protected:
    void timerEvent(QTimerEvent* event) override { owner_.Fire(event->timerId()); }

  private:
    QtScheduler& owner_;
};

QtScheduler::QtScheduler(int scale)
    : scale_(scale > 0 ? scale : 1), host_(std::make_unique<Host>(*this)) {
    clock_.start();
}

QtScheduler::~QtScheduler() {
    for (const auto& [id, entry] : timers_) host_->killTimer(entry.qtId);
    timers_.clear();
    byQtId_.clear();
}

TimerId QtScheduler::StartTimer(Milliseconds interval, bool periodic, std::function<void()> fn) {
    const auto scaled = ScaleInterval(interval, scale_);
    const auto ms = std::min<long long>(scaled.count(), std::numeric_limits<int>::max());
    const int qtId = host_->startTimer(static_cast<int>(ms), Qt::PreciseTimer);
    if (qtId == 0) return 0;
    const TimerId id = nextId_++;
    timers_[id] = Entry{qtId, periodic, std::make_shared<std::function<void()>>(std::move(fn))};
    byQtId_[qtId] = id;
    return id;
}

void QtScheduler::CancelTimer(TimerId id) {
    const auto it = timers_.find(id);
    if (it == timers_.end()) return;
    host_->killTimer(it->second.qtId);
    byQtId_.erase(it->second.qtId);
    timers_.erase(it);
}

void QtScheduler::Fire(int qtId) {
    const auto idIt = byQtId_.find(qtId);
    if (idIt == byQtId_.end()) return;  // killed, event was already on its way
    const auto it = timers_.find(idIt->second);
    // Keep the function alive while it runs: it may cancel its own timer.
    const auto fn = it->second.fn;
    if (!it->second.periodic) {
        host_->killTimer(qtId);
        byQtId_.erase(idIt);
        timers_.erase(it);
    }
    if (fn && *fn) (*fn)();
}

void QtScheduler::Post(std::function<void()> fn) {
    QMetaObject::invokeMethod(
        host_.get(),
        [fn = std::move(fn)]() {
            if (fn) fn();
        },
        Qt::QueuedConnection);
}

Milliseconds QtScheduler::Now() const { return Milliseconds{clock_.elapsed() * scale_}; }

}  // namespace valdrune
