#include "app/BatchAssignDlg.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>

#include "dialogkit/ControlText.h"
#include "dialogkit/MessageBox.h"
#include "protocol/Protocol.h"
#include "settings/dialogs/CIpAddressCtrl.h"

namespace valdrune {
namespace {

constexpr int kFirstLabel = 1221;  // labels take the id of their field + 20
constexpr int kIpFields[] = {IDC_BATCH_FIRST, IDC_BATCH_LAST,  IDC_BATCH_MASK,
                             IDC_BATCH_GATEWAY, IDC_BATCH_DNS1, IDC_BATCH_DNS2};
// Label texts of the fields, in the order of kIpFields, then the port.
constexpr int kFieldTexts[] = {1121, 1122, 406, 407, 409, 410, 404};

int ProblemText(BatchProblem p) {
    switch (p) {
        case BatchProblem::BadMask: return 1142;
        case BatchProblem::FirstNotHost: return 1143;
        case BatchProblem::PastSubnet: return 1144;
        case BatchProblem::HitsPc: return 1145;
        case BatchProblem::HitsGateway: return 1146;
        case BatchProblem::TooShort: return 1147;
        case BatchProblem::Duplicate: return 1148;
        case BatchProblem::Taken: return 1149;
        case BatchProblem::None: break;
    }
    return 0;
}

int FailureText(TransactionFailure f) {
    switch (f) {
        case TransactionFailure::NoAcceptance: return 1136;
        case TransactionFailure::NotSeenAfterRestart: return 1137;
        case TransactionFailure::AddressInUse: return 1138;
        case TransactionFailure::CannotProbe: return 1139;
        case TransactionFailure::SocketNotReady: return 1141;
        case TransactionFailure::None: break;
    }
    return 0;
}

QString AddressText(std::uint32_t a) { return QString::fromStdString(Ipv4Text(a)); }

bool StillGoing(TransactionState s) {
    return s == TransactionState::Sent || s == TransactionState::Accepted ||
           s == TransactionState::Restarting;
}

}  // namespace

CBatchAssignDlg::CBatchAssignDlg(CProtocol& engine, std::vector<_CommandDataTable> selected,
                                 std::vector<_CommandDataTable> listed, QWidget* parent)
    : CTemplateDialog(parent),
      engine_(engine),
      selected_(std::move(selected)),
      listed_(std::move(listed)) {
    setWindowTitle(DialogText(1120));
    CreateControls();
    FitLayout();
    rows_ = MakeBatchRows(selected_);
    live_.assign(rows_.size(), {});
    // Start from what the first device has: most batches keep mask, gateway and DNS.
    if (!selected_.empty()) {
        const _NetInfo& n = selected_.front().primary;
        ControlAs<CIpAddressCtrl>(IDC_BATCH_MASK)->SetAddress(n.subnetMask);
        ControlAs<CIpAddressCtrl>(IDC_BATCH_GATEWAY)->SetAddress(n.gateway);
        ControlAs<CIpAddressCtrl>(IDC_BATCH_DNS1)->SetAddress(n.dns1);
        ControlAs<CIpAddressCtrl>(IDC_BATCH_DNS2)->SetAddress(n.dns2);
    }
    FillPreview();
    proposed_ = false;
    UpdateButtons();
}

CBatchAssignDlg::~CBatchAssignDlg() { lifeline_.Cut(); }

void CBatchAssignDlg::CreateControls() {
    SetTemplateSize(330, 250);
    for (std::size_t i = 0; i < std::size(kIpFields); ++i) {
        AddLabel(kIpFields[i] + 20, 7, 8, 60, 8);
        Place(kIpFields[i], new CIpAddressCtrl(this), 70, 7, 80, 12);
    }
    AddLabel(IDC_BATCH_PORT + 20, 7, 8, 60, 8);
    auto* port = Place(IDC_BATCH_PORT, new QLineEdit(this), 70, 7, 40, 12);
    port->setMaxLength(5);
    auto* propose = AddButton(IDC_BATCH_PROPOSE, 255, 52, 68, 14);
    preview_ = Place(IDC_BATCH_PREVIEW, new QTableWidget(this), 7, 72, 316, 128);
    preview_->setColumnCount(kBatchColumns);
    preview_->setHorizontalHeaderLabels({DialogText(213), DialogText(217), DialogText(1125),
                                         DialogText(1126), DialogText(1127)});
    preview_->verticalHeader()->hide();
    preview_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    preview_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    preview_->horizontalHeader()->setSectionResizeMode(BCOL_STATUS, QHeaderView::Stretch);
    preview_->setWordWrap(false);
    preview_->setSelectionMode(QAbstractItemView::NoSelection);
    preview_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                              QAbstractItemView::AnyKeyPressed);
    auto* summary = AddLabel(IDC_BATCH_SUMMARY, 7, 204, 316, 20, false);
    summary->setWordWrap(true);
    summary->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* apply = AddButton(IDC_BATCH_APPLY, 200, 229, 60, 14);
    auto* close = AddButton(2, 263, 229, 60, 14);

    for (std::size_t i = 0; i < std::size(kFieldTexts); ++i)
        SetControlTextId(kFirstLabel + static_cast<int>(i), kFieldTexts[i]);
    SetControlTextId(IDC_BATCH_PROPOSE, 1123);
    SetControlTextId(IDC_BATCH_APPLY, 1124);
    SetControlTextId(2, 603);

    connect(propose, &QPushButton::clicked, this, [this] { Propose(); });
    connect(apply, &QPushButton::clicked, this, [this] { Apply(); });
    connect(close, &QPushButton::clicked, this, [this] {
        if (running_)
            CancelBatch();
        else
            done(kResultCancel);
    });
}

// Two columns of label and field, each as wide as its longest label in this language; the
// preview and the summary span the dialog, the buttons stand at its right edge.
void CBatchAssignDlg::FitLayout() {
    const auto fit = [this](int id, int textId) {
        return CalcControlTextWidth(Control(id), DialogText(textId));
    };
    const int margin = DluToPixelsX(7);
    const int field = DluToPixelsX(80);
    int left = 0;
    int right = 0;
    for (int i = 0; i < 7; i += 2) left = std::max(left, fit(kFirstLabel, kFieldTexts[i]));
    for (int i = 1; i < 6; i += 2) right = std::max(right, fit(kFirstLabel, kFieldTexts[i]));
    const int col1 = margin + left + DluToPixelsX(4);
    const int label2 = col1 + field + DluToPixelsX(12);
    const int col2 = label2 + right + DluToPixelsX(4);
    const int width = std::max(DluToPixelsX(330), col2 + field + margin);
    WidenBy(width - this->width());

    const int ids[] = {IDC_BATCH_FIRST, IDC_BATCH_LAST, IDC_BATCH_MASK, IDC_BATCH_GATEWAY,
                       IDC_BATCH_DNS1,  IDC_BATCH_DNS2, IDC_BATCH_PORT};
    for (int i = 0; i < 7; ++i) {
        const bool second = i % 2 == 1;
        const int y = DluToPixelsY(7 + 15 * (i / 2));
        const int h = DluToPixelsY(12);
        const QRect fieldRect = Placement(ids[i]);
        SetPlacement(ids[i] + 20, QRect(second ? label2 : margin, y, second ? right : left, h));
        SetPlacement(ids[i], QRect(second ? col2 : col1, y, fieldRect.width(), h));
    }
    const int buttonWidth =
        std::max({DluToPixelsX(60), fit(IDC_BATCH_APPLY, 1124), fit(IDC_BATCH_APPLY, 603),
                  fit(IDC_BATCH_APPLY, 211)});
    QRect propose = Placement(IDC_BATCH_PROPOSE);
    SetPlacement(IDC_BATCH_PROPOSE, QRect(col2, DluToPixelsY(52), std::max(field, fit(IDC_BATCH_PROPOSE, 1123)),
                                          propose.height()));
    QRect preview = Placement(IDC_BATCH_PREVIEW);
    preview.setWidth(width - 2 * margin);
    SetPlacement(IDC_BATCH_PREVIEW, preview);
    QRect summary = Placement(IDC_BATCH_SUMMARY);
    summary.setWidth(width - 2 * margin);
    SetPlacement(IDC_BATCH_SUMMARY, summary);
    QRect close = Placement(2);
    SetPlacement(2, QRect(width - margin - buttonWidth, close.y(), buttonWidth, close.height()));
    SetPlacement(IDC_BATCH_APPLY, QRect(width - margin - 2 * buttonWidth - DluToPixelsX(4),
                                        close.y(), buttonWidth, close.height()));
}

BatchSettings CBatchAssignDlg::ReadSettings() const {
    const auto address = [this](int id) { return ControlAs<CIpAddressCtrl>(id)->Address(); };
    BatchSettings s;
    s.first = address(IDC_BATCH_FIRST);
    s.last = ControlAs<CIpAddressCtrl>(IDC_BATCH_LAST)->IsBlank() ? 0 : address(IDC_BATCH_LAST);
    s.mask = address(IDC_BATCH_MASK);
    s.gateway = address(IDC_BATCH_GATEWAY);
    s.dns1 = address(IDC_BATCH_DNS1);
    s.dns2 = address(IDC_BATCH_DNS2);
    s.portText = ControlAs<QLineEdit>(IDC_BATCH_PORT)->text().trimmed().toStdString();
    return s;
}

BatchSurroundings CBatchAssignDlg::Surroundings() const {
    BatchSurroundings around;
    around.pcAddress = engine_.LocalInterface().ipAddress;
    around.pcGateway = engine_.LocalInterface().gateway;
    for (const auto& d : listed_) {
        if (d.primary.ipAddress != 0) around.taken.insert(d.primary.ipAddress);
        if (d.kind == DEVICE_KIND_TWO_PORT && d.primary.ipAddress2 != 0)
            around.taken.insert(d.primary.ipAddress2);
    }
    around.taken.insert(answering_.begin(), answering_.end());
    return around;
}

void CBatchAssignDlg::Refuse(const BatchCheck& check) {
    const QString text = FormatString(DialogText(ProblemText(check.problem)), AddressText(check.address));
    ShowMessageBox({this, ProblemText(check.problem), MB_OK_ | MB_ICONEXCLAMATION_,
                    text.toStdString()});
}

void CBatchAssignDlg::Propose() {
    if (running_ || finished_) return;
    rows_ = MakeBatchRows(selected_);
    const bool any = std::any_of(rows_.begin(), rows_.end(), [](const BatchRow& r) { return r.included; });
    if (!any) {
        ShowMessageBox(this, 1154, MB_OK_ | MB_ICONEXCLAMATION_);
        return;
    }
    const BatchCheck check = ProposeAddresses(rows_, ReadSettings(), Surroundings());
    if (!check.ok()) {
        proposed_ = false;
        FillPreview();
        proposed_ = false;
        UpdateButtons();
        Refuse(check);
        return;
    }
    ProbeProposal();
}

// An address that answers is taken after all: propose again around it, until none answers.
void CBatchAssignDlg::ProbeProposal() {
    if (!engine_.CanProbe()) {
        FillPreview();
        return;
    }
    SetControlTextId(IDC_BATCH_SUMMARY, 1153);
    auto hit = std::make_shared<bool>(false);
    const Lifeline::Token alive = lifeline_.Hold();
    for (const auto& row : rows_) {
        if (!row.included) continue;
        ++probesOut_;
        const std::uint32_t address = row.address;
        engine_.EchoProbe(address, [this, alive, hit, address](int code) {
            if (!Lifeline::Alive(alive)) return;
            if (code == ECHO_ANSWERED) {
                answering_.insert(address);
                *hit = true;
            }
            if (--probesOut_ > 0) return;
            SetControlText(IDC_BATCH_SUMMARY, {});
            if (*hit)
                Propose();
            else
                FillPreview();
        });
    }
    UpdateButtons();
}

void CBatchAssignDlg::FillPreview() {
    preview_->setRowCount(static_cast<int>(rows_.size()));
    for (int r = 0; r < static_cast<int>(rows_.size()); ++r) {
        const BatchRow& row = rows_[static_cast<std::size_t>(r)];
        const QString texts[kBatchColumns] = {
            QString::fromStdString(MacText(row.before.primary.mac)),
            QString::fromStdString(FieldText(row.before.deviceName)),
            AddressText(row.before.primary.ipAddress),
            row.included && row.address != 0 ? AddressText(row.address) : QString(), QString()};
        for (int c = 0; c < kBatchColumns; ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            Qt::ItemFlags flags = Qt::ItemIsEnabled;
            if (c == BCOL_NEW && row.included) flags |= Qt::ItemIsEditable;
            item->setFlags(flags);
            preview_->setItem(r, c, item);
        }
        ShowRow(r);
    }
    proposed_ = true;
    UpdateButtons();
}

QString CBatchAssignDlg::StatusText(int r) const {
    if (r < 0 || r >= static_cast<int>(rows_.size())) return {};
    const BatchRow& row = rows_[static_cast<std::size_t>(r)];
    if (!row.included) {
        QString reason = DialogText(row.reasonId);
        if (row.refusal.messageId != 0)
            reason = QString::fromStdString(FormatRefusal(reason.toStdString(), row.refusal));
        return FormatString(DialogText(1134), reason);
    }
    const Live& live = live_[static_cast<std::size_t>(r)];
    if (!live.started) return {};
    switch (live.state) {
        case TransactionState::Waiting: return DialogText(1128);
        case TransactionState::Sent: return DialogText(1129);
        case TransactionState::Accepted: return DialogText(1130);
        case TransactionState::Restarting: return DialogText(1131);
        case TransactionState::Done: return DialogText(1132);
        case TransactionState::Failed:
            return FormatString(DialogText(1133), DialogText(FailureText(live.failure)));
        case TransactionState::Cancelled: return DialogText(1135);
    }
    return {};
}

void CBatchAssignDlg::ShowRow(int r) {
    if (QTableWidgetItem* item = preview_->item(r, BCOL_STATUS)) {
        item->setText(StatusText(r));
        item->setToolTip(item->text());  // a refusal's reason can be longer than the column
    }
}

bool CBatchAssignDlg::ReadEditedAddresses() {
    for (int r = 0; r < static_cast<int>(rows_.size()); ++r) {
        BatchRow& row = rows_[static_cast<std::size_t>(r)];
        if (!row.included) continue;
        const QString text = preview_->item(r, BCOL_NEW)->text().trimmed();
        std::uint32_t address = 0;
        if (!ParseIpv4(text.toStdString(), address)) {
            ShowMessageBox({this, 422, MB_OK_ | MB_ICONEXCLAMATION_,
                            FormatString(DialogText(422), text).toStdString()});
            return false;
        }
        row.address = address;
    }
    return true;
}

void CBatchAssignDlg::Apply() {
    if (!proposed_ || running_ || finished_ || Probing()) return;
    if (!ReadEditedAddresses()) return;
    const BatchSettings settings = ReadSettings();
    if (const BatchCheck check = CheckBatch(rows_, settings, Surroundings(), listed_); !check.ok()) {
        Refuse(check);
        return;
    }
    // Every device's settings go through its Save rules first, so that a refusal starts
    // nothing for that device and the others still go.
    std::vector<BatchChange> changes;
    for (auto& row : rows_) changes.push_back(PrepareBatchChange(row, settings));
    running_ = true;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (!changes[i].ok) continue;
        TransactionRequest request;
        request.settings = changes[i].after;
        request.command = changes[i].command;
        request.mask = changes[i].mask;
        request.probeFirst = true;
        // Two-port devices do not restart; like their single change they are looked for at once.
        request.afterAcceptance = rows_[i].before.kind == DEVICE_KIND_TWO_PORT ? ReturnCheck::Search
                                                                            : ReturnCheck::Restart;
        request.expectedAddress = rows_[i].address;
        live_[i].started = engine_.StartTransaction(request);
        if (!live_[i].started) {
            // A batch closed earlier may still be changing this device.
            rows_[i].included = false;
            rows_[i].reasonId = 1155;
        }
    }
    for (int r = 0; r < preview_->rowCount(); ++r) {
        preview_->item(r, BCOL_NEW)->setFlags(Qt::ItemIsEnabled);
        ShowRow(r);
    }
    for (int id : kIpFields) EnableControl(id, false);
    EnableControl(IDC_BATCH_PORT, false);
    UpdateButtons();
    if (std::none_of(live_.begin(), live_.end(), [](const Live& l) { return l.started; })) Finish();
}

int CBatchAssignDlg::RowOf(const MacAddress& mac) const {
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].before.primary.mac == mac) return static_cast<int>(i);
    return -1;
}

void CBatchAssignDlg::OnTransaction(const TransactionEvent& event) {
    const int r = RowOf(event.mac);
    if (r < 0 || !running_) return;
    Live& live = live_[static_cast<std::size_t>(r)];
    if (!live.started) return;
    live.state = event.state;
    live.failure = event.failure;
    ShowRow(r);
    if (std::all_of(live_.begin(), live_.end(),
                    [](const Live& l) { return !l.started || IsFinal(l.state); }))
        Finish();
    else if (cancelled_)
        SetControlText(IDC_BATCH_SUMMARY, FormatString(DialogText(1151), Unfinished().join(QStringLiteral(", "))));
}

QStringList CBatchAssignDlg::Unfinished() const {
    // The engine runs its transactions in the order they were started, each until it is
    // final; a running one still reads as waiting while its addresses are probed. So beside
    // those that are visibly under way, the earliest waiting ones are running too.
    int probing = engine_.TransactionsRunning();
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (live_[i].started && StillGoing(live_[i].state)) --probing;
    QStringList macs;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (!live_[i].started) continue;
        bool going = StillGoing(live_[i].state);
        if (!going && live_[i].state == TransactionState::Waiting && probing > 0) {
            --probing;
            going = true;
        }
        if (going) macs << QString::fromStdString(MacText(rows_[i].before.primary.mac));
    }
    return macs;
}

QString CBatchAssignDlg::Summary() const {
    int done = 0, failed = 0, leftOut = 0, notStarted = 0;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (!rows_[i].included) {
            ++leftOut;
            continue;
        }
        switch (live_[i].state) {
            case TransactionState::Done: ++done; break;
            case TransactionState::Failed: ++failed; break;
            default: ++notStarted; break;
        }
    }
    QString text = DialogText(1150);
    for (int n : {done, failed, leftOut, notStarted}) text = FormatNumber(text, n);
    return text;
}

void CBatchAssignDlg::CancelBatch() {
    if (!running_) return;
    cancelled_ = true;
    engine_.CancelWaitingTransactions();
    SetControlText(IDC_BATCH_SUMMARY,
                   FormatString(DialogText(1151), Unfinished().join(QStringLiteral(", "))));
}

void CBatchAssignDlg::Finish() {
    running_ = false;
    finished_ = true;
    SetControlText(IDC_BATCH_SUMMARY, Summary());
    SetControlTextId(2, 211);
    UpdateButtons();
    // The list shows the new addresses once the devices answer a search.
    engine_.StartSearch();
}

void CBatchAssignDlg::UpdateButtons() {
    const bool idle = !running_ && !finished_ && !Probing();
    EnableControl(IDC_BATCH_PROPOSE, idle);
    EnableControl(IDC_BATCH_APPLY, idle && proposed_);
}

void CBatchAssignDlg::reject() {
    // Escape and the caption's close button while devices are being changed: say which ones
    // go on unseen, and stay unless the user agrees.
    if (running_) {
        const QStringList unfinished = Unfinished();
        if (!unfinished.isEmpty()) {
            const QString text = FormatString(DialogText(1152), unfinished.join(QStringLiteral(", ")));
            if (ShowMessageBox({this, 1152, MB_OKCANCEL_ | MB_ICONEXCLAMATION_, text.toStdString()}) !=
                ID_OK)
                return;
        }
        engine_.CancelWaitingTransactions();
        running_ = false;
    }
    CTemplateDialog::reject();
}

void CBatchAssignDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    reject();
}

}  // namespace valdrune
