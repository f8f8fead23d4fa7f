#include "app/ListTools.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QSaveFile>
#include <map>
#include <sstream>

#include "app/AdapterSessions.h"
#include "app/DeviceList.h"
#include "cli/RecordView.h"
#include "dialogkit/ControlText.h"
#include "dialogkit/MessageBox.h"
#include "protocol/Session.h"

namespace valdrune {

CListTools::CListTools(const CAdapterSessions& sessions, const CDeviceList& list, QWidget& owner)
    : sessions_(sessions), list_(list), owner_(owner) {}

void CListTools::Export() {
    QFileDialog dialog(&owner_, DialogText(1109));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    const QString csv = DialogText(1110);
    const QString json = DialogText(1111);
    dialog.setNameFilters({csv, json});
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, json](const QString& f) {
        dialog.setDefaultSuffix(f == json ? QStringLiteral("json") : QStringLiteral("csv"));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QString path = dialog.selectedFiles().first();
    if (!ExportTo(path))
        ShowMessageBox({&owner_, 1108, MB_OK_ | MB_ICONEXCLAMATION_,
                        FormatString(DialogText(1108), path).toStdString()});
}

bool CListTools::ExportTo(const QString& path) const {
    std::map<QString, cli::DeviceView> byRow;
    for (int source = 0; source < sessions_.Count(); ++source) {
        const DeviceSession& session = sessions_.At(source);
        for (auto& view : cli::DeviceViews(session)) {
            if (sessions_.AllOpen()) view.adapter = AdapterName(session.Engine());
            const QString mac = QString::fromStdString(MacText(view.record.primary.mac));
            byRow.emplace(CDeviceListModel::Key(mac, source), std::move(view));
        }
    }
    std::vector<cli::DeviceView> shown;
    for (int row : list_.ShownRows()) {
        auto it = byRow.find(CDeviceListModel::Key(list_.RowText(row, COL_MAC), list_.SourceOf(row)));
        if (it != byRow.end()) shown.push_back(it->second);
    }
    std::ostringstream out;
    const bool json = path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive);
    cli::WriteDevices(out, shown, json ? cli::Format::Json : cli::Format::Csv);
    const std::string text = out.str();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(text.data(), static_cast<qint64>(text.size()));
    return file.commit();
}

QString CListTools::SelectionText() const {
    QString text;
    for (int row : list_.SelectedRows()) {
        QStringList cells;
        for (int c = 0; c < list_.Model().columnCount(); ++c)
            cells << list_.RowText(row, c).trimmed();
        text += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return text;
}

void CListTools::CopySelection() const {
    const QString text = SelectionText();
    if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

}  // namespace valdrune
