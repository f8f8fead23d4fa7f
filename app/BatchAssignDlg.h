// "Assign addresses...": static addresses for the selected devices in one go. The user gives
// the first address (and optionally the last), mask, gateway, DNS and port; the dialog proposes
// consecutive free addresses (skipping those of listed devices and those that answer an echo
// probe), shows them for editing, refuses a range that cannot work before anything is sent,
// then changes the devices side by side through the engine's transactions and shows each one's
// state as it goes, with a summary at the end.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "dialogkit/TemplateDialog.h"
#include "protocol/Lifeline.h"
#include "protocol/Record.h"
#include "protocol/Transaction.h"
#include "settings/rules/BatchPlan.h"

class QTableWidget;

namespace valdrune {

class CProtocol;

// Control ids of the dialog.
inline constexpr int IDC_BATCH_FIRST = 1201;
inline constexpr int IDC_BATCH_LAST = 1202;
inline constexpr int IDC_BATCH_MASK = 1203;
inline constexpr int IDC_BATCH_GATEWAY = 1204;
inline constexpr int IDC_BATCH_DNS1 = 1205;
inline constexpr int IDC_BATCH_DNS2 = 1206;
inline constexpr int IDC_BATCH_PORT = 1207;
inline constexpr int IDC_BATCH_PROPOSE = 1208;
inline constexpr int IDC_BATCH_PREVIEW = 1209;
inline constexpr int IDC_BATCH_SUMMARY = 1210;
inline constexpr int IDC_BATCH_APPLY = 1211;

// Columns of the preview.
enum BatchColumn { BCOL_MAC, BCOL_NAME, BCOL_OLD, BCOL_NEW, BCOL_STATUS, kBatchColumns };

class CBatchAssignDlg : public CTemplateDialog {
  public:
    // selected: the devices to change, in list order; listed: every device of the list.
    CBatchAssignDlg(CProtocol& engine, std::vector<_CommandDataTable> selected,
                    std::vector<_CommandDataTable> listed, QWidget* parent = nullptr);
    ~CBatchAssignDlg() override;

    // Propose: the range checked and probed, the preview filled. Apply: the preview checked,
    // then every device still in it started.
    void Propose();
    void Apply();
    // Cancel while running: no further device starts; the ones already sent go on.
    void CancelBatch();
    // The engine's transaction events, forwarded by the main window.
    void OnTransaction(const TransactionEvent& event);

    bool Running() const { return running_; }
    bool Probing() const { return probesOut_ > 0; }
    const std::vector<BatchRow>& Rows() const { return rows_; }
    QTableWidget* Preview() const { return preview_; }
    QString StatusText(int row) const;
    QString Summary() const;
    // Devices sent but not final yet, as MAC texts.
    QStringList Unfinished() const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    struct Live {
        TransactionState state = TransactionState::Waiting;
        TransactionFailure failure = TransactionFailure::None;
        bool started = false;  // handed to the engine
    };

    void CreateControls();
    void FitLayout();
    BatchSettings ReadSettings() const;
    BatchSurroundings Surroundings() const;
    void ProbeProposal();
    void FillPreview();
    void ShowRow(int row);
    bool ReadEditedAddresses();
    void Refuse(const BatchCheck& check);
    void UpdateButtons();
    void Finish();
    int RowOf(const MacAddress& mac) const;

    CProtocol& engine_;
    std::vector<_CommandDataTable> selected_;
    std::vector<_CommandDataTable> listed_;
    std::vector<BatchRow> rows_;
    std::vector<Live> live_;
    std::set<std::uint32_t> answering_;  // addresses found answering the probe
    QTableWidget* preview_ = nullptr;
    int probesOut_ = 0;
    bool proposed_ = false;
    bool running_ = false;
    bool cancelled_ = false;
    bool finished_ = false;
    Lifeline lifeline_;
};

}  // namespace valdrune
