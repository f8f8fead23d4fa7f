#include "app/SearchRepeat.h"

#include "app/DeviceListModel.h"
#include "protocol/Protocol.h"

namespace valdrune {

CSearchRepeat::CSearchRepeat(IScheduler& scheduler, CProtocol& engine, CDeviceListModel& rows,
                             std::function<bool()> paused)
    : scheduler_(scheduler), engine_(engine), rows_(rows), paused_(std::move(paused)) {}

CSearchRepeat::~CSearchRepeat() {
    scheduler_.CancelTimer(timer_);
    scheduler_.CancelTimer(extra_);
}

void CSearchRepeat::SetEnabled(bool on) {
    if (on == Enabled()) return;
    if (!on) {
        scheduler_.CancelTimer(timer_);
        scheduler_.CancelTimer(extra_);
        timer_ = 0;
        extra_ = 0;
        return;
    }
    // Counted from now: whatever answered so far in the running cycle still counts.
    Arm();
    if (!engine_.SearchRunning()) {
        answered_.clear();
        engine_.StartSearch();
        ++cycles_;
    }
}

void CSearchRepeat::OnSearchStarted() {
    answered_.clear();
    if (Enabled()) {
        scheduler_.CancelTimer(timer_);
        Arm();
    }
}

void CSearchRepeat::OnAnswer(const MacAddress& mac) {
    const QString text = QString::fromStdString(MacText(mac));
    answered_.insert(text);
    rows_.SetNotAnswering(text, false);
}

void CSearchRepeat::Arm() {
    timer_ = scheduler_.StartTimer(kCycle, false, [this] {
        timer_ = 0;
        OnCycleEnd();
    });
}

void CSearchRepeat::OnCycleEnd() {
    Arm();
    if (paused_ && paused_()) return;
    for (int row = 0; row < rows_.rowCount(); ++row) {
        const QString mac = rows_.Text(row, COL_MAC);
        rows_.SetNotAnswering(mac, !answered_.contains(mac));
    }
    answered_.clear();
    engine_.StartSearch();
    ++cycles_;
    extra_ = scheduler_.StartTimer(kExtraRequestAt, false, [this] {
        extra_ = 0;
        if (!(paused_ && paused_())) engine_.SendSearch(2);
    });
}

}  // namespace valdrune
