#include "app/SearchRepeat.h"

#include "app/AdapterSessions.h"
#include "app/DeviceListModel.h"
#include "protocol/Protocol.h"

namespace valdrune {

CSearchRepeat::CSearchRepeat(IScheduler& scheduler, CAdapterSessions& sessions,
                             CDeviceListModel& rows, std::function<bool()> paused)
    : scheduler_(scheduler), sessions_(sessions), rows_(rows), paused_(std::move(paused)) {}

void CSearchRepeat::StartCycles() {
    for (int source = 0; source < sessions_.Count(); ++source)
        sessions_.At(source).Engine().StartSearch();
    ++cycles_;
}

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
    bool running = false;
    for (int source = 0; source < sessions_.Count(); ++source)
        running = running || sessions_.At(source).Engine().SearchRunning();
    if (!running) {
        answered_.clear();
        StartCycles();
    }
}

void CSearchRepeat::OnSearchStarted() {
    answered_.clear();
    if (Enabled()) {
        scheduler_.CancelTimer(timer_);
        Arm();
    }
}

void CSearchRepeat::OnAnswer(const MacAddress& mac, int source) {
    const QString text = QString::fromStdString(MacText(mac));
    answered_.insert(CDeviceListModel::Key(text, source));
    rows_.SetNotAnswering(text, false, source);
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
        const int source = rows_.Source(row);
        rows_.SetNotAnswering(mac, !answered_.contains(CDeviceListModel::Key(mac, source)), source);
    }
    answered_.clear();
    StartCycles();
    extra_ = scheduler_.StartTimer(kExtraRequestAt, false, [this] {
        extra_ = 0;
        if (paused_ && paused_()) return;
        for (int source = 0; source < sessions_.Count(); ++source)
            sessions_.At(source).Engine().SendSearch(2);
    });
}

}  // namespace valdrune
