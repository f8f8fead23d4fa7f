#include "app/SearchHint.h"

#include <QEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QStringList>
#include <QVBoxLayout>
#include <functional>
#include <limits>
#include <string>
#include <utility>

#include "app/DeviceListView.h"
#include "dialogkit/ControlText.h"

namespace valdrune {

// The hint's texts: heading, cause and fixing command (empty when the platform gives none), in
// the current language.
struct SearchHintText {
    QString heading;
    QString cause;
    QString command;
};

namespace {

constexpr int kTextHeading = 910;
constexpr int kTextChecking = 911;
constexpr int kTextNoCause = 912;
constexpr int kTextFixAsAdministrator = 927;
constexpr int kTextOtherUsersProgram = 928;
constexpr qsizetype kLongestValue = 240;

// Text from the host (adapter and process names, firewall rules) as one plain line, cut at
// `longest` characters.
QString Plain(const std::string& text, qsizetype longest = kLongestValue) {
    QString s = QString::fromStdString(text);
    for (QChar& c : s) {
        if (c.category() == QChar::Other_Control) c = QChar(u' ');
    }
    if (s.size() > longest) s = s.left(longest - 1) + QChar(u'\x2026');
    return s;
}

QString Value(const DoctorResult& r, std::size_t i) {
    return i < r.values.size() ? Plain(r.values[i]) : QString();
}

QString Holders(const NetworkFacts& facts) {
    QStringList names;
    for (const PortHolder& h : facts.portHolders) {
        names << (h.pid < 0 ? DialogText(kTextOtherUsersProgram)
                            : QStringLiteral("%1 (pid %2)").arg(Plain(h.process)).arg(h.pid));
    }
    return names.join(QStringLiteral(", "));
}

QString CauseText(const DoctorResult& r, const NetworkFacts& facts) {
    const auto text = [&r](int id, std::initializer_list<std::size_t> values) {
        QStringList arguments;
        for (std::size_t i : values) arguments << Value(r, i);
        return FillIn(DialogText(id), arguments);
    };
    switch (r.finding) {
        case Finding::AdapterMissing:
            return DialogText(913);
        case Finding::AdapterDown:
            return text(914, {0});
        case Finding::AdapterNoCarrier:
            return text(915, {0});
        case Finding::AdapterNoIpv4:
            return text(916, {0});
        case Finding::PortHeld:
            return FillIn(DialogText(917), {Holders(facts)});
        case Finding::FirewallDropRule:
            return text(918, {0});
        case Finding::FirewallMayDrop:
            return text(919, {0});
        case Finding::FirewallLoopLost:
            return DialogText(920);
        case Finding::ReversePathRouteElsewhere:
            return text(921, {0, 1});
        case Finding::ReversePathNoRoute:
            return text(922, {0});
        case Finding::TunnelBroadcast:
            return text(r.verdict == Verdict::Problem ? 923 : 924, {0});
        case Finding::TunnelDefault:
            return text(925, {0});
        case Finding::SubnetShared: {
            QStringList others;
            for (std::size_t i = 1; i < r.values.size(); ++i) others << Value(r, i);
            return FillIn(DialogText(926), {Value(r, 0), others.join(QStringLiteral(", "))});
        }
        default:
            return FillIn(DialogText(kTextNoCause), {Plain(facts.adapter.name)});
    }
}

QLabel* AddLabel(QVBoxLayout* layout, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    layout->addWidget(label);
    return label;
}

// The window's thread receives the worker's results here, and hears when the rows' area
// changes its size.
class Inbox final : public QObject {
  public:
    explicit Inbox(std::function<void()> resized) : resized_(std::move(resized)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize) resized_();
        return QObject::eventFilter(watched, event);
    }

  private:
    std::function<void()> resized_;
};

SearchHintText MakeSearchHintText(const NetworkFacts& facts) {
    const std::vector<DoctorResult> results = Diagnose(facts);
    const DoctorResult* cause = MostLikelyCause(results);
    if (cause == nullptr) return {DialogText(kTextHeading), CauseText({}, facts), {}};
    // A command is never cut: it is there to be pasted.
    return {DialogText(kTextHeading), CauseText(*cause, facts),
            Plain(cause->command, std::numeric_limits<qsizetype>::max())};
}

}  // namespace

CSearchHint::CSearchHint(IScheduler& clock, CDeviceListView& view)
    : clock_(clock), view_(view), inbox_(std::make_unique<Inbox>([this] { Fit(); })) {
    panel_ = new QWidget(view_.viewport());
    panel_->setObjectName(QStringLiteral("searchHint"));
    auto* layout = new QVBoxLayout(panel_);
    heading_ = AddLabel(layout, panel_);
    QFont bold = heading_->font();
    bold.setBold(true);
    heading_->setFont(bold);
    cause_ = AddLabel(layout, panel_);
    fixLabel_ = AddLabel(layout, panel_);
    fixLabel_->setText(DialogText(kTextFixAsAdministrator));
    command_ = AddLabel(layout, panel_);
    command_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    command_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addStretch(1);
    panel_->hide();
    view_.viewport()->installEventFilter(inbox_.get());

    note_ = new QLabel(&view_);
    note_->setObjectName(QStringLiteral("probeNote"));
    note_->setTextFormat(Qt::PlainText);
    note_->setWordWrap(true);
    note_->setMargin(4);
    note_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    note_->setAutoFillBackground(true);
    note_->setBackgroundRole(QPalette::ToolTipBase);
    note_->setForegroundRole(QPalette::ToolTipText);
    note_->hide();
}

CSearchHint::~CSearchHint() {
    if (worker_.joinable()) worker_.join();
    view_.viewport()->removeEventFilter(inbox_.get());
    view_.SetFooter(nullptr);
}

void CSearchHint::OnSearchEnded(int listed, std::int32_t adapterIndex) {
    if (listed > 0) {
        Hide();
        return;
    }
    if (survey_ == nullptr || checking_) return;
    const Milliseconds now = clock_.Now();
    if (checkedAt_ && now - *checkedAt_ < kRecheckAfter) return;
    checkedAt_ = now;
    if (!HintShown()) Show({DialogText(kTextHeading), DialogText(kTextChecking), {}});
    StartCheck(adapterIndex);
}

void CSearchHint::OnDeviceListed() {
    ++generation_;
    Hide();
}

void CSearchHint::OnAdapterChosen() {
    OnDeviceListed();
    checkedAt_.reset();
}

void CSearchHint::StartCheck(std::int32_t adapterIndex) {
    // A finished worker has already handed over its result.
    if (worker_.joinable()) worker_.join();
    checking_ = true;
    ++checksStarted_;
    worker_ = std::thread(
        [this, survey = survey_, inbox = inbox_.get(), adapterIndex, generation = generation_] {
            std::optional<NetworkFacts> facts;
            try {
                facts = survey->Gather(std::string(), adapterIndex);
            } catch (...) {
                // Nothing to show; the next check may fare better.
            }
            QMetaObject::invokeMethod(
                inbox,
                [this, generation, facts = std::move(facts)] {
                    checking_ = false;
                    if (facts) OnChecked(generation, *facts);
                },
                Qt::QueuedConnection);
        });
}

void CSearchHint::OnChecked(std::uint64_t generation, const NetworkFacts& facts) {
    // A device was listed or another adapter chosen meanwhile.
    if (generation != generation_) return;
    Show(MakeSearchHintText(facts));
}

void CSearchHint::Show(const SearchHintText& text) {
    heading_->setText(text.heading);
    cause_->setText(text.cause);
    command_->setText(text.command);
    fixLabel_->setVisible(!text.command.isEmpty());
    command_->setVisible(!text.command.isEmpty());
    if (panel_->isHidden()) {
        Fit();
        panel_->show();
    }
}

void CSearchHint::Hide() { panel_->hide(); }

void CSearchHint::Fit() {
    const int margin = panel_->fontMetrics().height() / 2;
    panel_->setGeometry(view_.viewport()->rect().adjusted(margin, margin, -margin, -margin));
}

bool CSearchHint::HintShown() const { return !panel_->isHidden(); }

QString CSearchHint::HintText() const {
    if (!HintShown()) return {};
    QStringList lines = {heading_->text(), cause_->text()};
    if (!command_->text().isEmpty()) lines << fixLabel_->text() << command_->text();
    return lines.join(QLatin1Char('\n'));
}

void CSearchHint::ShowNote(const QString& text) {
    note_->setText(text);
    note_->setVisible(!text.isEmpty());
    view_.SetFooter(text.isEmpty() ? nullptr : note_);
}

QString CSearchHint::NoteText() const { return note_->isHidden() ? QString() : note_->text(); }

}  // namespace valdrune
