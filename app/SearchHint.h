// What the device list says when a search finds nothing: once a search cycle has ended with
// no device listed, the network checks run on a worker thread (the looped broadcast alone
// waits half a second) and a hint inside the empty list names the most likely cause and the
// command that fixes it. The list also keeps the note about missing probe rights in a strip
// under its rows.
//
// With "Keep searching" every cycle ends with an empty list: the hint then stays as it is, and
// the checks run again only once the last run is kRecheckAfter old, so a fix made meanwhile is
// seen without running them every cycle. The hint's text changes only when the cause does.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>

#include "protocol/NetworkDoctor.h"
#include "protocol/Seams.h"

class QLabel;
class QObject;
class QWidget;

namespace valdrune {

class CDeviceListView;

struct SearchHintText;

class CSearchHint {
  public:
    static constexpr Milliseconds kRecheckAfter{60000};

    // The hint and the note become children of the view; clock: the window's scheduler.
    CSearchHint(IScheduler& clock, CDeviceListView& view);
    // Waits for a check still running: the survey must not be used once the window is gone.
    ~CSearchHint();
    CSearchHint(const CSearchHint&) = delete;
    CSearchHint& operator=(const CSearchHint&) = delete;

    // The host's checks; null: no checks, and no hint.
    void SetSurvey(INetworkSurvey* survey) { survey_ = survey; }

    // A search cycle ran to its end with `listed` rows in the list; adapterIndex: the adapter
    // searched on (-1 for none).
    void OnSearchEnded(int listed, std::int32_t adapterIndex);
    // The hint goes; a check still running shows nothing.
    void OnDeviceListed();
    // The same, and the next cycle's end checks again at once.
    void OnAdapterChosen();
    // A search the user asked for: its end checks again at once.
    void OnSearchRequested() { checkedAt_.reset(); }

    // The note in the strip under the rows (plain text, selectable for its command).
    void ShowNote(const QString& text);

    bool Checking() const { return checking_; }
    bool HintShown() const;
    // Heading, cause and command, one per line; empty while no hint is shown.
    QString HintText() const;
    QString NoteText() const;
    int ChecksStarted() const { return checksStarted_; }

  private:
    void StartCheck(std::int32_t adapterIndex);
    void OnChecked(std::uint64_t generation, const NetworkFacts& facts);
    void Show(const SearchHintText& text);
    void Hide();
    void Fit();

    IScheduler& clock_;
    CDeviceListView& view_;
    INetworkSurvey* survey_ = nullptr;
    QWidget* panel_ = nullptr;
    QLabel* heading_ = nullptr;
    QLabel* cause_ = nullptr;
    QLabel* fixLabel_ = nullptr;
    QLabel* command_ = nullptr;
    QLabel* note_ = nullptr;
    std::optional<Milliseconds> checkedAt_;
    std::uint64_t generation_ = 0;
    bool checking_ = false;
    int checksStarted_ = 0;
    std::thread worker_;
    // Receives the worker's result on the window's thread; results still queued when it goes
    // are dropped with it.
    std::unique_ptr<QObject> inbox_;
};

}  // namespace valdrune
