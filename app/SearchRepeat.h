// "Keep searching": while it is on, a new search cycle starts when the last one is over,
// without emptying the list. New devices get rows, changed ones are rewritten as they answer,
// and a device that did not answer during a whole cycle keeps its row, marked as not
// answering, until it answers again.
#pragma once

#include <QSet>
#include <QString>
#include <functional>

#include "protocol/Record.h"
#include "protocol/Seams.h"

namespace valdrune {

class CAdapterSessions;
class CDeviceListModel;

class CSearchRepeat {
  public:
    // The engine's cycle sends its last request at 6 s; answers get two more seconds.
    static constexpr Milliseconds kCycle{8000};
    // A repeated cycle adds one request of its own after the engine's five: with 30 % loss
    // each way, ten exchanges miss a device 0.12 % of the time, eleven under 0.1 %.
    static constexpr Milliseconds kExtraRequestAt{7000};

    // paused: true while a change is in progress; a cycle then waits for the next turn.
    // Every session searching repeats its cycles.
    CSearchRepeat(IScheduler& scheduler, CAdapterSessions& sessions, CDeviceListModel& rows,
                  std::function<bool()> paused);
    ~CSearchRepeat();
    CSearchRepeat(const CSearchRepeat&) = delete;
    CSearchRepeat& operator=(const CSearchRepeat&) = delete;

    void SetEnabled(bool on);
    bool Enabled() const { return timer_ != 0; }
    // A search started from an emptied list (Search button, adapter choice).
    void OnSearchStarted();
    void OnAnswer(const MacAddress& mac, int source = 0);
    int CyclesStarted() const { return cycles_; }

  private:
    void Arm();
    void OnCycleEnd();
    void StartCycles();

    IScheduler& scheduler_;
    CAdapterSessions& sessions_;
    CDeviceListModel& rows_;
    std::function<bool()> paused_;
    TimerId timer_ = 0;
    TimerId extra_ = 0;
    QSet<QString> answered_;  // CDeviceListModel::Key()s of the devices heard since the current cycle started
    int cycles_ = 0;
};

}  // namespace valdrune
