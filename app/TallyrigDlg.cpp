#include "app/TallyrigDlg.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTreeView>
#include <algorithm>

#include "app/AboutDlg.h"
#include "app/AppIcon.h"
#include "app/BatchAssignDlg.h"
#include "app/BrowserIntegration.h"
#include "app/ListTools.h"
#include "app/SearchHint.h"
#include "app/SearchRepeat.h"
#include "app/SettingsChange.h"
#include "app/SettingsStore.h"
#include "dialogkit/ControlText.h"
#include "dialogkit/MessageBox.h"
#include "res/StringTable.h"

namespace valdrune {

CTallyrigDlg::CTallyrigDlg(ProtocolEnvironment env, CSettingsStore& store, BrowserPlatform browsers,
                           QWidget* parent)
    : CTemplateDialog(parent),
      scheduler_(env.scheduler),
      store_(store),
      session_(env),
      adapters_(session_),
      list_(session_.Engine(),
            {[this](const _CommandDataTable& record) { browser_->TrackDevice(record); },
             [this](int skip) {
                 PostMessage(WM_REFRESH_OVERLAPS, static_cast<std::uintptr_t>(skip));
             }}),
      search_(adapters_, store_, list_) {
    setWindowIcon(AppIcon());
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    settingsChange_ = std::make_unique<SettingsChange>(*this);
    // Rows are written once the list exists; the table keeps what comes before.
    session_.SetDeviceHook([this](const _CommandDataTable& record, int number) {
        if (initialised_) OnDeviceFound(record, number);
    });
    session_.SetTransactionHook([this](const TransactionEvent& event) { OnTransaction(event); });
    adapters_.SetHooks({[this](int source, const _CommandDataTable& record, int number) {
                            if (initialised_) OnDeviceFound(record, number, source);
                        },
                        [this](int source, const TransactionEvent& event) {
                            OnTransaction(event, source);
                        }});
    search_.SetHooks({[this] { OnSourcesChanged(); },
                      [this] {
                          const QStringList changing = ChangingDevices(1);
                          if (changing.isEmpty()) return true;
                          const QString text =
                              FormatString(DialogText(1184), changing.join(QStringLiteral(", ")));
                          return ShowMessageBox({this, 1184, MB_OKCANCEL_ | MB_ICONEXCLAMATION_,
                                                 text.toStdString()}) == ID_OK;
                      }});
    session_.SetSearchEndHook([this] {
        if (hint_) hint_->OnSearchEnded(list_.RowCount(), Engine().LocalInterface().ifIndex);
    });
    browser_ = std::make_unique<BrowserIntegration>(*this, std::move(browsers));
    tools_ = std::make_unique<CListTools>(adapters_, list_, *this);
    repeat_ = std::make_unique<CSearchRepeat>(scheduler_, adapters_, list_.Model(),
                                              [this] {
                                                  return settingsChange_->Busy() ||
                                                         (batch_ != nullptr && batch_->Running());
                                              });
}

CTallyrigDlg::~CTallyrigDlg() {
    // Waits for a network check still running.
    hint_.reset();
    session_.SetSearchEndHook(nullptr);
    lifeline_.Cut();
    KillTimer(kDialogTimerId);
    session_.SetDeviceHook(nullptr);
    session_.SetTransactionHook(nullptr);
    adapters_.CloseAll();
    // The hooks may still look at the dialog while they go.
    repeat_.reset();
    browser_.reset();
    settingsChange_.reset();
}

int CTallyrigDlg::Run() {
    if (!OnInitDialog()) return result();
    return exec();
}

bool CTallyrigDlg::OnInitDialog() {
    if (initialised_) return initOk_;
    initialised_ = true;
    // Steps that belong to opening device pages come before the controls exist.
    browser_->SetUpBeforeControls();

    CreateControls();
    SetUpWindowMenu();
    setWindowIcon(AppIcon());

    browser_->LoadSiteListState();

    search_.EnumerateInterfaces();

    const int total = list_.CreateColumns();
    FitLayout(total);
    search_.RestoreAllAdapters();
    SetTextsAndCombos();

    for (int source = 0; source < adapters_.Count(); ++source)
        SessionOf(source).Engine().StartSearch();

    // Centre over the owner or, having none, over the screen.
    const QWidget* owner = parentWidget();
    QRect area;
    if (owner != nullptr)
        area = owner->frameGeometry();
    else if (const QScreen* screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (!area.isNull()) move(area.center() - QPoint(width() / 2, height() / 2));

    if (!Engine().SocketReady()) {
        ShowMessageBox(this, 224, MB_OK_ | MB_ICONERROR_);
        setResult(kResultCancel);
        done(kResultCancel);
        return false;
    }
    initOk_ = true;
    if (QWidget* search = Control(IDC_SEARCH)) search->setFocus();
    return true;
}

void CTallyrigDlg::showEvent(QShowEvent* event) {
    if (!initialised_ && !OnInitDialog()) {
        // The set-up ended the dialog; leave the modal loop as soon as it runs.
        PostToSelf([this] { done(kResultCancel); });
    }
    CTemplateDialog::showEvent(event);
}

// ---- Template 102 -----------------------------------------------------------------------

void CTallyrigDlg::CreateControls() {
    SetTemplateSize(459, 225);
    auto* search = AddButton(IDC_SEARCH, 10, 165, 60, 16);
    auto* settings = AddButton(IDC_NETWORK_SETTINGS, 100, 165, 60, 16);
    auto* open = AddButton(IDC_OPEN_DEVICE, 190, 165, 60, 16);
    AddLabel(IDC_VIEW_LABEL, 10, 190, 113, 8);
    auto* view = Place(IDC_VIEW_COMBO, new QComboBox(this), 10, 205, 68, 30);
    auto* close = AddButton(IDC_CLOSE, 389, 202, 60, 16);
    auto* about = AddButton(IDC_ABOUT, 369, 10, 80, 16);
    auto* heading = AddLabel(IDC_HEADING, 11, 10, 113, 8);
    heading->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    CDeviceListView* list = Place(IDC_DEVICE_LIST, list_.CreateView(this), 10, 35, 439, 120);
    hint_ = std::make_unique<CSearchHint>(scheduler_, *list);
    hint_->SetSurvey(survey_);
    AddLabel(IDC_BROWSER_LABEL, 93, 191, 113, 8);
    auto* browser = Place(IDC_BROWSER_COMBO, new QComboBox(this), 93, 205, 68, 30);
    auto* iface = Place(IDC_INTERFACE_COMBO, new QComboBox(this), 10, 7, 204, 30);
    // Beyond the template: placed for real by FitExtraControls once the texts are measured.
    auto* assign = AddButton(IDC_ASSIGN, 320, 165, 60, 16);
    auto* exportButton = AddButton(IDC_EXPORT, 389, 165, 60, 16);
    AddLabel(IDC_FILTER_LABEL, 180, 191, 60, 8);
    auto* filter = Place(IDC_FILTER, new QLineEdit(this), 180, 205, 100, 12);
    auto* keep = Place(IDC_KEEP_SEARCHING, new QCheckBox(this), 290, 205, 80, 12);

    // A drop-down list shows one line; the template height is that of the opened list.
    for (QComboBox* combo : {view, browser, iface}) {
        combo->resize(combo->width(), combo->sizeHint().height());
        combo->setMaxVisibleItems(
            std::max(1, DluToPixelsY(30 - 12) / std::max(1, combo->fontMetrics().height())));
    }

    list->installEventFilter(this);

    // Focus order of the template, then of the controls beyond it.
    for (QWidget* w : std::initializer_list<QWidget*>{search, settings, open, view, close, about,
                                                      list, browser, iface})
        w->setFocusPolicy(Qt::StrongFocus);
    QWidget* const focusOrder[] = {search, settings, open,   view,         close,  about, list,
                                   browser, iface,   assign, exportButton, filter, keep};
    for (std::size_t i = 1; i < std::size(focusOrder); ++i)
        QWidget::setTabOrder(focusOrder[i - 1], focusOrder[i]);

    // Copy: Ctrl+C in the list (see eventFilter), or its context menu with Export.
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this, [this, list](QPoint at) {
        QMenu menu(this);
        QAction* copy = menu.addAction(DialogText(1107), this, [this] { tools_->CopySelection(); });
        copy->setShortcut(QKeySequence::Copy);
        copy->setEnabled(!list_.SelectedRows().empty());
        menu.addAction(DialogText(1102), this, [this] { tools_->Export(); });
        menu.exec(list->viewport()->mapToGlobal(at));
    });

    connect(search, &QPushButton::clicked, this, [this] {
        hint_->OnSearchRequested();
        search_.RunSearch();
        repeat_->OnSearchStarted();
    });
    connect(settings, &QPushButton::clicked, this,
            [this] { settingsChange_->OnNetworkSettings(); });
    connect(open, &QPushButton::clicked, this, [this] { browser_->OnOpenDeviceWindow(); });
    connect(about, &QPushButton::clicked, this, [this] { ShowAbout(); });
    connect(close, &QPushButton::clicked, this, [this] { done(kResultCancel); });
    connect(view, &QComboBox::activated, this, [this](int index) { list_.SwitchView(index); });
    connect(browser, &QComboBox::activated, this,
            [this](int index) { browser_->OnBrowserChoice(index, store_); });
    connect(iface, &QComboBox::activated, this, [this, iface](int index) {
        hint_->OnAdapterChosen();
        search_.OnInterfaceChoice(index, iface);
        repeat_->OnSearchStarted();
    });
    connect(assign, &QPushButton::clicked, this, [this] { OnAssignAddresses(); });
    connect(exportButton, &QPushButton::clicked, this, [this] { tools_->Export(); });
    connect(filter, &QLineEdit::textChanged, this,
            [this](const QString& text) { list_.SetFilter(text); });
    connect(keep, &QCheckBox::toggled, this, [this](bool on) { repeat_->SetEnabled(on); });
    connect(list, &QAbstractItemView::doubleClicked, this, [this] { OnListDoubleClick(); });
}

void CTallyrigDlg::SetUpWindowMenu() {
    windowMenu_ = new QMenu(this);
    windowMenu_->setObjectName(QStringLiteral("windowMenu"));
    const QString about = DialogText(220);
    if (about.isEmpty()) return;
    windowMenu_->addSeparator();
    QAction* item = windowMenu_->addAction(about);
    item->setData(IDM_ABOUTBOX);
    connect(item, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
}

// ---- Layout -------------------------------------------------------------------------------

void CTallyrigDlg::FitLayout(int columnTotal) {
    const auto fit = [this](int id, int textId) {
        return CalcControlTextWidth(Control(id), DialogText(textId));
    };
    const auto right = [this](int id) { return Placement(id).x() + Placement(id).width(); };

    SetControlWidth(IDC_VIEW_LABEL, fit(IDC_VIEW_LABEL, 209));
    SetControlWidth(IDC_ABOUT, fit(IDC_ABOUT, 210));
    int b = 0;
    for (int textId : {206, 207, 208, 211}) b = std::max(b, fit(IDC_ABOUT, textId));

    SetControlWidth(IDC_SEARCH, b);
    const int r = right(IDC_SEARCH);
    QRect settings = Placement(IDC_NETWORK_SETTINGS);
    SetPlacement(IDC_NETWORK_SETTINGS, QRect(r + 30, settings.y(), b, settings.height()));
    QRect open = Placement(IDC_OPEN_DEVICE);
    SetPlacement(IDC_OPEN_DEVICE, QRect(r + b + 60, open.y(), b, open.height()));
    SetControlWidth(IDC_CLOSE, b);

    SetControlWidth(IDC_VIEW_COMBO, fit(IDC_VIEW_COMBO, 205));
    SetControlWidth(IDC_BROWSER_COMBO, fit(IDC_BROWSER_COMBO, 232));
    FitListWidth(columnTotal);
}

void CTallyrigDlg::FitListWidth(int columnTotal) {
    const auto right = [this](int id) { return Placement(id).x() + Placement(id).width(); };
    const int oldListRight = right(IDC_DEVICE_LIST);
    SetControlWidth(IDC_DEVICE_LIST, columnTotal);
    const int listRight = right(IDC_DEVICE_LIST);
    WidenBy(listRight - oldListRight);

    for (int id : {IDC_ABOUT, IDC_CLOSE}) {
        QRect rect = Placement(id);
        rect.moveLeft(listRight - rect.width());
        SetPlacement(id, rect);
    }

    const int w = CalcControlTextWidth(Control(IDC_HEADING), DialogText(202));
    QRect heading = Placement(IDC_HEADING);
    SetPlacement(IDC_HEADING, QRect((width() - w) / 2, heading.y(), w, heading.height()));
    FitExtraControls();
}

// Searching every adapter adds the adapter column, and the list and the window widen by it;
// back on one adapter the specified layout returns.
void CTallyrigDlg::OnSourcesChanged() {
    list_.ShowAdapterColumn(search_.AllAdapters());
    FitListWidth(list_.ColumnTotal());
}

// The controls beyond the template go where the template leaves room, so that the specified
// ones keep their places: Export right-aligned under the list beside the command buttons, the
// filter and the keep-searching box between the browser combo and Close.
void CTallyrigDlg::FitExtraControls() {
    const auto fit = [this](int id, int textId) {
        return CalcControlTextWidth(Control(id), DialogText(textId));
    };
    const auto right = [this](int id) { return Placement(id).x() + Placement(id).width(); };

    const int listRight = right(IDC_DEVICE_LIST);
    QRect exportRect = Placement(IDC_EXPORT);
    exportRect.setWidth(std::max(Placement(IDC_SEARCH).width(), fit(IDC_ABOUT, 1102)));
    exportRect.moveLeft(listRight - exportRect.width());
    SetPlacement(IDC_EXPORT, exportRect);
    QRect assignRect = Placement(IDC_ASSIGN);
    assignRect.setWidth(std::max(Placement(IDC_SEARCH).width(), fit(IDC_ABOUT, 1101)));
    assignRect.moveLeft(exportRect.x() - DluToPixelsX(10) - assignRect.width());
    SetPlacement(IDC_ASSIGN, assignRect);

    const int gap = DluToPixelsX(15);
    const int left = std::max(right(IDC_BROWSER_COMBO), right(IDC_BROWSER_LABEL)) + gap;
    const int keepWidth = fit(IDC_KEEP_SEARCHING, 1104);
    const int room = Placement(IDC_CLOSE).x() - gap - keepWidth - gap - left;
    const QRect combo = Placement(IDC_BROWSER_COMBO);
    const int filterWidth = std::max(DluToPixelsX(40), std::min(DluToPixelsX(100), room));
    SetPlacement(IDC_FILTER_LABEL, QRect(left, Placement(IDC_BROWSER_LABEL).y(),
                                         fit(IDC_FILTER_LABEL, 1103),
                                         Placement(IDC_BROWSER_LABEL).height()));
    SetPlacement(IDC_FILTER, QRect(left, combo.y(), filterWidth, combo.height()));
    SetPlacement(IDC_KEEP_SEARCHING,
                 QRect(left + filterWidth + gap, combo.y(), keepWidth, combo.height()));
}

// ---- Texts and combo boxes --------------------------------------------------------------

void CTallyrigDlg::SetTextsAndCombos() {
    setWindowTitle(DialogText(201));
    SetControlTextId(IDC_HEADING, 202);
    SetControlTextId(IDC_SEARCH, 206);
    SetControlTextId(IDC_NETWORK_SETTINGS, 207);
    SetControlTextId(IDC_OPEN_DEVICE, 208);
    SetControlTextId(IDC_VIEW_LABEL, 203);
    SetControlTextId(IDC_BROWSER_LABEL, 230);
    SetControlTextId(IDC_ABOUT, 210);
    SetControlTextId(IDC_CLOSE, 211);
    SetControlTextId(IDC_ASSIGN, 1101);
    SetControlTextId(IDC_EXPORT, 1102);
    SetControlTextId(IDC_FILTER_LABEL, 1103);
    SetControlTextId(IDC_KEEP_SEARCHING, 1104);

    auto* view = ControlAs<QComboBox>(IDC_VIEW_COMBO);
    view->clear();
    view->addItem(DialogText(204));
    view->addItem(DialogText(205));
    view->setCurrentIndex(0);

    browser_->FillBrowserCombo(*ControlAs<QComboBox>(IDC_BROWSER_COMBO), store_.ReadBrowser());
    search_.FillInterfaceCombo(*ControlAs<QComboBox>(IDC_INTERFACE_COMBO));
}

const std::vector<int>& CTallyrigDlg::BrowserCodes() const { return browser_->BrowserCodes(); }

int CTallyrigDlg::BrowserCode() const { return browser_->BrowserCode(); }

// ---- Messages ---------------------------------------------------------------------------

void CTallyrigDlg::OnDeviceFound(const _CommandDataTable& record, int, int source) {
    if (hint_) hint_->OnDeviceListed();
    list_.WriteDeviceRow(record.primary.mac, source);
    repeat_->OnAnswer(record.primary.mac, source);
}

void CTallyrigDlg::ShowNote(const QString& text) {
    if (hint_) hint_->ShowNote(text);
}

void CTallyrigDlg::OnTransaction(const TransactionEvent& event, int source) {
    if (batch_ != nullptr && source == batchSource_) batch_->OnTransaction(event);
}

void CTallyrigDlg::OnAssignAddresses() {
    if (settingsChange_->Busy() || batch_ != nullptr) return;
    const std::vector<int> rows = list_.SelectedRows();
    std::vector<_CommandDataTable> selected = list_.SelectedRecords();
    if (selected.empty()) {
        ShowMessageBox(this, 221, MB_OK_ | MB_ICONEXCLAMATION_);
        return;
    }
    // One range of addresses is for one segment: a batch changes devices of one adapter.
    const int source = list_.SourceOf(rows.front());
    for (int row : rows) {
        if (list_.SourceOf(row) != source) {
            ShowMessageBox(this, 1182, MB_OK_ | MB_ICONEXCLAMATION_);
            return;
        }
    }
    CProtocol& engine = SessionOf(source).Engine();
    std::vector<_CommandDataTable> listed;
    engine.ForEachDevice([&listed](const DeviceEntry& e) { listed.push_back(e.record); });
    CBatchAssignDlg dialog(engine, std::move(selected), std::move(listed), this);
    batch_ = &dialog;
    batchSource_ = source;
    dialog.exec();
    batch_ = nullptr;
}

QStringList CTallyrigDlg::ChangingDevices(int fromSource) const {
    QStringList changing;
    for (int source = fromSource; source < adapters_.Count(); ++source) {
        const CProtocol& engine = adapters_.At(source).Engine();
        engine.ForEachDevice([&engine, &changing](const DeviceEntry& e) {
            const auto state = engine.TransactionStateOf(e.record.primary.mac);
            if (state && !IsFinal(*state))
                changing << QString::fromStdString(MacText(e.record.primary.mac));
        });
    }
    return changing;
}

void CTallyrigDlg::done(int result) {
    // The engines, and every change they are still making, end with the window.
    const QStringList changing = ChangingDevices(0);
    if (!changing.isEmpty()) {
        const QString text = FormatString(DialogText(1156), changing.join(QStringLiteral(", ")));
        if (ShowMessageBox({this, 1156, MB_OKCANCEL_ | MB_ICONEXCLAMATION_, text.toStdString()}) !=
            ID_OK)
            return;
    }
    CTemplateDialog::done(result);
}

std::intptr_t CTallyrigDlg::SendMessage(WindowMessage message, std::uintptr_t wParam,
                                        std::intptr_t lParam) {
    return DispatchMessage(message, wParam, lParam);
}

void CTallyrigDlg::PostMessage(WindowMessage message, std::uintptr_t wParam, std::intptr_t lParam) {
    scheduler_.Post([this, alive = lifeline_.Hold(), message, wParam, lParam] {
        if (Lifeline::Alive(alive)) DispatchMessage(message, wParam, lParam);
    });
}

void CTallyrigDlg::PostClick(int buttonId) {
    scheduler_.Post([this, alive = lifeline_.Hold(), buttonId] {
        if (!Lifeline::Alive(alive)) return;
        if (auto* button = ControlAs<QAbstractButton>(buttonId)) button->click();
    });
}

std::intptr_t CTallyrigDlg::DispatchMessage(WindowMessage message, std::uintptr_t wParam,
                                            std::intptr_t lParam) {
    switch (message) {
        case WM_REFRESH_OVERLAPS:
            list_.RefreshOverlaps(static_cast<int>(wParam));
            return 0;
        default:
            break;
    }
    if (settingsChange_ && settingsChange_->OnMessage(message, wParam, lParam)) return 0;
    if (browser_) browser_->OnMessage(message, wParam, lParam);
    return 0;
}

// ---- Timer 1 ------------------------------------------------------------------------------

void CTallyrigDlg::StartTimer(int timerId, int intervalMs) {
    if (timerId != kDialogTimerId) return;
    KillTimer(timerId);
    dialogTimer_ = scheduler_.StartTimer(Milliseconds(intervalMs), true,
                                         [this, alive = lifeline_.Hold(), timerId] {
                                             if (Lifeline::Alive(alive) && browser_)
                                                 browser_->OnTimer(timerId);
                                         });
}

void CTallyrigDlg::KillTimer(int timerId) {
    if (timerId != kDialogTimerId || dialogTimer_ == 0) return;
    scheduler_.CancelTimer(dialogTimer_);
    dialogTimer_ = 0;
}

bool CTallyrigDlg::TimerRunning(int timerId) const {
    return timerId == kDialogTimerId && dialogTimer_ != 0;
}

// ---- Controller ---------------------------------------------------------------------------

void CTallyrigDlg::OnSysCommand(int command) {
    if ((command & 0xFFF0) == IDM_ABOUTBOX && !settingsChange_->Busy()) ShowAbout();
}

void CTallyrigDlg::ShowAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CTallyrigDlg::OnListDoubleClick() {
    if (settingsChange_->Busy()) return;
    if (list_.SelectedRow() >= 0) PostClick(IDC_OPEN_DEVICE);
}

void CTallyrigDlg::OnReturnKey() {
    if (settingsChange_->Busy()) return;
    QWidget* focus = focusWidget();
    const QTreeView* list = list_.View();
    if (focus != nullptr && (focus == list || list->isAncestorOf(focus))) {
        if (list_.SelectedRow() >= 0) PostClick(IDC_OPEN_DEVICE);
        return;
    }
    // As a dialog does without a default button: a focused push button is pressed, anything
    // else ends the dialog with the OK result.
    if (auto* button = qobject_cast<QPushButton*>(focus)) {
        button->click();
        return;
    }
    done(kResultOk);
}

bool CTallyrigDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_.View() && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            OnReturnKey();
            return true;
        }
        if (key->matches(QKeySequence::Copy)) {
            tools_->CopySelection();
            return true;
        }
    }
    return CTemplateDialog::eventFilter(watched, event);
}

void CTallyrigDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            OnReturnKey();
            event->accept();
            return;
        case Qt::Key_Escape:
            if (!settingsChange_->Busy()) done(kResultCancel);
            event->accept();
            return;
        case Qt::Key_Space:
            if (event->modifiers() & Qt::AltModifier) {
                windowMenu_->popup(mapToGlobal(QPoint(0, 0)));
                event->accept();
                return;
            }
            break;
        default:
            break;
    }
    CTemplateDialog::keyPressEvent(event);
}

void CTallyrigDlg::contextMenuEvent(QContextMenuEvent* event) {
    // The window menu: the desktop's title-bar menu is not ours to extend, so the dialog's
    // own surface offers it.
    if (windowMenu_ != nullptr && !windowMenu_->isEmpty()) windowMenu_->popup(event->globalPos());
    event->accept();
}

void CTallyrigDlg::paintEvent(QPaintEvent* event) {
    if (!isMinimized()) {
        CTemplateDialog::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const int size = style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, this);
    const int x = (width() - size + 1) / 2;
    const int y = (height() - size + 1) / 2;
    AppIcon().paint(&painter, QRect(x, y, size, size));
}

}  // namespace valdrune
